// The in-process server standing in for the shell's DesktopWallpaper object, which Wine lacks.
// It implements IDesktopWallpaper as the SDK declares it, so a product that declares its own
// copy of the interface is checked against the real slot order. Every call reads the state
// file, works on it and logs itself, all under one named mutex (state_io_win.h).
#include <windows.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop_state.h"
#include "state_io_win.h"

namespace {

using veltrane::standin::Desktop;
using veltrane::standin::MonitorLine;
namespace standin = veltrane::standin;

// Live objects (factories included) and LockServer holds, for DllCanUnloadNow.
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

const HRESULT kUnknownMonitor = E_INVALIDARG;
const HRESULT kIndexOutOfRange = HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);

BOOL CALLBACK add_system_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto& list = *reinterpret_cast<std::vector<MonitorLine>*>(data);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    const RECT& r = info.rcMonitor;
    list.push_back({standin::default_device_path(list.size()), r.left, r.top, r.right, r.bottom});
    return TRUE;
}

// Described monitors, else the system's; without the unplugged ones.
std::vector<MonitorLine> visible_monitors(const Desktop& desktop) {
    std::vector<MonitorLine> list = desktop.monitors;
    if (list.empty()) EnumDisplayMonitors(nullptr, nullptr, add_system_monitor, reinterpret_cast<LPARAM>(&list));
    std::erase_if(list, [&](const MonitorLine& m) { return standin::unplugged(desktop, m.device_path); });
    return list;
}

const MonitorLine* find_monitor(const std::vector<MonitorLine>& list, const std::string& device_path) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const MonitorLine& m) { return m.device_path == device_path; });
    return it == list.end() ? nullptr : &*it;
}

// A failure injected for the method in general or for one of these monitors.
std::optional<HRESULT> injected(const Desktop& desktop, const char* method, const std::vector<std::string>& devices,
                                const std::string* path = nullptr) {
    auto hr = standin::injected_failure(desktop, method, nullptr, path);
    for (auto it = devices.begin(); !hr && it != devices.end(); ++it) {
        hr = standin::injected_failure(desktop, method, &*it, path);
    }
    if (!hr) return std::nullopt;
    return static_cast<HRESULT>(*hr);
}

HRESULT co_task_string(const std::wstring& text, LPWSTR* out) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::copy(text.c_str(), text.c_str() + text.size() + 1, copy);
    *out = copy;
    return S_OK;
}

std::string argument(LPCWSTR text) { return text ? standin::to_utf8(text) : std::string("(null)"); }

std::string hex(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

struct Call {
    Desktop desktop;
    bool changed = false;  // write the state back, whatever the result
};

std::uint32_t configured_delay(const char* method) {
    standin::StateLock lock;
    std::string text;
    if (!lock.held() || standin::read_whole_file(standin::state_file_path(), text) != ERROR_SUCCESS) return 0;
    return standin::delay_of(standin::parse_desktop(text), method);
}

// One method call: the delay (outside the lock, so other processes go on meanwhile), then the
// body on a fresh read of the state, the write-back and the log line, under the lock.
template <typename Body>
HRESULT run_call(const char* method, const std::string& arguments, Body&& body) {
    if (const std::uint32_t ms = configured_delay(method)) Sleep(ms);
    standin::StateLock lock;
    if (!lock.held()) return HRESULT_FROM_WIN32(lock.error());
    const std::wstring state_path = standin::state_file_path();
    Call call;
    std::string text;
    HRESULT hr = HRESULT_FROM_WIN32(standin::read_whole_file(state_path, text));
    if (SUCCEEDED(hr)) {
        call.desktop = standin::parse_desktop(text);
        hr = body(call);
        if (call.changed) {
            const DWORD error = standin::replace_file_contents(state_path, standin::format_desktop(call.desktop));
            if (error != ERROR_SUCCESS && SUCCEEDED(hr)) hr = HRESULT_FROM_WIN32(error);
        }
    }
    const std::string line =
        std::to_string(GetCurrentProcessId()) + " " + method + " " + arguments + " " + hex(hr) + "\n";
    standin::append_to_file(standin::log_file_path(), line);
    return hr;
}

HRESULT not_implemented(const char* method) {
    return run_call(method, "-", [](Call&) { return E_NOTIMPL; });
}

HRESULT set_wallpaper(Call& call, LPCWSTR monitor_id, LPCWSTR wallpaper) {
    const auto monitors = visible_monitors(call.desktop);
    std::vector<std::string> targets;
    if (monitor_id == nullptr) {
        for (const auto& m : monitors) targets.push_back(m.device_path);
    } else {
        targets.push_back(standin::to_utf8(monitor_id));
    }
    if (wallpaper == nullptr) return E_INVALIDARG;
    const std::string path = standin::to_utf8(wallpaper);
    if (auto hr = injected(call.desktop, "SetWallpaper", targets, &path)) return *hr;
    if (monitor_id != nullptr && !find_monitor(monitors, targets.front())) return kUnknownMonitor;
    for (const auto& device : targets) standin::set_wallpaper(call.desktop, device, standin::to_utf8(wallpaper));
    call.changed = true;
    return S_OK;
}

// With no monitor: the one wallpaper all monitors share, else S_FALSE and an empty string.
HRESULT get_wallpaper(Call& call, LPCWSTR monitor_id, LPWSTR* wallpaper) {
    if (wallpaper == nullptr) return E_POINTER;
    *wallpaper = nullptr;
    const auto monitors = visible_monitors(call.desktop);
    if (monitor_id == nullptr) {
        if (auto hr = injected(call.desktop, "GetWallpaper", {})) return *hr;
        std::optional<std::string> shared;
        bool same = !monitors.empty();
        for (const auto& m : monitors) {
            const std::string path = standin::wallpaper_of(call.desktop, m.device_path);
            if (shared && *shared != path) same = false;
            shared = path;
        }
        const HRESULT hr = co_task_string(same ? standin::to_wide(*shared) : std::wstring(), wallpaper);
        return FAILED(hr) ? hr : (same ? S_OK : S_FALSE);
    }
    const std::string device = standin::to_utf8(monitor_id);
    if (auto hr = injected(call.desktop, "GetWallpaper", {device})) return *hr;
    if (!find_monitor(monitors, device)) return kUnknownMonitor;
    return co_task_string(standin::to_wide(standin::wallpaper_of(call.desktop, device)), wallpaper);
}

HRESULT get_device_path_at(Call& call, UINT index, LPWSTR* monitor_id) {
    if (monitor_id == nullptr) return E_POINTER;
    *monitor_id = nullptr;
    const auto monitors = visible_monitors(call.desktop);
    if (index >= monitors.size()) {
        if (auto hr = injected(call.desktop, "GetMonitorDevicePathAt", {})) return *hr;
        return kIndexOutOfRange;
    }
    const std::string& device = monitors[index].device_path;
    if (auto hr = injected(call.desktop, "GetMonitorDevicePathAt", {device})) return *hr;
    return co_task_string(standin::to_wide(device), monitor_id);
}

// Counts itself first: unplug= rules are keyed by the number of these calls.
HRESULT get_device_path_count(Call& call, UINT* count) {
    call.desktop.count_calls = call.desktop.count_calls.value_or(0) + 1;
    call.changed = true;
    if (auto hr = injected(call.desktop, "GetMonitorDevicePathCount", {})) return *hr;
    if (count == nullptr) return E_POINTER;
    *count = static_cast<UINT>(visible_monitors(call.desktop).size());
    return S_OK;
}

HRESULT get_monitor_rect(Call& call, LPCWSTR monitor_id, RECT* rect) {
    if (rect == nullptr) return E_POINTER;
    *rect = RECT{};
    const std::string device = monitor_id ? standin::to_utf8(monitor_id) : std::string();
    if (auto hr = injected(call.desktop, "GetMonitorRECT", {device})) return *hr;
    const auto monitors = visible_monitors(call.desktop);
    const MonitorLine* m = monitor_id ? find_monitor(monitors, device) : nullptr;
    if (m == nullptr) return kUnknownMonitor;
    *rect = RECT{m->left, m->top, m->right, m->bottom};
    return S_OK;
}

// IUnknown for one interface: deleted with its last reference, and counted while alive so
// DllCanUnloadNow can answer.
template <class Interface, const IID& interface_id>
class ComObject : public Interface {
public:
    ComObject() { ++g_objects; }
    virtual ~ComObject() { --g_objects; }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, interface_id)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) std::unique_ptr<ComObject> owner(this);
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class Wallpaper final : public ComObject<IDesktopWallpaper, IID_IDesktopWallpaper> {
public:

    HRESULT STDMETHODCALLTYPE SetWallpaper(LPCWSTR monitorID, LPCWSTR wallpaper) override {
        return run_call("SetWallpaper", argument(monitorID) + "|" + argument(wallpaper),
                        [&](Call& c) { return set_wallpaper(c, monitorID, wallpaper); });
    }
    HRESULT STDMETHODCALLTYPE GetWallpaper(LPCWSTR monitorID, LPWSTR* wallpaper) override {
        return run_call("GetWallpaper", argument(monitorID),
                        [&](Call& c) { return get_wallpaper(c, monitorID, wallpaper); });
    }
    HRESULT STDMETHODCALLTYPE GetMonitorDevicePathAt(UINT monitorIndex, LPWSTR* monitorID) override {
        return run_call("GetMonitorDevicePathAt", std::to_string(monitorIndex),
                        [&](Call& c) { return get_device_path_at(c, monitorIndex, monitorID); });
    }
    HRESULT STDMETHODCALLTYPE GetMonitorDevicePathCount(UINT* count) override {
        return run_call("GetMonitorDevicePathCount", "-",
                        [&](Call& c) { return get_device_path_count(c, count); });
    }
    HRESULT STDMETHODCALLTYPE GetMonitorRECT(LPCWSTR monitorID, RECT* displayRect) override {
        return run_call("GetMonitorRECT", argument(monitorID),
                        [&](Call& c) { return get_monitor_rect(c, monitorID, displayRect); });
    }
    HRESULT STDMETHODCALLTYPE SetBackgroundColor(COLORREF color) override {
        return run_call("SetBackgroundColor", std::to_string(color), [&](Call& c) {
            if (auto hr = injected(c.desktop, "SetBackgroundColor", {})) return *hr;
            c.desktop.color = color;
            c.changed = true;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetBackgroundColor(COLORREF* color) override {
        return run_call("GetBackgroundColor", "-", [&](Call& c) {
            if (color == nullptr) return E_POINTER;
            if (auto hr = injected(c.desktop, "GetBackgroundColor", {})) return *hr;
            *color = c.desktop.color.value_or(standin::kDefaultColor);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE SetPosition(DESKTOP_WALLPAPER_POSITION position) override {
        return run_call("SetPosition", std::to_string(static_cast<int>(position)), [&](Call& c) {
            if (auto hr = injected(c.desktop, "SetPosition", {})) return *hr;
            if (position < DWPOS_CENTER || position > DWPOS_SPAN) return E_INVALIDARG;
            c.desktop.position = static_cast<int>(position);
            c.changed = true;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPosition(DESKTOP_WALLPAPER_POSITION* position) override {
        return run_call("GetPosition", "-", [&](Call& c) {
            if (position == nullptr) return E_POINTER;
            if (auto hr = injected(c.desktop, "GetPosition", {})) return *hr;
            *position = static_cast<DESKTOP_WALLPAPER_POSITION>(c.desktop.position.value_or(standin::kDefaultPosition));
            return S_OK;
        });
    }

    // The slideshow and the rest are not used by the product.
    HRESULT STDMETHODCALLTYPE SetSlideshow(IShellItemArray*) override { return not_implemented("SetSlideshow"); }
    HRESULT STDMETHODCALLTYPE GetSlideshow(IShellItemArray** items) override {
        if (items) *items = nullptr;
        return not_implemented("GetSlideshow");
    }
    HRESULT STDMETHODCALLTYPE SetSlideshowOptions(DESKTOP_SLIDESHOW_OPTIONS, UINT) override {
        return not_implemented("SetSlideshowOptions");
    }
    HRESULT STDMETHODCALLTYPE GetSlideshowOptions(DESKTOP_SLIDESHOW_OPTIONS* options, UINT* tick) override {
        if (options) *options = DESKTOP_SLIDESHOW_OPTIONS{};
        if (tick) *tick = 0;
        return not_implemented("GetSlideshowOptions");
    }
    HRESULT STDMETHODCALLTYPE AdvanceSlideshow(LPCWSTR, DESKTOP_SLIDESHOW_DIRECTION) override {
        return not_implemented("AdvanceSlideshow");
    }
    HRESULT STDMETHODCALLTYPE GetStatus(DESKTOP_SLIDESHOW_STATE* state) override {
        if (state) *state = DESKTOP_SLIDESHOW_STATE{};
        return not_implemented("GetStatus");
    }
    HRESULT STDMETHODCALLTYPE Enable(BOOL) override { return not_implemented("Enable"); }
};

class Factory final : public ComObject<IClassFactory, IID_IClassFactory> {
public:

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = std::make_unique<Wallpaper>().release();
        const HRESULT hr = object->QueryInterface(riid, out);
        object->Release();  // the caller's reference, if any, keeps it
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
        } else {
            --g_locks;
        }
        return S_OK;
    }
};

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_DesktopWallpaper)) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = std::make_unique<Factory>().release();
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }
