// Logon autostart and the Start-menu shortcut, their portable half: the Run value's data and
// the rule that recognises it, the shortcut's place, and the Windows PowerShell command line
// and environment that write the shortcut. The registry and process effects are in
// autostart_win.h.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane {

inline constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kRunValueName = L"Veltrane_Desktop";
inline constexpr const char* kShortcutName = "벨트레인.lnk";

// The paths reach the script only through these variables, so no path is quoted inside it.
inline constexpr const char* kShortcutScript =
    "$shell = New-Object -ComObject WScript.Shell; $shortcut = $shell.CreateShortcut($env:VELTRANE_SHORTCUT); "
    "$shortcut.TargetPath = $env:VELTRANE_TARGET; $shortcut.WorkingDirectory = $env:VELTRANE_WORKDIR; "
    "$shortcut.IconLocation = $env:VELTRANE_TARGET + ',0'; $shortcut.Save()";

// The executable in double quotes, then " --run"; quoted whether or not the path has blanks.
std::u16string autostart_command(const std::filesystem::path& executable);

// A length in UTF-16 units (with the NUL) whose byte count does not fit in 32 bits.
bool autostart_command_too_long(std::size_t units_with_nul);

// Trailing NULs dropped, then equal apart from the letter case of A-Z only.
bool run_value_matches(std::u16string_view value, std::u16string_view expected);

// APPDATA joined with the Programs folder of the Start menu and the shortcut's name.
std::optional<std::filesystem::path> shortcut_path_from(const std::optional<std::filesystem::path>& app_data);

// SystemRoot joined with the Windows PowerShell program.
std::filesystem::path powershell_path(const std::filesystem::path& system_root);
std::vector<std::u16string> powershell_arguments();

// One argument as the standard Windows splitting rules read it back.
std::u16string quote_argument(std::u16string_view argument);
// The quoted program, then each argument quoted, separated by blanks.
std::u16string command_line(const std::filesystem::path& program, const std::vector<std::u16string>& arguments);

// "NAME=value" entries with each override set: an entry of the same name (ASCII case
// ignored) is dropped and the override appended. Every entry ends with a NUL, and one more
// NUL ends the block, as CreateProcessW takes it.
using EnvironmentOverride = std::pair<std::u16string, std::u16string>;
std::u16string environment_block(const std::vector<std::u16string>& entries,
                                 const std::vector<EnvironmentOverride>& overrides);

}  // namespace veltrane
