#include "installer_win.h"

#include <windows.h>

#include "autostart_win.h"
#include "file_util/text.h"
#include "installer.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "platform_win.h"
#include "settings/install_identity.h"
#include "settings/settings.h"
#include "update/apply_update.h"
#include "update/update_check.h"
#include "startup.h"
#include "uninstall_entry_win.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// Steps up to the shortcut; the error text is shown after "설치에 실패했습니다.". A damaged
// wallpaper record does not stop them, nor a monitor that is not connected (its record stays
// for the next service): both land in `unrestored`.
Result<std::vector<std::string>> put_files_in_place(const fs::path& source, const fs::path& target,
                                                    Unrestored& unrestored) {
    auto names = install_copy_list(source);
    if (!names) return names.take_error();
    if (auto stopped = ipc::stop_running_instances(); !stopped) return stopped.take_error();
    auto restored = restore_original_wallpapers_over_damage(target);
    if (!restored) return restored.take_error();
    unrestored.insert(unrestored.end(), restored->begin(), restored->end());
    if (auto emptied = empty_install_folder(target, *names); !emptied) return emptied.take_error();
    if (auto copied = copy_install_files(source, target, *names); !copied) return copied.take_error();
    // Kept from an earlier installation; should this fail, the service's start makes it.
    (void)ensure_install_identity(target);
    const fs::path executable = target / kExecutableName;
    if (auto enabled = enable_autostart(executable); !enabled) return enabled.take_error();
    if (auto linked = create_start_menu_shortcut(executable, target); !linked) return linked.take_error();
    if (auto registered = write_uninstall_entry(target); !registered) return registered.take_error();
    return names;
}

}  // namespace

SetupOutcome install_program(const fs::path& source, const fs::path& target, bool quiet) {
    Unrestored unrestored;
    // Whichever text ends the installation names what could not be given back.
    const auto failure = [&](const std::string& text, const Error& cause = {}) {
        return failed(text + unrestored_text(unrestored), cause);
    };
    auto lock = ipc::acquire_setup_lock(target / kUpdateFolder / kUpdaterName,
                                        quiet ? std::chrono::milliseconds(0) : ipc::kSetupWait);
    if (!lock) return failure(install_failure_text(lock.error().message), lock.error());
    auto names = put_files_in_place(source, target, unrestored);
    if (!names) {
        lock->release();
        return failure(install_failure_text(names.error().message));
    }
    const fs::path executable = target / kExecutableName;
    auto started = start_service_and_wait(executable, target);
    lock->release();
    if (!started) return failure(service_unconfirmed_text(started.error().message));
    if (!quiet) {
        if (auto settings = ipc::start_program(executable, L"", 0, target); !settings) {
            return failure(service_unconfirmed_text("설정 창을 열지 못했습니다.\n\n" + settings.error().message));
        }
    }
    return succeeded(install_success_text(target, *names) + unrestored_text(unrestored),
                     unrestored.empty() ? kInfoIcon : kWarningIcon);
}

}  // namespace veltrane
