// The restore as every role calls it: one restore at a time across processes (the restore
// lock), the shell's desktop-wallpaper object opened only when there is a record.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "file_util/result.h"
#include "wallpaper/original_wallpaper.h"

namespace veltrane {

Result<RestoreReport> restore_original_wallpapers(const std::filesystem::path& install_folder);

// For reinstall, update and removal: a damaged record is moved aside instead of stopping
// them, and the notes name what could not be given back (restore_over_damaged_record).
Result<std::vector<std::string>> restore_original_wallpapers_over_damage(const std::filesystem::path& install_folder);

}  // namespace veltrane
