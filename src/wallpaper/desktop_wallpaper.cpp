#include "wallpaper/desktop_wallpaper.h"

#include <algorithm>

namespace veltrane {

namespace {

std::optional<std::string> gdi_name_for(const MonitorRect& rect, std::span<const MonitorEntry> gdi_monitors) {
    for (const auto& gdi : gdi_monitors) {
        if (gdi.rect == rect) return gdi.device_name;
    }
    return std::nullopt;
}

}  // namespace

Result<std::vector<WallpaperMonitor>> list_wallpaper_monitors(DesktopWallpaper& desktop,
                                                              std::span<const MonitorEntry> gdi_monitors) {
    auto count = desktop.monitor_device_path_count();
    if (!count) return count.take_error();
    std::vector<WallpaperMonitor> monitors;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto device_path = desktop.monitor_device_path_at(i);
        if (!device_path) return device_path.take_error();
        // A detached or inactive monitor has no rectangle and no picture to draw.
        auto rect = desktop.monitor_rect(*device_path);
        if (!rect) continue;
        auto wallpaper = desktop.wallpaper(*device_path);
        if (!wallpaper) return wallpaper.take_error();
        monitors.push_back({std::move(*device_path), std::move(*wallpaper), gdi_name_for(*rect, gdi_monitors), *rect});
    }
    return monitors;
}

bool same_monitor_layout(std::span<const WallpaperMonitor> a, std::span<const WallpaperMonitor> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const WallpaperMonitor& x, const WallpaperMonitor& y) {
        return x.device_path == y.device_path && x.rect == y.rect;
    });
}

MonitorRect virtual_bounds(std::span<const WallpaperMonitor> monitors) {
    if (monitors.empty()) return {};
    MonitorRect bounds = monitors.front().rect;
    for (const auto& m : monitors) {
        bounds.left = std::min(bounds.left, m.rect.left);
        bounds.top = std::min(bounds.top, m.rect.top);
        bounds.right = std::max(bounds.right, m.rect.right);
        bounds.bottom = std::max(bounds.bottom, m.rect.bottom);
    }
    return bounds;
}

}  // namespace veltrane
