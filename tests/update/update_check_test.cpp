#include "update/update_check.h"

#include <gtest/gtest.h>

#include <map>

#include "file_util/text.h"
#include "support/test_paths.h"
#include "test_signing_key.h"
#include "update/apply_update.h"
#include "build_info/build_constants.h"

using namespace veltrane;
namespace vt = veltrane::testing;

namespace {

const BuildVersion kRunning{20261019, 230507};
const BuildVersion kNewer{20261020, 101010};

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string digest_hex(std::string_view s) { return encode_hex(sha256(bytes_of(s))); }

// A fake content server: files by URL, and every URL asked for.
struct FakeServer {
    std::map<std::string, std::string> files;
    std::vector<std::string> asked;

    void publish(const BuildVersion& v, const std::string& exe, const std::string& font, std::uint32_t min_build = 17763,
                 const char* seed = vt::kTestSigningSeed) {
        const auto url = [&](const char* name) { return release_url(v, name); };
        const std::string manifest = "{\"schema\":1,\"version\":\"" + format_build_version(v) +
                                     "\",\"minimumWindowsBuild\":" + std::to_string(min_build) + ",\"executable\":{\"url\":\"" +
                                     url(kReleaseExecutableName) + "\",\"size\":" + std::to_string(exe.size()) +
                                     ",\"sha256\":\"" + digest_hex(exe) + "\"},\"font\":{\"url\":\"" + url(kReleaseFontName) +
                                     "\",\"size\":" + std::to_string(font.size()) + ",\"sha256\":\"" + digest_hex(font) + "\"}}";
        const std::string origin = build::kContentServerOrigin;
        files[origin + kManifestPath] = manifest;
        files[origin + kSignaturePath] = vt::signature_file(manifest, seed);
        files[url(kReleaseExecutableName)] = exe;
        files[url(kReleaseFontName)] = font;
    }

    CheckInputs inputs(std::uint32_t windows_build = 19045) {
        CheckInputs in;
        in.fetch = [this](const std::string& url, std::uint64_t limit) -> std::optional<Bytes> {
            asked.push_back(url);
            const auto it = files.find(url);
            if (it == files.end() || it->second.size() > limit) return std::nullopt;
            return Bytes(it->second.begin(), it->second.end());
        };
        in.windows_build = [windows_build] { return std::optional<std::uint32_t>(windows_build); };
        in.running = kRunning;
        return in;
    }
};

TEST(StagedUpdate, AnApplyEndedPartWayIsFinishedOrUndoneByTheBuildThatRuns) {
    UpdateState record;
    record.status = UpdateStatus::Applying;
    record.staged_build = kNewer;
    const LeftBackups both{true, true};
    // The new build: counted until it is ready, put back once two starts never got there,
    // unless there is no previous executable to put back.
    record.unready_starts = 1;
    EXPECT_EQ(interrupted_apply_action(record, kNewer, both), InterruptedApply::CountStart);
    EXPECT_TRUE(ready_completes_apply(record, kNewer));
    record.unready_starts = 2;
    EXPECT_EQ(interrupted_apply_action(record, kNewer, both), InterruptedApply::RollBack);
    EXPECT_EQ(interrupted_apply_action(record, kNewer, {false, true}), InterruptedApply::CountStart);
    // The previous build, its font replaced or not.
    EXPECT_FALSE(ready_completes_apply(record, kRunning));
    EXPECT_EQ(interrupted_apply_action(record, kRunning, both), InterruptedApply::RestoreFontThenRecordFailed);
    EXPECT_EQ(interrupted_apply_action(record, kRunning, {true, false}), InterruptedApply::RecordFailed);
    record.status = UpdateStatus::Staged;
    EXPECT_EQ(interrupted_apply_action(record, kNewer, both), InterruptedApply::Nothing);
    EXPECT_FALSE(ready_completes_apply(record, kNewer));
}

}  // namespace

TEST(UpdateCheck, StagesANewerReleaseWithReadyLast) {
    vt::ScratchDir dir("update_stage");
    FakeServer server;
    server.publish(kNewer, "new exe", "new font");
    const auto outcome = check_and_stage(dir.path(), server.inputs());
    ASSERT_EQ(outcome.kind, CheckOutcome::Staged) << outcome.error;
    const auto staging = staging_folder(dir.path());
    EXPECT_EQ(vt::read_raw(staging / "ready"), "20261020.101010.0");
    EXPECT_EQ(vt::read_raw(staging / "Veltrane_Desktop.exe"), "new exe");
    EXPECT_EQ(vt::read_raw(staging / "Veltrane_Desktop.ttf"), "new font");
    EXPECT_EQ(vt::read_raw(staging / "update.json"), server.files[build::kContentServerOrigin + std::string(kManifestPath)]);
    EXPECT_EQ(vt::read_raw(staging / "update.json.sig"), server.files[build::kContentServerOrigin + std::string(kSignaturePath)]);
    UpdateState checking;
    checking.status = UpdateStatus::Checking;
    const UpdateState r = record_outcome(checking, outcome);
    EXPECT_EQ(r.status, UpdateStatus::Staged);
    EXPECT_EQ(r.staged_build, kNewer);

    // The installed font already matches: not downloaded, and the earlier staged one goes.
    vt::write_raw(dir / "Veltrane_Desktop.ttf", "new font");
    server.asked.clear();
    ASSERT_EQ(check_and_stage(dir.path(), server.inputs()).kind, CheckOutcome::Staged);
    EXPECT_FALSE(std::filesystem::exists(staging / "Veltrane_Desktop.ttf"));
    EXPECT_EQ(server.asked.size(), 3u);
}

TEST(UpdateCheck, NoDownloadForTheRunningBuildOrAnOlderWindows) {
    vt::ScratchDir dir("update_current");
    FakeServer server;
    server.publish(kRunning, "same exe", "font");
    auto outcome = check_and_stage(dir.path(), server.inputs());
    EXPECT_EQ(outcome.kind, CheckOutcome::Current);
    UpdateState before;
    before.staged_build = kNewer;
    before.status = UpdateStatus::Checking;
    EXPECT_FALSE(record_outcome(before, outcome).staged_build);

    server.publish(kNewer, "new exe", "font", 22000);
    server.asked.clear();
    outcome = check_and_stage(dir.path(), server.inputs(19045));
    EXPECT_EQ(outcome.kind, CheckOutcome::Unsupported);
    EXPECT_EQ(record_outcome(before, outcome).status, UpdateStatus::UnsupportedWindows);
    EXPECT_EQ(server.asked.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir / "Update"));
}

TEST(UpdateCheck, TheRolledBackReleaseIsSkippedAndANewerOneStaged) {
    vt::ScratchDir dir("update_rolled_back");
    FakeServer server;
    server.publish(kNewer, "new exe", "font");
    CheckInputs inputs = server.inputs();
    inputs.rolled_back = kNewer;
    const auto outcome = check_and_stage(dir.path(), inputs);
    EXPECT_EQ(outcome.kind, CheckOutcome::RolledBack);
    EXPECT_EQ(server.asked.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir / "Update"));
    UpdateState before;
    before.staged_build = kNewer;
    before.rolled_back_build = kNewer;
    const UpdateState after = record_outcome(before, outcome);
    EXPECT_EQ(after.status, UpdateStatus::RolledBack);
    EXPECT_FALSE(after.staged_build);
    EXPECT_EQ(after.rolled_back_build, kNewer);

    const BuildVersion newest{kNewer.date + 1, 0};
    server.publish(newest, "newest exe", "font");
    EXPECT_EQ(check_and_stage(dir.path(), inputs).kind, CheckOutcome::Staged);
}

TEST(UpdateCheck, RefusalsStageNothing) {
    vt::ScratchDir dir("update_refusals");
    const std::string manifest_url = build::kContentServerOrigin + std::string(kManifestPath);
    const auto refused = [&](FakeServer& server, const char* expected) {
        const auto outcome = check_and_stage(dir.path(), server.inputs());
        EXPECT_EQ(outcome.kind, CheckOutcome::Error);
        EXPECT_EQ(outcome.error, expected);
        EXPECT_FALSE(std::filesystem::exists(staging_folder(dir.path()) / "ready"));
    };
    FakeServer other_key;
    other_key.publish(kNewer, "new exe", "font", 17763, vt::kOtherSigningSeed);
    refused(other_key, "업데이트 매니페스트 서명이 올바르지 않습니다.");

    FakeServer changed;
    changed.publish(kNewer, "new exe", "font");
    changed.files[manifest_url] += " ";
    refused(changed, "업데이트 매니페스트 서명이 올바르지 않습니다.");

    FakeServer short_exe;
    short_exe.publish(kNewer, "new exe", "font");
    short_exe.files[release_url(kNewer, kReleaseExecutableName)] = "new ex";
    refused(short_exe, "업데이트 파일 크기 또는 SHA-256이 일치하지 않습니다.");

    FakeServer other_digest;
    other_digest.publish(kNewer, "new exe", "font");
    other_digest.files[release_url(kNewer, kReleaseFontName)] = "FONT";
    refused(other_digest, "업데이트 파일 크기 또는 SHA-256이 일치하지 않습니다.");

    FakeServer missing;
    refused(missing, "업데이트 매니페스트 다운로드에 실패했습니다.");
}

TEST(StagedUpdate, VerifiedAgainBeforeAnythingIsReplaced) {
    vt::ScratchDir dir("staged_verify");
    FakeServer server;
    server.publish(kNewer, "new exe", "new font");
    ASSERT_EQ(check_and_stage(dir.path(), server.inputs()).kind, CheckOutcome::Staged);
    const auto staging = staging_folder(dir.path());
    auto staged = verify_staged_update(dir.path());
    ASSERT_TRUE(staged) << staged.error().message;
    EXPECT_EQ(staged->version, kNewer);
    EXPECT_EQ(staged->font, staging / "Veltrane_Desktop.ttf");

    const auto refused = [&](const char* expected) {
        const auto result = verify_staged_update(dir.path());
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().message, expected);
    };
    vt::write_raw(staging / "ready", "20261021.0.0");
    refused("staging 버전이 현재 버전보다 새롭지 않습니다.");
    vt::write_raw(staging / "ready", " 20261020.101010.0\r\n");
    EXPECT_TRUE(verify_staged_update(dir.path()));

    vt::write_raw(staging / "Veltrane_Desktop.exe", "new exf");
    EXPECT_EQ(verify_staged_update(dir.path()).error().message,
              "staging 파일 검증 실패: " + path_to_utf8(staging / "Veltrane_Desktop.exe"));
    vt::write_raw(staging / "Veltrane_Desktop.exe", "new exe");

    // No staged font: the installed one must be the manifest's.
    std::filesystem::remove(staging / "Veltrane_Desktop.ttf");
    refused("설치된 폰트와 staging 폰트가 모두 매니페스트와 다릅니다.");
    vt::write_raw(dir / "Veltrane_Desktop.ttf", "new font");
    staged = verify_staged_update(dir.path());
    ASSERT_TRUE(staged);
    EXPECT_FALSE(staged->font);

    vt::write_raw(staging / "update.json.sig", vt::signature_file("{}"));
    refused("staging 매니페스트 서명이 올바르지 않습니다.");

    // A correctly signed release of the running build itself.
    server.publish(kRunning, "new exe", "new font");
    const std::string origin = build::kContentServerOrigin;
    vt::write_raw(staging / "update.json", server.files[origin + kManifestPath]);
    vt::write_raw(staging / "update.json.sig", server.files[origin + kSignaturePath]);
    vt::write_raw(staging / "ready", "20261019.230507.0");
    refused("staging 버전이 현재 버전보다 새롭지 않습니다.");
}

namespace {

constexpr std::int64_t kNow = 1792000000;

// The test hospital's certificate as the trust API reads it (tests/publish/code_signing_certs.sh).
CodeSignature hospital_signature(CodeSignature::Kind kind = CodeSignature::Trusted) {
    CodeSigner s{"Test Hospital", "Test Hospital", "Jongno-gu", "Seoul", "KR", true, kNow - 86400, kNow + 86400, {}};
    return CodeSignature{kind, s};
}

}  // namespace

TEST(StagedSignature, ASignedBuildTakesOnlyItsPublishersValidCodeSigningSignature) {
    const CodeSignature running = hospital_signature();
    const auto accepted = [&](const CodeSignature& staged) { return staged_signature_acceptable(running, staged, kNow); };
    EXPECT_TRUE(accepted(hospital_signature()));
    // Another certificate of the same publisher (a renewal, another name) is the same publisher.
    CodeSignature renewed = hospital_signature();
    renewed.signer.name = "Test Hospital IT";
    renewed.signer.not_before = kNow + 3600;
    renewed.signer.not_after = kNow + 400 * 86400;
    renewed.signer.timestamp = kNow + 7200;
    EXPECT_TRUE(accepted(renewed));

    EXPECT_FALSE(accepted(CodeSignature{}));
    EXPECT_FALSE(accepted(hospital_signature(CodeSignature::Invalid)));
    for (std::string CodeSigner::*field : {&CodeSigner::organization, &CodeSigner::locality, &CodeSigner::state,
                                           &CodeSigner::country}) {
        CodeSignature other = hospital_signature();
        other.signer.*field = "Busan";
        EXPECT_FALSE(accepted(other));
    }
    CodeSignature server_usage = hospital_signature();
    server_usage.signer.code_signing_usage = false;
    EXPECT_FALSE(accepted(server_usage));

    // An expired certificate counts only with a time stamp from its validity.
    CodeSignature expired = hospital_signature();
    expired.signer.not_after = kNow - 60;
    EXPECT_FALSE(accepted(expired));
    expired.signer.timestamp = kNow - 3600;
    EXPECT_TRUE(accepted(expired));
    expired.signer.timestamp = kNow - 30;
    EXPECT_FALSE(accepted(expired));

    // A running signer that could not be read matches no one, not even an empty subject.
    CodeSignature unreadable{CodeSignature::Invalid, {}};
    CodeSignature empty = hospital_signature();
    empty.signer.organization = empty.signer.locality = empty.signer.state = empty.signer.country = "";
    EXPECT_FALSE(staged_signature_acceptable(unreadable, empty, kNow));
    // An unsigned running build takes what it always took.
    EXPECT_TRUE(staged_signature_acceptable(CodeSignature{}, CodeSignature{}, kNow));
    EXPECT_TRUE(staged_signature_acceptable(CodeSignature{}, hospital_signature(CodeSignature::Invalid), kNow));
}

TEST(UpdateCheck, ASignedBuildStagesOnlyItsPublishersBuild) {
    vt::ScratchDir dir("update_signer");
    FakeServer server;
    server.publish(kNewer, "new exe", "new font");
    CheckInputs inputs = server.inputs();
    inputs.running_signature = hospital_signature();
    inputs.now_seconds = kNow;
    CodeSignature staged_signature;
    std::string seen;
    inputs.signature_of = [&](const std::filesystem::path& exe) {
        seen = vt::read_raw(exe);
        return staged_signature;
    };
    const auto staging = staging_folder(dir.path());
    auto outcome = check_and_stage(dir.path(), inputs);
    EXPECT_EQ(outcome.kind, CheckOutcome::SignerMismatch);
    EXPECT_EQ(seen, "new exe");
    EXPECT_FALSE(std::filesystem::exists(staging / "ready"));
    EXPECT_FALSE(std::filesystem::exists(staging / "Veltrane_Desktop.exe"));
    EXPECT_EQ(server.asked.size(), 3u);  // no font for a refused build
    UpdateState before;
    before.staged_build = kNewer;
    const UpdateState after = record_outcome(before, outcome);
    EXPECT_FALSE(after.staged_build);
    EXPECT_EQ(update_status_line_for(kRunning, after, "Test Hospital"),
              "빌드 20261019-230507 · 새 버전의 코드 서명이 현재 버전과 다릅니다. · 서명 Test Hospital");
    EXPECT_NE(format_update_state(after).find("status=signer_mismatch\n"), std::string::npos);
    EXPECT_EQ(parse_update_state(format_update_state(after)).status, UpdateStatus::SignerMismatch);

    staged_signature = hospital_signature();
    outcome = check_and_stage(dir.path(), inputs);
    ASSERT_EQ(outcome.kind, CheckOutcome::Staged) << outcome.error;
    EXPECT_EQ(vt::read_raw(staging / "ready"), "20261020.101010.0");
}
