#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "key_file.h"

namespace veltrane::publish {

Status create_private_file(const std::filesystem::path& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Error{std::strerror(errno), static_cast<std::uint32_t>(errno)};
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = errno;
            ::close(fd);
            ::unlink(path.c_str());
            return Error{std::strerror(code), static_cast<std::uint32_t>(code)};
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int code = errno;
    if (::close(fd) != 0 || !synced) {
        ::unlink(path.c_str());
        return Error{std::strerror(code), static_cast<std::uint32_t>(code)};
    }
    return {};
}

}  // namespace veltrane::publish
