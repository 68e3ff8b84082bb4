// The update check: the signed manifest and its signature from the content server, the
// version and Windows-build decisions, the release downloads with size and SHA-256, and
// the staging folder "Update\staging" with "ready" written last. One check per process
// (a flag), per logon session (a named event) and never beside a content sync (the content
// work lock). The check's core takes its network and Windows build as inputs so that
// every refusal is tested without a server; the Windows side binds the real ones.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "file_util/file_util.h"
#include "update/update_manifest.h"
#include "update/update_state.h"

namespace veltrane {

inline constexpr const char* kUpdateFolder = "Update";
inline constexpr const char* kStagingFolder = "staging";
inline constexpr const char* kReadyFile = "ready";
inline constexpr const char* kStagedManifestFile = "update.json";
inline constexpr const char* kStagedSignatureFile = "update.json.sig";
inline constexpr const char* kUpdaterName = "updater.exe";
inline constexpr const char* kInstalledFontName = "Veltrane_Desktop.ttf";
inline constexpr const char* kNoFolderMessage = "설치 디렉터리를 확인하지 못했습니다.";

using FetchBytes = std::function<std::optional<Bytes>(const std::string& url, std::uint64_t limit)>;

struct CheckInputs {
    FetchBytes fetch;
    // The machine's Windows build number, or nothing when it cannot be read.
    std::function<std::optional<std::uint32_t>()> windows_build;
    BuildVersion running;
    // The release that was rolled back here: skipped, so it is not applied again and again.
    std::optional<BuildVersion> rolled_back;
};

struct CheckOutcome {
    enum Kind { Error, Current, Unsupported, RolledBack, Staged } kind = Error;
    std::string error;
    BuildVersion version;
};

std::filesystem::path staging_folder(const std::filesystem::path& exe_folder);

// The downloaded file, exactly the entry's size and digest, or an error text.
Result<Bytes> download_release_file_with(const FetchBytes& fetch, const ReleaseFile& entry);
Result<Bytes> download_release_file(const ReleaseFile& entry);

// Steps from the manifest download to the staged "ready" marker, for one executable folder.
CheckOutcome check_and_stage(const std::optional<std::filesystem::path>& exe_folder, const CheckInputs& inputs);

// The record after a check's outcome: failed keeps the rest; current, unsupported and a
// skipped rolled-back release clear the staged build; staged records the staged version.
UpdateState record_outcome(UpdateState record, const CheckOutcome& outcome);

// The whole start of a check in this process; started, not started (another check runs
// here or in another process of the session, or the worker could not start), or an error.
enum class CheckMode { Manual, Automatic };
enum class CheckStart { Started, NotStarted };
Result<CheckStart> start_update_check(CheckMode mode, std::optional<std::uint64_t> slot = std::nullopt);

// True while this process's check worker runs.
bool update_check_running();

// The service's automatic decision, called on every refresh.
void update_tick();

// "빌드 " + the running build's label + " · " + the recorded status's text.
std::string update_status_line();

}  // namespace veltrane
