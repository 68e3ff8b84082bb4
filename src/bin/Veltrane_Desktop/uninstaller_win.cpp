#include "uninstaller_win.h"

#include "autostart_win.h"
#include "file_util/file_util.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "platform_win.h"
#include "settings/settings.h"
#include "spotlight/spotlight_win.h"
#include "startup.h"
#include "uninstall_entry_win.h"
#include "uninstaller.h"
#include "update/update_check.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace fs = std::filesystem;

// The wallpapers go back before autostart and the shortcut go: a restore that fails ends the
// removal with the program whole, its records kept, and the next logon starts it again.
Result<Unrestored> remove_installation(const fs::path& install_folder, bool at_once) {
    auto lock = ipc::acquire_setup_lock(install_folder / kUpdateFolder / kUpdaterName,
                                        at_once ? std::chrono::milliseconds(0) : ipc::kSetupWait);
    if (!lock) return lock.take_error();
    if (auto stopped = ipc::stop_running_instances(); !stopped) return stopped.take_error();
    auto unrestored = restore_original_wallpapers_over_damage(install_folder);
    if (!unrestored) return unrestored.take_error();
    if (auto restored = restore_wallpaper_backup(install_folder); !restored) {
        // Bytes that are not a record cannot be put back by any retry; a refused read or
        // write can.
        if (restored.error().os_code != 0) return restored.take_error();
        unrestored->push_back(restored.error().message);
    }
    if (auto disabled = disable_autostart(); !disabled) return disabled.take_error();
    if (const auto shortcut = start_menu_shortcut_path()) {
        std::error_code ignored;
        fs::remove(*shortcut, ignored);
    }
    if (auto deleted = delete_install_folder(install_folder); !deleted) return deleted.take_error();
    // Last: an entry outliving a failed removal lets the user try again from Apps & Features.
    if (auto unregistered = delete_uninstall_entry(); !unregistered) return unregistered.take_error();
    return std::move(*unrestored);
}

void launch_removal_helper(HWND settings_window) {
    const auto folder = install_folder();
    if (!folder) {
        message_box("설치 폴더를 확인하지 못했습니다.", kErrorIcon);
        return;
    }
    if (message_box(removal_helper_question(*folder), kAskRemove) != kYes) return;
    if (auto helper = ipc::start_helper_copy("uninstall", L"--uninstall-helper", "삭제 도우미"); !helper) {
        message_box(helper.error().message, kErrorIcon);
        return;
    }
    if (settings_window) DestroyWindow(settings_window);
}

}  // namespace veltrane
