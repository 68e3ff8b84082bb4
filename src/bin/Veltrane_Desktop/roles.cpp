#include "roles.h"

#ifdef _WIN32
#include "update/apply_update.h"
#endif

namespace veltrane::roles {

Status service() { return {}; }

void watchdog(const WatchdogTarget&) {}

void apply_update() {
#ifdef _WIN32
    apply_staged_update();
#endif
}

void settings_window() {}

void install_program(const std::filesystem::path&, const std::filesystem::path&) {}

// Reporting success for a removal that did nothing would tell the user their files are
// gone; until removal exists, the user is told it did not happen.
Status remove_installation(const std::filesystem::path&) { return make_error("이 버전에는 삭제 기능이 없습니다."); }

}  // namespace veltrane::roles
