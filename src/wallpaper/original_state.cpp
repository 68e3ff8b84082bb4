#include "wallpaper/original_state.h"

#include <algorithm>
#include <charconv>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "settings/record.h"

namespace veltrane {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Upper case is accepted too: the writer never produces it, but it means the same bytes.
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <class T>
std::optional<T> parse_decimal(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::vector<std::string_view> split_fields(std::string_view value) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t bar = value.find('|');
        fields.push_back(value.substr(0, bar));
        if (bar == std::string_view::npos) return fields;
        value.remove_prefix(bar + 1);
    }
}

std::optional<OriginalEntry> parse_entry(std::string_view value) {
    const auto fields = split_fields(value);
    if (fields.size() < 3 || fields.size() > 4) return std::nullopt;
    std::vector<std::string> decoded;
    for (const auto field : fields) {
        auto bytes = hex_decode(field);
        if (!bytes) return std::nullopt;
        decoded.push_back(std::move(*bytes));
    }
    OriginalEntry entry{std::move(decoded[0]), std::move(decoded[1]), std::move(decoded[2]), std::nullopt};
    if (decoded.size() == 4 && !decoded[3].empty()) entry.composite = std::move(decoded[3]);
    return entry;
}

// The name part of a Windows path: after the last "\" or "/".
std::string_view file_name_of(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Characters Windows refuses in a name; such an "extension" (an alternate stream, say)
// must not end up in the backup's name.
bool usable_extension(std::string_view extension) {
    if (extension.empty()) return false;
    return std::none_of(extension.begin(), extension.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos;
    });
}

}  // namespace

std::string hex_encode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0xF];
    }
    return out;
}

std::optional<std::string> hex_decode(std::string_view digits) {
    if (digits.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = hex_value(digits[i]), low = hex_value(digits[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>((high << 4) | low);
    }
    return out;
}

std::string format_original_state(const OriginalState& state) {
    std::vector<RecordField> fields{
        {"version", "1"}, {"position", std::to_string(state.position)}, {"color", std::to_string(state.color)}};
    for (const auto& e : state.monitors) {
        fields.push_back({"monitor", hex_encode(e.device_path) + "|" + hex_encode(e.wallpaper) + "|" +
                                         hex_encode(e.backup) + "|" + hex_encode(e.composite.value_or(""))});
    }
    return format_record(fields);
}

std::optional<OriginalState> parse_original_state(std::string_view text) {
    std::optional<std::int32_t> position;
    std::optional<std::uint32_t> color;
    std::vector<OriginalEntry> monitors;
    for (const auto& field : parse_record(text)) {
        if (field.key == "position") {
            position = parse_decimal<std::int32_t>(field.value);
        } else if (field.key == "color") {
            color = parse_decimal<std::uint32_t>(field.value);
        } else if (field.key == "monitor") {
            auto entry = parse_entry(field.value);
            if (!entry) return std::nullopt;
            monitors.push_back(std::move(*entry));
        }
    }
    if (!position || !color) return std::nullopt;
    return OriginalState{*position, *color, std::move(monitors)};
}

std::optional<OriginalState> read_original_state(const std::filesystem::path& path) {
    auto text = read_text_limited(path, kOriginalStateLimit);
    if (!text) return std::nullopt;
    return parse_original_state(*text);
}

Status write_original_state(const std::filesystem::path& path, const OriginalState& state) {
    return write_file_atomic(path, std::string_view(format_original_state(state)));
}

std::string backup_copy_name(std::size_t index, std::string_view wallpaper_path) {
    const std::string_view name = file_name_of(wallpaper_path);
    const std::size_t dot = name.rfind('.');
    std::string_view extension = "img";
    if (name != ".." && dot != std::string_view::npos && dot != 0 && usable_extension(name.substr(dot + 1))) {
        extension = name.substr(dot + 1);
    }
    return "monitor-" + std::to_string(index) + "." + std::string(extension);
}

CompositePaths composite_paths(const std::filesystem::path& install_folder) {
    const std::filesystem::path folder = install_folder / kCompositeFolder;
    return {folder, folder / kOriginalStateFile, folder / kBackupFolder, folder / kCompositeContentFolder};
}

}  // namespace veltrane
