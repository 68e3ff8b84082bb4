// The desktop-wallpaper stand-in as the product meets it: created through COM with the
// product's context mask, answering from the state file the control library writes, shared
// with a second process, failing and unplugging monitors on request, logging every call.
#include <windows.h>
#include <objidl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "standin_control.h"
#include "state_io_win.h"

namespace {

using namespace veltrane::testing;
using veltrane::standin::to_utf8;
using veltrane::standin::to_wide;

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, Releaser>;

const std::string kLeft = "\\\\?\\DISPLAY#TST0001#1&0&UID1#left";
const std::string kRight = "\\\\?\\DISPLAY#TST0002#2&0&UID2#right";

ComPtr<IDesktopWallpaper> create_desktop() {
    IDesktopWallpaper* p = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_DesktopWallpaper, nullptr, 23, IID_IDesktopWallpaper,
                                        reinterpret_cast<void**>(&p));
    EXPECT_EQ(hr, S_OK);
    return ComPtr<IDesktopWallpaper>(p);
}

// The string, which must come from the COM task allocator as the real object's do (as far
// as IMalloc::DidAlloc can tell), then freed.
std::string take(LPWSTR text) {
    if (text == nullptr) return "(null)";
    IMalloc* malloc = nullptr;
    EXPECT_EQ(CoGetMalloc(1, &malloc), S_OK);
    EXPECT_EQ(malloc->DidAlloc(text), 1);
    malloc->Release();
    std::string out = to_utf8(text);
    CoTaskMemFree(text);
    return out;
}

std::string wallpaper_of(IDesktopWallpaper& d, const std::string& device, HRESULT expected = S_OK) {
    LPWSTR path = nullptr;
    EXPECT_EQ(d.GetWallpaper(to_wide(device).c_str(), &path), expected) << device;
    return take(path);
}

std::vector<StandinMonitor> enumerate(IDesktopWallpaper& d) {
    UINT count = 0;
    EXPECT_EQ(d.GetMonitorDevicePathCount(&count), S_OK);
    std::vector<StandinMonitor> out;
    for (UINT i = 0; i < count; ++i) {
        LPWSTR id = nullptr;
        EXPECT_EQ(d.GetMonitorDevicePathAt(i, &id), S_OK);
        const std::string device = take(id);
        RECT r{};
        EXPECT_EQ(d.GetMonitorRECT(to_wide(device).c_str(), &r), S_OK) << device;
        out.push_back({device, r.left, r.top, r.right, r.bottom});
    }
    return out;
}

std::string describe(const std::vector<StandinMonitor>& monitors) {
    std::ostringstream out;
    for (const auto& m : monitors) {
        out << m.device_path << "|" << m.left << "|" << m.top << "|" << m.right << "|" << m.bottom << "\n";
    }
    return out.str();
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetMonitorInfoW(monitor, &info));
    auto& list = *reinterpret_cast<std::vector<StandinMonitor>*>(data);
    const RECT& r = info.rcMonitor;
    list.push_back({standin_default_device_path(list.size()), r.left, r.top, r.right, r.bottom});
    return TRUE;
}

// Runs desktop_standin_child (same TEMP, so the same desktop) and returns what it reported.
std::string run_child(const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    const std::wstring exe(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    const std::wstring dir = exe.substr(0, exe.find_last_of(L"\\/") + 1);
    const std::wstring out = veltrane::standin::temp_folder() + L"child-report.txt";
    std::wstring command = L"\"" + dir + L"desktop_standin_child.exe\" \"" + out + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
    std::ifstream in(std::filesystem::path(out), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DesktopStandin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }

    static StandinState two_monitors() {
        StandinState s;
        s.monitors = {{kLeft, -1280, -24, 0, 1000}, {kRight, 0, 0, 1920, 1080}};
        return s;
    }
};

TEST_F(DesktopStandin, WithoutDescribedMonitorsReportsTheSystemsWithDefaults) {
    write_standin_state({});
    std::vector<StandinMonitor> system;
    EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&system));
    ASSERT_FALSE(system.empty());
    EXPECT_EQ(system[0].device_path, "\\\\?\\DISPLAY#VLT0000#0&0&UID0#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}");

    auto d = create_desktop();
    ASSERT_TRUE(d);
    EXPECT_EQ(describe(enumerate(*d)), describe(system));
    EXPECT_EQ(wallpaper_of(*d, system[0].device_path), "");
    DESKTOP_WALLPAPER_POSITION position{};
    COLORREF color = 1;
    EXPECT_EQ(d->GetPosition(&position), S_OK);
    EXPECT_EQ(d->GetBackgroundColor(&color), S_OK);
    EXPECT_EQ(position, DWPOS_FILL);
    EXPECT_EQ(color, 0u);

    LPWSTR id = nullptr;
    EXPECT_EQ(d->GetMonitorDevicePathAt(static_cast<UINT>(system.size()), &id), HRESULT_FROM_WIN32(ERROR_INVALID_INDEX));
    EXPECT_EQ(id, nullptr);
    RECT r{};
    EXPECT_EQ(d->GetMonitorRECT(L"\\\\?\\DISPLAY#NONE", &r), E_INVALIDARG);
    EXPECT_EQ(wallpaper_of(*d, "\\\\?\\DISPLAY#NONE", E_INVALIDARG), "(null)");
    EXPECT_EQ(d->SetWallpaper(L"\\\\?\\DISPLAY#NONE", L"C:\\x.png"), E_INVALIDARG);
    EXPECT_EQ(d->SetPosition(static_cast<DESKTOP_WALLPAPER_POSITION>(6)), E_INVALIDARG);
    EXPECT_EQ(d->GetStatus(nullptr), E_NOTIMPL);
}

TEST_F(DesktopStandin, StateRoundTripsAndIsSharedWithAnotherProcess) {
    auto s = two_monitors();
    s.wallpapers = {{kLeft, "C:\\Users\\사용자\\왼쪽.png"}};
    s.extra_lines = {"note=kept across rewrites"};
    write_standin_state(s);

    auto d = create_desktop();
    ASSERT_TRUE(d);
    EXPECT_EQ(describe(enumerate(*d)), describe(s.monitors));
    EXPECT_EQ(wallpaper_of(*d, kLeft), "C:\\Users\\사용자\\왼쪽.png");
    // The file need not exist.
    EXPECT_EQ(d->SetWallpaper(to_wide(kRight).c_str(), to_wide("Z:\\없는\\그림.jpg").c_str()), S_OK);
    EXPECT_EQ(d->SetPosition(DWPOS_STRETCH), S_OK);
    EXPECT_EQ(d->SetBackgroundColor(0x00123456), S_OK);

    const StandinState read = read_standin_state();
    EXPECT_EQ(read.position, 2);
    EXPECT_EQ(read.color, 0x00123456u);
    EXPECT_EQ(describe(read.monitors), describe(s.monitors));
    EXPECT_EQ(standin_wallpaper(kRight), "Z:\\없는\\그림.jpg");
    EXPECT_NE(std::find(read.extra_lines.begin(), read.extra_lines.end(), "note=kept across rewrites"),
              read.extra_lines.end());

    // The child sets the left wallpaper and reports the desktop as it sees it.
    const std::string report = run_child(L"\"" + to_wide(kLeft) + L"\" \"D:\\새 그림.bmp\"");
    EXPECT_EQ(report, "monitor=" + kLeft + "|-1280|-24|0|1000|D:\\새 그림.bmp\n" + "monitor=" + kRight +
                          "|0|0|1920|1080|Z:\\없는\\그림.jpg\nposition=2\ncolor=1193046\n");
    EXPECT_EQ(wallpaper_of(*d, kLeft), "D:\\새 그림.bmp");

    // No monitor: every monitor; reading with none gives the shared wallpaper or S_FALSE.
    EXPECT_EQ(d->SetWallpaper(nullptr, L"C:\\all.png"), S_OK);
    LPWSTR shared = nullptr;
    EXPECT_EQ(d->GetWallpaper(nullptr, &shared), S_OK);
    EXPECT_EQ(take(shared), "C:\\all.png");
    EXPECT_EQ(d->SetWallpaper(to_wide(kRight).c_str(), L""), S_OK);
    EXPECT_EQ(wallpaper_of(*d, kRight), "");
    EXPECT_EQ(d->GetWallpaper(nullptr, &shared), S_FALSE);
    EXPECT_EQ(take(shared), "");
}

TEST_F(DesktopStandin, InjectedFailuresHitTheirMethodAndMonitorOnly) {
    auto s = two_monitors();
    s.wallpapers = {{kLeft, "C:\\left.png"}, {kRight, "C:\\right.png"}};
    s.extra_lines = {standin_fail("SetWallpaper", 0x80070005, kRight), standin_fail("GetPosition", 0x8000FFFF)};
    EXPECT_EQ(s.extra_lines[0], "fail=SetWallpaper|0x80070005|" + kRight);
    write_standin_state(s);

    auto d = create_desktop();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SetWallpaper(to_wide(kLeft).c_str(), L"C:\\new.png"), S_OK);
    EXPECT_EQ(d->SetWallpaper(to_wide(kRight).c_str(), L"C:\\new.png"), static_cast<HRESULT>(0x80070005));
    // All monitors include the failing one: nothing changes.
    EXPECT_EQ(d->SetWallpaper(nullptr, L"C:\\all.png"), static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(standin_wallpaper(kLeft), "C:\\new.png");
    EXPECT_EQ(standin_wallpaper(kRight), "C:\\right.png");
    DESKTOP_WALLPAPER_POSITION position{};
    EXPECT_EQ(d->GetPosition(&position), E_UNEXPECTED);
    EXPECT_EQ(d->SetPosition(DWPOS_TILE), S_OK);
}

TEST_F(DesktopStandin, UnpluggedMonitorGoesAtTheNextEnumeration) {
    auto s = two_monitors();
    s.wallpapers = {{kRight, "C:\\right.png"}};
    s.extra_lines = {standin_unplug(kRight, 1)};
    write_standin_state(s);

    auto d = create_desktop();
    ASSERT_TRUE(d);
    EXPECT_EQ(enumerate(*d).size(), 2u);
    EXPECT_EQ(wallpaper_of(*d, kRight), "C:\\right.png");
    const auto second = enumerate(*d);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].device_path, kLeft);
    RECT r{};
    EXPECT_EQ(d->GetMonitorRECT(to_wide(kRight).c_str(), &r), E_INVALIDARG);
    EXPECT_EQ(wallpaper_of(*d, kRight, E_INVALIDARG), "(null)");
    EXPECT_EQ(d->SetWallpaper(to_wide(kRight).c_str(), L"C:\\x.png"), E_INVALIDARG);
    const auto extra = read_standin_state().extra_lines;
    EXPECT_NE(std::find(extra.begin(), extra.end(), "count_calls=2"), extra.end());
}

TEST_F(DesktopStandin, CallLogRecordsEveryCallInOrder) {
    write_standin_state(two_monitors());
    auto d = create_desktop();
    ASSERT_TRUE(d);
    d->SetPosition(DWPOS_CENTER);
    d->SetWallpaper(to_wide(kLeft).c_str(), to_wide("C:\\그림 1.png").c_str());
    d->SetWallpaper(nullptr, nullptr);
    LPWSTR id = nullptr;
    d->GetMonitorDevicePathAt(5, &id);
    const std::string pid = std::to_string(GetCurrentProcessId());
    const std::vector<std::string> expected = {
        pid + " SetPosition 0 0x00000000",
        pid + " SetWallpaper " + kLeft + "|C:\\그림 1.png 0x00000000",
        pid + " SetWallpaper (null)|(null) 0x80070057",
        pid + " GetMonitorDevicePathAt 5 0x80070585",
    };
    EXPECT_EQ(standin_calls(), expected);
    EXPECT_EQ(standin_call_methods(true),
              (std::vector<std::string>{"SetPosition", "SetWallpaper", "SetWallpaper", "GetMonitorDevicePathAt"}));
    write_standin_state({});
    EXPECT_TRUE(standin_calls().empty());
}

// A delayed call sleeps without the stand-in's mutex: other callers are not held up by it.
TEST_F(DesktopStandin, DelayedCallDoesNotHoldUpOthers) {
    auto s = two_monitors();
    s.extra_lines = {standin_delay("GetPosition", 3000)};
    write_standin_state(s);
    const auto start = std::chrono::steady_clock::now();
    std::thread slow([] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            auto d = create_desktop();
            DESKTOP_WALLPAPER_POSITION position{};
            ASSERT_TRUE(d);
            EXPECT_EQ(d->GetPosition(&position), S_OK);
        }
        CoUninitialize();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto d = create_desktop();
    ASSERT_TRUE(d);
    COLORREF color = 0;
    EXPECT_EQ(d->GetBackgroundColor(&color), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    slow.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(DesktopStandin, ClassFactoryAndReferenceCounting) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_DesktopWallpaper, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    ComPtr<IClassFactory> f(factory);
    IUnknown* outer = f.get();
    void* object = nullptr;
    EXPECT_EQ(f->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(f->LockServer(TRUE), S_OK);

    HMODULE dll = GetModuleHandleW(L"veltrane_desktop_wallpaper.dll");
    ASSERT_NE(dll, nullptr);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    const auto can_unload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(can_unload, nullptr);

    ASSERT_EQ(f->CreateInstance(nullptr, IID_IDesktopWallpaper, &object), S_OK);
    auto* d = static_cast<IDesktopWallpaper*>(object);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(d->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(d->AddRef(), 2u);
    EXPECT_EQ(d->Release(), 1u);
    f->LockServer(FALSE);
    f.reset();
    EXPECT_EQ(can_unload(), S_FALSE);
    EXPECT_EQ(d->Release(), 0u);
    EXPECT_EQ(can_unload(), S_OK);
}

}  // namespace
