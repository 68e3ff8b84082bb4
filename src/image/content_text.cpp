#include "image/content_text.h"

#include <charconv>
#include <limits>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "file_util/white_space.h"

namespace veltrane {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_blank(std::string_view line) { return trim_white_space(line).empty(); }

// Plain decimal of type T: an optional "+" (or "-" for signed types), digits only, no
// overflow.
template <class T>
std::optional<T> parse_decimal(std::string_view s) {
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty() || s.front() < '0' || s.front() > '9') return std::nullopt;
    }
    T value{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// The fields of a line split at every field separator, as views into the line.
std::vector<std::string_view> split_all(std::string_view line, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = line.find(separator);
        parts.push_back(line.substr(0, at));
        if (at == std::string_view::npos) return parts;
        line.remove_prefix(at + 1);
    }
}

// Splits at the first separator; nothing when there is none.
std::optional<std::pair<std::string_view, std::string_view>> split_first(std::string_view s, char separator) {
    const std::size_t at = s.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    return std::pair{s.substr(0, at), s.substr(at + 1)};
}

std::optional<std::uint32_t> parse_color(std::string_view v) {
    if (!v.empty() && v.front() == '#') v.remove_prefix(1);
    if (v.size() != 6) return std::nullopt;
    std::uint32_t channels[3];
    for (int i = 0; i < 3; ++i) {
        const std::string_view pair = v.substr(static_cast<std::size_t>(i) * 2, 2);
        // from_chars would take a sign or "0x"; only two hexadecimal digits are a channel.
        for (char c : pair) {
            const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex) return std::nullopt;
        }
        std::from_chars(pair.data(), pair.data() + 2, channels[i], 16);
    }
    return channels[0] | channels[1] << 8 | channels[2] << 16;
}

std::optional<bool> parse_flag(std::string_view v) {
    if (v == "on" || v == "true" || v == "1") return true;
    if (v == "off" || v == "false" || v == "0") return false;
    return std::nullopt;
}

std::optional<TextAlign> parse_align(std::string_view v) {
    if (v == "left") return TextAlign::Left;
    if (v == "center") return TextAlign::Center;
    if (v == "right") return TextAlign::Right;
    return std::nullopt;
}

template <class T>
void set_in_range(T& field, std::string_view value, T low, T high) {
    if (auto parsed = parse_decimal<T>(value); parsed && *parsed >= low && *parsed <= high) field = *parsed;
}

template <class T>
void set_if(T& field, std::optional<T> parsed) {
    if (parsed) field = *parsed;
}

void apply_style_value(TextStyle& style, std::string_view key, std::string_view value) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    if (key == "columns") set_in_range<std::uint32_t>(style.columns, value, 1, 20);
    else if (key == "font_size") set_in_range<std::int32_t>(style.font_size, value, 1, 500);
    else if (key == "row_height") set_in_range<std::int32_t>(style.row_height, value, 1, kMax);
    else if (key == "padding_x") set_in_range<std::int32_t>(style.padding_x, value, 0, kMax);
    else if (key == "padding_y") set_in_range<std::int32_t>(style.padding_y, value, 0, kMax);
    else if (key == "box_gap") set_in_range<std::int32_t>(style.box_gap, value, 0, kMax);
    else if (key == "text_color") set_if(style.text_color, parse_color(value));
    else if (key == "box_color") set_if(style.box_color, parse_color(value));
    else if (key == "box_alpha") set_in_range<std::uint8_t>(style.box_alpha, value, 0, 255);
    else if (key == "image_alpha") set_in_range<std::uint8_t>(style.image_alpha, value, 0, 255);
    else if (key == "text_align") set_if(style.text_align, parse_align(value));
    else if (key == "bold") set_if(style.bold, parse_flag(value));
}

TextCell parse_people_list(std::string_view rest) {
    TextCell cell;
    bool first = true;
    for (std::string_view item : split_all(rest, kItemSeparator)) {
        if (!first) cell.runs.push_back({"/", false, false});
        first = false;
        const auto parts = split_first(item, kFieldSeparator);
        cell.runs.push_back({std::string(parts ? parts->first : item), false, false});
        if (parts && !parts->second.empty()) {
            std::string extra(1, ' ');
            extra.append(parts->second);
            cell.runs.push_back({std::move(extra), true, false});
        }
    }
    return cell;
}

TextCell parse_roster_name(std::string_view rest) {
    const auto name_rest = split_first(rest, kFieldSeparator);
    const auto mark_label = name_rest ? split_first(name_rest->second, kFieldSeparator) : std::nullopt;
    if (!mark_label) return TextCell{{{std::string(rest), false, false}}};
    const bool dim = mark_label->first == "1";
    TextCell cell;
    if (!name_rest->first.empty()) {
        cell.runs.push_back({std::string(name_rest->first), true, dim});
        cell.runs.push_back({" ", false, dim});
    }
    cell.runs.push_back({std::string(mark_label->second), false, dim});
    return cell;
}

// Lines before and after the first separator line; the separator itself belongs to neither.
struct ScheduleParts {
    std::vector<std::string_view> a;
    std::vector<std::string_view> b;
};

ScheduleParts split_parts(std::string_view text) {
    ScheduleParts parts;
    bool after = false;
    for (std::string_view line : split_lines(text)) {
        if (!after && is_separator_line(line)) {
            after = true;
            continue;
        }
        (after ? parts.b : parts.a).push_back(line);
    }
    return parts;
}

struct ScheduleHeader {
    std::int64_t start = 0;
    std::int64_t count = 0;
    std::string_view mask;
    std::size_t next_line = 0;  // index in part A of the first line after the header
};

std::optional<ScheduleHeader> find_header(const std::vector<std::string_view>& a) {
    std::size_t i = 0;
    while (i < a.size() && is_blank(a[i])) ++i;
    if (i == a.size()) return std::nullopt;
    const auto fields = split_all(a[i], kFieldSeparator);
    if (fields.size() < 3 || fields[0] != "H") return std::nullopt;
    const auto start = parse_day_number(fields[1]);
    const auto count = parse_decimal<std::int64_t>(fields[2]);
    if (!start || !count) return std::nullopt;
    return ScheduleHeader{*start, *count, fields.size() > 3 ? fields[3] : std::string_view(), i + 1};
}

bool mask_set(std::string_view mask, std::int64_t k) {
    return k >= 0 && static_cast<std::uint64_t>(k) < mask.size() && mask[static_cast<std::size_t>(k)] == '1';
}

// Item k of a list split at item separators, without building the whole list.
std::string_view item_at(std::string_view list, std::int64_t k) {
    for (std::int64_t i = 0;; ++i) {
        const std::size_t at = list.find(kItemSeparator);
        if (i == k) return list.substr(0, at);
        if (at == std::string_view::npos) return {};
        list.remove_prefix(at + 1);
    }
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += '\n';
        out += lines[i];
    }
    return out;
}

// A duty day that far from the start is simply out of range, never an overflow.
std::optional<std::int64_t> checked_difference(std::int64_t a, std::int64_t b) {
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    if ((b > 0 && a < kMin + b) || (b < 0 && a > kMax + b)) return std::nullopt;
    return a - b;
}

struct RosterDay {
    bool in_range = false;
    std::int64_t offset = 0;
    std::string_view holidays;
    bool daytime = false;
};

std::string convert_roster_line(std::string_view line, const RosterDay& day) {
    if (!line.starts_with("M\x1F")) return std::string(line);
    const auto fields = split_all(line, kFieldSeparator);
    if (fields.size() < 4) return std::string(line);
    const std::string_view names = fields[1], mask = fields[2], label = fields[3];
    if (!day.in_range) return std::string(label);
    const bool today = mask_set(mask, day.offset);
    const bool yesterday = mask_set(mask, day.offset - 1);
    const bool holiday = mask_set(day.holidays, day.offset);
    const bool shown = today || (!holiday && day.daytime && !yesterday);
    std::string out = "N\x1F";
    out += item_at(names, day.offset);
    out += shown ? "\x1F" "0\x1F" : "\x1F" "1\x1F";
    out += label;
    return out;
}

}  // namespace

Result<std::optional<std::string>> read_content_text(const std::filesystem::path& path) {
    auto text = read_text_limited(path, kContentTextLimit);
    if (!text) {
        if (is_not_found(text.error())) return std::optional<std::string>();
        // The file utilities report an oversized or malformed file with no system code.
        if (text.error().os_code == 0)
            return make_error("텍스트 파일이 너무 크거나 UTF-8이 아닙니다:\n" + path_to_utf8(path));
        return make_error("텍스트 파일을 읽을 수 없습니다:\n" + path_to_utf8(path) + "\n\n" + text.error().message);
    }
    std::string body = std::move(*text);
    if (std::string_view(body).starts_with(kByteOrderMark)) body.erase(0, kByteOrderMark.size());
    if (is_blank(body)) return std::optional<std::string>();
    return std::optional<std::string>(std::move(body));
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t at = text.find('\n');
        std::string_view line = text.substr(0, at);
        if (at != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return lines;
}

bool is_separator_line(std::string_view line) {
    const std::string_view t = trim_white_space(line);
    return t.size() >= 3 && t.find_first_not_of('-') == std::string_view::npos;
}

TextRows extract_rows(std::string_view text) {
    TextRows out;
    bool in_style = false;
    for (std::string_view line : split_lines(text)) {
        if (in_style) out.style_lines.push_back(line);
        else if (is_separator_line(line)) in_style = true;
        else if (!is_blank(line)) out.rows.push_back(line);
    }
    return out;
}

TextCell parse_tagged_cell(std::string_view line) {
    const auto tagged = split_first(line, kFieldSeparator);
    if (!tagged) return TextCell{{{std::string(line), false, false}}};
    const auto [tag, rest] = *tagged;
    if (tag == "R") return TextCell{{{std::string(rest), true, false}}};
    if (tag == "P") return parse_people_list(rest);
    if (tag == "N") return parse_roster_name(rest);
    return TextCell{{{std::string(rest), false, false}}};
}

TextStyle parse_text_style(const std::vector<std::string_view>& lines) {
    TextStyle style;
    for (std::string_view raw : lines) {
        const auto pair = split_first(trim_white_space(raw), '=');
        if (!pair) continue;
        apply_style_value(style, trim_white_space(pair->first), trim_white_space(pair->second));
    }
    return style;
}

Status check_text_style(const std::vector<std::string_view>& lines) {
    for (std::string_view raw : lines) {
        const auto pair = split_first(trim_white_space(raw), '=');
        if (!pair) continue;
        const std::string_view key = trim_white_space(pair->first);
        if (key != "box_gap" && key != "padding_x" && key != "padding_y") continue;
        const std::string_view value = trim_white_space(pair->second);
        if (const auto v = parse_decimal<std::int64_t>(value); v && *v > kMaxBoxSpacing) {
            return make_error(std::string(key) + " 값이 너무 큽니다(" + std::string(value) +
                              "). 간격과 여백은 모니터보다 클 수 없습니다(최대 " + std::to_string(kMaxBoxSpacing) + ").");
        }
    }
    return {};
}

std::vector<TextCell> parse_cells(const std::vector<std::string_view>& rows) {
    std::vector<TextCell> cells;
    cells.reserve(rows.size());
    for (std::string_view row : rows) cells.push_back(parse_tagged_cell(row));
    return cells;
}

std::optional<std::string> expand_roster_schedule(std::string_view text, std::int64_t duty_day, bool daytime) {
    const ScheduleParts parts = split_parts(text);
    const auto header = find_header(parts.a);
    if (!header) return std::nullopt;
    RosterDay day;
    day.daytime = daytime;
    day.holidays = header->mask;
    const auto offset = checked_difference(duty_day, header->start);
    day.offset = offset.value_or(0);
    day.in_range = offset && *offset > 0 && *offset < header->count;
    std::vector<std::string> lines;
    for (std::size_t i = header->next_line; i < parts.a.size(); ++i) lines.push_back(convert_roster_line(parts.a[i], day));
    lines.emplace_back("---");
    for (std::string_view line : parts.b) lines.emplace_back(line);
    return join_lines(lines);
}

std::optional<std::string> select_duty_day(std::string_view text, std::int64_t duty_day) {
    const ScheduleParts parts = split_parts(text);
    const auto header = find_header(parts.a);
    if (!header) return std::nullopt;
    std::vector<std::string> lines;
    bool in_block = false, found = false;
    std::uint32_t columns = 1;
    for (std::size_t i = header->next_line; i < parts.a.size(); ++i) {
        const std::string_view line = parts.a[i];
        if (line.starts_with("D\x1F")) {
            const auto fields = split_all(line, kFieldSeparator);
            in_block = parse_day_number(fields[1]) == duty_day;
            if (in_block) {
                found = true;
                columns = fields.size() > 2 ? parse_decimal<std::uint32_t>(fields[2]).value_or(1) : 1;
            }
        } else if (in_block && !is_blank(line)) {
            lines.emplace_back(line);
        }
    }
    if (!found) {
        lines.assign(1, "T\x1F당직 정보 없음");
        columns = 1;
    }
    lines.emplace_back("");
    lines.emplace_back("---");
    for (std::string_view line : parts.b) {
        if (!is_blank(line)) lines.emplace_back(line);
    }
    lines.push_back("columns=" + std::to_string(columns));
    return join_lines(lines);
}

std::int64_t day_number(std::int64_t year, std::uint32_t month, std::uint32_t day) {
    // Days from civil (proleptic Gregorian), with March as the first month of the year so
    // the leap day comes last; day 1 of the month plus the remaining days lets an impossible
    // day run over.
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (static_cast<std::int64_t>(month) + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (static_cast<std::int64_t>(day) - 1);
}

std::optional<std::int64_t> parse_day_number(std::string_view date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    const auto year = parse_decimal<std::int64_t>(date.substr(0, 4));
    const auto month = parse_decimal<std::uint32_t>(date.substr(5, 2));
    const auto day = parse_decimal<std::uint32_t>(date.substr(8, 2));
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
    return day_number(*year, *month, *day);
}

DutyPeriod duty_period_at(const LocalTime& now) {
    const std::int64_t today = day_number(now.year, now.month, now.day);
    return DutyPeriod{now.hour < 7 ? today - 1 : today, now.hour >= 7 && now.hour <= 16};
}

}  // namespace veltrane
