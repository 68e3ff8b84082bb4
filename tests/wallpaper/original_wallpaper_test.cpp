// Recording the user's wallpapers and giving them back, over the fake desktop and real files.
#include "wallpaper/original_wallpaper.h"

#include <gtest/gtest.h>

#include "file_util/text.h"
#ifdef _WIN32
#include "file_util/win.h"
#endif
#include "support/test_paths.h"
#include "wallpaper/fake_desktop.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using testing::FakeDesktop;
using testing::read_raw;
using testing::write_raw;

// The object a restore opens: a copy of the test's desktop that hands its state back when
// the restore lets it go.
struct HandedOut : FakeDesktop {
    explicit HandedOut(FakeDesktop& home) : FakeDesktop(home), home(home) { log.clear(); }
    ~HandedOut() override { home = *this; }
    FakeDesktop& home;
};

class OriginalWallpaper : public ::testing::Test {
protected:
    testing::ScratchDir dir{"original-wallpaper"};
    fs::path install = dir / "Veltrane_Desktop";
    CompositePaths paths = composite_paths(install);
    fs::path holiday = dir / "holiday.final.jpg";
    FakeDesktop desktop;
    int opened = 0;

    void SetUp() override {
        write_raw(holiday, "holiday bytes");
        desktop.monitors = {{"mon-a", {0, 0, 1920, 1080}, path_to_utf8(holiday)},
                            {"mon-b", {1920, 0, 3840, 1080}, ""}};
    }
    Result<OriginalState> record(BackgroundMode mode = BackgroundMode::Original) {
        return record_original_wallpapers(desktop, desktop.listed(), mode, install);
    }
    Result<RestoreReport> restore() {
        const OpenDesktopWallpaper open = [this]() -> Result<std::unique_ptr<DesktopWallpaper>> {
            ++opened;
            return std::unique_ptr<DesktopWallpaper>(std::make_unique<HandedOut>(desktop));
        };
        return restore_from_record(install, open, [] { return std::vector<MonitorEntry>{}; });
    }
    std::string backup(int k, const char* extension) const {
        return path_to_utf8(paths.backup / ("monitor-" + std::to_string(k) + "." + extension));
    }
};

TEST_F(OriginalWallpaper, FirstRecordBacksUpEachWallpaperAndKeepsEmptyOnesEmpty) {
    desktop.monitors.push_back({"mon-c", {-1280, 0, 0, 1024}, path_to_utf8(dir / "deleted.png")});
    const auto state = record();
    ASSERT_TRUE(state.ok()) << state.error().message;
    EXPECT_EQ(*state, (OriginalState{4, 0x00332211,
                                     {{"mon-a", path_to_utf8(holiday), backup(0, "jpg"), std::nullopt},
                                      {"mon-b", "", backup(1, "img"), std::nullopt},
                                      {"mon-c", path_to_utf8(dir / "deleted.png"), backup(2, "png"), std::nullopt}}}));
    EXPECT_EQ(read_raw(utf8_to_path(backup(0, "jpg"))), "holiday bytes");
    EXPECT_FALSE(fs::exists(utf8_to_path(backup(1, "img"))));
    EXPECT_FALSE(fs::exists(utf8_to_path(backup(2, "png"))));
    EXPECT_EQ(read_original_state(paths.state), *state);
}

TEST_F(OriginalWallpaper, ValidRecordIsKeptAsItIsAndOnlyNewMonitorsAreAdded) {
    ASSERT_TRUE(record().ok());
    // The same record in another spelling: any rewrite would show.
    const std::string spelled = "version=1\r\nposition=4\r\ncolor=3351057\r\n" +
                                format_original_state(*read_original_state(paths.state)).substr(35);
    write_raw(paths.state, spelled);
    desktop.current_position = 2;
    desktop.monitors[0].wallpaper = path_to_utf8(paths.content / "generation-1" / "monitor-0.png");
    const auto again = record();
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->position, 4);
    EXPECT_EQ(again->monitors[0].wallpaper, path_to_utf8(holiday));
    EXPECT_EQ(read_raw(paths.state), spelled);

    desktop.monitors.push_back({"mon-c", {-1280, 0, 0, 1024}, path_to_utf8(holiday)});
    const auto grown = record();
    ASSERT_TRUE(grown.ok());
    ASSERT_EQ(grown->monitors.size(), 3u);
    EXPECT_EQ(grown->monitors[2].backup, backup(2, "jpg"));
    EXPECT_EQ(read_original_state(paths.state), *grown);
}

TEST_F(OriginalWallpaper, TheProgramsOwnPictureIsNeverTakenForTheUsers) {
    const fs::path own = paths.content / "generation-1" / "monitor-0.png";
    fs::create_directories(own.parent_path());
    write_raw(own, "composed");
    desktop.monitors[0].wallpaper = path_to_utf8(own);
    const auto state = record();
    ASSERT_TRUE(state.ok());
    EXPECT_EQ(state->monitors[0].wallpaper, "");
    EXPECT_EQ(state->monitors[0].backup, backup(0, "img"));
    EXPECT_TRUE(fs::is_empty(paths.backup));
}

TEST_F(OriginalWallpaper, OriginalModeFollowsANewWallpaperOtherModesDoNot) {
    ASSERT_TRUE(record().ok());
    const fs::path sunset = dir / "sunset.png";
    write_raw(sunset, "sunset bytes");
    desktop.monitors[0].wallpaper = path_to_utf8(sunset);
    desktop.monitors[1].wallpaper = path_to_utf8(dir / "gone.png");  // no file: nothing to keep

    for (auto mode : {BackgroundMode::Black, BackgroundMode::Spotlight}) {
        const std::string before = read_raw(paths.state);
        const auto kept = record(mode);
        ASSERT_TRUE(kept.ok());
        EXPECT_EQ(kept->monitors[0].wallpaper, path_to_utf8(holiday));
        EXPECT_EQ(read_raw(paths.state), before);
    }
    const auto followed = record(BackgroundMode::Original);
    ASSERT_TRUE(followed.ok());
    EXPECT_EQ(followed->monitors[0].wallpaper, path_to_utf8(sunset));
    EXPECT_EQ(followed->monitors[0].backup, backup(0, "png"));
    EXPECT_EQ(read_raw(utf8_to_path(backup(0, "png"))), "sunset bytes");
    EXPECT_FALSE(fs::exists(utf8_to_path(backup(0, "jpg"))));
    EXPECT_EQ(followed->monitors[1].wallpaper, "");
    EXPECT_EQ(read_original_state(paths.state), *followed);
}

TEST_F(OriginalWallpaper, ARefreshDeletesOnlyItsOwnOldCopyAndOnlyOnceRecorded) {
    ASSERT_TRUE(record().ok());
    // An edited record that names some other file as the copy: that file is not ours.
    OriginalState edited = *read_original_state(paths.state);
    const fs::path precious = dir / "precious.txt";
    write_raw(precious, "keep me");
    edited.monitors[0].backup = path_to_utf8(precious);
    ASSERT_TRUE(write_original_state(paths.state, edited).ok());
    const fs::path sunset = dir / "sunset.png";
    write_raw(sunset, "sunset bytes");
    desktop.monitors[0].wallpaper = path_to_utf8(sunset);
    const auto followed = record();
    ASSERT_TRUE(followed.ok()) << followed.error().message;
    EXPECT_EQ(followed->monitors[0].backup, backup(0, "png"));
    EXPECT_EQ(read_raw(precious), "keep me");
#ifdef _WIN32
    // A record that cannot be replaced still names its copy, so the copy stays.
    const fs::path dawn = dir / "dawn.bmp";
    write_raw(dawn, "dawn bytes");
    desktop.monitors[0].wallpaper = path_to_utf8(dawn);
    {
        const win::UniqueHandle held(
            CreateFileW(paths.state.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_FALSE(record().ok());
    }
    EXPECT_EQ(read_original_state(paths.state)->monitors[0].backup, backup(0, "png"));
    EXPECT_EQ(read_raw(utf8_to_path(backup(0, "png"))), "sunset bytes");
#endif
}

TEST_F(OriginalWallpaper, RecordFailuresWriteNothing) {
    desktop.failures["position"] = "E_NOINTERFACE";
    auto failed = record();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "E_NOINTERFACE");
    EXPECT_FALSE(fs::exists(paths.state));

    // A broken record counts as none; a copy that cannot be made fails the recording.
    desktop.failures.clear();
    write_raw(paths.state, "version=1\nposition=1\n");
    fs::create_directories(utf8_to_path(backup(0, "jpg")));
    failed = record();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(read_raw(paths.state), "version=1\nposition=1\n");

    // No monitors: nothing to record and no interface call.
    desktop.failures["position"] = "must not be asked";
    EXPECT_EQ(record_original_wallpapers(desktop, {}, BackgroundMode::Original, install)->monitors.size(), 0u);
    EXPECT_EQ(read_raw(paths.state), "version=1\nposition=1\n");
    EXPECT_EQ(record_original_wallpapers(desktop, {}, BackgroundMode::Original, "").error().message,
              kStatePathMessage);
}

TEST_F(OriginalWallpaper, RestoreUsesTheBackupOfADeletedWallpaperAndRemovesTheFolder) {
    ASSERT_TRUE(record().ok());
    fs::remove(holiday);
    desktop.current_position = 2;
    desktop.color = 0;
    const auto restored = restore();
    ASSERT_TRUE(restored.ok()) << restored.error().message;
    EXPECT_EQ(restored->outcome, RestoreOutcome::Restored);
    EXPECT_EQ(desktop.monitors[0].wallpaper, backup(0, "jpg"));
    EXPECT_EQ(desktop.monitors[1].wallpaper, "");
    EXPECT_EQ(desktop.current_position, 4);
    EXPECT_EQ(desktop.color, 0x00332211u);
    EXPECT_FALSE(fs::exists(paths.folder));
    EXPECT_EQ(restore().value().outcome, RestoreOutcome::NothingToRestore);
    EXPECT_EQ(opened, 1);
}

TEST_F(OriginalWallpaper, PutBackSetsEveryRestorableEntryThenPositionAndColour) {
    auto state = record();
    ASSERT_TRUE(state.ok());
    fs::remove(holiday);
    state->monitors.push_back({"mon-c", path_to_utf8(holiday), backup(7, "jpg"), std::nullopt});
    desktop.monitors.push_back({"mon-c", {-1280, 0, 0, 1024}, ""});
    desktop.log.clear();
    const auto missed = put_back_wallpapers(desktop, *state, desktop.listed());
    ASSERT_TRUE(missed.ok());
    EXPECT_EQ(*missed, std::vector<std::string>{"mon-c"});  // neither its file nor a backup
    EXPECT_EQ(desktop.log, (std::vector<std::string>{"wallpaper mon-a", "wallpaper mon-b", "wallpaper mon-c",
                                                     "set_wallpaper mon-a " + backup(0, "jpg"), "set_wallpaper mon-b ",
                                                     "set_position 4", "set_background_color 3351057"}));

    for (const char* call : {"set_wallpaper mon-b", "set_position", "set_background_color"}) {
        FakeDesktop failing = desktop;
        failing.failures[call] = "RPC_E_DISCONNECTED";
        const auto failed = put_back_wallpapers(failing, *state, desktop.listed());
        ASSERT_FALSE(failed.ok()) << call;
        EXPECT_EQ(failed.error().message, "RPC_E_DISCONNECTED");
    }
}

TEST_F(OriginalWallpaper, PartialRestoreKeepsTheRecordUntilTheMonitorReturns) {
    ASSERT_TRUE(record().ok());
    const auto unplugged = desktop.monitors[1];
    desktop.monitors.pop_back();
    const auto partly = restore();
    ASSERT_TRUE(partly.ok());
    EXPECT_EQ(partly->outcome, RestoreOutcome::RestoredPartly);
    EXPECT_EQ(desktop.log, (std::vector<std::string>{"wallpaper mon-a", "set_wallpaper mon-a " + path_to_utf8(holiday),
                                                     "set_position 4", "set_background_color 3351057"}));
    EXPECT_TRUE(fs::exists(paths.state));
    EXPECT_TRUE(fs::exists(utf8_to_path(backup(0, "jpg"))));

    desktop.monitors.push_back(unplugged);
    const auto complete = restore();
    ASSERT_TRUE(complete.ok());
    EXPECT_EQ(complete->outcome, RestoreOutcome::Restored);
    EXPECT_FALSE(fs::exists(paths.folder));
}

TEST_F(OriginalWallpaper, RestoreWithoutAValidRecordOpensNothing) {
    EXPECT_EQ(restore().value().outcome, RestoreOutcome::NothingToRestore);
    fs::create_directories(paths.folder);
    write_raw(paths.state, "version=1\nposition=3\nmonitor=00|00|00|00|00\ncolor=0\n");
    const auto broken = restore();
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().message, kBrokenStateMessage);
    EXPECT_EQ(read_raw(paths.state), "version=1\nposition=3\nmonitor=00|00|00|00|00\ncolor=0\n");
    EXPECT_EQ(opened, 0);

    ASSERT_TRUE(record().ok());
    desktop.failures["monitor_device_path_count"] = "E_FAIL";
    const auto failed = restore();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "E_FAIL");
    EXPECT_TRUE(fs::exists(paths.state));
}

TEST_F(OriginalWallpaper, BeforeFilesAreReplacedADamagedRecordIsMovedAsideAndNamed) {
    const OpenDesktopWallpaper open = [this]() -> Result<std::unique_ptr<DesktopWallpaper>> {
        ++opened;
        return std::unique_ptr<DesktopWallpaper>(std::make_unique<HandedOut>(desktop));
    };
    const auto over_damage = [&] { return restore_over_damaged_record(install, open, [] { return std::vector<MonitorEntry>{}; }); };
    const fs::path aside = paths.folder / kDamagedStateFile;
    for (const std::string& damaged : {std::string("monitor=zz|\n"), std::string("position=\xff\n"),
                                      std::string(kOriginalStateLimit + 1, '\n')}) {
        fs::create_directories(paths.folder);
        write_raw(paths.state, damaged);
        const auto named = over_damage();
        ASSERT_TRUE(named.ok()) << named.error().message;
        EXPECT_EQ(*named, std::vector<std::string>{kBrokenStateMessage});
        EXPECT_FALSE(fs::exists(paths.state));
        EXPECT_TRUE(read_raw(aside) == damaged);
        EXPECT_TRUE(over_damage().value().empty());
    }
    EXPECT_EQ(opened, 0);

    // A monitor that is not connected is named, and its record stays for its return.
    ASSERT_TRUE(record().ok());
    const auto unplugged = desktop.monitors[1];
    desktop.monitors.pop_back();
    EXPECT_EQ(over_damage().value(), std::vector<std::string>{"연결되지 않은 모니터 " + unplugged.device_path});
    EXPECT_TRUE(fs::exists(paths.state));
    desktop.monitors.push_back(unplugged);

    // A readable record that cannot be put back is still a failure, and stays.
    desktop.failures["monitor_device_path_count"] = "E_FAIL";
    const auto failed = over_damage();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "E_FAIL");
    EXPECT_TRUE(fs::exists(paths.state));
}

}  // namespace
}  // namespace veltrane
