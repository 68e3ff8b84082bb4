// The few operating-system file calls the file utilities are built on, implemented once for
// Windows (native_file_win.cpp) and once for the host (native_file_posix.cpp). Internal to
// file_util.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "file_util/result.h"

namespace veltrane::native {

class File {
public:
    // Read access only; shared for read, write and delete.
    static Result<File> open_read(const std::filesystem::path& path);
    // Write access, created if missing, truncated if present; shared for read, write and delete.
    static Result<File> create(const std::filesystem::path& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Retries interrupted reads; 0 means end of file.
    Result<std::size_t> read(std::span<std::uint8_t> buffer);
    // Writes everything; a write that reports zero bytes is an error.
    Status write_all(std::span<const std::uint8_t> bytes);
    Status flush();
    Result<std::uint64_t> size_from_metadata();

private:
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH on Windows; rename on the host.
Status move_replacing(const std::filesystem::path& source, const std::filesystem::path& target);
void remove_quietly(const std::filesystem::path& path);
// A folder with everything in it, or a file; a link is removed as one entry, never entered.
Status remove_tree(const std::filesystem::path& path);
std::uint32_t current_process_id();

// The system's text for an error code, then " (os error N)".
Error os_error(std::uint32_t code);

}  // namespace veltrane::native
