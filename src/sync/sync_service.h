// Syncs the service starts on its own: one worker thread per process at most, the daily
// slots with retries recorded in "Veltrane_Desktop.sync-retry", up to five immediate syncs
// while no content exists, and the settings window's two status lines.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "file_util/result.h"
#include "sync/schedule.h"

namespace veltrane {

inline constexpr const char* kSyncRetryFile = "Veltrane_Desktop.sync-retry";
inline constexpr std::uint64_t kSyncRetryLimit = 4096;

SyncRetry read_sync_retry(const std::filesystem::path& exe_folder);
Status write_sync_retry(const std::filesystem::path& exe_folder, const SyncRetry& record);

// True if a worker running run_content_sync was started; false if one already runs or no
// thread could be started.
bool start_sync_thread();
bool sync_in_progress();

// Called on every service tick. `update_check_running` skips the scheduled sync while this
// process checks for an update.
void sync_schedule_tick(bool update_check_running);

std::string last_sync_line();
std::string next_sync_line();
// The status record's note, empty when there is none.
std::string sync_note_line();

}  // namespace veltrane
