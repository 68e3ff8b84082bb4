#include "desktop_state.h"

#include <algorithm>
#include <charconv>

namespace veltrane::standin {
namespace {

template <typename T>
std::optional<T> parse_number(std::string_view text, int base = 10) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> parse_hresult(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
    return parse_number<std::uint32_t>(text.substr(2), 16);
}

std::optional<MonitorLine> parse_monitor(std::string_view value) {
    const auto f = split_fields(value);
    if (f.size() != 5 || f[0].empty()) return std::nullopt;
    const auto l = parse_number<int>(f[1]), t = parse_number<int>(f[2]);
    const auto r = parse_number<int>(f[3]), b = parse_number<int>(f[4]);
    if (!l || !t || !r || !b) return std::nullopt;
    return MonitorLine{f[0], *l, *t, *r, *b};
}

std::optional<FailRule> parse_fail(std::string_view value) {
    const auto f = split_fields(value);
    if (f.size() < 2 || f.size() > 4 || f[0].empty()) return std::nullopt;
    const auto hr = parse_hresult(f[1]);
    if (!hr) return std::nullopt;
    FailRule rule{f[0], *hr, std::nullopt, std::nullopt};
    if (f.size() >= 3) rule.device_path = f[2];
    if (f.size() == 4) rule.path_suffix = f[3];
    return rule;
}

std::optional<UnplugRule> parse_unplug(std::string_view value) {
    const auto f = split_fields(value);
    if (f.size() != 2 || f[0].empty()) return std::nullopt;
    const auto n = parse_number<std::uint64_t>(f[1]);
    if (!n) return std::nullopt;
    return UnplugRule{f[0], *n};
}

std::optional<DelayRule> parse_delay(std::string_view value) {
    const auto f = split_fields(value);
    if (f.size() != 2 || f[0].empty()) return std::nullopt;
    const auto ms = parse_number<std::uint32_t>(f[1]);
    if (!ms) return std::nullopt;
    return DelayRule{f[0], *ms};
}

bool take(std::string_view line, std::string_view key, std::string_view& value) {
    if (!line.starts_with(key)) return false;
    value = line.substr(key.size());
    return true;
}

// Known keys that hold state; false leaves the line to the kept lines.
bool parse_state_line(Desktop& d, std::string_view line) {
    std::string_view v;
    if (take(line, "position=", v)) {
        const auto n = parse_number<int>(v);
        if (n) d.position = n;
        return n.has_value();
    }
    if (take(line, "color=", v)) {
        const auto n = parse_number<std::uint32_t>(v);
        if (n) d.color = n;
        return n.has_value();
    }
    if (take(line, "count_calls=", v)) {
        const auto n = parse_number<std::uint64_t>(v);
        if (n) d.count_calls = n;
        return n.has_value();
    }
    if (take(line, "monitor=", v)) {
        const auto m = parse_monitor(v);
        if (m) d.monitors.push_back(*m);
        return m.has_value();
    }
    if (take(line, "wallpaper=", v)) {
        const auto bar = v.find('|');
        if (bar == std::string_view::npos || bar == 0) return false;
        set_wallpaper(d, std::string(v.substr(0, bar)), std::string(v.substr(bar + 1)));
        return true;
    }
    return false;
}

void parse_rule_line(Desktop& d, std::string_view line) {
    std::string_view v;
    if (take(line, "fail=", v)) {
        if (auto r = parse_fail(v)) d.fails.push_back(std::move(*r));
    } else if (take(line, "unplug=", v)) {
        if (auto r = parse_unplug(v)) d.unplugs.push_back(std::move(*r));
    } else if (take(line, "delay=", v)) {
        if (auto r = parse_delay(v)) d.delays.push_back(std::move(*r));
    }
}

}  // namespace

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return lines;
}

std::vector<std::string> split_fields(std::string_view value, char separator) {
    std::vector<std::string> fields;
    for (;;) {
        const auto at = value.find(separator);
        fields.emplace_back(value.substr(0, at));
        if (at == std::string_view::npos) return fields;
        value.remove_prefix(at + 1);
    }
}

Desktop parse_desktop(std::string_view text) {
    Desktop d;
    for (const auto& line : split_lines(text)) {
        if (line.empty() || parse_state_line(d, line)) continue;
        parse_rule_line(d, line);
        d.kept_lines.push_back(line);
    }
    return d;
}

std::string format_desktop(const Desktop& d) {
    std::string out;
    const auto add = [&out](const std::string& line) { out += line + "\n"; };
    if (d.position) add("position=" + std::to_string(*d.position));
    if (d.color) add("color=" + std::to_string(*d.color));
    if (d.count_calls) add("count_calls=" + std::to_string(*d.count_calls));
    for (const auto& m : d.monitors) {
        add("monitor=" + m.device_path + "|" + std::to_string(m.left) + "|" + std::to_string(m.top) + "|" +
            std::to_string(m.right) + "|" + std::to_string(m.bottom));
    }
    for (const auto& [device, path] : d.wallpapers) add("wallpaper=" + device + "|" + path);
    for (const auto& line : d.kept_lines) add(line);
    return out;
}

std::string wallpaper_of(const Desktop& d, std::string_view device_path) {
    for (const auto& [device, path] : d.wallpapers) {
        if (device == device_path) return path;
    }
    return {};
}

void set_wallpaper(Desktop& d, const std::string& device_path, const std::string& path) {
    std::erase_if(d.wallpapers, [&](const auto& w) { return w.first == device_path; });
    if (!path.empty()) d.wallpapers.emplace_back(device_path, path);
}

bool unplugged(const Desktop& d, std::string_view device_path) {
    const std::uint64_t calls = d.count_calls.value_or(0);
    return std::any_of(d.unplugs.begin(), d.unplugs.end(), [&](const UnplugRule& u) {
        return u.device_path == device_path && (u.after_count_calls == 0 || calls > u.after_count_calls);
    });
}

std::optional<std::uint32_t> injected_failure(const Desktop& d, std::string_view method,
                                              const std::string* device_path, const std::string* path) {
    for (const auto& rule : d.fails) {
        if (rule.method != method) continue;
        if (rule.path_suffix && (!path || !std::string_view(*path).ends_with(*rule.path_suffix))) continue;
        if (!rule.device_path || (device_path && *rule.device_path == *device_path)) return rule.hresult;
    }
    return std::nullopt;
}

std::uint32_t delay_of(const Desktop& d, std::string_view method) {
    for (const auto& rule : d.delays) {
        if (rule.method == method) return rule.milliseconds;
    }
    return 0;
}

std::string default_device_path(std::size_t index) {
    const std::string n = std::to_string(index);
    return "\\\\?\\DISPLAY#VLT0000#" + n + "&0&UID" + n + "#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
}

}  // namespace veltrane::standin
