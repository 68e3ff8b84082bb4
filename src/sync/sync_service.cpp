#include "sync/sync_service.h"

#include "file_util/file_util.h"
#include "file_util/worker.h"
#include "settings/record.h"
#include "settings/settings.h"
#include "sync/content_store.h"
#include "sync/sync_run.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_sync_in_progress{false};
std::uint32_t g_no_content_starts = 0;  // window thread only

// Runs on the worker: the run, then (on success) the record marked as succeeded.
void sync_worker(std::optional<fs::path> retry_folder) {
    // The flag clears last, so whoever waits for the worker also sees its record.
    if (const auto published = run_content_sync(); published && *published && retry_folder) {
        SyncRetry record = read_sync_retry(*retry_folder);
        record.succeeded = true;
        (void)write_sync_retry(*retry_folder, record);
    }
    g_sync_in_progress.store(false);
}

}  // namespace

SyncRetry read_sync_retry(const fs::path& exe_folder) {
    auto text = read_text_limited(exe_folder / kSyncRetryFile, kSyncRetryLimit);
    return text ? parse_sync_retry(*text) : SyncRetry{};
}

Status write_sync_retry(const fs::path& exe_folder, const SyncRetry& record) {
    return write_file_atomic(exe_folder / kSyncRetryFile, format_sync_retry(record));
}

bool sync_in_progress() { return g_sync_in_progress.load(); }

bool start_sync_thread() {
    if (!claim_worker(g_sync_in_progress)) return false;
    return start_claimed_worker(g_sync_in_progress, [] { sync_worker(std::nullopt); });
}

void sync_schedule_tick(bool update_check_running) {
    if (!has_content()) {
        if (g_no_content_starts < kMaxNoContentSyncs && start_sync_thread()) ++g_no_content_starts;
        return;
    }
    g_no_content_starts = 0;
    if (update_check_running) return;
    const auto folder = executable_folder();
    if (!folder) return;
    const SyncRetry record = read_sync_retry(*folder);
    const auto next = next_sync_attempt(record, current_sync_slot(local_time_now()), utc_seconds_now());
    if (!next || !claim_worker(g_sync_in_progress)) return;
    // Written before the worker starts: a run that succeeds at once must not have its
    // "succeeded" overwritten by this attempt's record. A worker that cannot start counts as
    // a failed attempt, retried like one.
    (void)write_sync_retry(*folder, *next);
    (void)start_claimed_worker(g_sync_in_progress, [folder] { sync_worker(folder); });
}

std::string last_sync_line() {
    const auto folder = executable_folder();
    if (!folder) return veltrane::last_sync_line(std::nullopt);
    auto text = read_text_limited(*folder / kSyncStatusFile, kSyncStatusLimit);
    return veltrane::last_sync_line(text ? std::optional<std::string_view>(*text) : std::nullopt);
}

std::string sync_note_line() {
    const auto folder = executable_folder();
    if (!folder) return {};
    auto text = read_text_limited(*folder / kSyncStatusFile, kSyncStatusLimit);
    return veltrane::sync_note_line(text ? std::optional<std::string_view>(*text) : std::nullopt);
}

std::string next_sync_line() { return veltrane::next_sync_line(local_time_now()); }

bool has_content() {
    const auto folder = executable_folder();
    return !folder || !content_candidates(*folder).empty();
}

}  // namespace veltrane
