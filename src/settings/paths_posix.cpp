// The host build has no Windows profile; these give the portable code and its tests the
// same contract from the process environment and /proc.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "file_util/file_util.h"
#include "settings/settings.h"

namespace veltrane {

Result<std::filesystem::path> install_folder() {
    const char* value = std::getenv("LOCALAPPDATA");
    if (!value) return install_folder_from(std::nullopt);
    return install_folder_from(std::filesystem::path(value));
}

Result<std::filesystem::path> executable_path() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return file_system_error(ec);
    return path;
}

}  // namespace veltrane
