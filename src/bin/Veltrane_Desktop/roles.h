// The roles the entry point hands over to, one function each. Each role's own module
// replaces the body of its function here; until then a role returns at once.
#pragma once

#include <filesystem>

#include "command_line.h"
#include "file_util/result.h"
#include "startup.h"

namespace veltrane::roles {

// "--run". An error ends the service before its message loop and is shown to the user; a
// second service while one runs returns success and ends silently.
Status service();
// "--watchdog" with its valid arguments.
void watchdog(const WatchdogTarget& target);
// "--apply-update".
void apply_update();
// "--rollback-helper".
void rollback_helper();
// The installed copy started without a switch.
void settings_window();
SetupOutcome install_program(const std::filesystem::path& source, const std::filesystem::path& target, bool quiet);
Result<Unrestored> remove_installation(const std::filesystem::path& install_folder, bool at_once);

}  // namespace veltrane::roles
