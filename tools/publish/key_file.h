// The secret key file is created new (never over an existing file) and readable by its
// owner only: mode 0600 on POSIX, a protected ACL for the current user alone on Windows.
#pragma once

#include <filesystem>
#include <string_view>

#include "file_util/result.h"

namespace veltrane::publish {

Status create_private_file(const std::filesystem::path& path, std::string_view text);

}  // namespace veltrane::publish
