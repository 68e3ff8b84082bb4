// The uninstaller's portable half: the removal helper's question and deleting the install
// folder. The removal itself and the helper's launch are in uninstaller_win.h.
#pragma once

#include <filesystem>
#include <string>

#include "file_util/result.h"

namespace veltrane {

std::string removal_helper_question(const std::filesystem::path& install_folder);

// The folder with everything in it, and what an earlier removal set aside; a folder that is
// already gone is no failure.
Status delete_install_folder(const std::filesystem::path& folder);

}  // namespace veltrane
