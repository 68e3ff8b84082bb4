#include "wallpaper/desktop_wallpaper_win.h"

#include <windows.h>
#include <objbase.h>

#include "file_util/win.h"
#include "settings/monitors.h"
#include "wallpaper/com_win.h"

namespace veltrane {

// The shell's interface, declared here for the calls the program makes, in the
// interface's slot order (the slide-show methods after GetPosition are never called).
// Outside the anonymous namespace: GCC treats a call through an internal type that no
// class of this file implements as unreachable.
struct IShellDesktopWallpaper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetWallpaper(LPCWSTR monitor_id, LPCWSTR wallpaper) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWallpaper(LPCWSTR monitor_id, LPWSTR* wallpaper) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorDevicePathAt(UINT index, LPWSTR* monitor_id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorDevicePathCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorRECT(LPCWSTR monitor_id, RECT* rect) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackgroundColor(COLORREF color) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackgroundColor(COLORREF* color) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPosition(int position) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPosition(int* position) = 0;
};

namespace {

constexpr CLSID kDesktopWallpaperClass = {0xC2CF3110, 0x460E, 0x4FC1, {0xB9, 0xD0, 0x8A, 0x1C, 0x0C, 0x9C, 0xC4, 0xBD}};
constexpr IID kDesktopWallpaperInterface = {0xB92B56A9, 0x8B55, 0x4E14, {0x9A, 0x89, 0x01, 0x99, 0xBB, 0xB6, 0xF9, 0x3B}};
// In-process server and handler, local and remote server.
constexpr DWORD kCreationContext = 23;

Error com_error(HRESULT hr) { return Error{win::hresult_text(hr), static_cast<std::uint32_t>(hr)}; }

// Takes a string the object allocated with CoTaskMemAlloc.
std::string take_string(LPWSTR text) {
    std::string utf8 = text ? win::from_wide(text) : std::string();
    CoTaskMemFree(text);
    return utf8;
}

class ShellDesktopWallpaper final : public DesktopWallpaper {
public:
    ShellDesktopWallpaper() = default;

    HRESULT create() {
        return CoCreateInstance(kDesktopWallpaperClass, nullptr, kCreationContext, kDesktopWallpaperInterface,
                                object_.put_void());
    }

    Status set_wallpaper(const std::string& device_path, const std::string& path) override {
        const HRESULT hr = object_->SetWallpaper(win::to_wide(device_path).c_str(), win::to_wide(path).c_str());
        if (FAILED(hr)) return com_error(hr);
        return {};
    }
    Result<std::string> wallpaper(const std::string& device_path) override {
        LPWSTR text = nullptr;
        const HRESULT hr = object_->GetWallpaper(win::to_wide(device_path).c_str(), &text);
        std::string utf8 = take_string(text);
        if (FAILED(hr)) return com_error(hr);
        return utf8;
    }
    Result<std::string> monitor_device_path_at(std::uint32_t index) override {
        LPWSTR text = nullptr;
        const HRESULT hr = object_->GetMonitorDevicePathAt(index, &text);
        std::string utf8 = take_string(text);
        if (FAILED(hr)) return com_error(hr);
        return utf8;
    }
    Result<std::uint32_t> monitor_device_path_count() override {
        UINT count = 0;
        const HRESULT hr = object_->GetMonitorDevicePathCount(&count);
        if (FAILED(hr)) return com_error(hr);
        return static_cast<std::uint32_t>(count);
    }
    Result<MonitorRect> monitor_rect(const std::string& device_path) override {
        RECT r{};
        const HRESULT hr = object_->GetMonitorRECT(win::to_wide(device_path).c_str(), &r);
        if (FAILED(hr)) return com_error(hr);
        return MonitorRect{r.left, r.top, r.right, r.bottom};
    }
    Status set_background_color(std::uint32_t color) override {
        const HRESULT hr = object_->SetBackgroundColor(color);
        if (FAILED(hr)) return com_error(hr);
        return {};
    }
    Result<std::uint32_t> background_color() override {
        COLORREF color = 0;
        const HRESULT hr = object_->GetBackgroundColor(&color);
        if (FAILED(hr)) return com_error(hr);
        return static_cast<std::uint32_t>(color);
    }
    Status set_position(std::int32_t position) override {
        const HRESULT hr = object_->SetPosition(position);
        if (FAILED(hr)) return com_error(hr);
        return {};
    }
    Result<std::int32_t> position() override {
        int position = 0;
        const HRESULT hr = object_->GetPosition(&position);
        if (FAILED(hr)) return com_error(hr);
        return static_cast<std::int32_t>(position);
    }

private:
    // Declared first so COM outlives the interface pointer.
    win::ComScope com_;
    win::ComRef<IShellDesktopWallpaper> object_;
};

}  // namespace

Result<std::unique_ptr<DesktopWallpaper>> open_desktop_wallpaper() {
    auto desktop = std::make_unique<ShellDesktopWallpaper>();
    if (const HRESULT hr = desktop->create(); FAILED(hr)) return com_error(hr);
    return std::unique_ptr<DesktopWallpaper>(std::move(desktop));
}

Result<std::vector<WallpaperMonitor>> list_wallpaper_monitors(DesktopWallpaper& desktop) {
    const std::vector<MonitorEntry> gdi = list_monitors();
    return list_wallpaper_monitors(desktop, gdi);
}

}  // namespace veltrane
