#include "settings/settings.h"

#include <gtest/gtest.h>

#include "support/test_paths.h"

#ifdef _WIN32
#include <windows.h>

#include "file_util/win.h"
#endif

using namespace veltrane;
using veltrane::testing::read_raw;
using veltrane::testing::ScratchDir;
using veltrane::testing::write_raw;

namespace {

const Settings kDefaults{};

Settings top_level_black(std::vector<std::string> disabled = {}) {
    Settings s;
    s.method = DisplayMethod::TopLevel;
    s.background = BackgroundMode::Black;
    s.disabled_monitors = std::move(disabled);
    return s;
}

std::size_t entries_in(const std::filesystem::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

}  // namespace

TEST(SettingsFile, DefaultsAreCompositeOnSpotlightWithEveryMonitorOn) {
    EXPECT_EQ(kDefaults.method, DisplayMethod::Composite);
    EXPECT_EQ(kDefaults.background, BackgroundMode::Spotlight);
    EXPECT_TRUE(kDefaults.disabled_monitors.empty());
    ScratchDir dir("settings-missing");
    EXPECT_EQ(read_settings(dir / "absent.config"), kDefaults);
    EXPECT_EQ(read_settings(dir.path()), kDefaults);  // a folder where the file should be
}

TEST(SettingsFile, IsReadUpToItsSizeLimitAndIgnoredWholeBeyondIt) {
    ScratchDir dir("settings-limit");
    const std::string line = "method=top_level\n";
    const auto path = dir / "Veltrane_Desktop.config";
    write_raw(path, line + std::string(kSettingsByteLimit - line.size(), '#'));
    EXPECT_EQ(read_settings(path).method, DisplayMethod::TopLevel);
    write_raw(path, line + std::string(kSettingsByteLimit - line.size() + 1, '#'));
    EXPECT_EQ(read_settings(path), kDefaults);
}

TEST(SettingsFile, OnlyStrictUtf8WithoutAMarkBeforeTheFirstKeyCounts) {
    ScratchDir dir("settings-encoding");
    const auto path = dir / "Veltrane_Desktop.config";
    write_raw(path, "\xEF\xBB\xBFmethod=top_level\nbackground=black\n");
    Settings bom = read_settings(path);
    EXPECT_EQ(bom.method, DisplayMethod::Composite);
    EXPECT_EQ(bom.background, BackgroundMode::Black);

    write_raw(path, std::string("\xFF\xFEm\0=\0t\0", 8));  // UTF-16 with its mark
    EXPECT_EQ(read_settings(path), kDefaults);
    write_raw(path, "method=top_level\nbackground=black\nmonitor:\xC0\xAF=off\n");
    EXPECT_EQ(read_settings(path), kDefaults);
}

TEST(SettingsFile, KeysAndValuesAreExactAfterTrimming) {
    EXPECT_EQ(parse_settings("  method \t=  top_level  \r\n").method, DisplayMethod::TopLevel);
    EXPECT_EQ(parse_settings("Method=top_level\nmethod=TOP_LEVEL\n#method=top_level\n# method=top_level").method,
              DisplayMethod::Composite);
    EXPECT_EQ(parse_settings("method=top_level\nmethod=explorer_child").method, DisplayMethod::Composite);
    EXPECT_EQ(parse_settings("method=top_level\nmethod=bogus\nmethod").method, DisplayMethod::TopLevel);
    EXPECT_EQ(parse_settings("background=black\nbackground=Spotlight").background, BackgroundMode::Black);
}

TEST(SettingsFile, BackgroundWinsOverTheOlderSpotlightKeyInEitherOrder) {
    EXPECT_EQ(parse_settings("spotlight_wallpaper=on\nbackground=black").background, BackgroundMode::Black);
    EXPECT_EQ(parse_settings("background=black\nspotlight_wallpaper=on").background, BackgroundMode::Black);
    EXPECT_EQ(parse_settings("spotlight_wallpaper=off").background, BackgroundMode::Original);
    EXPECT_EQ(parse_settings("spotlight_wallpaper=yes").background, BackgroundMode::Original);
    EXPECT_EQ(parse_settings("spotlight_wallpaper=off\nspotlight_wallpaper=on").background, BackgroundMode::Spotlight);
    // An invalid background is no background: the older key still decides.
    EXPECT_EQ(parse_settings("background=grey\nspotlight_wallpaper=off").background, BackgroundMode::Original);
}

TEST(SettingsFile, MonitorLinesDisableOnceAndOnlyOnReEnables) {
    const auto s = parse_settings(
        "monitor:\\\\.\\DISPLAY2=off\nmonitor:\\\\.\\DISPLAY1=no\nmonitor:\\\\.\\DISPLAY2=off\n"
        "monitor:=\nmonitor:\\\\.\\DISPLAY3=ON\nmonitor:\\\\.\\DISPLAY1=on\n monitor:\\\\.\\DISPLAY4 = on \n");
    EXPECT_EQ(s.disabled_monitors, (std::vector<std::string>{"\\\\.\\DISPLAY2", "", "\\\\.\\DISPLAY3"}));
}

TEST(SettingsFile, SetMonitorEnabledKeepsOrderAndUnattachedNames) {
    Settings s;
    set_monitor_enabled(s, "A", false);
    set_monitor_enabled(s, "B", false);
    set_monitor_enabled(s, "A", false);
    set_monitor_enabled(s, "C", false);
    EXPECT_EQ(s.disabled_monitors, (std::vector<std::string>{"A", "B", "C"}));
    set_monitor_enabled(s, "B", true);
    set_monitor_enabled(s, "unknown", true);
    EXPECT_EQ(s.disabled_monitors, (std::vector<std::string>{"A", "C"}));
    EXPECT_FALSE(is_monitor_enabled(s, "A"));
    EXPECT_TRUE(is_monitor_enabled(s, "B"));
}

TEST(SettingsFile, WritesEveryFieldInItsOrderAndReadsBackTheSame) {
    EXPECT_EQ(format_settings(kDefaults), "method=wallpaper_composite\nbackground=spotlight\nspotlight_wallpaper=on\n");
    const Settings s = top_level_black({"\\\\.\\DISPLAY2", "\\\\.\\DISPLAY1"});
    EXPECT_EQ(format_settings(s),
              "method=top_level\nbackground=black\nspotlight_wallpaper=off\n"
              "monitor:\\\\.\\DISPLAY2=off\nmonitor:\\\\.\\DISPLAY1=off\n");
    Settings original;
    original.background = BackgroundMode::Original;
    for (const Settings& each : {kDefaults, s, original}) {
        ScratchDir dir("settings-write");
        ASSERT_TRUE(write_settings(each, dir / "Veltrane_Desktop.config").ok());
        EXPECT_EQ(read_settings(dir / "Veltrane_Desktop.config"), each);
        EXPECT_EQ(entries_in(dir.path()), 1u);
    }
}

TEST(SettingsFile, AFailedWriteLeavesThePreviousFileAndNoTemporaryFile) {
    ScratchDir dir("settings-fail");
    const auto path = dir / "Veltrane_Desktop.config";
    ASSERT_TRUE(write_settings(top_level_black(), path).ok());
    const std::string before = read_raw(path);
#ifdef _WIN32
    // Another process reading the file without allowing deletion blocks the replacement.
    win::UniqueHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_FALSE(write_settings(kDefaults, path).ok());
    reader.reset();
#else
    // Nothing stops a rename over a file here; a folder in the target's place does.
    const auto blocked = dir / "blocked.config";
    std::filesystem::create_directory(blocked);
    write_raw(blocked / "inside", "kept");
    EXPECT_FALSE(write_settings(kDefaults, blocked).ok());
    EXPECT_EQ(read_raw(blocked / "inside"), "kept");
    std::filesystem::remove_all(blocked);
#endif
    EXPECT_EQ(read_raw(path), before);
    EXPECT_EQ(entries_in(dir.path()), 1u);
    EXPECT_EQ(read_settings(path), top_level_black());
}

TEST(Folders, InstallFolderComesFromAnAbsoluteLocalAppData) {
    const auto local = std::filesystem::temp_directory_path() / "AppData" / "Local";
    auto folder = install_folder_from(local);
    ASSERT_TRUE(folder.ok());
    EXPECT_EQ(*folder, local / "Veltrane_Desktop");
    // Removal must never aim at a folder relative to wherever the process happens to be.
    for (const auto& value : {std::optional<std::filesystem::path>{}, std::optional<std::filesystem::path>{""},
                              std::optional<std::filesystem::path>{"AppData/Local"}}) {
        auto none = install_folder_from(value);
        ASSERT_FALSE(none.ok());
        EXPECT_EQ(none.error().message, "LOCALAPPDATA 경로를 찾지 못했습니다.");
    }
}

TEST(Folders, ExecutableFolderHoldsTheRunningProgram) {
    auto exe = executable_path();
    ASSERT_TRUE(exe.ok()) << exe.error().message;
    EXPECT_TRUE(std::filesystem::exists(*exe));
    ASSERT_TRUE(executable_folder().has_value());
    EXPECT_EQ(*executable_folder(), exe->parent_path());
    EXPECT_EQ(*settings_path(), exe->parent_path() / "Veltrane_Desktop.config");
    EXPECT_FALSE(parent_folder("Veltrane_Desktop.exe").has_value());
    EXPECT_FALSE(parent_folder(exe->root_path()).has_value());
}

#ifdef _WIN32
TEST(Folders, InstallFolderUnderWineIsTheTestsOwnLocalAppData) {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value, 32768);
    ASSERT_GT(n, 0u);
    auto folder = install_folder();
    ASSERT_TRUE(folder.ok());
    EXPECT_EQ(*folder, std::filesystem::path(std::wstring(value, n)) / L"Veltrane_Desktop");

    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr));
    auto unset = install_folder();
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", L""));
    auto empty = install_folder();
    SetEnvironmentVariableW(L"LOCALAPPDATA", value);
    ASSERT_FALSE(unset.ok());
    EXPECT_EQ(unset.error().message, "LOCALAPPDATA 경로를 찾지 못했습니다.");
    EXPECT_FALSE(empty.ok());
}
#endif
