#include <gtest/gtest.h>

#include "compose.h"

namespace veltrane::preview {
namespace {

TextLayer solid(std::int32_t w, std::int32_t h, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
    TextLayer l{Bytes(static_cast<std::size_t>(w) * h * 4), w, h};
    for (std::size_t i = 0; i < l.pixels.size(); i += 4) {
        l.pixels[i] = b;
        l.pixels[i + 1] = g;
        l.pixels[i + 2] = r;
        l.pixels[i + 3] = a;
    }
    return l;
}

std::vector<std::uint8_t> at(const Canvas& c, std::int32_t x, std::int32_t y) {
    const auto* p = &c.rgb[(static_cast<std::size_t>(y) * c.width + x) * 3];
    return {p[0], p[1], p[2]};
}

TEST(Compose, BlendsPremultipliedLayersWithTheirOpacity) {
    Canvas c = make_canvas(4, 2, 0x204060);
    EXPECT_EQ(at(c, 3, 1), (std::vector<std::uint8_t>{0x20, 0x40, 0x60}));
    blend(c, solid(2, 1, 0, 0, 255, 255), 0, 0, 255);  // opaque red
    EXPECT_EQ(at(c, 0, 0), (std::vector<std::uint8_t>{255, 0, 0}));
    blend(c, solid(1, 1, 0, 0, 0, 0), 1, 0, 255);  // fully transparent: no change
    EXPECT_EQ(at(c, 1, 0), (std::vector<std::uint8_t>{255, 0, 0}));
    blend(c, solid(1, 1, 0, 0, 0, 255), 1, 0, 128);  // half-opaque black over red
    EXPECT_EQ(at(c, 1, 0), (std::vector<std::uint8_t>{127, 0, 0}));
    blend(c, solid(3, 3, 255, 255, 255, 255), 3, -1, 255);  // cut at the canvas edges
    EXPECT_EQ(at(c, 3, 0), (std::vector<std::uint8_t>{255, 255, 255}));
    EXPECT_EQ(at(c, 2, 1), (std::vector<std::uint8_t>{0x20, 0x40, 0x60}));
}

TEST(Compose, StacksDutyImageAndTextWithTheirGaps) {
    RenderedContent content;
    content.image = solid(2, 2, 0, 255, 0, 255);
    content.duty = solid(2, 1, 0, 0, 255, 255);
    content.text = solid(2, 1, 255, 0, 0, 255);
    content.duty_gap = 1;
    content.text_gap = 2;
    content.image_alpha = content.duty_alpha = content.text_alpha = 255;
    content.total_height = 1 + 1 + 2 + 2 + 1;
    Canvas c = make_canvas(2, 7, 0);
    compose_block(c, content);
    const std::vector<std::vector<std::uint8_t>> column{
        {255, 0, 0}, {0, 0, 0}, {0, 255, 0}, {0, 255, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 255}};
    for (std::int32_t y = 0; y < 7; ++y) EXPECT_EQ(at(c, 1, y), column[y]) << y;
}

TEST(Compose, Options) {
    EXPECT_EQ(parse_rgb("#2b3A4a"), 0x2B3A4Au);
    EXPECT_FALSE(parse_rgb("2B3A4"));
    EXPECT_FALSE(parse_rgb("-B3A4A"));
    EXPECT_FALSE(parse_rgb("2B3A4G"));
    EXPECT_EQ(parse_size("1920x1080"), (std::pair{1920, 1080}));
    EXPECT_FALSE(parse_size("0x10"));
    EXPECT_FALSE(parse_size("16385x10"));
    EXPECT_FALSE(parse_size("10x"));
    EXPECT_FALSE(parse_size("10 x10"));
}

}  // namespace
}  // namespace veltrane::preview

TEST(Compose, BlockSizeReportNamesTheMonitorsThatWouldCutTheBlock) {
    EXPECT_EQ(veltrane::preview::block_size_report(1366, 768), "표시 블록 크기: 1366×768 픽셀\n");
    EXPECT_EQ(veltrane::preview::block_size_report(1200, 1100),
              "표시 블록 크기: 1200×1100 픽셀\n경고: 다음 모니터 크기에서는 블록이 잘립니다: 1366×768, 1920×1080\n");
}
