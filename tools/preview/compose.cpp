#include "compose.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "image/content_block.h"

namespace veltrane::preview {
namespace {

constexpr std::int32_t kMaxSide = 16384;

struct MonitorSize {
    std::int32_t width;
    std::int32_t height;
};
constexpr MonitorSize kCommonMonitors[] = {{1366, 768}, {1920, 1080}, {2560, 1440}, {3840, 2160}};

std::uint8_t mix(std::uint32_t src, std::uint32_t dst, std::uint32_t src_alpha, std::uint32_t alpha) {
    const std::uint32_t s = (src * alpha + 127) / 255;
    const std::uint32_t coverage = (src_alpha * alpha + 127) / 255;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, s + (dst * (255 - coverage) + 127) / 255));
}

// blend cuts what lies off the canvas, so a clamped position still misses it.
std::int32_t at(std::int64_t v) {
    using Limits = std::numeric_limits<std::int32_t>;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, Limits::min(), Limits::max()));
}

std::optional<std::int32_t> parse_side(std::string_view text) {
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < 1 || v > kMaxSide) return std::nullopt;
    return v;
}

}  // namespace

Canvas make_canvas(std::int32_t width, std::int32_t height, std::uint32_t rgb_color) {
    Canvas c{width, height, {}};
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    c.rgb.resize(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i) {
        c.rgb[i * 3] = static_cast<std::uint8_t>(rgb_color >> 16);
        c.rgb[i * 3 + 1] = static_cast<std::uint8_t>(rgb_color >> 8);
        c.rgb[i * 3 + 2] = static_cast<std::uint8_t>(rgb_color);
    }
    return c;
}

void blend(Canvas& canvas, const TextLayer& layer, std::int32_t x, std::int32_t y, std::uint8_t alpha) {
    const std::int64_t x0 = std::max<std::int64_t>(0, x), y0 = std::max<std::int64_t>(0, y);
    const std::int64_t x1 = std::min<std::int64_t>(canvas.width, std::int64_t{x} + layer.width);
    const std::int64_t y1 = std::min<std::int64_t>(canvas.height, std::int64_t{y} + layer.height);
    for (std::int64_t cy = y0; cy < y1; ++cy) {
        for (std::int64_t cx = x0; cx < x1; ++cx) {
            const std::uint8_t* s = &layer.pixels[static_cast<std::size_t>(((cy - y) * layer.width + (cx - x)) * 4)];
            std::uint8_t* d = &canvas.rgb[static_cast<std::size_t>((cy * canvas.width + cx) * 3)];
            d[0] = mix(s[2], d[0], s[3], alpha);
            d[1] = mix(s[1], d[1], s[3], alpha);
            d[2] = mix(s[0], d[2], s[3], alpha);
        }
    }
}

void compose_block(Canvas& canvas, const RenderedContent& content) {
    const BlockPlacement place = place_block(block_stack(content), canvas.width, canvas.height);
    const std::int32_t x = at(place.left);
    if (content.duty && place.duty_top) blend(canvas, *content.duty, x, at(*place.duty_top), content.duty_alpha);
    blend(canvas, content.image, x, at(place.image_top), content.image_alpha);
    if (content.text && place.text_top) blend(canvas, *content.text, x, at(*place.text_top), content.text_alpha);
}

std::optional<std::uint32_t> parse_rgb(std::string_view text) {
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    std::uint32_t v = 0;
    if (text.size() != 6) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + 6, v, 16);
    if (ec != std::errc() || end != text.data() + 6) return std::nullopt;
    return v;
}

std::optional<std::pair<std::int32_t, std::int32_t>> parse_size(std::string_view text) {
    const auto x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    const auto w = parse_side(text.substr(0, x));
    const auto h = parse_side(text.substr(x + 1));
    if (!w || !h) return std::nullopt;
    return std::pair{*w, *h};
}

std::string block_size_report(std::int32_t width, std::int32_t height) {
    std::string report = "표시 블록 크기: " + std::to_string(width) + "×" + std::to_string(height) + " 픽셀\n";
    std::string cut;
    for (const auto& m : kCommonMonitors) {
        if (width <= m.width && height <= m.height) continue;
        if (!cut.empty()) cut += ", ";
        cut += std::to_string(m.width) + "×" + std::to_string(m.height);
    }
    if (!cut.empty()) report += "경고: 다음 모니터 크기에서는 블록이 잘립니다: " + cut + "\n";
    return report;
}

}  // namespace veltrane::preview
