// Opening a file as a C stream for libpng, with the system's error text on failure.
// Internal to the image module.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

#include "file_util/result.h"

namespace veltrane::detail {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Read-only, binary. The error's text is the system's text followed by " (os error N)".
Result<FilePtr> open_binary_file(const std::filesystem::path& path);

}  // namespace veltrane::detail
