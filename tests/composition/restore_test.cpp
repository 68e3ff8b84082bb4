// Giving the user's wallpapers back after a composition: complete, from backups, partly while
// a monitor is away, refused for a broken record, and one restore at a time across processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "composition/composition_fixture.h"
#include "file_util/text.h"
#include "wallpaper/original_state.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

class Restore : public ::testing::Test {
protected:
    ScratchDir dir{"restore"};
    fs::path install = dir / "Veltrane_Desktop";
    fs::path user_wallpaper = dir / "README";

    void SetUp() override {
        fs::create_directories(install);
        write_png_file(user_wallpaper, 160, 90, kRed);
        describe_two_monitors(path_to_utf8(user_wallpaper), 3, kBlueColorref);
        ASSERT_TRUE(compose(install, sample_content(255), Settings{}, BackgroundMode::Original).ok());
        ASSERT_NE(standin_wallpaper(kLeftMonitor), path_to_utf8(user_wallpaper));
    }
    // The stand-in's desktop as a test changes it: same monitors and settings, fresh log.
    void rewrite_desktop(const std::vector<StandinMonitor>& monitors, const std::vector<std::string>& extra = {}) {
        StandinState state = read_standin_state();
        state.monitors = monitors;
        state.extra_lines = extra;
        write_standin_state(state);
    }
    fs::path composite() const { return install / "WallpaperComposite"; }
};

const StandinMonitor kLeft{kLeftMonitor, 0, 0, 1920, 1080};
const StandinMonitor kRight{kRightMonitor, 1920, 0, 3840, 1080};

TEST_F(Restore, PutsEverythingBackAndRemovesTheRecord) {
    StandinState changed = read_standin_state();
    changed.color = 0;
    write_standin_state(changed);
    const auto result = restore_original_wallpapers(install);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(result->outcome, RestoreOutcome::Restored);
    EXPECT_EQ(standin_wallpaper(kLeftMonitor), path_to_utf8(user_wallpaper));
    EXPECT_EQ(standin_wallpaper(kRightMonitor), "");
    const StandinState state = read_standin_state();
    EXPECT_EQ(state.position, 3);
    EXPECT_EQ(state.color, kBlueColorref);
    EXPECT_FALSE(fs::exists(composite()));

    const auto again = restore_original_wallpapers(install);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->outcome, RestoreOutcome::NothingToRestore);
}

TEST_F(Restore, DeletedWallpaperComesBackFromItsBackup) {
    fs::remove(user_wallpaper);
    write_standin_state(read_standin_state());  // a fresh call log
    const auto result = restore_original_wallpapers(install);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(result->outcome, RestoreOutcome::Restored);
    const auto set = calls_of("SetWallpaper");
    ASSERT_FALSE(set.empty());
    EXPECT_NE(set[0].find("monitor-0.img"), std::string::npos) << set[0];
}

TEST_F(Restore, UnpluggedMonitorLeavesAPartialRestoreUntilItReturns) {
    rewrite_desktop({kLeft});
    const auto partly = restore_original_wallpapers(install);
    ASSERT_TRUE(partly.ok()) << partly.error().message;
    EXPECT_EQ(partly->outcome, RestoreOutcome::RestoredPartly);
    EXPECT_EQ(standin_wallpaper(kLeftMonitor), path_to_utf8(user_wallpaper));
    EXPECT_EQ(read_standin_state().position, 3);
    EXPECT_TRUE(fs::exists(composite() / "original.state"));

    rewrite_desktop({kLeft, kRight});
    const auto complete = restore_original_wallpapers(install);
    ASSERT_TRUE(complete.ok());
    EXPECT_EQ(complete->outcome, RestoreOutcome::Restored);
    EXPECT_EQ(standin_wallpaper(kRightMonitor), "");
    EXPECT_FALSE(fs::exists(composite()));
}

TEST_F(Restore, BrokenRecordFailsAndStays) {
    const fs::path record = composite() / "original.state";
    write_raw(record, "version=1\nposition=3\nmonitor=00|00|00\n");
    write_standin_state(read_standin_state());  // a fresh call log
    const auto result = restore_original_wallpapers(install);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, kBrokenStateMessage);
    EXPECT_EQ(read_raw(record), "version=1\nposition=3\nmonitor=00|00|00\n");
    EXPECT_TRUE(calls_of("SetWallpaper").empty());
}

// Two restores at once: the lock lets one finish before the other looks at the record.
TEST_F(Restore, RestoresFromTwoProcessesRunOneAtATime) {
    rewrite_desktop({kLeft, kRight}, {"delay=SetWallpaper|300"});
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + (fs::path(self).parent_path() / "restore_child.exe").wstring() + L"\" \"" +
                        install.wstring() + L"\"";
    PROCESS_INFORMATION children[2]{};
    for (auto& pi : children) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring copy = line;
        ASSERT_TRUE(CreateProcessW(nullptr, copy.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    }
    std::multiset<DWORD> codes;
    for (auto& pi : children) {
        WaitForSingleObject(pi.hProcess, 60000);
        DWORD code = 99;
        GetExitCodeProcess(pi.hProcess, &code);
        codes.insert(code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    EXPECT_EQ(codes, (std::multiset<DWORD>{0, 2}));  // one restored, the other found nothing left
    std::set<std::string> writers;
    for (const auto& call : calls_of("SetWallpaper")) writers.insert(call.substr(0, call.find(' ')));
    EXPECT_EQ(writers.size(), 1u);
    EXPECT_EQ(standin_wallpaper(kLeftMonitor), path_to_utf8(user_wallpaper));
}

}  // namespace
}  // namespace veltrane
