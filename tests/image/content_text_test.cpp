#include <gtest/gtest.h>

#include "file_util/text.h"
#include "image/content_text.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

const std::string F(1, kFieldSeparator);
const std::string I(1, kItemSeparator);

std::vector<std::string_view> lines_of(std::initializer_list<const char*> lines) {
    return {lines.begin(), lines.end()};
}

struct RunView {
    std::string text;
    bool small, dim;
    bool operator==(const RunView&) const = default;
};

std::vector<RunView> runs(const TextCell& cell) {
    std::vector<RunView> out;
    for (const auto& r : cell.runs) out.push_back({r.text, r.small, r.dim});
    return out;
}

std::ostream& operator<<(std::ostream& os, const RunView& r) {
    return os << "{" << r.text << (r.small ? ",small" : "") << (r.dim ? ",dim" : "") << "}";
}

TEST(ContentText, ReadingDistinguishesAbsentTextAndErrors) {
    testing::ScratchDir dir("text");
    const auto path = dir / "Veltrane_Desktop.txt";
    auto missing = read_content_text(path);
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->has_value());

    testing::write_raw(path, "\xEF\xBB\xBF \r\n\t\n\xE3\x80\x80\n");
    auto blank = read_content_text(path);
    ASSERT_TRUE(blank.ok());
    EXPECT_FALSE(blank->has_value()) << "a byte-order mark and white space only";

    testing::write_raw(path, "\xEF\xBB\xBF  a \r\n");
    auto text = read_content_text(path);
    ASSERT_TRUE(text.ok() && text->has_value());
    EXPECT_EQ(**text, "  a \r\n") << "only the mark is removed, nothing trimmed";

    std::string full(kContentTextLimit, 'x');
    testing::write_raw(path, full);
    auto exact = read_content_text(path);
    ASSERT_TRUE(exact.ok() && exact->has_value());
    EXPECT_EQ((*exact)->size(), kContentTextLimit);

    const std::string too_big_prefix = "텍스트 파일이 너무 크거나 UTF-8이 아닙니다:\n";
    testing::write_raw(path, full + "x");
    auto over = read_content_text(path);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().message, too_big_prefix + path_to_utf8(path));

    testing::write_raw(path, "ok\xC3(");
    auto bad = read_content_text(path);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().message, too_big_prefix + path_to_utf8(path));

    // A folder in the file's place is a read error with the system's text.
    const auto folder = dir / "folder.txt";
    std::filesystem::create_directory(folder);
    auto unreadable = read_content_text(folder);
    ASSERT_FALSE(unreadable.ok());
    EXPECT_TRUE(unreadable.error().message.starts_with("텍스트 파일을 읽을 수 없습니다:\n" + path_to_utf8(folder) + "\n\n"))
        << unreadable.error().message;
}

TEST(ContentText, LinesSeparatorsAndRows) {
    EXPECT_EQ(split_lines("a\r\nb\n\nc"), lines_of({"a", "b", "", "c"}));
    EXPECT_EQ(split_lines("a\n"), lines_of({"a"}));
    EXPECT_EQ(split_lines("a\r\r\n"), lines_of({"a\r"}));
    EXPECT_TRUE(split_lines("").empty());

    EXPECT_TRUE(is_separator_line("  ---  "));
    EXPECT_TRUE(is_separator_line("----------"));
    EXPECT_FALSE(is_separator_line("--"));
    EXPECT_FALSE(is_separator_line("- - -"));
    EXPECT_FALSE(is_separator_line("---x"));

    const std::string text = "  first  \n\n--\n- - -\n \n --- \nfont_size=12\n---\ncolumns=2";
    const TextRows rows = extract_rows(text);
    EXPECT_EQ(rows.rows, lines_of({"  first  ", "--", "- - -"}));
    EXPECT_EQ(rows.style_lines, lines_of({"font_size=12", "---", "columns=2"}));
    const TextStyle style = parse_text_style(rows.style_lines);
    EXPECT_EQ(style.font_size, 12);
    EXPECT_EQ(style.columns, 2u);

    EXPECT_TRUE(extract_rows("a\nb").style_lines.empty());
}

TEST(ContentText, StyleValuesOutsideTheirRulesKeepThePreviousValue) {
    const TextStyle defaults;
    const TextStyle same = parse_text_style(lines_of(
        {"font_size=0", "font_size=501", "columns=21", "columns=0", "columns=-1", "row_height=0", "padding_x=-1",
         "box_alpha=256", "image_alpha=-1", "text_color=12345", "text_color=#1234567", "box_color=GGGGGG",
         "text_color=+1+2+3", "bold=yes", "bold=TRUE", "text_align=Center", "Font_Size=40", "font_size = 1 2",
         "font_size=0x10", "font_size=", "=5", "no equals sign", "---", "padding_y=++1", "box_gap=+-1",
         "row_height=2147483648", "padding_x=99999999999999999999", "columns=4294967297"}));
    EXPECT_EQ(same, defaults);

    const TextStyle set = parse_text_style(lines_of(
        {"  font_size = 500 ", "columns=+20", "row_height=2147483647", "padding_x=2147483647", "padding_y=-0",
         "box_gap=0", "text_color=#00ff00", "box_color=A0b0C0", "box_alpha=0", "image_alpha=255", "text_align=right",
         "bold=on", "unknown=1", "font_size=a=b"}));
    EXPECT_EQ(set.font_size, 500);
    EXPECT_EQ(set.columns, 20u);
    EXPECT_EQ(set.row_height, 2147483647);
    EXPECT_EQ(set.padding_x, 2147483647);
    EXPECT_EQ(set.padding_y, 0);
    EXPECT_EQ(set.box_gap, 0);
    EXPECT_EQ(set.text_color, 0x00FF00u);
    EXPECT_EQ(set.box_color, 0xC0B0A0u) << "red + green * 256 + blue * 65536";
    EXPECT_EQ(set.box_alpha, 0);
    EXPECT_EQ(set.image_alpha, 255);
    EXPECT_EQ(set.text_align, TextAlign::Right);
    EXPECT_TRUE(set.bold);

    EXPECT_FALSE(parse_text_style(lines_of({"bold=1", "bold=off"})).bold) << "later lines win";
    EXPECT_EQ(parse_text_style(lines_of({"font_size=20", "font_size=0"})).font_size, 20);
    EXPECT_EQ(parse_text_style(lines_of({"text_align=center"})).text_align, TextAlign::Center);
}

TEST(ContentText, TaggedCells) {
    using V = std::vector<RunView>;
    EXPECT_EQ(runs(parse_tagged_cell("  plain text  ")), (V{{"  plain text  ", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("R" + F + "abc" + F + "d")), (V{{"abc" + F + "d", true, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("X" + F + "abc")), (V{{"abc", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("T" + F)), (V{{"", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("P" + F + "김철수" + F + "x" + I + "이영희")),
              (V{{"김철수", false, false}, {" x", true, false}, {"/", false, false}, {"이영희", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("P" + F + "a" + F + I + I + "b")),
              (V{{"a", false, false}, {"/", false, false}, {"", false, false}, {"/", false, false}, {"b", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("N" + F + "홍길동" + F + "1" + F + "내과")),
              (V{{"홍길동", true, true}, {" ", false, true}, {"내과", false, true}}));
    EXPECT_EQ(runs(parse_tagged_cell("N" + F + F + "0" + F + "외과")), (V{{"외과", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("N" + F + "a" + F + "11" + F + "b")),
              (V{{"a", true, false}, {" ", false, false}, {"b", false, false}}));
    EXPECT_EQ(runs(parse_tagged_cell("N" + F + "name" + F + "1")), (V{{"name" + F + "1", false, false}}))
        << "without a label separator the rest is plain text";
    for (const std::string& odd : {std::string(""), F, "P" + F, "N" + F, F + F + F}) {
        EXPECT_FALSE(parse_tagged_cell(odd).runs.empty());
    }
}

TEST(ContentText, DutyPeriodFollowsTheSevenAndSeventeenOClockBoundaries) {
    const std::int64_t day = day_number(2025, 3, 10);
    EXPECT_EQ(duty_period_at({2025, 3, 10, 6}), (DutyPeriod{day - 1, false}));
    EXPECT_EQ(duty_period_at({2025, 3, 10, 7}), (DutyPeriod{day, true}));
    EXPECT_EQ(duty_period_at({2025, 3, 10, 16}), (DutyPeriod{day, true}));
    EXPECT_EQ(duty_period_at({2025, 3, 10, 17}), (DutyPeriod{day, false}));
    EXPECT_EQ(duty_period_at({2025, 3, 1, 0}).duty_day, day_number(2025, 2, 28));

    EXPECT_EQ(parse_day_number("1970-01-01"), 0);
    EXPECT_EQ(parse_day_number("2000-03-01"), 11017);
    EXPECT_EQ(parse_day_number("2024-02-29"), 19782);
    EXPECT_EQ(parse_day_number("2025-02-30"), parse_day_number("2025-03-02")) << "impossible days run over";
    EXPECT_EQ(parse_day_number("1969-12-31"), -1);
    EXPECT_EQ(parse_day_number("0000-03-01"), -719468);
    for (const char* bad : {"2025-13-01", "2025-00-10", "2025-01-32", "2025-1-01", "2025/01/01", "20250101", "",
                            "2025-01-0x", "abcd-01-01"})
        EXPECT_FALSE(parse_day_number(bad).has_value()) << bad;
}

class RosterSchedule : public ::testing::Test {
protected:
    // Period of 5 days from 2025-03-01; day 3 is a holiday.
    std::string text = "\n  \nH" + F + "2025-03-01" + F + "5" + F + "00010\n" +
                       "M" + F + "d0" + I + "김" + I + "이" + I + "박" + F + "01000" + F + "내과\n" +
                       "M" + F + "d0" + I + "최" + F + "00100" + F + "외과" + F + "ignored\n" +
                       "M" + F + "too" + F + "few\n" + "plain line\n\n" + "---\n" + "columns=2\n" + "----\n" + "bold=on";
    std::int64_t start = day_number(2025, 3, 1);
};

TEST_F(RosterSchedule, InRangeEntriesShowTodayAndDaytimeRules) {
    // Offset 1: 김 is on duty today.
    auto day1 = expand_roster_schedule(text, start + 1, false);
    ASSERT_TRUE(day1.has_value());
    EXPECT_EQ(*day1, "N" + F + "김" + F + "0" + F + "내과\n" + "N" + F + "최" + F + "1" + F + "외과\n" + "M" + F + "too" + F +
                         "few\n" + "plain line\n\n---\ncolumns=2\n----\nbold=on");
    // Offset 2 by day: whoever follows a night on duty is not shown; 외과 is on duty today
    // but its names list has no item for that day.
    auto day2 = expand_roster_schedule(text, start + 2, true);
    ASSERT_TRUE(day2.has_value());
    const auto rows = extract_rows(*day2).rows;
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0], "N" + F + "이" + F + "1" + F + "내과");
    EXPECT_EQ(rows[1], "N" + F + F + "0" + F + "외과");
    // Offset 3 by day is a holiday: nobody off-duty is shown; at night neither.
    EXPECT_EQ(extract_rows(*expand_roster_schedule(text, start + 3, true)).rows[0], "N" + F + "박" + F + "1" + F + "내과");
    // Offset 4 by day: nobody was on duty yesterday and it is no holiday, so daytime shows.
    EXPECT_EQ(extract_rows(*expand_roster_schedule(text, start + 4, true)).rows[0], "N" + F + F + "0" + F + "내과");
    EXPECT_EQ(extract_rows(*expand_roster_schedule(text, start + 4, false)).rows[0], "N" + F + F + "1" + F + "내과");
}

TEST_F(RosterSchedule, OutOfRangeShowsLabelsOnly) {
    for (std::int64_t day : {start, start - 1, start + 5, start + 1000, INT64_MIN, INT64_MAX}) {
        auto out = expand_roster_schedule(text, day, true);
        ASSERT_TRUE(out.has_value());
        const std::string kept = "M" + F + "too" + F + "few";
        EXPECT_EQ(extract_rows(*out).rows, lines_of({"내과", "외과", kept.c_str(), "plain line"})) << day;
    }
}

TEST_F(RosterSchedule, TextsWithoutAValidHeaderAreNotSchedules) {
    for (const std::string& t : {std::string(""), std::string("---\nH") + F + "2025-03-01" + F + "5",
                                 "x\nH" + F + "2025-03-01" + F + "5", "H" + F + "2025-3-01" + F + "5",
                                 "H" + F + "2025-03-01" + F + "five", "H" + F + "2025-03-01", "h" + F + "2025-03-01" + F + "1"}) {
        EXPECT_FALSE(expand_roster_schedule(t, start + 1, true).has_value()) << t;
        EXPECT_FALSE(select_duty_day(t, start + 1).has_value()) << t;
    }
    const std::string minimal = "H" + F + "2025-03-01" + F + "2";
    EXPECT_EQ(expand_roster_schedule(minimal, start + 1, true), std::optional<std::string>("---"));
}

TEST(DutySchedule, SelectsTheDutyDaysBlock) {
    const std::string text = "H" + F + "2025-03-01" + F + "3\n" + "D" + F + "2025-03-01\n" + "day one\n" + "D" + F +
                             "2025-03-02" + F + "3\n" + "  첫째  \n\n" + "R" + F + "둘째\n" + "D" + F + "bad date\n" +
                             "hidden\n" + "D" + F + "2025-03-03" + F + "0\n" + "third\n" + "---\n\n" + "columns=4\n" +
                             "font_size=20\n";
    const std::int64_t start = day_number(2025, 3, 1);
    auto day2 = select_duty_day(text, start + 1);
    ASSERT_TRUE(day2.has_value());
    EXPECT_EQ(*day2, "  첫째  \nR" + F + "둘째\n\n---\ncolumns=4\nfont_size=20\ncolumns=3");

    auto day1 = select_duty_day(text, start);
    EXPECT_EQ(parse_text_style(extract_rows(*day1).style_lines).columns, 1u) << "a marker without a column count";

    // A column count of 0 is invalid as a style value, so part B's count stays in force.
    auto day3 = select_duty_day(text, start + 2);
    const TextRows rows3 = extract_rows(*day3);
    EXPECT_EQ(rows3.rows, lines_of({"third"}));
    EXPECT_EQ(parse_text_style(rows3.style_lines).columns, 4u);
    const std::string no_b = "H" + F + "2025-03-01" + F + "3\nD" + F + "2025-03-01" + F + "99\nx";
    EXPECT_EQ(parse_text_style(extract_rows(*select_duty_day(no_b, start)).style_lines).columns, 5u);
}

TEST(DutySchedule, ADayWithoutMarkerSaysSoInOneColumn) {
    const std::string text = "H" + F + "2025-03-01" + F + "3\nD" + F + "2025-03-01" + F + "2\nsomeone\n---\ncolumns=4";
    auto out = select_duty_day(text, day_number(2025, 3, 5));
    ASSERT_TRUE(out.has_value());
    const TextRows rows = extract_rows(*out);
    ASSERT_EQ(rows.rows.size(), 1u);
    const TextCell cell = parse_tagged_cell(rows.rows[0]);
    ASSERT_EQ(cell.runs.size(), 1u);
    EXPECT_EQ(cell.runs[0].text, "당직 정보 없음");
    EXPECT_EQ(parse_text_style(rows.style_lines).columns, 1u);
}

}  // namespace
}  // namespace veltrane
