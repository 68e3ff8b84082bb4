// A second process on the stand-in's desktop: optionally sets one monitor's wallpaper, then
// writes what the DesktopWallpaper object reports, one UTF-8 line per fact, to a file.
//   desktop_standin_child OUT [DEVICE PATH]
#include <windows.h>
#include <shobjidl.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "state_io_win.h"

namespace {

using veltrane::standin::to_utf8;

std::string take(LPWSTR text) {
    std::string out = text ? to_utf8(text) : std::string();
    CoTaskMemFree(text);
    return out;
}

HRESULT report(IDesktopWallpaper& desktop, std::ofstream& out) {
    UINT count = 0;
    HRESULT hr = desktop.GetMonitorDevicePathCount(&count);
    if (FAILED(hr)) return hr;
    for (UINT i = 0; i < count; ++i) {
        LPWSTR id = nullptr;
        if (FAILED(hr = desktop.GetMonitorDevicePathAt(i, &id))) return hr;
        const std::wstring device = id;
        CoTaskMemFree(id);
        RECT r{};
        LPWSTR wallpaper = nullptr;
        if (FAILED(hr = desktop.GetMonitorRECT(device.c_str(), &r))) return hr;
        if (FAILED(hr = desktop.GetWallpaper(device.c_str(), &wallpaper))) return hr;
        out << "monitor=" << to_utf8(device) << "|" << r.left << "|" << r.top << "|" << r.right << "|" << r.bottom
            << "|" << take(wallpaper) << "\n";
    }
    DESKTOP_WALLPAPER_POSITION position{};
    COLORREF color = 0;
    if (FAILED(hr = desktop.GetPosition(&position)) || FAILED(hr = desktop.GetBackgroundColor(&color))) return hr;
    out << "position=" << static_cast<int>(position) << "\ncolor=" << color << "\n";
    return S_OK;
}

HRESULT run(int argc, wchar_t** argv) {
    IDesktopWallpaper* desktop = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_DesktopWallpaper, nullptr, 23, IID_IDesktopWallpaper,
                                  reinterpret_cast<void**>(&desktop));
    if (FAILED(hr)) return hr;
    if (argc == 4) hr = desktop->SetWallpaper(argv[2], argv[3]);
    if (SUCCEEDED(hr)) {
        std::ofstream out(argv[1], std::ios::binary);
        hr = report(*desktop, out);
        if (SUCCEEDED(hr) && !out.flush()) hr = E_FAIL;
    }
    desktop->Release();
    return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 4) {
        std::fputs("usage: desktop_standin_child OUT [DEVICE PATH]\n", stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    const HRESULT hr = run(argc, argv);
    CoUninitialize();
    if (FAILED(hr)) std::fprintf(stderr, "desktop_standin_child: 0x%08lX\n", static_cast<unsigned long>(hr));
    return FAILED(hr) ? 1 : 0;
}
