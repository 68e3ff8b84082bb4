// The update check: the signed manifest and its signature from the content server, the
// version and Windows-build decisions, the release downloads with size and SHA-256, and
// the staging folder "Update\staging" with "ready" written last; a signed running build
// stages only an executable its publisher signed (Authenticode). One check per process
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

// An Authenticode signer as the trust API reports it. AppLocker's publisher rule reads the
// subject's O, L, S and C, so those decide whether a new build is the same publisher's.
struct CodeSigner {
    std::string name;  // the subject's display name
    std::string organization;
    std::string locality;
    std::string state;
    std::string country;
    bool code_signing_usage = false;  // the extended key usage lists code signing
    std::int64_t not_before = 0;      // Unix seconds
    std::int64_t not_after = 0;
    std::optional<std::int64_t> timestamp;  // the counter-signature's time, when there is one

    friend bool operator==(const CodeSigner&, const CodeSigner&) = default;
};

struct CodeSignature {
    // Invalid: a signature the trust API refused (digest, chain); its signer may still be read.
    enum Kind { Unsigned, Invalid, Trusted } kind = Unsigned;
    CodeSigner signer;
};

bool same_publisher(const CodeSigner& a, const CodeSigner& b);

// Whether a staged executable may replace the running build: anything when the running
// build is unsigned; otherwise only a trusted code-signing signature, valid at its time
// stamp (or now without one), of the running build's publisher.
bool staged_signature_acceptable(const CodeSignature& running, const CodeSignature& staged, std::int64_t now_seconds);

inline constexpr const char* kSignerMismatchMessage = "새 버전의 코드 서명이 현재 버전과 다릅니다.";

struct CheckInputs {
    FetchBytes fetch;
    // The machine's Windows build number, or nothing when it cannot be read.
    std::function<std::optional<std::uint32_t>()> windows_build;
    BuildVersion running;
    // The release that was rolled back here: skipped, so it is not applied again and again.
    std::optional<BuildVersion> rolled_back;
    // The running build's signature and the reading of a staged executable's; the second is
    // only asked when the running build is signed.
    CodeSignature running_signature;
    std::function<CodeSignature(const std::filesystem::path&)> signature_of;
    std::int64_t now_seconds = 0;
};

struct CheckOutcome {
    enum Kind { Error, Current, Unsupported, RolledBack, SignerMismatch, Staged } kind = Error;
    std::string error;
    BuildVersion version;
};

std::filesystem::path staging_folder(const std::filesystem::path& exe_folder);

// The downloaded file, exactly the entry's size and digest, or an error text.
Result<Bytes> download_release_file_with(const FetchBytes& fetch, const ReleaseFile& entry);
Result<Bytes> download_release_file(const ReleaseFile& entry);

// Steps from the manifest download to the staged "ready" marker, for one executable folder.
CheckOutcome check_and_stage(const std::optional<std::filesystem::path>& exe_folder, const CheckInputs& inputs);

// The record after a check's outcome: failed keeps the rest; current, unsupported, a
// skipped rolled-back release and a refused signer clear the staged build; staged records
// the staged version.
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

// The file's Authenticode signature through WinVerifyTrust, without online revocation
// checks (Windows only).
CodeSignature authenticode_signature(const std::filesystem::path& file);

// "빌드 " + the running build's label + " · " + the recorded status's text (+ " · 서명 " +
// the running build's signer when Windows trusts its signature).
std::string update_status_line();

}  // namespace veltrane
