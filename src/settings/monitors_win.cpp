#include <windows.h>

#include "file_util/win.h"
#include "settings/monitors.h"

namespace veltrane {
namespace {

// A fixed-size system field, cut at its first zero.
template <std::size_t N>
std::wstring_view until_nul(const wchar_t (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != L'\0') ++n;
    return std::wstring_view(field, n);
}

std::optional<std::string> device_string_of(const std::wstring& device_name) {
    DISPLAY_DEVICEW device{};
    device.cb = sizeof device;
    if (!EnumDisplayDevicesW(device_name.c_str(), 0, &device, EDD_GET_DEVICE_INTERFACE_NAME)) return std::nullopt;
    return win::from_wide(until_nul(device.DeviceString));
}

BOOL CALLBACK collect(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    auto& out = *reinterpret_cast<std::vector<MonitorEntry>*>(param);
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    const std::wstring name(until_nul(info.szDevice));
    MonitorEntry entry;
    entry.device_name = win::from_wide(name);
    entry.label = monitor_label(entry.device_name, device_string_of(name));
    entry.rect = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
    entry.is_primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    out.push_back(std::move(entry));
    return TRUE;
}

}  // namespace

std::vector<MonitorEntry> list_monitors() {
    std::vector<MonitorEntry> monitors;
    EnumDisplayMonitors(nullptr, nullptr, collect, reinterpret_cast<LPARAM>(&monitors));
    sort_monitors(monitors);
    return monitors;
}

}  // namespace veltrane
