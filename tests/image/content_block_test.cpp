#include <gtest/gtest.h>

#include "image/content_block.h"

namespace veltrane {
namespace {

// Image 400 × 300, text box 100 and duty box 80 high, both at the usual gap.
BlockStack usual_block() { return {400, 300, StackedBox{10, 100}, StackedBox{10, 80}}; }

TEST(ContentBlock, CentresTheStackAndCutsABlockThatIsTooTallAnyway) {
    BlockPlacement p = place_block(usual_block(), 1920, 1080);
    EXPECT_EQ(p.left, 760);
    EXPECT_EQ(p.duty_top, 290);
    EXPECT_EQ(p.image_top, 290 + 80 + 10);
    EXPECT_EQ(p.text_top, 380 + 300 + 10);
    EXPECT_FALSE(p.duty_gap_too_large || p.text_gap_too_large);

    // Offsets truncate toward zero; a chart taller than the monitor keeps its duty box even
    // with a large gap, as no gap is what makes it outgrow the monitor.
    BlockStack tall{401, 1100, std::nullopt, StackedBox{5000, 80}};
    p = place_block(tall, 1920, 1080);
    EXPECT_EQ(p.left, 759);
    EXPECT_EQ(p.duty_top, (1080 - 6180) / 2);
    EXPECT_FALSE(p.duty_gap_too_large);
    tall = {401, 1301, std::nullopt, std::nullopt};
    EXPECT_EQ(place_block(tall, 1920, 1080).image_top, -110);
}

TEST(ContentBlock, AGapThatAlonePushesTheBlockOffCostsTheDutyBoxOrIsNamed) {
    BlockStack block = usual_block();
    block.duty->gap = 590;  // 300 + 10 + 100 + 590 + 80 = 1080, then one pixel more
    EXPECT_FALSE(place_block(block, 1920, 1080).duty_gap_too_large);
    block.duty->gap = 591;
    BlockPlacement p = place_block(block, 1920, 1080);
    EXPECT_TRUE(p.duty_gap_too_large);
    EXPECT_FALSE(p.duty_top);
    EXPECT_EQ(p.image_top, (1080 - 410) / 2);  // centred without the duty box
    EXPECT_EQ(p.text_top, p.image_top + 310);
    EXPECT_TRUE(place_block(block, 1920, 1081).duty_top);

    // The text box's gap is named; the duty box stays, and the chart is not left off.
    block = usual_block();
    block.text->gap = 5000;
    p = place_block(block, 1920, 1080);
    EXPECT_TRUE(p.text_gap_too_large);
    EXPECT_FALSE(p.duty_gap_too_large);
    EXPECT_EQ(p.duty_top, (1080 - 5490) / 2);

    // Both: each is judged with the other at the usual gap.
    block.duty->gap = 5000;
    p = place_block(block, 1920, 1080);
    EXPECT_TRUE(p.duty_gap_too_large && p.text_gap_too_large);
    EXPECT_FALSE(p.duty_top);
}

TEST(ContentBlock, TheRecordNamesTheKeyAndTheMonitorHeights) {
    BlockStack block = usual_block();
    block.duty->gap = 1500;  // 1990 high
    const std::int32_t heights[] = {2160, 1440, 1080, 1440};
    const GapOverflow over = gap_overflow(block, heights);
    EXPECT_EQ(over.duty, (std::vector<std::int32_t>{1080, 1440}));
    EXPECT_TRUE(over.text.empty());
    EXPECT_EQ(gap_overflow_message(block, heights),
              "당직 박스를 표시하지 못했습니다: box_gap 값이 너무 큽니다(1500). "
              "이 간격 때문에 표시 블록이 높이 1080, 1440픽셀인 모니터를 벗어납니다.");
    block.text->gap = 1000;
    EXPECT_EQ(gap_overflow_message(block, std::vector<std::int32_t>{1080}),
              "당직 박스를 표시하지 못했습니다: box_gap 값이 너무 큽니다(1500). "
              "이 간격 때문에 표시 블록이 높이 1080픽셀인 모니터를 벗어납니다.\n"
              "항생제표 텍스트의 box_gap 값이 너무 큽니다(1000). "
              "이 간격 때문에 표시 블록이 높이 1080픽셀인 모니터를 벗어납니다.");
    EXPECT_FALSE(gap_overflow_message(block, std::vector<std::int32_t>{4000}));
    EXPECT_FALSE(gap_overflow_message(block, {}));
}

}  // namespace
}  // namespace veltrane
