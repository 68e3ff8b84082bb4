// The restore as every role calls it: one restore at a time across processes (the restore
// lock), the shell's desktop-wallpaper object opened only when there is a record.
#pragma once

#include <filesystem>

#include "file_util/result.h"
#include "wallpaper/original_wallpaper.h"

namespace veltrane {

Result<RestoreOutcome> restore_original_wallpapers(const std::filesystem::path& install_folder);

}  // namespace veltrane
