// The Windows side of applying an update; included by apply_update.h on Windows.
#pragma once

#include <windows.h>

#include <functional>

#include <chrono>

#include "update/apply_update.h"

namespace veltrane {

// Whether the target existed before (its old content is now the backup), or an error.
Result<bool> replace_with_backup(const std::filesystem::path& staged, const std::filesystem::path& target,
                                 const std::filesystem::path& backup);

// Undoes both replacements and restarts the previous service; every step runs even after a
// failed one. The failures one per line.
Status roll_back_update(const std::filesystem::path& install_folder, RestoreAction executable, RestoreAction font);

// The error, extended by a failure to start the installed service again.
std::string restart_previous_service(const std::filesystem::path& install_folder, std::string error);

// Starts the executable with "--run" and waits for the service-ready event of this build.
Status start_service_and_wait(const std::filesystem::path& executable, const std::filesystem::path& working_folder);

// True once the event is set within `bound`; false as soon as the child has ended.
bool wait_for_ready_event(HANDLE child, HANDLE event, std::chrono::seconds bound = std::chrono::seconds(kServiceReadySeconds));

enum class ServiceStart { GoOn, HandedOver };

// First thing at a service's start, about an apply that an ended updater left part-way:
// the new build counts its start, or after two that never became ready hands over to a
// helper copy and ends (HandedOver); the previous build puts the font back and records
// failed. An error is for the last-error record; the start goes on.
Result<ServiceStart> finish_interrupted_update(const std::filesystem::path& install_folder);

// Once the service is ready: an ended updater's apply of this build is recorded updated.
Status finish_update_when_ready(const std::filesystem::path& install_folder);

// The "--rollback-helper" mode, a temporary copy of the build that never became ready: once
// no instance runs, puts the previous executable and font back, records the build rolled
// back and starts the previous service. Silent, as the updater.
void roll_back_unready_update();

// The points of applying after which the fault tests end the updater; numbered as the steps
// of applying are, where a step changes something another process can see.
enum class ApplyStep : int {
    OldBackupsDeleted = 2,
    ApplyingRecorded = 3,
    ServiceStopped = 4,
    WallpapersRestored = 5,
    StagingVerifiedAgain = 6,
    FontReplaced = 7,
    ExecutableReplaced = 8,
    NewServiceStarted = 10,
    UpdatedRecorded = 11,
};
inline constexpr ApplyStep kApplySteps[] = {
    ApplyStep::OldBackupsDeleted,  ApplyStep::ApplyingRecorded, ApplyStep::ServiceStopped,
    ApplyStep::WallpapersRestored, ApplyStep::StagingVerifiedAgain, ApplyStep::FontReplaced,
    ApplyStep::ExecutableReplaced, ApplyStep::NewServiceStarted, ApplyStep::UpdatedRecorded,
};

// Called after each step of applying; the updater-interrupted tests end the process there.
// The program passes none.
using AfterApplyStep = std::function<void(ApplyStep step)>;

// The "--apply-update" mode. The program waits the full minute for the new build; tests of a
// build that never becomes ready wait less.
void apply_staged_update(const AfterApplyStep& after_step = {},
                         std::chrono::seconds ready_wait = std::chrono::seconds(kServiceReadySeconds));

}  // namespace veltrane
