#include "update/update_check.h"

#include <sodium.h>

#include "file_util/text.h"
#include "build_info/build_constants.h"

namespace veltrane {
namespace fs = std::filesystem;
namespace {

CheckOutcome failure(std::string text) { return CheckOutcome{CheckOutcome::Error, std::move(text), {}}; }

Error prefixed(const char* prefix, const Error& e) { return make_error(prefix + e.message); }

// "ready" goes first and the executable comes next, so a folder left half-written by a
// failure or a refused signer is never taken for a staged release.
Status stage_executable(const fs::path& folder, const Bytes& executable) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return prefixed("업데이트 staging 생성 실패: ", file_system_error(ec));
    fs::remove(folder / kReadyFile, ec);
    if (auto s = write_file_atomic(folder / kReleaseExecutableName, executable); !s) {
        return prefixed("업데이트 EXE 저장 실패: ", s.error());
    }
    return {};
}

// The rest after the executable, with "ready" last.
Status stage_rest(const fs::path& folder, const std::optional<Bytes>& font, const Bytes& manifest, const Bytes& signature,
                  const BuildVersion& version) {
    std::error_code ec;
    if (font) {
        if (auto s = write_file_atomic(folder / kReleaseFontName, *font); !s) return prefixed("업데이트 폰트 저장 실패: ", s.error());
    } else {
        fs::remove(folder / kReleaseFontName, ec);
        if (ec) return prefixed("이전 staging 폰트 제거 실패: ", file_system_error(ec));
    }
    if (auto s = write_file_atomic(folder / kStagedManifestFile, manifest); !s) {
        return prefixed("업데이트 매니페스트 저장 실패: ", s.error());
    }
    if (auto s = write_file_atomic(folder / kStagedSignatureFile, signature); !s) {
        return prefixed("업데이트 서명 저장 실패: ", s.error());
    }
    if (auto s = write_file_atomic(folder / kReadyFile, format_build_version(version)); !s) {
        return prefixed("업데이트 준비 표시 저장 실패: ", s.error());
    }
    return {};
}

// Asked only of a signed running build, so an unsigned one stages as it always did.
bool staged_signer_accepted(const fs::path& staged, const CheckInputs& in) {
    if (in.running_signature.kind == CodeSignature::Unsigned) return true;
    const CodeSignature signature = in.signature_of ? in.signature_of(staged) : CodeSignature{CodeSignature::Invalid, {}};
    return staged_signature_acceptable(in.running_signature, signature, in.now_seconds);
}

}  // namespace

bool same_publisher(const CodeSigner& a, const CodeSigner& b) {
    // A publisher rule needs an organisation; two signers without one are no publisher.
    return !a.organization.empty() && a.organization == b.organization && a.locality == b.locality &&
           a.state == b.state && a.country == b.country;
}

bool staged_signature_acceptable(const CodeSignature& running, const CodeSignature& staged, std::int64_t now_seconds) {
    if (running.kind == CodeSignature::Unsigned) return true;
    if (staged.kind != CodeSignature::Trusted) return false;
    const CodeSigner& signer = staged.signer;
    // The trust API leaves these to the platform (Wine checks neither), so they are checked here too.
    const std::int64_t signed_at = signer.timestamp.value_or(now_seconds);
    const bool in_validity = signer.not_before <= signed_at && signed_at <= signer.not_after;
    return signer.code_signing_usage && in_validity && same_publisher(running.signer, signer);
}

fs::path staging_folder(const fs::path& exe_folder) { return exe_folder / kUpdateFolder / kStagingFolder; }

Result<Bytes> download_release_file_with(const FetchBytes& fetch, const ReleaseFile& entry) {
    auto body = fetch(entry.url, entry.size);
    if (!body) return make_error("업데이트 파일 다운로드에 실패했습니다.");
    const auto digest = sha256(*body);
    if (body->size() != entry.size || sodium_memcmp(digest.data(), entry.sha256.data(), digest.size()) != 0) {
        return make_error("업데이트 파일 크기 또는 SHA-256이 일치하지 않습니다.");
    }
    return std::move(*body);
}

CheckOutcome check_and_stage(const std::optional<fs::path>& exe_folder, const CheckInputs& in) {
    const std::string origin = build::kContentServerOrigin;
    const auto manifest = in.fetch(origin + kManifestPath, kManifestLimit);
    if (!manifest) return failure("업데이트 매니페스트 다운로드에 실패했습니다.");
    const auto signature = in.fetch(origin + kSignaturePath, kSignatureLimit);
    if (!signature) return failure("업데이트 서명 다운로드에 실패했습니다.");
    if (!verify_manifest_signature(*manifest, *signature)) return failure("업데이트 매니페스트 서명이 올바르지 않습니다.");
    const auto parsed = parse_update_manifest(*manifest);
    if (!parsed) return failure("업데이트 매니페스트 내용이 올바르지 않습니다.");
    const auto windows_build = in.windows_build();
    if (!windows_build) return failure("Windows 빌드 번호를 확인하지 못했습니다.");

    if (parsed->version <= in.running) return CheckOutcome{CheckOutcome::Current, {}, parsed->version};
    if (*windows_build < parsed->minimum_windows_build) return CheckOutcome{CheckOutcome::Unsupported, {}, parsed->version};
    if (parsed->version == in.rolled_back) return CheckOutcome{CheckOutcome::RolledBack, {}, parsed->version};

    auto executable = download_release_file_with(in.fetch, parsed->executable);
    if (!executable) return failure(executable.error().message);
    if (!exe_folder) return failure(kNoFolderMessage);
    const fs::path folder = staging_folder(*exe_folder);
    if (auto staged = stage_executable(folder, *executable); !staged) return failure(staged.error().message);
    if (!staged_signer_accepted(folder / kReleaseExecutableName, in)) {
        std::error_code ec;
        fs::remove(folder / kReleaseExecutableName, ec);
        return CheckOutcome{CheckOutcome::SignerMismatch, kSignerMismatchMessage, parsed->version};
    }
    std::optional<Bytes> font;
    const auto installed_font = file_matches_digest(*exe_folder / kInstalledFontName,
                                                    ExpectedDigest{parsed->font.size, parsed->font.sha256});
    if (!installed_font || !*installed_font) {
        auto downloaded = download_release_file_with(in.fetch, parsed->font);
        if (!downloaded) return failure(downloaded.error().message);
        font = std::move(*downloaded);
    }
    if (auto staged = stage_rest(folder, font, *manifest, *signature, parsed->version); !staged) {
        return failure(staged.error().message);
    }
    return CheckOutcome{CheckOutcome::Staged, {}, parsed->version};
}

UpdateState record_outcome(UpdateState record, const CheckOutcome& outcome) {
    switch (outcome.kind) {
        case CheckOutcome::Error:
            record.status = UpdateStatus::Failed;
            break;
        case CheckOutcome::Current:
            record.status = UpdateStatus::Current;
            record.staged_build.reset();
            break;
        case CheckOutcome::Unsupported:
            record.status = UpdateStatus::UnsupportedWindows;
            record.staged_build.reset();
            break;
        case CheckOutcome::RolledBack:
            record.status = UpdateStatus::RolledBack;
            record.staged_build.reset();
            break;
        case CheckOutcome::SignerMismatch:
            record.status = UpdateStatus::SignerMismatch;
            record.staged_build.reset();
            break;
        case CheckOutcome::Staged:
            record.status = UpdateStatus::Staged;
            record.staged_build = outcome.version;
            break;
    }
    return record;
}

}  // namespace veltrane
