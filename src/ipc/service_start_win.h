// Starting the installed service and waiting until it reports that it runs, shared by the
// installer and the updater. The wait listens on the service-ready event of the caller's own
// build, so it only succeeds when the started program is that build.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>

#include "file_util/result.h"

namespace veltrane::ipc {

inline constexpr std::chrono::seconds kServiceReadyTimeout{60};

// Starts `executable` with "--run" in `working_folder` and waits for its ready event; a
// service that is not ready in time is terminated.
Status start_service_and_wait(const std::filesystem::path& executable, const std::filesystem::path& working_folder);

// True once the event is set; false at the deadline, when the child has exited, or when its
// state cannot be read.
bool wait_for_ready_event(HANDLE child, HANDLE event);

}  // namespace veltrane::ipc
