// The update-state record "Veltrane_Desktop.update-state": the outcome or phase of the last
// update check or update, the automatic check slots (03:40, 09:40, 15:40, 21:40 local
// time, open five minutes) with their retries, and the status line of the settings
// window. Decisions here are pure: the clock and the record are inputs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "file_util/local_time.h"
#include "file_util/result.h"
#include "build_info/build_version.h"

namespace veltrane {

inline constexpr const char* kUpdateStateFile = "Veltrane_Desktop.update-state";
inline constexpr std::uint64_t kUpdateStateLimit = 4096;
inline constexpr std::uint64_t kUpdateRetrySpacingSeconds = 1800;
inline constexpr std::uint32_t kMaxAutomaticAttempts = 4;

enum class UpdateStatus {
    Idle,
    Checking,
    Current,
    Staged,
    Applying,
    Updated,
    RolledBack,
    Failed,
    UnsupportedWindows,
    SignerMismatch,
};

struct UpdateState {
    std::optional<std::uint64_t> last_automatic_slot;
    std::uint64_t last_attempt = 0;  // Unix seconds
    std::optional<BuildVersion> staged_build;
    std::uint32_t attempts = 0;
    UpdateStatus status = UpdateStatus::Idle;
    // The release last rolled back: never offered again; a newer one applies as usual.
    std::optional<BuildVersion> rolled_back_build;
    // Starts of the build an ended updater left that never became ready; it counts only
    // while "applying", and every status set (the next "applying" among them) clears it.
    std::uint32_t unready_starts = 0;
    // Why the last apply failed, on one line, for IT reading the record; only while "failed".
    std::string failure;

    friend bool operator==(const UpdateState&, const UpdateState&) = default;
};

std::string_view update_status_name(UpdateStatus status);
std::string_view update_status_text(UpdateStatus status);

UpdateState parse_update_state(std::string_view text);
std::string format_update_state(const UpdateState& state);
// All defaults on any failure: missing, longer than 4096 bytes, not UTF-8.
UpdateState read_update_state(const std::filesystem::path& path);
Status write_update_state(const UpdateState& state, const std::filesystem::path& path);

// Reads the record in the folder, sets the status (and the staged build when one is
// given), clears the start count, writes it back; an error reads "업데이트 상태 저장 실패: " + the cause.
Status set_update_status(const std::filesystem::path& install_folder, UpdateStatus status,
                         std::optional<BuildVersion> staged_build = std::nullopt);

// The status "rolled_back", with the build as staged and as the one never to offer again.
Status record_rollback(const std::filesystem::path& install_folder, const BuildVersion& build);
// "failed" with the reason, cut to kFailureLimit bytes at a character boundary.
Status record_failed_apply(const std::filesystem::path& install_folder, std::string_view reason);
inline constexpr std::size_t kFailureLimit = 1024;

// One more start of the build an ended updater left, written before that build can fail.
Status count_unready_start(const std::filesystem::path& install_folder);

// YYYYMMDDHH of the slot open at `now`, or nothing.
std::optional<std::uint64_t> update_slot_at(const LocalTime& now);
std::optional<std::uint64_t> current_update_slot();

// The slot an automatic check should start for now, or nothing: a new slot at once, the
// same slot again only after a failed or interrupted check, 30 minutes later, at most four
// attempts in all.
std::optional<std::uint64_t> automatic_check_slot(const UpdateState& record, std::optional<std::uint64_t> open_slot,
                                                  std::uint64_t now_seconds);
// The record's slot, attempts and last attempt for an automatic check of `slot` starting now.
UpdateState begin_automatic_check(UpdateState record, std::uint64_t slot, std::uint64_t now_seconds);

// "빌드 " + build label + " · " + status text (+ " · 서명 " + signer).
std::string update_status_line_for(const BuildVersion& running, const UpdateState& record,
                                   const std::string& signer = {});

}  // namespace veltrane
