// Autostart and the shortcut's failures against the real registry and the PowerShell
// stand-in of the Wine prefix; the written shortcut itself is checked by the install scenario.
#include <windows.h>

#include <gtest/gtest.h>

#include "autostart_win.h"
#include "file_util/text.h"
#include "program_boxes.h"
#include "settings/settings.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

void set_run_value(const std::wstring& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Veltrane_Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring environment(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(name, value, 32768);
    return std::wstring(value, n);
}

DWORD exit_code(const fs::path& program, const std::wstring& arguments) {
    auto process = start(program, arguments);
    if (!process || WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) return 99;
    DWORD code = 99;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(AutostartWine, OnlyAValueThatStartsThisCopyWithRunCountsAsEnabled) {
    ASSERT_TRUE(disable_autostart().ok());
    ASSERT_TRUE(disable_autostart().ok());  // no value is no failure
    EXPECT_FALSE(run_value());
    EXPECT_FALSE(is_autostart_enabled());

    const fs::path exe = *executable_path();
    ASSERT_TRUE(enable_autostart(exe).ok());
    ASSERT_TRUE(enable_autostart(exe).ok());
    const std::wstring expected = L"\"" + exe.wstring() + L"\" --run";
    EXPECT_EQ(run_value(), expected);
    DWORD type = 0, bytes = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Veltrane_Desktop",
                           RRF_RT_ANY, &type, nullptr, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, (expected.size() + 1) * sizeof(wchar_t));
    EXPECT_TRUE(is_autostart_enabled());

    std::wstring lower_drive = expected;
    lower_drive[1] = static_cast<wchar_t>(towlower(lower_drive[1]));
    set_run_value(lower_drive);
    EXPECT_TRUE(is_autostart_enabled());
    set_run_value(exe.wstring() + L" --run");
    EXPECT_FALSE(is_autostart_enabled());
    set_run_value(L"\"" + exe.wstring() + L"\"");
    EXPECT_FALSE(is_autostart_enabled());

    ASSERT_TRUE(disable_autostart().ok());
    EXPECT_FALSE(run_value());
}

TEST(AutostartWine, TheShortcutNeedsAppDataAndAProgramsFolderAndTheStandInTakesOnlyTheExactCommand) {
    const fs::path link = *start_menu_shortcut_path();
    const fs::path exe = *executable_path();
    EXPECT_EQ(create_start_menu_shortcut(exe, exe.parent_path()).error().message, "시작 메뉴 바로 가기를 만들지 못했습니다.");
    EXPECT_FALSE(fs::exists(link));

    fs::create_directories(link.parent_path());
    const std::wstring app_data = environment(L"APPDATA");
    SetEnvironmentVariableW(L"APPDATA", nullptr);
    EXPECT_FALSE(start_menu_shortcut_path());
    EXPECT_EQ(create_start_menu_shortcut(exe, exe.parent_path()).error().message, "시작 메뉴 폴더 경로를 확인하지 못했습니다.");
    SetEnvironmentVariableW(L"APPDATA", app_data.c_str());

    // The stand-in refuses a script that differs by one character, with the paths in place.
    SetEnvironmentVariableW(L"VELTRANE_SHORTCUT", link.c_str());
    SetEnvironmentVariableW(L"VELTRANE_TARGET", exe.c_str());
    SetEnvironmentVariableW(L"VELTRANE_WORKDIR", exe.parent_path().c_str());
    const fs::path powershell = fs::path(environment(L"SystemRoot")) / "System32" / "WindowsPowerShell" / "v1.0" / "powershell.exe";
    std::wstring script = win::to_wide(
        "$shell = New-Object -ComObject WScript.Shell; $shortcut = $shell.CreateShortcut($env:VELTRANE_SHORTCUT); "
        "$shortcut.TargetPath = $env:VELTRANE_TARGET; $shortcut.WorkingDirectory = $env:VELTRANE_WORKDIR; "
        "$shortcut.IconLocation = $env:VELTRANE_TARGET + ',0'; $shortcut.Save()");
    EXPECT_NE(exit_code(powershell, L"-NoProfile -NonInteractive -Command \"" + script + L";\""), 0u);
    EXPECT_NE(exit_code(powershell, L"-NoProfile -Command \"" + script + L"\""), 0u);
    EXPECT_FALSE(fs::exists(link));
    EXPECT_EQ(exit_code(powershell, L"-NoProfile -NonInteractive -Command \"" + script + L"\""), 0u);
    EXPECT_TRUE(fs::exists(link));
}

}  // namespace
}  // namespace veltrane
