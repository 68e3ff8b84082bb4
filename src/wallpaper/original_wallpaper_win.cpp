#include "wallpaper/original_wallpaper_win.h"

#include "ipc/ipc.h"
#include "settings/monitors.h"
#include "wallpaper/desktop_wallpaper_win.h"

namespace veltrane {

Result<RestoreOutcome> restore_original_wallpapers(const std::filesystem::path& install_folder) {
    // Bounded: window threads and the start-up call this.
    auto lock = ipc::acquire_named_lock(ipc::kWallpaperRestoreName, static_cast<DWORD>(ipc::kRestoreLockWait.count()));
    if (!lock) return lock.take_error();
    return restore_from_record(install_folder, open_desktop_wallpaper, list_monitors);
}

}  // namespace veltrane
