#include "settings/record.h"

#include "file_util/white_space.h"

#include "file_util/file_util.h"

namespace veltrane {
namespace {

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

std::vector<RecordField> parse_record(std::string_view text, RecordTrim trim) {
    const bool trimming = trim == RecordTrim::Whitespace;
    std::vector<RecordField> fields;
    for (std::string_view line : split_lines(text)) {
        if (trimming) {
            line = trim_white_space(line);
            if (line.empty() || line.front() == '#') continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq);
        std::string_view value = line.substr(eq + 1);
        if (trimming) {
            key = trim_white_space(key);
            value = trim_white_space(value);
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
