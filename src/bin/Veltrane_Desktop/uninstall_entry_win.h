// The Apps & Features entry in HKCU: written by every install, refreshed by a new build's
// service, deleted by removal.
#pragma once

#include <filesystem>

#include "file_util/result.h"

namespace veltrane {

Status write_uninstall_entry(const std::filesystem::path& install_folder);

// Only an entry that exists: a build started outside an installation registers nothing.
void refresh_uninstall_entry(const std::filesystem::path& install_folder);

// A missing entry is no failure.
Status delete_uninstall_entry();

}  // namespace veltrane
