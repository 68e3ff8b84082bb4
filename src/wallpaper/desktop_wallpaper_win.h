// The shell's desktop-wallpaper object (IDesktopWallpaper through CoCreateInstance) behind
// the DesktopWallpaper interface. The object owns its COM apartment scope, so COM ends when
// the last user of the object lets it go.
#pragma once

#include <memory>
#include <vector>

#include "file_util/result.h"
#include "wallpaper/desktop_wallpaper.h"

namespace veltrane {

// Initialises COM for the thread (when needed) and creates the object.
Result<std::unique_ptr<DesktopWallpaper>> open_desktop_wallpaper();

// With the GDI monitors of EnumDisplayMonitors for the device names.
Result<std::vector<WallpaperMonitor>> list_wallpaper_monitors(DesktopWallpaper& desktop);

}  // namespace veltrane
