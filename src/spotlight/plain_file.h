// Whether a path is a regular file that is not a reparse point or link, as the Spotlight
// folder recognises its images. Internal to the spotlight module.
#pragma once

#include <filesystem>

namespace veltrane {

bool is_plain_file(const std::filesystem::path& path);

}  // namespace veltrane
