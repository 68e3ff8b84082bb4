#include <cerrno>
#include <cstring>

#include "image/binary_file.h"

namespace veltrane::detail {

Result<FilePtr> open_binary_file(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        const int code = errno;
        return Error{std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")",
                     static_cast<std::uint32_t>(code)};
    }
    return FilePtr(file);
}

}  // namespace veltrane::detail
