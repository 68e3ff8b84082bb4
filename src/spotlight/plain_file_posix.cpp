#include "spotlight/plain_file.h"

#include <system_error>

namespace veltrane {

bool is_plain_file(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::regular;
}

}  // namespace veltrane
