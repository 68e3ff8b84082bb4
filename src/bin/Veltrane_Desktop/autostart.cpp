#include "autostart.h"

#include <algorithm>

#include "file_util/text.h"

namespace veltrane {
namespace {

std::u16string path_text(const std::filesystem::path& path) { return utf8_to_utf16(path_to_utf8(path)); }

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool same_ignoring_ascii_case(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// The name of "NAME=value"; a leading "=" belongs to the name (the per-drive folders).
std::u16string_view entry_name(std::u16string_view entry) {
    const auto equals = entry.find(u'=', 1);
    return entry.substr(0, equals == std::u16string_view::npos ? entry.size() : equals);
}

// Appended piece by piece: GCC 12 reports a false overlap for chained u16string "+" here.
std::u16string quoted(const std::filesystem::path& path) {
    std::u16string text(1, u'"');
    text.append(path_text(path));
    text.push_back(u'"');
    return text;
}

}  // namespace

std::u16string autostart_command(const std::filesystem::path& executable) { return quoted(executable).append(u" --run"); }

bool autostart_command_too_long(std::size_t units_with_nul) { return units_with_nul >= 0x80000000u; }

bool run_value_matches(std::u16string_view value, std::u16string_view expected) {
    while (!value.empty() && value.back() == u'\0') value.remove_suffix(1);
    return same_ignoring_ascii_case(value, expected);
}

std::optional<std::filesystem::path> shortcut_path_from(const std::optional<std::filesystem::path>& app_data) {
    if (!app_data) return std::nullopt;
    return *app_data / "Microsoft" / "Windows" / "Start Menu" / "Programs" / utf8_to_path(kShortcutName);
}

std::filesystem::path powershell_path(const std::filesystem::path& system_root) {
    return system_root / "System32" / "WindowsPowerShell" / "v1.0" / "powershell.exe";
}

std::vector<std::u16string> powershell_arguments() {
    return {u"-NoProfile", u"-NonInteractive", u"-Command", utf8_to_utf16(kShortcutScript)};
}

std::u16string quote_argument(std::u16string_view argument) {
    const bool quoted = argument.empty() || argument.find_first_of(u" \t") != std::u16string_view::npos;
    std::u16string out;
    if (quoted) out += u'"';
    std::size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped; elsewhere they are literal.
        out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(quoted ? backslashes * 2 : backslashes, u'\\');
    if (quoted) out += u'"';
    return out;
}

std::u16string command_line(const std::filesystem::path& program, const std::vector<std::u16string>& arguments) {
    std::u16string line = quoted(program);
    for (const auto& argument : arguments) line.append(u" ").append(quote_argument(argument));
    return line;
}

std::u16string environment_block(const std::vector<std::u16string>& entries,
                                 const std::vector<EnvironmentOverride>& overrides) {
    std::u16string block;
    for (const auto& entry : entries) {
        const auto name = entry_name(entry);
        const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                          [&](const EnvironmentOverride& o) { return same_ignoring_ascii_case(o.first, name); });
        if (!replaced && !entry.empty()) block.append(entry).push_back(u'\0');
    }
    for (const auto& [name, value] : overrides) block.append(name).append(u"=").append(value).push_back(u'\0');
    block.push_back(u'\0');
    return block;
}

}  // namespace veltrane
