#include "file_util/white_space.h"

#include <cstdint>

namespace veltrane {
namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::uint8_t byte_at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// Length of the white-space character that starts at `i`, or 0.
std::size_t space_at(std::string_view s, std::size_t i) {
    const std::uint8_t b = byte_at(s, i);
    if (b < 0x80) return is_white_space(b) ? 1 : 0;
    if (b == 0xC2 && i + 1 < s.size()) {
        const std::uint8_t c = byte_at(s, i + 1);
        return (c & 0xC0) == 0x80 && is_white_space(c) ? 2 : 0;
    }
    if ((b == 0xE1 || b == 0xE2 || b == 0xE3) && i + 2 < s.size()) {
        const char32_t c = (char32_t{b} & 0x0F) << 12 | (char32_t{byte_at(s, i + 1)} & 0x3F) << 6 |
                           (char32_t{byte_at(s, i + 2)} & 0x3F);
        const bool continuation = (byte_at(s, i + 1) & 0xC0) == 0x80 && (byte_at(s, i + 2) & 0xC0) == 0x80;
        return continuation && is_white_space(c) ? 3 : 0;
    }
    return 0;
}

// Length of the white-space character that ends just before `end`, or 0.
std::size_t space_before(std::string_view s, std::size_t end) {
    for (std::size_t len = 1; len <= 3 && len <= end; ++len) {
        if (space_at(s, end - len) == len) return len;
    }
    return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t n = space_at(text, begin);
        if (n == 0) break;
        begin += n;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t n = space_before(text, end);
        if (n == 0 || end - n < begin) break;
        end -= n;
    }
    return text.substr(begin, end - begin);
}

}  // namespace veltrane
