// The chart picture as a layer: PNG files decoded with libpng under a memory limit into
// premultiplied BGRA (blue, green, red, alpha; top-down rows, stride width * 4, colours
// premultiplied by alpha), with rounded corners. The same pixel format and corner rounding
// serve the text and duty boxes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "file_util/file_util.h"
#include "file_util/result.h"

namespace veltrane {

inline constexpr std::uint64_t kPngDecoderMemoryLimit = 134217728;
inline constexpr std::uint64_t kPngMaxPixels = 33554432;

// A premultiplied BGRA bitmap; pixels holds exactly width * height * 4 bytes, both sides >= 1.
struct TextLayer {
    Bytes pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

Result<TextLayer> load_png_bgra(const std::filesystem::path& path);

struct PngSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The picture's size when downloaded bytes decode completely, first frame, under the decoder's
// memory limit, with a decoded size of at most that limit and within the renderer's pixel
// cap: the check before content is published.
std::optional<PngSize> png_decoded_size(std::span<const std::uint8_t> bytes);
bool png_decodes(std::span<const std::uint8_t> bytes);

// Fades the four corners with a radius of min(width / 2, height / 2, 16) using 16 coverage
// samples per pixel. Does nothing when the span is smaller than width * height * 4.
void round_corners(std::span<std::uint8_t> pixels, std::int32_t width, std::int32_t height);

}  // namespace veltrane
