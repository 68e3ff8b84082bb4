// Installing the program for the current user: stop what runs, keep the settings and the
// wallpaper, replace the install folder's files, register autostart and the shortcut, start
// the service and, unless quiet, open the settings window. The caller reports the outcome.
#pragma once

#include <filesystem>

#include "setup_outcome.h"

namespace veltrane {

SetupOutcome install_program(const std::filesystem::path& source, const std::filesystem::path& target, bool quiet);

}  // namespace veltrane
