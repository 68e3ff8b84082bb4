#include <gtest/gtest.h>
#include <png.h>

#include "image/content_render.h"
#include "png_writer.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

using testing::ScratchDir;
using testing::write_raw;

// Stands in for GDI: one row of `height_per_cell` per cell, and records what it was asked.
struct FakeTables {
    std::int32_t height_per_cell = 10;
    std::vector<std::vector<TextCell>> cells;
    std::vector<std::string> families;
    std::vector<TextStyle> styles;

    RenderTable renderer() {
        return [this](const std::vector<TextCell>& c, std::int32_t width, const std::string& family,
                      const TextStyle& style) -> Result<TextLayer> {
            cells.push_back(c);
            families.push_back(family);
            styles.push_back(style);
            if (c.empty()) return make_error("표시할 텍스트 항목이 없습니다.");
            const std::int32_t h = height_per_cell * static_cast<std::int32_t>(c.size());
            return TextLayer{Bytes(static_cast<std::size_t>(width) * 4), width, h};
        };
    }
};

class RenderContent : public ::testing::Test {
protected:
    ScratchDir dir{"render_content"};
    ContentPaths paths{dir / "Veltrane_Desktop.png", dir / "Veltrane_Desktop.txt", dir / "Veltrane_Desktop.duty.txt",
                       dir / "Veltrane_Desktop.ttf"};
    FakeTables tables;
    DutyPeriod period{day_number(2026, 3, 2), true};

    void write_image(std::uint32_t width, std::uint32_t height) {
        testing::PngPicture picture;
        picture.width = width;
        picture.height = height;
        picture.color_type = PNG_COLOR_TYPE_GRAY;
        write_raw(paths.image, testing::encode_png(picture));
    }
    Result<RenderedContent> render() { return render_content_at(paths, tables.renderer(), period); }
};

TEST_F(RenderContent, ImageAloneKeepsTheDefaults) {
    write_image(200, 50);
    write_raw(paths.text, "\xEF\xBB\xBF  \n\n");  // a byte-order mark and blank lines are no file
    auto r = render();
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r->image.width, 200);
    EXPECT_FALSE(r->text);
    EXPECT_FALSE(r->duty);
    EXPECT_EQ(r->total_height, 50);
    EXPECT_EQ(std::tuple(r->text_gap, r->duty_gap, r->text_alpha, r->duty_alpha, r->image_alpha),
              std::tuple(10, 10, 230, 230, 230));
    EXPECT_TRUE(tables.cells.empty());

    write_raw(paths.duty, "당직\n---\nbox_gap=4\nbox_alpha=99\nimage_alpha=1\n");
    r = render();
    ASSERT_TRUE(r.ok());
    ASSERT_TRUE(r->duty);
    EXPECT_EQ(r->total_height, 50 + 4 + 10);  // the duty box sits right under the image
    EXPECT_EQ(std::tuple(r->duty_gap, r->duty_alpha, r->image_alpha), std::tuple(4, 99, 230));
}

TEST_F(RenderContent, BothBoxesTakeTheirStylesAndTheImageWidth) {
    write_image(300, 40);
    write_raw(paths.text, "A\nR\x1F" "b\n---\nbox_gap=7\nbox_alpha=200\nimage_alpha=100\ncolumns=2\n");
    write_raw(paths.duty, "x\ny\nz\n---\nbox_gap=3\n");
    write_raw(paths.font, "not a font");  // falls back without failing
    auto r = render();
    ASSERT_TRUE(r.ok()) << r.error().message;
    ASSERT_TRUE(r->text && r->duty);
    EXPECT_EQ(r->text->width, 300);
    EXPECT_EQ(r->duty->width, 300);
    EXPECT_EQ(r->total_height, 40 + 7 + 20 + 3 + 30);
    EXPECT_EQ(std::tuple(r->text_gap, r->text_alpha, r->image_alpha, r->duty_gap), std::tuple(7, 200, 100, 3));
    ASSERT_EQ(tables.families.size(), 2u);
    EXPECT_EQ(tables.families[0], "Malgun Gothic");
    EXPECT_EQ(tables.styles[0].columns, 2u);
    ASSERT_EQ(tables.cells[0].size(), 2u);
    EXPECT_TRUE(tables.cells[0][1].runs[0].small);
}

TEST_F(RenderContent, SchedulesAreReducedToTheDutyDay) {
    write_image(100, 10);
    // day 1 of the period is 2026-03-02; the first person is on duty, the second only tomorrow
    write_raw(paths.text, "H\x1F" "2026-03-01\x1F" "5\n"
                          "M\x1F" "a\x1E" "김\x1F" "01\x1F" "내과\n"
                          "M\x1F" "a\x1E" "이\x1F" "001\x1F" "외과\n---\n");
    write_raw(paths.duty, "H\x1F" "2026-03-01\x1F" "5\nD\x1F" "2026-03-02\x1F" "2\n주간\n야간\nD\x1F" "2026-03-03\n다음날\n");
    period.daytime = false;
    auto r = render();
    ASSERT_TRUE(r.ok()) << r.error().message;
    ASSERT_EQ(tables.cells.size(), 2u);
    const auto& roster = tables.cells[0];
    ASSERT_EQ(roster.size(), 2u);
    EXPECT_EQ(roster[0].runs.front().text, "김");
    EXPECT_FALSE(roster[0].runs.back().dim);
    EXPECT_TRUE(roster[1].runs.back().dim);
    ASSERT_EQ(tables.cells[1].size(), 2u);
    EXPECT_EQ(tables.cells[1][1].runs[0].text, "야간");
    EXPECT_EQ(tables.styles[1].columns, 2u);
}

TEST_F(RenderContent, FailuresOfTheMainTextFailThePassButDutyFailuresAreDropped) {
    write_raw(paths.text, "A\n");
    EXPECT_FALSE(render().ok());  // no image
    write_image(160, 10);
    write_raw(paths.text, "---\nfont_size=9\n");
    auto r = render();
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "표시할 텍스트 항목이 없습니다.");

    std::filesystem::remove(paths.text);
    write_raw(paths.duty, "---\ncolumns=2\n");  // no rows: no duty box, no call
    r = render();
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r->duty);
    EXPECT_FALSE(r->duty_error);
    EXPECT_TRUE(tables.cells.size() == 1);

    write_raw(paths.duty, "\xFF\xFE not UTF-8\n");
    r = render();
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r->duty);
    ASSERT_TRUE(r->duty_error);
    EXPECT_EQ(r->duty_error->rfind("당직 박스를 표시하지 못했습니다: 텍스트 파일이 너무 크거나 UTF-8이 아닙니다:", 0), 0u);

    write_raw(paths.text, "\xFF\xFE not UTF-8\n");
    r = render();
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message.rfind("텍스트 파일이 너무 크거나 UTF-8이 아닙니다:", 0), 0u);
}

TEST_F(RenderContent, ABadRosterCostsOnlyTheDutyBoxAndSaysWhy) {
    write_image(200, 50);
    write_raw(paths.text, "A\n");
    write_raw(paths.duty, "김\n---\nbox_gap=2147483647\n");
    auto r = render();
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_TRUE(r->text);
    EXPECT_FALSE(r->duty);
    EXPECT_EQ(r->total_height, 50 + 10 + 10);
    EXPECT_EQ(r->duty_error,
              "당직 박스를 표시하지 못했습니다: box_gap 값이 너무 큽니다(2147483647). "
              "간격과 여백은 모니터보다 클 수 없습니다(최대 16384).");

    // Off any monitor is refused; a monitor's worth is not.
    write_raw(paths.duty, "김\n---\npadding_y=100000\n");
    r = render();
    ASSERT_TRUE(r.ok());
    EXPECT_NE(r->duty_error->find("padding_y"), std::string::npos);
    write_raw(paths.duty, "김\n---\nbox_gap=16384\n");
    r = render();
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->duty);
    EXPECT_FALSE(r->duty_error);

    // The chart's own text still fails the pass.
    write_raw(paths.text, "A\n---\npadding_x=+20000\n");
    r = render();
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message.rfind("padding_x 값이 너무 큽니다(+20000).", 0), 0u);
}

TEST(StackedHeight, OverflowsFailWithTheBoxThatOverflowed) {
    RenderedContent c;
    c.image.height = 0x7fffff00;
    EXPECT_EQ(*stacked_height(c), 0x7fffff00);
    c.text = TextLayer{{}, 1, 0xf0};
    c.text_gap = 0xf;
    EXPECT_EQ(*stacked_height(c), 0x7fffffff);
    c.text_gap = 0x10;
    EXPECT_EQ(stacked_height(c).error().message, "이미지와 텍스트의 전체 높이가 너무 큽니다.");
    c.text_gap = 0x7fffffff;  // the gap alone overflows
    EXPECT_EQ(stacked_height(c).error().message, "이미지와 텍스트의 전체 높이가 너무 큽니다.");
    c.text.reset();
    c.duty = TextLayer{{}, 1, 0x100};
    EXPECT_EQ(stacked_height(c).error().message, "이미지와 당직 박스의 전체 높이가 너무 큽니다.");
    c.duty->height = 0xf0;
    c.duty_gap = 0;
    EXPECT_EQ(*stacked_height(c), 0x7ffffff0);
}

}  // namespace
}  // namespace veltrane
