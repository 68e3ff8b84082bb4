#include "roles.h"

#include "installer_win.h"
#include "service_win.h"
#include "settings_window_win.h"
#include "uninstaller_win.h"
#include "update/apply_update.h"
#include "watchdog_win.h"

namespace veltrane::roles {

Status service() { return run_service(); }

void watchdog(const WatchdogTarget& target) { run_watchdog(target); }

void apply_update() { apply_staged_update(); }

void rollback_helper() { roll_back_unready_update(); }

void settings_window() { run_settings_window(); }

SetupOutcome install_program(const std::filesystem::path& source, const std::filesystem::path& target, bool quiet) {
    return veltrane::install_program(source, target, quiet);
}

Result<Unrestored> remove_installation(const std::filesystem::path& install_folder, bool at_once) {
    return veltrane::remove_installation(install_folder, at_once);
}

}  // namespace veltrane::roles
