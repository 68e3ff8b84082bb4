// Logon autostart through the user's Run value and the Start-menu shortcut written by
// Windows PowerShell. Everything is per user: HKEY_CURRENT_USER and the user's APPDATA.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>

#include "file_util/result.h"

namespace veltrane {

Status enable_autostart(const std::filesystem::path& executable);
// A missing value is no failure.
Status disable_autostart();
// Whether the Run value starts exactly this running copy with "--run"; any problem reads as false.
bool is_autostart_enabled();

std::optional<std::filesystem::path> start_menu_shortcut_path();
// The Programs folder is not created: without it the save fails.
Status create_start_menu_shortcut(const std::filesystem::path& executable, const std::filesystem::path& working_folder);

}  // namespace veltrane
