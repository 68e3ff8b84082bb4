// The portable rules of installation: the Run value and how it is recognised, the PowerShell
// command line and environment, the install copy list, emptying the install folder around
// the kept settings and wallpaper backup, and the success text.
#include <gtest/gtest.h>

#include <algorithm>

#include "autostart.h"
#include "command_line.h"
#include "file_util/text.h"
#include "installer.h"
#include "uninstall_entry.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;
using testing::write_raw;

TEST(Autostart, TheRunValueIsRecognisedByItsExactTextApartFromAsciiLetterCase) {
    const std::u16string expected = autostart_command(utf8_to_path("C:\\Users\\홍 길동\\AppData\\Local\\Veltrane_Desktop\\Veltrane_Desktop.exe"));
    EXPECT_EQ(expected, u"\"C:\\Users\\홍 길동\\AppData\\Local\\Veltrane_Desktop\\Veltrane_Desktop.exe\" --run");
    EXPECT_TRUE(run_value_matches(expected + u'\0' + u'\0', expected));
    EXPECT_TRUE(run_value_matches(u"\"c:\\users\\홍 길동\\APPDATA\\local\\veltrane_desktop\\VELTRANE_DESKTOP.EXE\" --RUN", expected));
    EXPECT_FALSE(run_value_matches(u"C:\\Users\\홍 길동\\AppData\\Local\\Veltrane_Desktop\\Veltrane_Desktop.exe --run", expected));
    EXPECT_FALSE(run_value_matches(u"\"C:\\Users\\홍 길동\\AppData\\Local\\Veltrane_Desktop\\Veltrane_Desktop.exe\"", expected));
    EXPECT_FALSE(run_value_matches(expected + u" ", expected));
    // Only A-Z fold: a full-width or Greek capital is another character.
    EXPECT_FALSE(run_value_matches(u"\"Ａ\" --run", u"\"ａ\" --run"));
    EXPECT_FALSE(run_value_matches(u"\"Σ\" --run", u"\"σ\" --run"));
    EXPECT_FALSE(autostart_command_too_long(0x7FFFFFFF));
    EXPECT_TRUE(autostart_command_too_long(0x80000000));
}

TEST(Autostart, ThePowerShellCommandSplitsBackIntoItsArgumentsAndTheShortcutSitsInPrograms) {
    const fs::path program = powershell_path("C:\\Windows");
    EXPECT_EQ(path_to_utf8(program), path_to_utf8(fs::path("C:\\Windows") / "System32" / "WindowsPowerShell" / "v1.0" / "powershell.exe"));
    std::vector<std::u16string> arguments = powershell_arguments();
    arguments.insert(arguments.end(), {u"", u"a b\\", u"say \"hi\"", u"x\\\\\"y", u"tab\there"});
    const auto split = split_command_line(command_line(program, arguments), u"");
    ASSERT_EQ(split.size(), arguments.size() + 1);
    EXPECT_EQ(split[0], utf8_to_utf16(path_to_utf8(program)));
    for (std::size_t i = 0; i < arguments.size(); ++i) EXPECT_EQ(split[i + 1], arguments[i]) << i;
    EXPECT_EQ(powershell_arguments()[3], utf8_to_utf16(kShortcutScript));

    EXPECT_FALSE(shortcut_path_from(std::nullopt));
    EXPECT_EQ(*shortcut_path_from(fs::path("R")), fs::path("R") / "Microsoft" / "Windows" / "Start Menu" / "Programs" / utf8_to_path("벨트레인.lnk"));
}

TEST(Autostart, TheEnvironmentCarriesThePathsWithOneEntryPerName) {
    const std::u16string block = environment_block({u"=C:=C:\\x", u"Path=C:\\bin", u"veltrane_target=old"},
                                                   {{u"VELTRANE_TARGET", u"C:\\홍 길동\\a.exe"}, {u"VELTRANE_WORKDIR", u"C:\\w"}});
    constexpr char16_t expected[] = u"=C:=C:\\x\0Path=C:\\bin\0VELTRANE_TARGET=C:\\홍 길동\\a.exe\0VELTRANE_WORKDIR=C:\\w\0";
    EXPECT_EQ(block, std::u16string(expected, std::size(expected)));
}

TEST(Installer, TheCopyListNeedsTheExecutableAndTakesTheOtherFilesPresent) {
    ScratchDir source("install-source");
    EXPECT_EQ(install_copy_list(source.path()).error().message,
              "필수 파일이 없습니다.\n\n" + path_to_utf8(source / "Veltrane_Desktop.exe"));
    write_raw(source / "Veltrane_Desktop.exe", "MZ");
    write_raw(source / "Veltrane_Desktop.ttf", "font");
    fs::create_directory(source / "Veltrane_Desktop.png");  // a folder is not a file
    EXPECT_EQ(*install_copy_list(source.path()), (std::vector<std::string>{"Veltrane_Desktop.exe", "Veltrane_Desktop.ttf"}));
    EXPECT_EQ(install_success_text("C:\\U\\Veltrane_Desktop", {"Veltrane_Desktop.exe", "Veltrane_Desktop.ttf"}),
              "설치가 완료되었고 서비스 실행을 확인했습니다.\n\n위치: C:\\U\\Veltrane_Desktop\n\n복사된 파일:\n"
              "Veltrane_Desktop.exe\nVeltrane_Desktop.ttf\n\n로그인 자동 시작이 등록되었습니다.");
}

TEST(UninstallEntry, NamesTheQuotedProgramWithItsSwitchesAndTheSizeRoundedUp) {
    const fs::path folder = utf8_to_path("C:\\Users\\홍 길동\\AppData\\Local\\Veltrane_Desktop");
    const std::string exe = path_to_utf8(folder / "Veltrane_Desktop.exe");
    const auto values = uninstall_entry_values(folder, BuildVersion{20261019, 230507}, 7);
    const auto value = [&](const char* name) {
        const auto it = std::find_if(values.begin(), values.end(), [&](const UninstallValue& v) { return v.name == name; });
        EXPECT_NE(it, values.end()) << name;
        return it == values.end() ? UninstallValue{} : *it;
    };
    EXPECT_EQ(value("DisplayName").value, (decltype(UninstallValue::value)("벨트레인")));
    EXPECT_EQ(value("DisplayVersion").value, (decltype(UninstallValue::value)("20261019.230507.0")));
    EXPECT_EQ(value("UninstallString").value, (decltype(UninstallValue::value)("\"" + exe + "\" --remove")));
    EXPECT_EQ(value("QuietUninstallString").value, (decltype(UninstallValue::value)("\"" + exe + "\" --remove --quiet")));
    EXPECT_EQ(value("NoRepair").value, (decltype(UninstallValue::value)(1u)));
    EXPECT_EQ(value("EstimatedSize").value, (decltype(UninstallValue::value)(7u)));
    for (const char* name : {"Publisher", "InstallLocation", "DisplayIcon", "NoModify"}) value(name);

    ScratchDir installed("uninstall-size");
    write_raw(installed / "Veltrane_Desktop.exe", std::string(1025, 'x'));
    fs::create_directory(installed / "Update");
    write_raw(installed / "Update" / "a", "y");
    EXPECT_EQ(folder_size_kib(installed.path()), 2u);
    EXPECT_EQ(folder_size_kib(installed / "missing"), 0u);
}

TEST(Installer, EmptyingKeepsTheSettingsTheWallpaperBackupAndTheFilesToBeReplacedInAnyLetterCase) {
    ScratchDir source("install-source");
    ScratchDir target("install-target");
    write_raw(source / "Veltrane_Desktop.exe", "new program");
    write_raw(target / "Veltrane_Desktop.exe", "old program");
    write_raw(target / "veltrane_desktop.TTF", "old font");
    write_raw(target / "Veltrane_Desktop.png", "a chart the new set does not bring");
    write_raw(target / "VELTRANE_DESKTOP.WALLPAPER-BACKUP", "path=C:\\w.jpg\n");
    write_raw(target / "Veltrane_Desktop.sync-status", "x");
    write_raw(target / "Veltrane_Desktop.install-id", "0123456789abcdef0123456789abcdef\n");
    write_raw(target / "veltrane_desktop.config", "autostart=0\n");
    fs::create_directories(target / "Update" / "staging");
    write_raw(target / "Update" / "staging" / "ready", "1");
    fs::create_directory(target / "Veltrane_Desktop.wallpaper-backup.d");  // a folder of that name goes
    // A record that a restore could not finish stays with its backup copies; without one the
    // folder goes.
    fs::create_directories(target / "WallpaperComposite" / "Backup");
    write_raw(target / "WallpaperComposite" / "original.state", "version=1\n");
    write_raw(target / "WallpaperComposite" / "Backup" / "monitor-1.jpg", "user picture");

    ASSERT_TRUE(empty_install_folder(target.path(), {"Veltrane_Desktop.exe", "Veltrane_Desktop.ttf"}).ok());
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(target.path())) left.push_back(path_to_utf8(e.path().filename()));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"VELTRANE_DESKTOP.WALLPAPER-BACKUP", "Veltrane_Desktop.exe",
                                              "Veltrane_Desktop.install-id", "WallpaperComposite", "veltrane_desktop.TTF", "veltrane_desktop.config"}));
    EXPECT_EQ(testing::read_raw(target / "WallpaperComposite" / "Backup" / "monitor-1.jpg"), "user picture");
    fs::create_directories(target / "other" / "WallpaperComposite" / "Content");
    ASSERT_TRUE(empty_install_folder(target / "other", {}).ok());
    EXPECT_TRUE(fs::is_empty(target / "other"));

    ASSERT_TRUE(copy_install_files(source.path(), target / "new", {"Veltrane_Desktop.exe"}).ok());
    EXPECT_EQ(testing::read_raw(target / "new" / "Veltrane_Desktop.exe"), "new program");
    // A missing folder is nothing to empty; copying a file onto itself is skipped.
    EXPECT_TRUE(empty_install_folder(target / "missing", {}).ok());
    EXPECT_TRUE(copy_install_files(target / "new", target / "new", {"Veltrane_Desktop.exe"}).ok());
    EXPECT_EQ(testing::read_raw(target / "new" / "Veltrane_Desktop.exe"), "new program");
    EXPECT_FALSE(fs::exists(target / "new" / kPendingInstallFile));
}

// An installer ended between its moves: before the executable's, the old build stays; after
// it, the font follows. A record naming anything else moves nothing.
TEST(Installer, TheNextStartUndoesOrFinishesAnInstallationEndedBetweenItsMoves) {
    ScratchDir folder("install-pending");
    const auto stage = [&](bool executable_moved) {
        write_raw(folder / "Veltrane_Desktop.exe", executable_moved ? "new program" : "old program");
        write_raw(folder / "Veltrane_Desktop.ttf", "old font");
        if (!executable_moved) write_raw(folder / ".Veltrane_Desktop.exe.tmp-7-0", "new program");
        write_raw(folder / ".Veltrane_Desktop.ttf.tmp-7-1", "new font");
        write_raw(folder / kPendingInstallFile,
                  ".Veltrane_Desktop.exe.tmp-7-0\tVeltrane_Desktop.exe\n.Veltrane_Desktop.ttf.tmp-7-1\tVeltrane_Desktop.ttf\n");
    };
    stage(false);
    ASSERT_TRUE(finish_interrupted_install(folder.path()).ok());
    EXPECT_EQ(testing::read_raw(folder / "Veltrane_Desktop.exe"), "old program");
    EXPECT_EQ(testing::read_raw(folder / "Veltrane_Desktop.ttf"), "old font");
    EXPECT_FALSE(fs::exists(folder / ".Veltrane_Desktop.ttf.tmp-7-1"));
    EXPECT_FALSE(fs::exists(folder / ".Veltrane_Desktop.exe.tmp-7-0"));
    EXPECT_FALSE(fs::exists(folder / kPendingInstallFile));

    stage(true);
    ASSERT_TRUE(finish_interrupted_install(folder.path()).ok());
    EXPECT_EQ(testing::read_raw(folder / "Veltrane_Desktop.exe"), "new program");
    EXPECT_EQ(testing::read_raw(folder / "Veltrane_Desktop.ttf"), "new font");
    EXPECT_FALSE(fs::exists(folder / kPendingInstallFile));

    write_raw(folder / ".settings.tmp-7-2", "x");
    write_raw(folder / kPendingInstallFile, ".settings.tmp-7-2\t../Veltrane_Desktop.config\n");
    ASSERT_TRUE(finish_interrupted_install(folder.path()).ok());
    EXPECT_TRUE(fs::exists(folder / ".settings.tmp-7-2"));
    EXPECT_FALSE(fs::exists(folder / kPendingInstallFile));
    EXPECT_TRUE(finish_interrupted_install(folder.path()).ok());  // no record: nothing to do
}

}  // namespace
}  // namespace veltrane
