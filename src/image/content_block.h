// The stacked block on one monitor: duty box, gap, image, gap, text box, centred. A gap that
// alone pushes the block off a monitor is judged here, so the wallpaper, the overlays, the
// preview, the service's last-error record and the publisher agree: the duty box is left off
// that monitor, as for a roster that cannot be shown, and the chart always stays.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/content_render.h"

namespace veltrane {

struct StackedBox {
    std::int32_t gap = 0;
    std::int32_t height = 0;
};

// The block's sizes alone; they outlive the pixels.
struct BlockStack {
    std::int32_t width = 0;
    std::int32_t image_height = 0;
    std::optional<StackedBox> text;
    std::optional<StackedBox> duty;
};

BlockStack block_stack(const RenderedContent& content);

// Positions relative to the monitor's top-left corner.
struct BlockPlacement {
    std::int64_t left = 0;
    std::optional<std::int64_t> duty_top;  // none: no duty box, or left off this monitor
    std::int64_t image_top = 0;
    std::optional<std::int64_t> text_top;
    bool duty_gap_too_large = false;
    bool text_gap_too_large = false;
};

// A gap is too large when the block outgrows the monitor with it but would fit with the
// usual gap in its place. The duty gap is judged with the text gap at most the usual one, the
// text gap with whatever duty box stays. A block that is too tall anyway is centred and cut.
BlockPlacement place_block(const BlockStack& block, std::int32_t monitor_width, std::int32_t monitor_height);

// The monitor heights, ascending and without repeats, on which each gap is too large.
struct GapOverflow {
    std::vector<std::int32_t> duty;
    std::vector<std::int32_t> text;
};
GapOverflow gap_overflow(const BlockStack& block, std::span<const std::int32_t> monitor_heights);

// Why a gap is too large, naming the key, its value and the monitor heights.
std::string gap_overflow_reason(std::int32_t gap, const std::vector<std::int32_t>& heights);

// The last-error record's words for the gaps that are too large on these monitors.
std::optional<std::string> gap_overflow_message(const BlockStack& block,
                                                std::span<const std::int32_t> monitor_heights);

}  // namespace veltrane
