// Removing the installation for the current user: stop what runs, take away autostart and
// the shortcut, give the user's wallpaper back, delete the install folder. From the settings
// window the removal runs in a temporary copy of the program, which can delete every
// installed file because none of them is its own.
#pragma once

#include <windows.h>

#include <filesystem>

#include "file_util/result.h"
#include "startup.h"

namespace veltrane {

// Stops at the first failure and returns its text; a wallpaper that no retry could give back
// (a damaged record, a monitor that is not connected) does not stop it and is named in the
// result.
// `at_once`: a busy set-up lock fails at once instead of waiting.
Result<Unrestored> remove_installation(const std::filesystem::path& install_folder, bool at_once = false);

// Asks, copies the program to the temporary folder, starts the copy with "--uninstall-helper"
// and destroys the settings window; reports its own failures by message box.
void launch_removal_helper(HWND settings_window);

}  // namespace veltrane
