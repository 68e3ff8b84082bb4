// Updates of an installed program under Wine, released with the signing tool to the
// content-server stand-in: the real product updating itself, and an updater that is ended
// after each of its steps.
#include <windows.h>

#include <gtest/gtest.h>


#include "composition/composition_fixture.h"
#include "file_util/text.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "program_boxes.h"
#include "settings/settings.h"
#include "support/test_paths.h"
#include "sync/server_fixture.h"
#include "update_wine_support.h"
#include "update/apply_update.h"
#include "update/update_check.h"
#include "update/update_state.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using win::UniqueHandle;

const BuildVersion kOld{20261019, 230507};
const BuildVersion kNew{20261020, 101010};

UpdateState final_state(const fs::path& folder) {
    UpdateState record;
    wait_until(
        [&] {
            record = read_update_state(folder / kUpdateStateFile);
            return record.status == UpdateStatus::Updated || record.status == UpdateStatus::RolledBack ||
                   record.status == UpdateStatus::Failed;
        },
        180000);
    return record;
}

class InstalledProgram : public ::testing::Test {
protected:
    ScratchDir scratch{"product-update"};
    fs::path install = *install_folder();
    std::string monitor = standin_default_device_path(0);

    void SetUp() override {
        fs::remove_all(install);
        fs::create_directories(install);
        StandinState desktop;
        write_png_file(scratch / "user.png", 160, 90, kBlue);
        desktop.wallpapers = {{monitor, path_to_utf8(scratch / "user.png")}};
        write_standin_state(desktop);
    }
    void TearDown() override {
        (void)ipc::stop_running_instances();
        for (DWORD pid : processes_named([](std::wstring_view name) { return name == L"Veltrane_Desktop.exe"; })) {
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process) TerminateProcess(process.get(), 9);
            if (process) WaitForSingleObject(process.get(), 5000);
        }
        std::error_code ec;
        fs::remove_all(install, ec);
    }
    std::string file(const char* name) const { return read_raw(install / name); }
};

// The installed build's own service finds the newer release at its retry of a failed
// automatic check, stages it and hands over to the updater; the newer service comes up.
TEST_F(InstalledProgram, TheServiceUpdatesItselfToTheNewerRelease) {
    ContentServer server;
    const std::string old_exe = read_raw(program_path());
    const std::string new_exe = read_raw(unix_file(VELTRANE_NEW_PROGRAM));
    write_raw(install / kInstalledExecutableName, old_exe);
    ASSERT_TRUE(CopyFileW(unix_file(VELTRANE_TEST_FONT).c_str(), (install / kInstalledFontName).c_str(), FALSE));
    write_png_file(install / "Veltrane_Desktop.png", 400, 300, kGreen);
    write_raw(install / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
    Settings settings;
    settings.background = BackgroundMode::Original;
    ASSERT_TRUE(write_settings(settings, install / "Veltrane_Desktop.config").ok());
    // The check of this morning's slot failed more than half an hour ago.
    UpdateState record;
    record.last_automatic_slot = 2026120809;
    record.last_attempt = utc_seconds_now() - 2000;
    record.attempts = 1;
    record.status = UpdateStatus::Failed;
    ASSERT_TRUE(write_update_state(record, install / kUpdateStateFile).ok());
    write_raw(scratch / "new.ttf", "a newer font");
    ASSERT_EQ(publish_test_release(unix_file(VELTRANE_NEW_PROGRAM), scratch / "new.ttf"), "");

    ASSERT_TRUE(start_service_and_wait(install / kInstalledExecutableName, install).ok());
    const DWORD old_service = service_pid();
    record = final_state(install);

    EXPECT_EQ(record.status, UpdateStatus::Updated);
    EXPECT_EQ(record.staged_build, kNew);
    EXPECT_EQ(record.attempts, 2u);
    EXPECT_TRUE(file(kInstalledExecutableName) == new_exe);
    EXPECT_TRUE(file(kExecutableBackupName) == old_exe);
    EXPECT_EQ(file(kInstalledFontName), "a newer font");
    EXPECT_TRUE(fs::exists(install / kFontBackupName));
    EXPECT_FALSE(fs::exists(staging_folder(install)));
    EXPECT_NE(service_pid(), 0u);
    EXPECT_NE(service_pid(), old_service);
    EXPECT_TRUE(wait_until(watchdog_alive));
    EXPECT_TRUE(wait_until([&] { return path_is_inside(standin_wallpaper(monitor), composite_paths(install).content); }));
}

// An updater ended after any of its steps leaves a whole executable and font, old or new,
// and the installed executable starts as a service.
TEST_F(InstalledProgram, AnUpdaterEndedAfterAnyStepLeavesAProgramThatStarts) {
    ContentServer server;
    const std::string old_exe = read_raw(test_program("service_standin_old.exe"));
    const std::string new_exe = read_raw(test_program("service_standin_new.exe"));
    write_raw(scratch / "new.ttf", "new font");
    ASSERT_EQ(publish_test_release(test_program("service_standin_new.exe"), scratch / "new.ttf"), "");
    const CheckInputs inputs = real_check_inputs(kOld);

    for (int step : {2, 3, 4, 5, 6, 7, 8, 10, 11}) {
        SCOPED_TRACE("ended after step " + std::to_string(step));
        (void)ipc::stop_running_instances();
        std::error_code ec;
        fs::remove_all(install, ec);
        ASSERT_FALSE(ec) << ec.message();
        fs::create_directories(install);
        write_raw(install / kInstalledExecutableName, old_exe);
        write_raw(install / kInstalledFontName, "old font");
        fs::copy_file(test_program("update_child.exe"), install / "update_child.exe");
        ASSERT_EQ(check_and_stage(install, inputs).kind, CheckOutcome::Staged);
        ASSERT_TRUE(start_service_and_wait(install / kInstalledExecutableName, install).ok());

        UniqueHandle updater = start(install / "update_child.exe", L"apply-until " + std::to_wstring(step));
        ASSERT_EQ(WaitForSingleObject(updater.get(), 90000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(updater.get(), &code);
        EXPECT_EQ(code, 9u);

        // A service the updater started is left to come up, so that stopping it finds it.
        if (step >= 10) {
            ASSERT_TRUE(wait_until([] { return service_pid() != 0; }));
        }
        const std::string exe = file(kInstalledExecutableName);
        const bool is_new = exe == new_exe;
        EXPECT_TRUE(is_new || exe == old_exe);
        EXPECT_EQ(file(kInstalledFontName), step >= 7 ? "new font" : "old font");
        EXPECT_EQ(is_new, step >= 8);
        (void)ipc::stop_running_instances();
        const BuildVersion version = is_new ? kNew : kOld;
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, ipc::service_ready_event_name(version).c_str()));
        ResetEvent(ready.get());
        auto service = ipc::start_program(install / kInstalledExecutableName, L"--run", 0, install);
        ASSERT_TRUE(service);
        EXPECT_TRUE(wait_for_ready_event(service->process.get(), ready.get()));
    }
}

}  // namespace
}  // namespace veltrane
