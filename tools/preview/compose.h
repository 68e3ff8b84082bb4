// The stacked block as a monitor shows it, for previews: duty box, gap, image, gap, text box,
// each blended with its opacity over a background colour, written into an RGB picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/content_render.h"

namespace veltrane::preview {

struct Canvas {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3, top-down
};

Canvas make_canvas(std::int32_t width, std::int32_t height, std::uint32_t rgb_color);

// Blends one premultiplied BGRA layer at (x, y) with an extra opacity; parts outside are cut.
void blend(Canvas& canvas, const TextLayer& layer, std::int32_t x, std::int32_t y, std::uint8_t alpha);

// The block centred on the canvas, as a monitor of the canvas's size shows it.
void compose_block(Canvas& canvas, const RenderedContent& content);

// "RRGGBB" (an optional "#") as 0xRRGGBB; "WIDTHxHEIGHT" with both sides 1 to 16384.
std::optional<std::uint32_t> parse_rgb(std::string_view text);
std::optional<std::pair<std::int32_t, std::int32_t>> parse_size(std::string_view text);

// The size report of a stacked block, with a warning naming the common monitor sizes
// (1366×768 to 3840×2160) on which the block would be cut; shared by the preview and the
// publishing tool so authors see the same words in both.
std::string block_size_report(std::int32_t width, std::int32_t height);

}  // namespace veltrane::preview
