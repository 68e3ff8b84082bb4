// Installing the program for the current user: stop what runs, keep the settings and the
// wallpaper, replace the install folder's files, register autostart and the shortcut, start
// the service and open the settings window. Reports by message box only.
#pragma once

#include <filesystem>

namespace veltrane {

void install_program(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace veltrane
