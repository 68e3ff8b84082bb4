// GDI drawing of the boxes under Wine, checked by their pixels.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "file_util/text.h"
#include "image/content_font.h"
#include "image/content_render.h"
#include "overlay/text_layout.h"
#include "overlay/text_table.h"

namespace veltrane {
namespace {

std::filesystem::path unix_path(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return utf8_to_path("Z:" + path);
}

std::filesystem::path nanum() { return unix_path(std::string(VELTRANE_TEST_FONT_DIR) + "/nanum/NanumGothic.ttf"); }

class TextTable : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(nanum())) << "tools/setup.sh installs fonts-nanum";
        auto font = register_content_font(nanum());
        ASSERT_TRUE(font.ok() && *font);
        font_ = std::move(*font);
        style.text_color = 0x000000;
        style.box_color = 0xFFFFFF;
    }
    Result<TextLayer> render(const std::vector<std::string>& lines, std::int32_t width = 1000) {
        std::vector<std::string_view> rows(lines.begin(), lines.end());
        return render_text_table(parse_cells(rows), width, font_->family(), style);
    }
    TextStyle style;

private:
    std::optional<ContentFont> font_;
};

const std::uint8_t* px(const TextLayer& l, std::int32_t x, std::int32_t y) {
    return &l.pixels[(static_cast<std::size_t>(y) * l.width + x) * 4];
}

// The darkest channel inside a rectangle: 255 on an untouched white box.
int darkest(const TextLayer& l, std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    int v = 255;
    for (std::int32_t y = y0; y < y1; ++y)
        for (std::int32_t x = x0; x < x1; ++x) v = std::min({v, int{px(l, x, y)[0]}, int{px(l, x, y)[1]}, int{px(l, x, y)[2]}});
    return v;
}

bool inked(const TextLayer& l, std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return darkest(l, x0, y0, x1, y1) < 160;
}

TEST_F(TextTable, OpaqueBoxWithRoundedCornersAndInkOnlyInItsCells) {
    style.box_color = 0xE0F0FF;  // blue E0, green F0, red FF
    auto r = render({"항생제", "약제부", "당직", "내선 2231"});
    ASSERT_TRUE(r.ok()) << r.error().message;
    const TextLayer& l = *r;
    ASSERT_EQ(l.width, 1000);
    ASSERT_EQ(l.height, 100);  // one row of 60 plus 2 * 20
    EXPECT_LT(px(l, 0, 0)[3], 40);
    EXPECT_LT(px(l, 999, 99)[3], 40);
    const std::uint8_t box[4] = {0xE0, 0xF0, 0xFF, 255};
    EXPECT_TRUE(std::equal(box, box + 4, px(l, 500, 5)));
    EXPECT_TRUE(std::equal(box, box + 4, px(l, 40, 50)));
    for (std::int32_t y = 16; y < 84; ++y)
        for (std::int32_t x = 16; x < 984; ++x) ASSERT_EQ(px(l, x, y)[3], 255) << x << "," << y;
    // columns of 168 from x = 80; the fifth stays empty, and so do the paddings (the faded
    // corners, premultiplied towards black, are left out)
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(inked(l, 80 + 168 * c, 20, 80 + 168 * (c + 1), 80)) << c;
    EXPECT_FALSE(inked(l, 752, 16, 1000, 84));
    EXPECT_FALSE(inked(l, 0, 16, 80, 84));
    EXPECT_FALSE(inked(l, 16, 0, 984, 20));
    EXPECT_FALSE(inked(l, 16, 80, 984, 100));
    EXPECT_TRUE(inked(l, 0, 0, 4, 4));
}

TEST_F(TextTable, DimmedRunsAreLighter) {
    style.columns = 2;
    auto r = render({"N\x1F주간\x1F" "0\x1F김민수", "N\x1F주간\x1F" "1\x1F김민수"});
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_LT(darkest(*r, 80, 20, 500, 80), 60);
    const int dim = darkest(*r, 500, 20, 920, 80);
    EXPECT_GE(dim, 0x70);
    EXPECT_LT(dim, 0xC0);
}

// The rows of ink in a column strip, as [first, last].
std::pair<int, int> ink_rows(const TextLayer& l, std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1) {
    int first = -1, last = -1;
    for (std::int32_t y = y0; y < y1; ++y) {
        if (!inked(l, x0, y, x1, y + 1)) continue;
        if (first < 0) first = y;
        last = y;
    }
    return {first, last};
}

TEST_F(TextTable, LongPlainCellsEndInAnEllipsisOnlyInTheGeneralLayout) {
    style.columns = 2;
    const std::string long_cell = "가나다라마바사아자차카타파하가나다라마바사아자차카타파하";
    // column 0: the long cell and a second cell; column 1 holds one blank cell beside it
    auto general = render({long_cell, "가", " "});
    ASSERT_TRUE(general.ok()) << general.error().message;
    EXPECT_FALSE(inked(*general, 500, 20, 1000, 80));
    std::int32_t right = 499;
    while (right > 80 && !inked(*general, right, 20, right + 1, 80)) --right;
    EXPECT_GT(right, 470);
    // the last glyphs are dots on the baseline, well below the top of the Korean glyphs
    const auto text = ink_rows(*general, 80, 200, 20, 80);
    const auto tail = ink_rows(*general, right - 6, right + 1, 20, 80);
    EXPECT_GT(tail.first, text.first + (text.second - text.first) / 2) << text.first << " " << tail.first;

    auto roster = render({long_cell, "N\x1F주간\x1F" "0\x1F김민수", " "});
    ASSERT_TRUE(roster.ok()) << roster.error().message;
    EXPECT_TRUE(inked(*roster, 500, 20, 1000, 80));
}

TEST_F(TextTable, UnknownFamilyFallsBackAndSizeFailuresKeepTheirMessages) {
    std::vector<std::string_view> rows{"가나다 abc"};
    auto r = render_text_table(parse_cells(rows), 400, "No Such Family 7", style);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_TRUE(inked(*r, 80, 20, 320, 80));

    // an empty run (a roster entry without a label) has nothing to draw and is no failure
    EXPECT_TRUE(render({"N\x1F주간\x1F" "0\x1F", "P\x1F\x1E김"}).ok());

    EXPECT_EQ(render_text_table({}, 400, "x", style).error().message, "표시할 텍스트 항목이 없습니다.");
    EXPECT_EQ(render({"a"}, 160).error().message, "텍스트 박스를 표시하려면 PNG 너비가 padding_x*2보다 커야 합니다.");
    EXPECT_EQ(render({"a"}, 161)->width, 161);
    style.row_height = 0x7fffffff;
    EXPECT_EQ(render({"a"}).error().message, "텍스트 표가 너무 큽니다.");
}

std::filesystem::path sample(const char* name) { return unix_path(std::string(VELTRANE_SAMPLE_DIR) + "/" + name); }

TEST(SampleContent, RendersAllThreeLayers) {
    ASSERT_TRUE(std::filesystem::exists(nanum())) << "tools/setup.sh installs fonts-nanum";
    const ContentPaths paths{sample("Veltrane_Desktop.png"), sample("Veltrane_Desktop.txt"),
                             sample("Veltrane_Desktop.duty.txt"), nanum()};
    auto r = render_content_at(paths, render_text_table, DutyPeriod{day_number(2026, 12, 8), true});
    ASSERT_TRUE(r.ok()) << r.error().message;
    ASSERT_TRUE(r->text && r->duty);
    EXPECT_EQ(r->text->height, 8 * 32 + 2 * 14);
    EXPECT_EQ(r->duty->height, 44 + 2 * 12);
    EXPECT_EQ(r->total_height, 566 + 14 + r->text->height + 12 + r->duty->height);
    EXPECT_EQ(std::tuple(r->text_alpha, r->image_alpha, r->duty_alpha), std::tuple(235, 245, 240));
    // the whole block fits a 1920 x 1080 monitor with a margin above a task bar
    EXPECT_LE(r->image.width, 1920 - 2 * 100);
    EXPECT_LE(r->total_height, 1080 - 2 * 60);
    // each of the four duty columns holds a roster entry of the day
    for (std::int32_t c = 0; c < 4; ++c) EXPECT_LT(darkest(*r->duty, 40 + 400 * c, 12, 40 + 400 * (c + 1), 56), 100) << c;

    // a broken font file falls back to the system family without failing the pass
    ContentPaths broken = paths;
    broken.font = sample("Veltrane_Desktop.txt");
    EXPECT_TRUE(render_content_at(broken, render_text_table, DutyPeriod{day_number(2026, 12, 8), true}).ok());
}

}  // namespace
}  // namespace veltrane
#endif
