#include "wallpaper/original_wallpaper_win.h"

#include "ipc/ipc.h"
#include "settings/monitors.h"
#include "wallpaper/background_cache_win.h"
#include "wallpaper/desktop_wallpaper_win.h"

namespace veltrane {
namespace {

// Bounded: window threads and the start-up restore too. This process's background writes
// land first (bounded as well): a file still open would keep WallpaperComposite.
auto restore_lock() {
    (void)finish_background_writes();
    return ipc::acquire_named_lock(ipc::kWallpaperRestoreName, static_cast<DWORD>(ipc::kRestoreLockWait.count()));
}

}  // namespace

Result<RestoreReport> restore_original_wallpapers(const std::filesystem::path& install_folder) {
    auto lock = restore_lock();
    if (!lock) return lock.take_error();
    return restore_from_record(install_folder, open_desktop_wallpaper, list_monitors);
}

Result<std::vector<std::string>> restore_original_wallpapers_over_damage(const std::filesystem::path& install_folder) {
    auto lock = restore_lock();
    if (!lock) return lock.take_error();
    return restore_over_damaged_record(install_folder, open_desktop_wallpaper, list_monitors);
}

}  // namespace veltrane
