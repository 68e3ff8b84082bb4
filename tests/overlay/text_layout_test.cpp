#include <gtest/gtest.h>

#include "overlay/text_layout.h"

namespace veltrane {
namespace {

// Main-font glyphs are 10 pixels wide, small ones 7; "FAIL" cannot be measured.
std::optional<std::int32_t> fixed_width(const std::string& text, bool small) {
    if (text == "FAIL") return std::nullopt;
    return static_cast<std::int32_t>(text.size()) * (small ? 7 : 10);
}

TextCell plain(std::string text) { return TextCell{{{std::move(text), false, false}}}; }
TextCell roster(std::string mark, std::string name, bool dim = false) {
    return TextCell{{{std::move(mark), true, dim}, {" ", false, dim}, {std::move(name), false, dim}}};
}

TableGeometry geometry_of(std::size_t cells, std::int32_t width, const TextStyle& style) {
    auto g = table_geometry(cells, width, style);
    EXPECT_TRUE(g.ok()) << (g.ok() ? "" : g.error().message);
    return g.ok() ? *g : TableGeometry{};
}

std::string error_of(std::size_t cells, std::int32_t width, const TextStyle& style) {
    auto g = table_geometry(cells, width, style);
    return g.ok() ? "ok" : g.error().message;
}

TEST(TextLayout, CellsFillColumnsLeftToRight) {
    // 7 cells in 3 columns: 3, 2, 2
    const std::vector<CellPlace> seven{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {2, 0}, {2, 1}};
    for (std::size_t k = 0; k < seven.size(); ++k) EXPECT_EQ(place_cell(k, 7, 3), seven[k]) << k;
    TextStyle style;
    style.columns = 3;
    EXPECT_EQ(geometry_of(7, 1000, style).rows, 3);

    // 4 cells in the default 5 columns: one row, the last column stays empty
    EXPECT_EQ(geometry_of(4, 1000, TextStyle{}).rows, 1);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(place_cell(k, 4, 5), (CellPlace{static_cast<std::uint32_t>(k), 0}));
}

TEST(TextLayout, ColumnBoundariesLeaveNoGaps) {
    TextStyle style;
    style.columns = 3;
    style.padding_x = 7;
    style.padding_y = 5;
    style.row_height = 40;
    const TableGeometry g = geometry_of(9, 855, style);  // inner 841 does not divide by 3
    EXPECT_EQ(g.height, 3 * 40 + 10);
    for (std::uint32_t c = 0; c + 1 < 3; ++c)
        EXPECT_EQ(cell_rect({c, 0}, g, style).right, cell_rect({c + 1, 0}, g, style).left);
    EXPECT_EQ(cell_rect({0, 0}, g, style), (TextRect{7, 5, 7 + 280, 45}));
    EXPECT_EQ(cell_rect({2, 2}, g, style), (TextRect{7 + 560, 85, 848, 125}));
}

TEST(TextLayout, SizeChecksFailWithTheirMessages) {
    TextStyle style;
    EXPECT_EQ(error_of(0, 1000, style), "표시할 텍스트 항목이 없습니다.");
    const std::string narrow = "텍스트 박스를 표시하려면 PNG 너비가 padding_x*2보다 커야 합니다.";
    EXPECT_EQ(error_of(3, 160, style), narrow);
    EXPECT_EQ(geometry_of(3, 161, style).inner, 1);
    style.padding_x = 0x7fffffff;
    EXPECT_EQ(error_of(3, 0x7fffffff, style), narrow);

    const std::string tall = "텍스트 표가 너무 큽니다.";
    style = TextStyle{};
    style.row_height = 0x7fffffff;
    EXPECT_EQ(error_of(5, 1000, style), tall);  // one row plus padding
    style.row_height = 1;
    style.padding_y = 0x40000000;
    EXPECT_EQ(error_of(5, 1000, style), tall);
    style = TextStyle{};
    style.columns = 1;
    style.row_height = 1;
    style.padding_y = 0;
    EXPECT_EQ(error_of(0x7fffffff, 1000, style).rfind("텍스트 박스가 너무 큽니다(1000×2147483647 픽셀).", 0), 0u);
    if constexpr (sizeof(std::size_t) > 4) {
        EXPECT_EQ(error_of(std::size_t{0x80000000}, 1000, style), tall);
    }

    // Each box stays within 256 MiB: a 4096-pixel-wide box of 16384 rows fits, one more row does not.
    style.columns = 1;
    style.row_height = 1;
    EXPECT_EQ(geometry_of(16384, 4096, style).height, 16384);
    EXPECT_EQ(error_of(16385, 4096, style),
              "텍스트 박스가 너무 큽니다(4096×16385 픽셀). 박스 하나는 256MiB를 넘을 수 없습니다.");

    // A style made in code with no columns behaves as one column instead of dividing by zero.
    style.columns = 0;
    EXPECT_EQ(geometry_of(3, 1000, style).rows, 3);

    EXPECT_TRUE(check_bitmap_size(0x7fffffff, 0x7fffffff).ok());
    EXPECT_EQ(check_bitmap_size(0, 10).error().message, "텍스트 크기가 너무 큽니다.");
}

TEST(TextLayout, SmallFontAndDimColour) {
    EXPECT_EQ(small_font_height(1), 1);
    EXPECT_EQ(small_font_height(2), 1);
    EXPECT_EQ(small_font_height(30), 21);
    EXPECT_EQ(small_run_shift(30), 4);
    EXPECT_EQ(small_run_shift(1), 0);
    EXPECT_EQ(dim_color(0x000000, 0xFFFFFF), 0x7F7F7Fu);
    EXPECT_EQ(dim_color(0x102030, 0x305070), 0x203850u);
}

class Layout : public ::testing::Test {
protected:
    TextStyle style;
    Layout() {
        style.columns = 2;
        style.padding_x = 10;
        style.padding_y = 5;
        style.row_height = 40;
        style.font_size = 30;
    }
    TablePlan plan(const std::vector<TextCell>& cells, std::int32_t width = 420) {
        return layout_text_table(cells, geometry_of(cells.size(), width, style), style, fixed_width);
    }
};

TEST_F(Layout, OneRunCellsAreFittedByTheSystemWithAlignment) {
    for (auto [align, format] : {std::pair{TextAlign::Left, 0x8824u}, {TextAlign::Center, 0x8825u},
                                 {TextAlign::Right, 0x8826u}}) {
        style.text_align = align;
        const TablePlan p = plan({plain("가나다"), TextCell{{{"small", true, false}}}});
        ASSERT_TRUE(p.complete);
        ASSERT_EQ(p.runs.size(), 2u);
        EXPECT_EQ(p.runs[0], (PlacedRun{"가나다", false, false, {10, 5, 210, 45}, format}));
        // no shift for a lone small run: the system centres it vertically
        EXPECT_EQ(p.runs[1], (PlacedRun{"small", true, false, {210, 5, 410, 45}, format}));
    }
}

TEST_F(Layout, MultiRunCellsAreAlignedByTheirTotalWidth) {
    // runs: "ab" 20, " x" small 14, "/" 10 => total 44; column 0 spans 10 ... 210
    const TextCell cell{{{"ab", false, false}, {" x", true, false}, {"/", false, true}}};
    const auto xs = [&](TextAlign align) {
        style.text_align = align;
        const TablePlan p = plan({cell});
        std::vector<std::int32_t> lefts;
        for (const PlacedRun& r : p.runs) lefts.push_back(r.rect.left);
        return lefts;
    };
    EXPECT_EQ(xs(TextAlign::Left), (std::vector<std::int32_t>{10, 30, 44}));
    EXPECT_EQ(xs(TextAlign::Center), (std::vector<std::int32_t>{88, 108, 122}));
    EXPECT_EQ(xs(TextAlign::Right), (std::vector<std::int32_t>{166, 186, 200}));
    const TablePlan p = plan({cell});
    EXPECT_EQ(p.runs[1].rect, (TextRect{186, 9, 200, 49}));  // small run shifted down by 4
    EXPECT_EQ(p.runs[2].format, kRunFormat);
    EXPECT_TRUE(p.runs[2].dim);
}

TEST_F(Layout, OneRosterCellPutsEveryCellBehindTheGutter) {
    // gutter = widest small first run ("야간" is 6 bytes: 42) + main space (10) = 52
    const std::vector<TextCell> cells{roster("야간", "홍길동", true), plain("plain"), roster("ab", "x")};
    TablePlan p = plan(cells);
    ASSERT_TRUE(p.complete);
    ASSERT_EQ(p.runs.size(), 5u);
    // cell 0 (column 0, row 0): name at left + gutter, mark right-aligned before the space
    EXPECT_EQ(p.runs[0], (PlacedRun{"야간", true, true, {10, 9, 52, 49}, kRunFormat}));
    EXPECT_EQ(p.runs[1], (PlacedRun{"홍길동", false, true, {62, 5, 152, 45}, kRunFormat}));
    // cell 1 (column 0, row 1): a plain cell follows the gutter too, without ellipsis
    EXPECT_EQ(p.runs[2], (PlacedRun{"plain", false, false, {62, 45, 112, 85}, kRunFormat}));
    // cell 2 (column 1): its mark is narrower but the name lines up with the others
    EXPECT_EQ(p.runs[3].rect, (TextRect{238, 9, 252, 49}));
    EXPECT_EQ(p.runs[4].rect, (TextRect{262, 5, 272, 45}));

    style.text_align = TextAlign::Center;  // x = 62 + (210 - (62 + W)) / 2
    p = plan(cells);
    EXPECT_EQ(p.runs[2].rect, (TextRect{111, 45, 161, 85}));
    EXPECT_EQ(p.runs[1].rect, (TextRect{91, 5, 181, 45}));
    EXPECT_EQ(p.runs[0].rect, (TextRect{39, 9, 81, 49}));
    style.text_align = TextAlign::Right;
    p = plan(cells);
    EXPECT_EQ(p.runs[2].rect, (TextRect{160, 45, 210, 85}));
    EXPECT_EQ(p.runs[1].rect, (TextRect{120, 5, 210, 45}));
    EXPECT_EQ(p.runs[0].rect, (TextRect{68, 9, 110, 49}));
}

TEST_F(Layout, MeasurementFailures) {
    // an unmeasurable mark leaves the gutter to the others; the cell still draws its name
    TablePlan p = plan({roster("FAIL", "a"), roster("ab", "b")});
    EXPECT_FALSE(p.complete);  // the FAIL mark itself must be measured to be drawn
    EXPECT_TRUE(p.runs.empty());
    p = plan({roster("ab", "b"), plain("x"), roster("FAIL", "c")});
    EXPECT_FALSE(p.complete);
    ASSERT_EQ(p.runs.size(), 3u);
    EXPECT_EQ(p.runs[1].rect.left, 10 + 14 + 10);  // gutter without the FAIL mark
    p = plan({plain("FAIL"), TextCell{{{"FAIL", false, false}, {"x", false, false}}}});
    EXPECT_FALSE(p.complete);
    EXPECT_EQ(p.runs.size(), 1u);  // the one-run cell is fitted by the system, not measured
}

}  // namespace
}  // namespace veltrane
