#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_util/native_file.h"

namespace veltrane {

bool is_not_found(const Error& error) { return error.os_code == ENOENT || error.os_code == ENOTDIR; }

namespace native {

Error os_error(std::uint32_t code) {
    return Error{std::string(std::strerror(static_cast<int>(code))) + " (os error " + std::to_string(code) + ")", code};
}

namespace {
Error last_error() { return os_error(static_cast<std::uint32_t>(errno)); }
}  // namespace

Result<File> File::open_read(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return last_error();
    return File(fd);
}

Result<File> File::create(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return last_error();
    return File(fd);
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) ::close(static_cast<int>(handle_));
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

File::~File() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

Result<std::size_t> File::read(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer.data(), buffer.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return last_error();
    }
}

Status File::write_all(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return last_error();
        if (n == 0) return make_error("failed to write whole buffer");
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

Status File::flush() {
    if (::fsync(static_cast<int>(handle_)) != 0) return last_error();
    return {};
}

Result<std::uint64_t> File::size_from_metadata() {
    struct stat st;
    if (::fstat(static_cast<int>(handle_), &st) != 0) return last_error();
    return static_cast<std::uint64_t>(st.st_size);
}

Status move_replacing(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (::rename(source.c_str(), target.c_str()) != 0) return last_error();
    return {};
}

void remove_quietly(const std::filesystem::path& path) { ::unlink(path.c_str()); }

// The host's remove_all never follows a symbolic link.
Status remove_tree(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) return os_error(static_cast<std::uint32_t>(ec.value()));
    return {};
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace native
}  // namespace veltrane
