// The content text format of the chart's table text and the duty roster: cell lines, a
// separator line, then key=value style lines; cells may carry a small markup, and a file may
// come in schedule form that is first reduced to the current duty day. Everything here is a
// pure function of its inputs (the clock included), so it runs on the host as it does on
// Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/local_time.h"
#include "file_util/result.h"

namespace veltrane {

inline constexpr char kFieldSeparator = '\x1F';
inline constexpr char kItemSeparator = '\x1E';
inline constexpr std::uint64_t kContentTextLimit = 8388608;
// No monitor is this tall or wide: a larger gap or padding only pushes a box off the screen.
inline constexpr std::int32_t kMaxBoxSpacing = 16384;

struct TextRun {
    std::string text;
    bool small = false;
    bool dim = false;
};

// Never empty: drawing relies on every cell having a first and a last run.
struct TextCell {
    std::vector<TextRun> runs;
};

enum class TextAlign : std::uint8_t { Left = 0, Center = 1, Right = 2 };

struct TextStyle {
    std::uint32_t columns = 5;
    std::int32_t font_size = 30;
    std::int32_t row_height = 60;
    std::int32_t padding_x = 80;
    std::int32_t padding_y = 20;
    std::int32_t box_gap = 10;
    std::uint32_t text_color = 0x000000;  // red + green * 256 + blue * 65536
    std::uint32_t box_color = 0xFFFFFF;
    std::uint8_t box_alpha = 230;
    std::uint8_t image_alpha = 230;
    TextAlign text_align = TextAlign::Left;
    bool bold = false;

    bool operator==(const TextStyle&) const = default;
};

// Row lines and style lines as views into the text they were extracted from.
struct TextRows {
    std::vector<std::string_view> rows;
    std::vector<std::string_view> style_lines;
};

struct DutyPeriod {
    std::int64_t duty_day = 0;  // days since 1970-01-01; the duty day starts at 07:00
    bool daytime = false;       // 07:00 to 16:59

    bool operator==(const DutyPeriod&) const = default;
};

// Absent when the file is missing or holds only a byte-order mark and white space.
Result<std::optional<std::string>> read_content_text(const std::filesystem::path& path);

// Split at line feeds; a carriage return before a line feed is dropped, a final line feed
// adds no empty line.
std::vector<std::string_view> split_lines(std::string_view text);
bool is_separator_line(std::string_view line);
TextRows extract_rows(std::string_view text);

TextCell parse_tagged_cell(std::string_view line);
TextStyle parse_text_style(const std::vector<std::string_view>& lines);
// Refuses a box_gap, padding_x or padding_y above kMaxBoxSpacing, naming the key.
Status check_text_style(const std::vector<std::string_view>& lines);
std::vector<TextCell> parse_cells(const std::vector<std::string_view>& rows);

// Replacement texts for schedule-form files; nothing when the text is not in schedule form.
std::optional<std::string> expand_roster_schedule(std::string_view text, std::int64_t duty_day, bool daytime);
std::optional<std::string> select_duty_day(std::string_view text, std::int64_t duty_day);

// Days since 1970-01-01 of a YYYY-MM-DD date; an impossible day runs over into the next month.
std::optional<std::int64_t> parse_day_number(std::string_view date);
std::int64_t day_number(std::int64_t year, std::uint32_t month, std::uint32_t day);
DutyPeriod duty_period_at(const LocalTime& now);

}  // namespace veltrane
