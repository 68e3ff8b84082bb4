#include "uninstaller_win.h"

#include <vector>

#include "autostart_win.h"
#include "file_util/file_util.h"
#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "platform_win.h"
#include "settings/settings.h"
#include "spotlight/spotlight_win.h"
#include "startup.h"
#include "uninstaller.h"
#include "update/update_check.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> temp_folder() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    const DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return std::nullopt;
    return fs::path(std::wstring(buffer.data(), n));
}

// Copies left by helpers that were ended before they could delete themselves; one still
// running cannot be deleted and stays.
void delete_old_helper_copies(const fs::path& temp) {
    WIN32_FIND_DATAW found;
    std::vector<fs::path> copies;
    {
        const win::UniqueFind find{FindFirstFileW((temp / "Veltrane_Desktop-uninstall-*.exe").c_str(), &found)};
        if (find.h == INVALID_HANDLE_VALUE) return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) copies.push_back(temp / found.cFileName);
        } while (FindNextFileW(find.h, &found));
    }
    // Deleted once the search is closed, as every delete here runs outside an enumeration.
    for (const auto& copy : copies) DeleteFileW(copy.c_str());
}

}  // namespace

// The wallpapers go back before autostart and the shortcut go: a restore that fails ends the
// removal with the program whole, its records kept, and the next logon starts it again.
Result<Unrestored> remove_installation(const fs::path& install_folder) {
    auto lock = ipc::acquire_setup_lock(install_folder / kUpdateFolder / kUpdaterName);
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
    return std::move(*unrestored);
}

void launch_removal_helper(HWND settings_window) {
    const auto folder = install_folder();
    if (!folder) {
        message_box("설치 폴더를 확인하지 못했습니다.", kErrorIcon);
        return;
    }
    if (message_box(removal_helper_question(*folder), kAskRemove) != kYes) return;
    const auto exe = executable_path();
    if (!exe) {
        message_box("삭제 도우미를 준비하지 못했습니다.\n\n" + exe.error().message, kErrorIcon);
        return;
    }
    const auto temp = temp_folder();
    if (!temp) {
        message_box("삭제 도우미를 준비하지 못했습니다.\n\n" + win::system_message(GetLastError()), kErrorIcon);
        return;
    }
    delete_old_helper_copies(*temp);
    const fs::path helper = removal_helper_path(*temp, GetCurrentProcessId());
    if (auto copied = copy_file_atomic(*exe, helper); !copied) {
        message_box("삭제 도우미 복사 실패: " + copied.error().message, kErrorIcon);
        return;
    }
    auto child = ipc::start_program(helper, L"--uninstall-helper", ipc::kNoWindowFlag, *temp);
    if (!child) {
        DeleteFileW(helper.c_str());
        message_box("삭제 도우미 실행 실패: " + child.error().message, kErrorIcon);
        return;
    }
    if (settings_window) DestroyWindow(settings_window);
}

}  // namespace veltrane
