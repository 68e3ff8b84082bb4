#include "image/content_block.h"

#include <algorithm>

namespace veltrane {
namespace {

constexpr std::int64_t kUsualGap = TextStyle{}.box_gap;

std::int64_t usual(std::int64_t gap) { return std::min(gap, kUsualGap); }

std::int64_t block_height(const BlockStack& block, std::int64_t text_gap, std::optional<std::int64_t> duty_gap) {
    std::int64_t height = block.image_height;
    if (block.text) height += text_gap + block.text->height;
    if (block.duty && duty_gap) height += *duty_gap + block.duty->height;
    return height;
}

bool pushes_off(std::int64_t height, std::int64_t gap, std::int64_t monitor_height) {
    return height > monitor_height && height - gap + usual(gap) <= monitor_height;
}

void add_height(std::vector<std::int32_t>& heights, std::int32_t height) {
    const auto at = std::lower_bound(heights.begin(), heights.end(), height);
    if (at == heights.end() || *at != height) heights.insert(at, height);
}

}  // namespace

BlockStack block_stack(const RenderedContent& content) {
    BlockStack block{content.image.width, content.image.height, std::nullopt, std::nullopt};
    if (content.text) block.text = StackedBox{content.text_gap, content.text->height};
    if (content.duty) block.duty = StackedBox{content.duty_gap, content.duty->height};
    return block;
}

BlockPlacement place_block(const BlockStack& block, std::int32_t monitor_width, std::int32_t monitor_height) {
    BlockPlacement place;
    const std::int64_t text_gap = block.text ? block.text->gap : 0;
    std::optional<std::int64_t> duty_gap;
    if (block.duty) {
        const std::int64_t alone = block_height(block, usual(text_gap), block.duty->gap);
        place.duty_gap_too_large = pushes_off(alone, block.duty->gap, monitor_height);
        if (!place.duty_gap_too_large) duty_gap = block.duty->gap;
    }
    const std::int64_t height = block_height(block, text_gap, duty_gap);
    place.text_gap_too_large = block.text && pushes_off(height, text_gap, monitor_height);
    // Truncating toward zero, as the block has always been centred.
    place.left = (std::int64_t{monitor_width} - block.width) / 2;
    std::int64_t y = (std::int64_t{monitor_height} - height) / 2;
    if (duty_gap) {
        place.duty_top = y;
        y += block.duty->height + *duty_gap;
    }
    place.image_top = y;
    if (block.text) place.text_top = y + block.image_height + text_gap;
    return place;
}

GapOverflow gap_overflow(const BlockStack& block, std::span<const std::int32_t> monitor_heights) {
    GapOverflow over;
    for (std::int32_t height : monitor_heights) {
        const BlockPlacement place = place_block(block, block.width, height);
        if (place.duty_gap_too_large) add_height(over.duty, height);
        if (place.text_gap_too_large) add_height(over.text, height);
    }
    return over;
}

std::string gap_overflow_reason(std::int32_t gap, const std::vector<std::int32_t>& heights) {
    std::string list;
    for (std::int32_t h : heights) list += (list.empty() ? "" : ", ") + std::to_string(h);
    return "box_gap 값이 너무 큽니다(" + std::to_string(gap) + "). 이 간격 때문에 표시 블록이 높이 " + list +
           "픽셀인 모니터를 벗어납니다.";
}

std::optional<std::string> gap_overflow_message(const BlockStack& block,
                                                std::span<const std::int32_t> monitor_heights) {
    const GapOverflow over = gap_overflow(block, monitor_heights);
    std::optional<std::string> message;
    if (!over.duty.empty()) message = kDutyBoxDropped + gap_overflow_reason(block.duty->gap, over.duty);
    if (!over.text.empty()) {
        message = (message ? *message + "\n" : std::string()) + "항생제표 텍스트의 " +
                  gap_overflow_reason(block.text->gap, over.text);
    }
    return message;
}

}  // namespace veltrane
