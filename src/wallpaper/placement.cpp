#include "wallpaper/placement.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

#include "file_util/file_util.h"
#include "wallpaper/desktop_wallpaper.h"

namespace veltrane {

namespace {

constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();

std::int32_t clamp32(std::int64_t v) { return static_cast<std::int32_t>(std::clamp(v, kMin32, kMax32)); }

// Halves away from zero; the clamp comes before the conversion so no double is out of range.
std::int64_t round_clamped(double v) {
    const double r = std::round(v);
    if (!(r >= static_cast<double>(kMin32))) return kMin32;
    if (r >= static_cast<double>(kMax32)) return kMax32;
    return static_cast<std::int64_t>(r);
}

std::int64_t width_of(const MonitorRect& r) { return std::int64_t{r.right} - r.left; }
std::int64_t height_of(const MonitorRect& r) { return std::int64_t{r.bottom} - r.top; }

struct Size {
    std::int64_t width, height;
};

Size scaled(std::uint32_t iw, std::uint32_t ih, double scale) {
    return {round_clamped(static_cast<double>(iw) * scale), round_clamped(static_cast<double>(ih) * scale)};
}

// The size centred in an area whose top-left corner is at (left, top).
PixelRect centred(Size size, std::int64_t left, std::int64_t top, std::int64_t area_w, std::int64_t area_h) {
    return {clamp32(left + (area_w - size.width) / 2), clamp32(top + (area_h - size.height) / 2),
            clamp32(size.width), clamp32(size.height)};
}

double ratio(std::int64_t available, std::uint32_t natural) {
    return static_cast<double>(available) / static_cast<double>(natural);
}

// Mathematical modulo, so the first tile starts at or left of the monitor's edge.
std::int64_t tile_start(std::int32_t edge, std::uint32_t step) {
    const std::int64_t s = step;
    return -(((edge % s) + s) % s);
}

// Tiles from `start` until `extent` is covered; none for an empty extent.
std::int64_t tile_count(std::int64_t start, std::int64_t extent, std::uint32_t step) {
    if (extent <= 0) return 0;
    const std::int64_t s = step;
    return (extent - start + s - 1) / s;
}

std::optional<WallpaperPlacement> tiled(std::uint32_t iw, std::uint32_t ih, const MonitorRect& m) {
    const std::int64_t x = tile_start(m.left, iw);
    const std::int64_t y = tile_start(m.top, ih);
    const std::int64_t columns = tile_count(x, width_of(m), iw);
    const std::int64_t rows = tile_count(y, height_of(m), ih);
    if (columns == 0 || rows == 0) return std::nullopt;
    return WallpaperPlacement{{clamp32(x), clamp32(y), clamp32(iw), clamp32(ih)}, columns, rows};
}

}  // namespace

std::optional<WallpaperPlacement> place_wallpaper(std::uint32_t iw, std::uint32_t ih, std::int32_t position,
                                                  const MonitorRect& m, const MonitorRect& v) {
    if (iw == 0 || ih == 0) return std::nullopt;
    const std::int64_t mw = width_of(m), mh = height_of(m);
    switch (position) {
    case kPositionStretch:
        return WallpaperPlacement{{0, 0, clamp32(mw), clamp32(mh)}};
    case kPositionFit:
        return WallpaperPlacement{centred(scaled(iw, ih, std::min(ratio(mw, iw), ratio(mh, ih))), 0, 0, mw, mh)};
    case kPositionFill:
        return WallpaperPlacement{centred(scaled(iw, ih, std::max(ratio(mw, iw), ratio(mh, ih))), 0, 0, mw, mh)};
    case kPositionSpan: {
        const std::int64_t vw = width_of(v), vh = height_of(v);
        const Size size = scaled(iw, ih, std::max(ratio(vw, iw), ratio(vh, ih)));
        return WallpaperPlacement{
            centred(size, std::int64_t{v.left} - m.left, std::int64_t{v.top} - m.top, vw, vh)};
    }
    case kPositionTile:
        return tiled(iw, ih, m);
    default:
        return WallpaperPlacement{centred({iw, ih}, 0, 0, mw, mh)};
    }
}

Result<AlphaLayer> apply_alpha(const TextLayer& layer, std::uint8_t alpha) {
    AlphaLayer result;
    result.source_ = &layer;
    if (alpha == 255) return result;
    try {
        TextLayer copy{Bytes(layer.pixels.size()), layer.width, layer.height};
        std::transform(layer.pixels.begin(), layer.pixels.end(), copy.pixels.begin(), [alpha](std::uint8_t b) {
            return static_cast<std::uint8_t>((unsigned{b} * alpha + 127) / 255);
        });
        result.copy_ = std::move(copy);
    } catch (const std::bad_alloc&) {
        return file_system_error(std::make_error_code(std::errc::not_enough_memory));
    }
    return result;
}

std::uint32_t opaque_argb(std::uint32_t colorref) {
    const std::uint32_t red = colorref & 0xFF;
    const std::uint32_t green = (colorref >> 8) & 0xFF;
    const std::uint32_t blue = (colorref >> 16) & 0xFF;
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}

}  // namespace veltrane
