// The shell's desktop-wallpaper object as the program uses it: a narrow interface (the
// Windows side wraps IDesktopWallpaper, tests pass a fake), the wallpaper monitors it
// reports with their GDI device names matched by rectangle, and the comparisons that
// composition needs on them. Device paths and wallpaper paths are UTF-8 text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_util/result.h"
#include "settings/monitors.h"

namespace veltrane {

// The interface's own numbering (DESKTOP_WALLPAPER_POSITION).
enum WallpaperPosition : std::int32_t {
    kPositionCenter = 0,
    kPositionTile = 1,
    kPositionStretch = 2,
    kPositionFit = 3,
    kPositionFill = 4,
    kPositionSpan = 5,
};

// One method per interface call the program makes; errors carry the HRESULT's description.
class DesktopWallpaper {
public:
    virtual ~DesktopWallpaper() = default;
    virtual Status set_wallpaper(const std::string& device_path, const std::string& path) = 0;
    virtual Result<std::string> wallpaper(const std::string& device_path) = 0;
    virtual Result<std::string> monitor_device_path_at(std::uint32_t index) = 0;
    virtual Result<std::uint32_t> monitor_device_path_count() = 0;
    virtual Result<MonitorRect> monitor_rect(const std::string& device_path) = 0;
    virtual Status set_background_color(std::uint32_t color) = 0;
    virtual Result<std::uint32_t> background_color() = 0;
    virtual Status set_position(std::int32_t position) = 0;
    virtual Result<std::int32_t> position() = 0;
};

struct WallpaperMonitor {
    std::string device_path;
    std::string wallpaper;                   // may be empty: no wallpaper
    std::optional<std::string> device_name;  // \\.\DISPLAY1 of the GDI monitor with the same rectangle
    MonitorRect rect;
    friend bool operator==(const WallpaperMonitor&, const WallpaperMonitor&) = default;
};

// In the interface's index order. A monitor whose rectangle cannot be read is left out;
// a failing count, device path or wallpaper query fails the whole list.
Result<std::vector<WallpaperMonitor>> list_wallpaper_monitors(DesktopWallpaper& desktop,
                                                              std::span<const MonitorEntry> gdi_monitors);

// Same count, and pairwise the same device path and rectangle.
bool same_monitor_layout(std::span<const WallpaperMonitor> a, std::span<const WallpaperMonitor> b);

// The smallest rectangle holding every monitor; all zero for none.
MonitorRect virtual_bounds(std::span<const WallpaperMonitor> monitors);

}  // namespace veltrane
