// The Windows side of applying an update; included by apply_update.h on Windows.
#pragma once

#include <windows.h>

#include <functional>

#include "update/apply_update.h"

namespace veltrane {

// Whether the target existed before (its old content is now the backup), or an error.
Result<bool> replace_with_backup(const std::filesystem::path& staged, const std::filesystem::path& target,
                                 const std::filesystem::path& backup);

// Undoes both replacements and restarts the previous service; every step runs even after a
// failed one. Nothing, or the failures one per line.
std::optional<std::string> roll_back_update(const std::filesystem::path& install_folder, RestoreAction executable,
                                            RestoreAction font);

// The error, extended by a failure to start the installed service again.
std::string restart_previous_service(const std::filesystem::path& install_folder, std::string error);

// Starts the executable with "--run" and waits for the service-ready event of this build.
Status start_service_and_wait(const std::filesystem::path& executable, const std::filesystem::path& working_folder);

// True once the event is set within 60 seconds; false as soon as the child has ended.
bool wait_for_ready_event(HANDLE child, HANDLE event);

// At a service's start: an apply that an ended updater left part-way is finished (the new
// build runs) or undone as far as the font (the previous build runs), and recorded.
Status finish_interrupted_update(const std::filesystem::path& install_folder);

// Called after each numbered step of applying; the updater-interrupted tests end the
// process there. The program passes none.
using AfterApplyStep = std::function<void(int step)>;

// The "--apply-update" mode.
void apply_staged_update(const AfterApplyStep& after_step = {});

}  // namespace veltrane
