// The update check against the content-server stand-in, serving a site laid out by the
// release-signing tool: real downloads, real TLS, a real updater start.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "../sync/server_fixture.h"
#include "support/test_paths.h"
#include "update_wine_support.h"
#include "build_info/build_constants.h"
#include "ipc/ipc.h"
#include "settings/settings.h"
#include "update/apply_update.h"
#include "update/update_check.h"
#include "wallpaper/original_wallpaper.h"

using namespace veltrane;
using veltrane::testing::Child;
namespace vt = veltrane::testing;
using vt::test_program;
namespace fs = std::filesystem;

namespace {

const BuildVersion kNewer{20261020, 101010};

// A release of a newer test build: the executable only needs the build's marker.
void publish_newer(const vt::ScratchDir& dir) {
    std::string marker = build::kReleaseMarker;
    const std::string old_ts = "version=20261019230507";
    marker.replace(marker.find(old_ts), old_ts.size(), "version=20261020101010");
    vt::write_raw(dir / "new.exe", "MZ new build " + marker + std::string(1, '\0') + std::string(5000, 'x'));
    vt::write_raw(dir / "new.ttf", "new font bytes");
    ASSERT_EQ(vt::publish_test_release(dir / "new.exe", dir / "new.ttf"), "");
}

CheckInputs real_inputs() { return vt::real_check_inputs(current_build_version()); }

}  // namespace

TEST(UpdateCheckServer, StagesWhatThePublishingToolLaidOutAndRefusesAShortFile) {
    vt::ContentServer server;
    vt::ScratchDir dir("update-server");
    publish_newer(dir);
    const auto outcome = check_and_stage(dir.path(), real_inputs());
    ASSERT_EQ(outcome.kind, CheckOutcome::Staged) << outcome.error;
    EXPECT_TRUE(vt::read_raw(staging_folder(dir.path()) / "Veltrane_Desktop.exe") == vt::read_raw(dir / "new.exe"));
    EXPECT_EQ(vt::read_raw(staging_folder(dir.path()) / "ready"), "20261020.101010.0");

    fs::remove_all(dir / "Update");
    server.set_faults(R"({"/api/static/veltrane/releases": {"body": "one byte short"}})");
    EXPECT_EQ(check_and_stage(dir.path(), real_inputs()).error, "업데이트 파일 크기 또는 SHA-256이 일치하지 않습니다.");
    EXPECT_FALSE(fs::exists(staging_folder(dir.path()) / "ready"));
}

TEST(UpdateCheckProcess, AHeldCheckEventStartsNothing) {
    vt::ScratchDir dir("update-held");
    const fs::path child = dir / "update_child.exe";
    fs::copy_file(test_program("update_child.exe"), child);
    HANDLE other = CreateEventW(nullptr, TRUE, FALSE, L"Local\\Veltrane_Desktop.UpdateCheck");
    EXPECT_EQ(Child(child, L"check").wait(), 3u);
    CloseHandle(other);
    EXPECT_FALSE(fs::exists(dir / kUpdateStateFile));
}

namespace {

// An installed old build (the service stand-in of this test build's version) with its font,
// its service running, and a newer stand-in released on the server.
struct Installation {
    fs::path folder;
    std::string old_exe = vt::read_raw(test_program("service_standin_old.exe"));
    std::string new_exe;

    explicit Installation(const std::string& mode, const fs::path& release = test_program("service_standin_new.exe")) {
        folder = *install_folder();
        fs::remove_all(folder);
        fs::create_directories(folder);
        vt::write_raw(folder / "Veltrane_Desktop.exe", old_exe);
        vt::write_raw(folder / "Veltrane_Desktop.ttf", "old font");
        vt::write_raw(folder / "standin-mode", mode);
        fs::copy_file(test_program("update_child.exe"), folder / "update_child.exe");
        vt::write_raw(folder / "new.ttf", "new font");
        publish(release);
        EXPECT_TRUE(start_service_and_wait(folder / "Veltrane_Desktop.exe", folder));
    }
    ~Installation() { (void)ipc::stop_running_instances(); }

    // The check, as the service runs it, then the updater it starts, until a final status.
    UpdateState check_and_apply() const {
        EXPECT_EQ(Child(folder / "update_child.exe", L"check").wait(), 0u);
        UpdateState record;
        for (int i = 0; i < 1500; ++i) {
            record = read_update_state(folder / kUpdateStateFile);
            if (record.status != UpdateStatus::Staged && record.status != UpdateStatus::Applying) break;
            Sleep(100);
        }
        return record;
    }
    std::string file(const char* name) const { return vt::read_raw(folder / name); }
    // The test builds share one version, which the site takes only once: each starts afresh.
    void publish(const fs::path& release) {
        std::error_code ec;
        fs::remove_all(vt::server_root() / "api" / "static" / "veltrane", ec);
        new_exe = vt::read_raw(release);
        EXPECT_EQ(vt::publish_test_release(release, folder / "new.ttf"), "");
    }
};

}  // namespace

TEST(ApplyUpdate, ReplacesExecutableAndFontAndStartsTheNewService) {
    vt::ContentServer server;
    Installation install("");
    // A damaged wallpaper record is moved aside instead of keeping the workstation from updating.
    const CompositePaths composite = composite_paths(install.folder);
    fs::create_directories(composite.folder);
    vt::write_raw(composite.state, "monitor=zz|\n");
    const UpdateState record = install.check_and_apply();
    EXPECT_EQ(record.status, UpdateStatus::Updated);
    EXPECT_FALSE(fs::exists(composite.state));
    EXPECT_EQ(vt::read_raw(composite.folder / kDamagedStateFile), "monitor=zz|\n");
    EXPECT_EQ(record.staged_build, kNewer);
    EXPECT_TRUE(install.file("Veltrane_Desktop.exe") == install.new_exe);
    EXPECT_TRUE(install.file("Veltrane_Desktop.previous.exe") == install.old_exe);
    EXPECT_EQ(install.file("Veltrane_Desktop.ttf"), "new font");
    EXPECT_EQ(install.file("Veltrane_Desktop.previous.ttf"), "old font");
    EXPECT_FALSE(fs::exists(install.folder / "Update" / "staging"));
    EXPECT_EQ(install.file("standin.log"),
              "20261019.230507.0 started\n20261019.230507.0 stopped\n20261020.101010.0 started\n");
}

TEST(ApplyUpdate, ANewServiceThatEndsAtOnceIsRolledBack) {
    vt::ContentServer server;
    Installation install("20261020.101010.0 exit\n");
    const UpdateState record = install.check_and_apply();
    EXPECT_EQ(record.status, UpdateStatus::RolledBack);
    EXPECT_EQ(record.rolled_back_build, (BuildVersion{20261020, 101010}));
    EXPECT_TRUE(install.file("Veltrane_Desktop.exe") == install.old_exe);
    EXPECT_EQ(install.file("Veltrane_Desktop.ttf"), "old font");
    EXPECT_FALSE(fs::exists(install.folder / "Veltrane_Desktop.previous.exe"));
    EXPECT_TRUE(fs::exists(install.folder / "Update" / "staging" / "ready"));
    EXPECT_EQ(install.file("standin.log"),
              "20261019.230507.0 started\n20261019.230507.0 stopped\n20261020.101010.0 exited\n"
              "20261019.230507.0 started\n");
}

// The update ends rolled back, with the old executable and font in place and the
// stand-ins' log as given. A build that is never ready is waited for 5 s, not the program's minute.
void expect_rolled_back(Installation& install, const char* log) {
    SetEnvironmentVariableW(L"VELTRANE_TEST_READY_SECONDS", L"5");
    const UpdateState record = install.check_and_apply();
    SetEnvironmentVariableW(L"VELTRANE_TEST_READY_SECONDS", nullptr);
    EXPECT_EQ(record.status, UpdateStatus::RolledBack);
    EXPECT_TRUE(install.file("Veltrane_Desktop.exe") == install.old_exe);
    EXPECT_EQ(install.file("Veltrane_Desktop.ttf"), "old font");
    EXPECT_EQ(install.file("standin.log"), log);
}

TEST(ApplyUpdate, ANewServiceThatNeverBecomesReadyIsStoppedAndRolledBack) {
    vt::ContentServer server;
    Installation install("20261020.101010.0 never\n");
    expect_rolled_back(install, "20261019.230507.0 started\n20261019.230507.0 stopped\n20261020.101010.0 started\n"
                                "20261020.101010.0 stopped\n20261019.230507.0 started\n");
}

// A new build that hangs before its window exists (a start-up box, a first sync that never
// ends) is ended by its process, so the old executable and font go back and run.
TEST(ApplyUpdate, ANewServiceThatStallsBeforeItsWindowIsEndedAndRolledBack) {
    vt::ContentServer server;
    Installation install("20261020.101010.0 stall\n");
    expect_rolled_back(install, "20261019.230507.0 started\n20261019.230507.0 stopped\n20261020.101010.0 started\n"
                                "20261019.230507.0 started\n");
    EXPECT_TRUE(ipc::is_service_running());
}

namespace {

// Made at test time by sign_test_builds.sh, with a CA the prefix trusts.
fs::path code_signed(const char* name) {
    std::string p = "Z:" + std::string(VELTRANE_CODE_SIGNING_DIR) + "/" + name;
    for (char& c : p) c = c == '/' ? '\\' : c;
    return p;
}

}  // namespace

// Wine's trust API checks the image hash and the chain; the usage and time-stamp decisions
// are tested on the host with recorded signers.
TEST(ApplyUpdate, ASignedBuildTakesOnlyABuildItsPublisherSigned) {
    const fs::path hospital = code_signed("service_standin_new.signed.exe");
    const fs::path other = code_signed("service_standin_new.other.exe");
    const CodeSignature read = authenticode_signature(hospital);
    EXPECT_EQ(read.kind, CodeSignature::Trusted);
    EXPECT_EQ(read.signer.name, "Test Hospital");
    EXPECT_EQ(read.signer.organization + "|" + read.signer.locality + "|" + read.signer.state + "|" + read.signer.country,
              "Test Hospital|Jongno-gu|Seoul|KR");
    EXPECT_TRUE(read.signer.code_signing_usage);
    EXPECT_EQ(authenticode_signature(other).signer.organization, "Other Hospital");
    EXPECT_EQ(authenticode_signature(test_program("service_standin_new.exe")).kind, CodeSignature::Unsigned);

    vt::ContentServer server;
    {
        Installation install("");
        // MinGW's copy_file refuses to overwrite, whatever the options.
        fs::remove(install.folder / "update_child.exe");
        fs::copy_file(code_signed("update_child.signed.exe"), install.folder / "update_child.exe");
        // Unsigned, then another publisher's: refused, the running build stays.
        for (const fs::path& release : {test_program("service_standin_new.exe"), other}) {
            install.publish(release);
            const UpdateState record = install.check_and_apply();
            EXPECT_EQ(record.status, UpdateStatus::SignerMismatch) << release;
            EXPECT_FALSE(record.staged_build);
            EXPECT_TRUE(install.file("Veltrane_Desktop.exe") == install.old_exe);
            EXPECT_FALSE(fs::exists(install.folder / "Update" / "staging" / "ready"));
            EXPECT_FALSE(fs::exists(install.folder / "Update" / "staging" / "Veltrane_Desktop.exe"));
        }
        install.publish(hospital);
        EXPECT_EQ(install.check_and_apply().status, UpdateStatus::Updated);
        EXPECT_TRUE(install.file("Veltrane_Desktop.exe") == install.new_exe);
    }
    // An unsigned build takes a signed one.
    Installation unsigned_install("", hospital);
    EXPECT_EQ(unsigned_install.check_and_apply().status, UpdateStatus::Updated);
    EXPECT_TRUE(unsigned_install.file("Veltrane_Desktop.exe") == unsigned_install.new_exe);
}
