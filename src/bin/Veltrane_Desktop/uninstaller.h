// The uninstaller's portable half: where the removal helper's copy goes and deleting the
// install folder. The removal itself and the helper's launch are in uninstaller_win.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "file_util/result.h"

namespace veltrane {

// The temporary folder + "Veltrane_Desktop-uninstall-" + the settings window's process id + ".exe".
std::filesystem::path removal_helper_path(const std::filesystem::path& temp_folder, std::uint32_t process_id);

std::string removal_helper_question(const std::filesystem::path& install_folder);

// The folder with everything in it, and what an earlier removal set aside; a folder that is
// already gone is no failure.
Status delete_install_folder(const std::filesystem::path& folder);

}  // namespace veltrane
