// When the service syncs on its own: four daily slots (04:20, 10:20, 16:20, 22:20 local
// time, each due for five minutes), a retry record that survives restarts, up to three
// retries at least 30 minutes apart, and the two status lines of the settings window.
// The decisions here are pure: the clock and the record are inputs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_util/local_time.h"

namespace veltrane {

struct SyncSlot {
    std::uint32_t hour;
    std::uint32_t minute;
};
inline constexpr SyncSlot kSyncSlots[] = {{4, 20}, {10, 20}, {16, 20}, {22, 20}};
inline constexpr std::uint64_t kRetrySpacingSeconds = 1800;
inline constexpr std::uint32_t kMaxNoContentSyncs = 5;

struct SyncRetry {
    std::optional<std::uint64_t> slot;
    bool succeeded = false;
    std::uint32_t attempts = 0;
    std::uint64_t last_attempt = 0;  // seconds since 1970, UTC
};

// year*1000000 + month*10000 + day*100 + hour, for the slot due at `now`; nothing otherwise.
std::optional<std::uint64_t> current_sync_slot(const LocalTime& now);
// Exactly 10 digits ending in a slot hour (04, 10, 16, 22).
std::optional<std::uint64_t> parse_slot_id(std::string_view text);

// The record to write when a scheduled sync should start now, or nothing.
std::optional<SyncRetry> next_sync_attempt(const SyncRetry& record, std::optional<std::uint64_t> due_slot,
                                           std::uint64_t now_seconds);

// The retry record's four lines: slot, succeeded, attempts, last_attempt. Unreadable
// values read as their defaults.
SyncRetry parse_sync_retry(std::string_view text);
std::string format_sync_retry(const SyncRetry& record);

// "YYYY.MM/DD HH:MM".
std::string format_sync_time(const LocalTime& t);
// The status record's first line is the last successful run; a second line, while the last
// run failed at a proxy that wants a password, names that proxy until the next run.
std::string last_sync_line(std::optional<std::string_view> status_text);
std::string sync_note_line(std::optional<std::string_view> status_text);
// The record after a failed run: the time kept, the note set (proxy named) or cleared.
std::string sync_status_after_failure(std::optional<std::string_view> status_text, const std::optional<std::string>& proxy);
std::string next_sync_line(const LocalTime& now);

}  // namespace veltrane
