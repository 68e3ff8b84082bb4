#include "update/apply_update.h"

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "file_util/white_space.h"
#include "update/update_check.h"
#include "update/update_manifest.h"

namespace veltrane {
namespace fs = std::filesystem;
namespace {

Error prefixed(const char* prefix, const Error& e) { return make_error(prefix + e.message); }

bool matches(const fs::path& path, const ReleaseFile& entry) {
    const auto match = file_matches_digest(path, ExpectedDigest{entry.size, entry.sha256});
    return match && *match;
}

}  // namespace

Result<StagedUpdate> verify_staged_update(const fs::path& install_folder) {
    const fs::path staging = staging_folder(install_folder);
    const auto ready = read_text_limited(staging / kReadyFile, kReadyMarkerLimit);
    if (!ready) return prefixed("업데이트 준비 표시 읽기 실패: ", ready.error());
    const auto ready_version = parse_build_version(trim_white_space(*ready));
    if (!ready_version) return make_error("업데이트 준비 빌드가 올바르지 않습니다.");
    const auto manifest = read_limited(staging / kStagedManifestFile, kManifestLimit);
    if (!manifest) return prefixed("staging 매니페스트 읽기 실패: ", manifest.error());
    const auto signature = read_limited(staging / kStagedSignatureFile, kSignatureLimit);
    if (!signature) return prefixed("staging 서명 읽기 실패: ", signature.error());
    if (!verify_manifest_signature(*manifest, *signature)) return make_error("staging 매니페스트 서명이 올바르지 않습니다.");
    const auto parsed = parse_update_manifest(*manifest);
    if (!parsed) return make_error("staging 매니페스트 내용이 올바르지 않습니다.");
    if (*ready_version != parsed->version || parsed->version <= current_build_version()) {
        return make_error("staging 버전이 현재 버전보다 새롭지 않습니다.");
    }

    StagedUpdate staged;
    staged.version = parsed->version;
    staged.executable = staging / kReleaseExecutableName;
    if (!matches(staged.executable, parsed->executable)) {
        return make_error("staging 파일 검증 실패: " + path_to_utf8(staged.executable));
    }
    const fs::path staged_font = staging / kReleaseFontName;
    std::error_code ec;
    if (fs::is_regular_file(staged_font, ec)) {
        if (!matches(staged_font, parsed->font)) return make_error("staging 파일 검증 실패: " + path_to_utf8(staged_font));
        staged.font = staged_font;
    } else if (!matches(install_folder / kInstalledFontName, parsed->font)) {
        return make_error("설치된 폰트와 staging 폰트가 모두 매니페스트와 다릅니다.");
    }
    return staged;
}

InterruptedApply interrupted_apply_action(const UpdateState& record, const BuildVersion& running, LeftBackups backups) {
    if (record.status != UpdateStatus::Applying) return InterruptedApply::Nothing;
    if (record.staged_build == running) {
        // Without the previous executable there is nothing to go back to.
        const bool give_up = record.unready_starts >= kUnreadyStartLimit && backups.executable;
        return give_up ? InterruptedApply::RollBack : InterruptedApply::CountStart;
    }
    return backups.font ? InterruptedApply::RestoreFontThenRecordFailed : InterruptedApply::RecordFailed;
}

bool ready_completes_apply(const UpdateState& record, const BuildVersion& running) {
    return record.status == UpdateStatus::Applying && record.staged_build == running;
}

std::string append_recovery_error(std::string error, const Status& recovery) {
    if (!recovery) error += "\n\n업데이트 복구 중 추가 오류:\n" + recovery.error().message;
    return error;
}

}  // namespace veltrane
