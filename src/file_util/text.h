// UTF-8 is the program's text inside; UTF-16 appears only at system calls. These helpers
// convert between the two and check UTF-8 strictly, for text that arrives from files and
// the network.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// Describes the first malformed sequence ("invalid utf-8 sequence of 1 bytes from index 3",
// "incomplete utf-8 byte sequence from index 7"), or nothing when the bytes are valid UTF-8.
std::optional<std::string> utf8_error(std::string_view bytes);

// Lossy conversions: malformed input becomes U+FFFD, never an error.
std::u16string utf8_to_utf16(std::string_view text);
// At most `limit` bytes of UTF-8 text, never ending inside a character.
std::string utf8_prefix(std::string_view text, std::size_t limit);
std::string utf16_to_utf8(std::u16string_view text);

// A path as UTF-8 text; unpaired surrogates in Windows names become U+FFFD.
std::string path_to_utf8(const std::filesystem::path& path);
std::filesystem::path utf8_to_path(std::string_view text);

// ASCII-only case folding, for the comparisons that Windows paths and switches need.
std::string ascii_lower(std::string_view text);
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

// Whether a path lies inside the folder (after lexical normalisation, ASCII case ignored,
// as Windows compares names); the folder itself does not count.
bool path_is_inside(std::string_view path, const std::filesystem::path& folder);

}  // namespace veltrane
