#include "roles.h"

#include "service_win.h"
#include "update/apply_update.h"
#include "watchdog_win.h"

namespace veltrane::roles {

Status service() { return run_service(); }

void watchdog(const WatchdogTarget& target) { run_watchdog(target); }

void apply_update() { apply_staged_update(); }

void settings_window() {}

void install_program(const std::filesystem::path&, const std::filesystem::path&) {}

// Reporting success for a removal that did nothing would tell the user their files are
// gone; until removal exists, the user is told it did not happen.
Status remove_installation(const std::filesystem::path&) { return make_error("이 버전에는 삭제 기능이 없습니다."); }

}  // namespace veltrane::roles
