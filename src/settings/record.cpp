#include "settings/record.h"

#include "file_util/file_util.h"

namespace veltrane {
namespace {

bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

// Decodes the sequence at text[i]; anything malformed decodes as U+FFFD, which is not white
// space, so trimming never eats bytes of a broken sequence.
char32_t decode_at(std::string_view text, std::size_t i, std::size_t len) {
    if (i + len > text.size()) return 0xFFFD;
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (len == 1) return b0;
    if (b0 < 0xC2 || b0 > 0xF4) return 0xFFFD;
    char32_t c = b0 & (0xFF >> (len + 1));
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (b & 0x3F);
    }
    return c;
}

// Start of the UTF-8 sequence that ends at text[end - 1].
std::size_t previous_start(std::string_view text, std::size_t end) {
    std::size_t i = end - 1;
    while (i > 0 && end - i < 4 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return i;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A line break inside a value (an error text, a server message) would start a new record
// line that a reader takes as a field of its own, so it is written as a blank.
void append_single_line(std::string& out, std::string_view text) {
    for (char c : text) out += (c == '\n' || c == '\r') ? ' ' : c;
}

}  // namespace

std::string_view trim_whitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t len = sequence_length(static_cast<unsigned char>(text[begin]));
        if (!is_unicode_space(decode_at(text, begin, len))) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t at = previous_start(text, end);
        if (!is_unicode_space(decode_at(text, at, end - at))) break;
        end = at;
    }
    return text.substr(begin, end - begin);
}

std::vector<RecordField> parse_record(std::string_view text, RecordTrim trim) {
    const bool trimming = trim == RecordTrim::Whitespace;
    std::vector<RecordField> fields;
    for (std::string_view line : split_lines(text)) {
        if (trimming) {
            line = trim_whitespace(line);
            if (line.empty() || line.front() == '#') continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq);
        std::string_view value = line.substr(eq + 1);
        if (trimming) {
            key = trim_whitespace(key);
            value = trim_whitespace(value);
        }
        fields.push_back({std::string(key), std::string(value)});
    }
    return fields;
}

std::optional<std::string> last_value(const std::vector<RecordField>& fields, std::string_view key) {
    for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
        if (it->key == key) return it->value;
    }
    return std::nullopt;
}

std::string format_record(const std::vector<RecordField>& fields) {
    std::string text;
    for (const auto& f : fields) {
        append_single_line(text, f.key);
        text += '=';
        append_single_line(text, f.value);
        text += '\n';
    }
    return text;
}

Result<std::vector<RecordField>> read_record(const std::filesystem::path& path, std::uint64_t limit,
                                             RecordTrim trim) {
    auto text = read_text_limited(path, limit);
    if (!text) return text.take_error();
    return parse_record(*text, trim);
}

Status write_record(const std::filesystem::path& path, const std::vector<RecordField>& fields) {
    return write_file_atomic(path, std::string_view(format_record(fields)));
}

}  // namespace veltrane
