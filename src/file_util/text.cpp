#include "file_util/text.h"

#include <algorithm>
#include <vector>

namespace veltrane {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one scalar value at bytes[i]; returns its length, or 0 when the sequence is
// malformed (with *valid_prefix set to the number of bytes that formed a valid start).
std::size_t decode_one(std::string_view bytes, std::size_t i, char32_t* out, std::size_t* valid_prefix) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    *valid_prefix = 0;
    if (b0 < 0x80) {
        *out = b0;
        return 1;
    }
    std::size_t need;
    char32_t value;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1; value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2; value = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3; value = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    *valid_prefix = 1;
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= bytes.size()) return 0;
        const auto b = static_cast<unsigned char>(bytes[i + k]);
        if (b < lo || b > hi) return 0;
        lo = 0x80; hi = 0xBF;
        value = (value << 6) | (b & 0x3F);
        *valid_prefix = k + 1;
    }
    *out = value;
    return need + 1;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Lexical normal form: the root (leading separators, as a marker), then the names with "."
// dropped and ".." taking back the name before it.
std::vector<std::string> path_components(std::string_view path) {
    std::vector<std::string> parts;
    const std::size_t root_end = std::min(path.find_first_not_of("\\/"), path.size());
    parts.emplace_back(root_end, '/');
    std::size_t start = root_end;
    while (start < path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(start, end - start);
        if (name == "..") {
            if (parts.size() > 1 && parts.back() != "..") {
                parts.pop_back();
            } else if (root_end == 0) {
                parts.emplace_back(name);  // a relative path may climb; a rooted one stops at the root
            }
        } else if (!name.empty() && name != ".") {
            parts.emplace_back(name);
        }
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::optional<std::string> utf8_error(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        char32_t c;
        std::size_t prefix;
        const std::size_t n = decode_one(bytes, i, &c, &prefix);
        if (n == 0) {
            if (prefix > 0 && i + prefix >= bytes.size()) {
                return "incomplete utf-8 byte sequence from index " + std::to_string(i);
            }
            const std::size_t len = prefix == 0 ? 1 : prefix;
            return "invalid utf-8 sequence of " + std::to_string(len) + " bytes from index " + std::to_string(i);
        }
        i += n;
    }
    return std::nullopt;
}

std::string utf8_prefix(std::string_view text, std::size_t limit) {
    std::size_t n = std::min(limit, text.size());
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n));
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c;
        std::size_t prefix;
        std::size_t n = decode_one(text, i, &c, &prefix);
        if (n == 0) {
            c = kReplacement;
            n = prefix == 0 ? 1 : prefix;
        }
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        append_utf8(out, c);
    }
    return out;
}

std::string path_to_utf8(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& w = path.native();
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
#else
    return path.native();
#endif
}

std::filesystem::path utf8_to_path(std::string_view text) {
#ifdef _WIN32
    const std::u16string u = utf8_to_utf16(text);
    return std::filesystem::path(std::wstring(u.begin(), u.end()));
#else
    return std::filesystem::path(std::string(text));
#endif
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

bool path_is_inside(std::string_view path, const std::filesystem::path& folder) {
    const auto inner = path_components(path);
    const auto outer = path_components(path_to_utf8(folder));
    if (inner.size() <= outer.size()) return false;
    return std::equal(outer.begin(), outer.end(), inner.begin(),
                      [](const std::string& a, const std::string& b) { return equals_ignoring_ascii_case(a, b); });
}

}  // namespace veltrane
