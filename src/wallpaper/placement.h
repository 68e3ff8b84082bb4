// Where pictures go on a monitor's bitmap: the six wallpaper positions for a wallpaper file
// and the layer opacity (image/content_block.h places the content block). Pure arithmetic,
// so every case is tested on the host; the GDI+ side only draws what this decides.
#pragma once

#include <cstdint>
#include <optional>

#include "file_util/result.h"
#include "image/png_image.h"
#include "settings/monitors.h"

namespace veltrane {

struct PixelRect {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// One destination, or a grid of tiles: columns × rows copies of `first`, stepping by its
// size. A grid, not a list, so a tiny tile on a huge monitor costs no memory.
struct WallpaperPlacement {
    PixelRect first;
    std::int64_t columns = 1;
    std::int64_t rows = 1;
    friend bool operator==(const WallpaperPlacement&, const WallpaperPlacement&) = default;
};

// Placement of an iw × ih image with the given position value on monitor M, in monitor
// coordinates; V is the virtual bounds. Nothing to draw when iw or ih is 0 (or for a tile
// grid that covers nothing).
std::optional<WallpaperPlacement> place_wallpaper(std::uint32_t iw, std::uint32_t ih, std::int32_t position,
                                                  const MonitorRect& m, const MonitorRect& v);

// A layer with an opacity applied: the layer itself at 255, else an owned copy.
class AlphaLayer {
public:
    const TextLayer& layer() const { return copy_.pixels.empty() ? *source_ : copy_; }

private:
    friend Result<AlphaLayer> apply_alpha(const TextLayer& layer, std::uint8_t alpha);
    const TextLayer* source_ = nullptr;
    TextLayer copy_;  // no pixels: the source is used as it is
};

// Every byte becomes (byte × alpha + 127) / 255; the source must outlive the result.
// Fails with the system's text when the copy cannot be allocated.
Result<AlphaLayer> apply_alpha(const TextLayer& layer, std::uint8_t alpha);

// Win32 colour reference (0x00BBGGRR) to opaque GDI+ ARGB.
std::uint32_t opaque_argb(std::uint32_t colorref);

}  // namespace veltrane
