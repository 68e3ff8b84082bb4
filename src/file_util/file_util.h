// Bounded reads and atomic replacement for every record, content file and executable the
// program keeps. Nothing is read without a caller's byte limit; nothing is rewritten in
// place: new bytes go to a hidden temporary sibling, are flushed, and replace the target in
// one rename, so readers in other processes see the old file or the new one, never a torn one.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>
#include <string>
#include <vector>

#include "file_util/result.h"

namespace veltrane {

using Bytes = std::vector<std::uint8_t>;

// Text of the invalid-data error for a file longer than its limit.
inline constexpr const char* kSizeLimitMessage = "file exceeds the configured size limit";

struct ExpectedDigest {
    std::uint64_t size = 0;
    std::array<std::uint8_t, 32> sha256{};
};

// The whole file, or an error; a file of exactly `limit` bytes is accepted, one more is not.
Result<Bytes> read_limited(const std::filesystem::path& path, std::uint64_t limit);

// Bytes as text, strictly UTF-8 (a byte-order mark stays part of the text); the error
// describes the first bad sequence.
Result<std::string> utf8_text(std::span<const std::uint8_t> bytes);

// For a large record that starts with its own key: true only when the file is `head`
// followed by exactly body.size() bytes, which are read into `body`. Nothing past that is
// read; on false the body may hold part of the file.
Result<bool> read_after_head(const std::filesystem::path& path, std::span<const std::uint8_t> head,
                             std::span<std::uint8_t> body);

// As read_limited, then utf8_text.
Result<std::string> read_text_limited(const std::filesystem::path& path, std::uint64_t limit);

// "." + name + ".tmp-" + process id + "-" + counter, beside the target.
std::filesystem::path temp_path_for(const std::filesystem::path& target);

// One rename that replaces the target and is written through to disk.
Status replace_file(const std::filesystem::path& source, const std::filesystem::path& target);

Status write_file_atomic(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);
Status write_file_atomic(const std::filesystem::path& target, std::string_view text);
// The parts one after another, as one file: a large record is never copied to be joined.
Status write_file_atomic(const std::filesystem::path& target, std::span<const std::span<const std::uint8_t>> parts);
Status copy_file_atomic(const std::filesystem::path& source, const std::filesystem::path& target);
// The first half of copy_file_atomic: the source copied and flushed into a temporary sibling
// of the target, for a caller that moves several files into place back to back.
Result<std::filesystem::path> copy_to_temporary(const std::filesystem::path& source, const std::filesystem::path& target);

// Create, write, flush, close: only for files in a private folder that is moved into place
// afterwards, or a download that is then moved with replace_file.
Status write_file_synced(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Deletes a folder and everything in it, or a file; nothing missing is no error. A junction,
// symbolic link or mount point is removed as one entry and never entered, so nothing behind
// it is touched. Goes on past an entry it cannot delete and returns the first error.
Status remove_tree(const std::filesystem::path& path);

// True only when the size from the file's metadata and its SHA-256 both match.
Result<bool> file_matches_digest(const std::filesystem::path& path, const ExpectedDigest& expected);

// A std::filesystem error in the same form as the utilities' own: the system's text, then
// " (os error N)".
Error file_system_error(const std::error_code& ec);

// Resizes the buffer (new bytes are zero); false instead of an exception when the memory
// cannot be had, leaving the buffer as it was. Large buffers grow only through this.
bool try_resize(Bytes& bytes, std::size_t size) noexcept;

// SHA-256 of a buffer, for callers that check downloads held in memory.
std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes);

}  // namespace veltrane
