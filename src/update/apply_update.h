// Applying a staged update: the updater ("Update\updater.exe --apply-update", a copy of the
// previous build) verifies the staging folder again, stops every instance, puts the user's
// wallpaper back, replaces font and executable keeping ".previous" backups, starts the new
// service and waits for its service-ready event; on failure it puts the backups back and
// restarts the previous service. Its only output is the status in the update-state record.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "file_util/result.h"
#include "build_info/build_version.h"
#include "update/update_state.h"

namespace veltrane {

inline constexpr const char* kInstalledExecutableName = "Veltrane_Desktop.exe";
inline constexpr const char* kExecutableBackupName = "Veltrane_Desktop.previous.exe";
inline constexpr const char* kFontBackupName = "Veltrane_Desktop.previous.ttf";
inline constexpr std::uint64_t kReadyMarkerLimit = 64;
inline constexpr int kServiceReadySeconds = 60;

struct StagedUpdate {
    std::filesystem::path executable;
    std::optional<std::filesystem::path> font;  // absent when the installed font already matches
    BuildVersion version;
};

enum class RestoreAction { Nothing, RemoveNew, RestorePrevious };

// What a starting service does when the record still says "applying" and no updater runs:
// the updater was ended part-way. The build that runs tells how far it got. The new build
// counts its start and records "updated" only once ready; after two starts that never got
// there it is put back before it runs again. A backup is only ever this apply's own,
// because the updater deletes both before it replaces anything.
inline constexpr std::uint32_t kUnreadyStartLimit = 2;
enum class InterruptedApply { Nothing, CountStart, RollBack, RecordFailed, RestoreFontThenRecordFailed };
struct LeftBackups {
    bool executable = false;
    bool font = false;
};
InterruptedApply interrupted_apply_action(const UpdateState& record, const BuildVersion& running, LeftBackups backups);

// Whether a service of `running` that has just become ready finishes an ended updater's apply.
bool ready_completes_apply(const UpdateState& record, const BuildVersion& running);

// Ready marker, signature, manifest, a version newer than this build, and the staged files'
// sizes and digests (the installed font's when none is staged).
Result<StagedUpdate> verify_staged_update(const std::filesystem::path& install_folder);

// The first error, with the recovery's error behind it when recovery failed too.
std::string append_recovery_error(std::string error, const Status& recovery);

}  // namespace veltrane

#ifdef _WIN32
#include "update/apply_update_win.h"
#endif
