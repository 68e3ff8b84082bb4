#include "image/png_image.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "file_util/text.h"
#include "image/binary_file.h"
#include "image/png_decoder.h"

namespace veltrane {
namespace {

constexpr std::uint32_t kMaxSide = 0x7fffffff;

std::uint8_t premultiply(std::uint32_t v, std::uint32_t a) { return static_cast<std::uint8_t>((v * a + 127) / 255); }

// In place and back to front: the 4-byte output of pixel k never lands on source bytes of
// a pixel not yet read, because k * 4 >= k * bytes_per_pixel.
template <int BytesPerPixel>
void convert_pixels(std::uint8_t* p, std::size_t pixels) {
    for (std::size_t k = pixels; k-- > 0;) {
        const std::uint8_t* s = p + k * BytesPerPixel;
        std::uint32_t r, g, b, a;
        if constexpr (BytesPerPixel <= 2) r = g = b = s[0];
        else r = s[0], g = s[1], b = s[2];
        if constexpr (BytesPerPixel == 2) a = s[1];
        else if constexpr (BytesPerPixel == 4) a = s[3];
        else a = 255;
        std::uint8_t* d = p + k * 4;
        d[0] = premultiply(b, a);
        d[1] = premultiply(g, a);
        d[2] = premultiply(r, a);
        d[3] = static_cast<std::uint8_t>(a);
    }
}

void to_premultiplied_bgra(std::uint8_t* p, std::size_t pixels, int bytes_per_pixel) {
    switch (bytes_per_pixel) {
        case 1: return convert_pixels<1>(p, pixels);
        case 2: return convert_pixels<2>(p, pixels);
        case 3: return convert_pixels<3>(p, pixels);
        default: return convert_pixels<4>(p, pixels);
    }
}

int source_bytes_per_pixel(int color_type) {
    switch (color_type) {
        case PNG_COLOR_TYPE_GRAY: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 0;
    }
}

// Zero-filled; an allocation failure is an answer, not an abort.
std::optional<Bytes> allocate_pixels(std::size_t size) {
    try {
        return Bytes(size);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

float corner_coverage(int i, int j, float centre, float limit) {
    int count = 0;
    for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
            const float x = static_cast<float>(j) + (static_cast<float>(sx) + 0.5f) * 0.25f;
            const float y = static_cast<float>(i) + (static_cast<float>(sy) + 0.5f) * 0.25f;
            if ((x - centre) * (x - centre) + (y - centre) * (y - centre) <= limit) ++count;
        }
    }
    return static_cast<float>(count) * 0.0625f;
}

void scale_pixel(std::uint8_t* pixel, float coverage) {
    for (int c = 0; c < 4; ++c) {
        const float v = std::round(static_cast<float>(pixel[c]) * coverage);
        pixel[c] = static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f));
    }
}

}  // namespace

Result<TextLayer> load_png_bgra(const std::filesystem::path& path) {
    auto file = detail::open_binary_file(path);
    if (!file) return make_error("PNG 파일을 열 수 없습니다:\n" + path_to_utf8(path) + "\n\n" + file.error().message);
    detail::PngDecoder decoder(file->get(), kPngDecoderMemoryLimit);
    detail::PngHeader header;
    if (!decoder.read_header(&header)) return make_error(std::string("PNG 헤더가 올바르지 않습니다: ") + decoder.message());
    if (header.width == 0 || header.height == 0 || header.width > kMaxSide || header.height > kMaxSide)
        return make_error("지원하지 않는 PNG 크기입니다.");
    const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
    // Checked in this order, the frame size below cannot overflow: row_bytes < 2^35, height <= 2^25.
    if (pixels > kPngMaxPixels || std::uint64_t{header.row_bytes} * header.height > pixels * 4)
        return make_error("PNG를 디코딩할 메모리 제한을 초과했습니다.");
    const int bytes_per_pixel = source_bytes_per_pixel(header.color_type);
    if (header.color_type == PNG_COLOR_TYPE_PALETTE) return make_error("내부 오류: indexed PNG가 확장되지 않았습니다.");
    // A layout this code does not know would be misread, not decoded.
    if (bytes_per_pixel == 0 || std::uint64_t{header.row_bytes} * header.height != pixels * bytes_per_pixel)
        return make_error("PNG 픽셀 데이터 크기가 올바르지 않습니다.");
    auto buffer = allocate_pixels(static_cast<std::size_t>(pixels * 4));
    if (!buffer) return make_error("PNG를 표시할 메모리가 부족합니다.");
    if (!decoder.read_rows(buffer->data(), &header))
        return make_error(std::string("PNG 디코딩에 실패했습니다: ") + decoder.message());
    to_premultiplied_bgra(buffer->data(), static_cast<std::size_t>(pixels), bytes_per_pixel);
    const auto width = static_cast<std::int32_t>(header.width), height = static_cast<std::int32_t>(header.height);
    round_corners(*buffer, width, height);
    return TextLayer{std::move(*buffer), width, height};
}

void round_corners(std::span<std::uint8_t> pixels, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return;
    if (pixels.size() / 4 / static_cast<std::size_t>(width) < static_cast<std::size_t>(height)) return;
    const int radius = std::min({width / 2, height / 2, 16});
    if (radius <= 0) return;
    const float centre = static_cast<float>(radius) - 0.5f;
    const float limit = static_cast<float>(radius * radius);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    auto at = [&](std::int32_t x, std::int32_t y) {
        return pixels.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4;
    };
    for (int i = 0; i < radius; ++i) {
        for (int j = 0; j < radius; ++j) {
            const float coverage = corner_coverage(i, j, centre, limit);
            if (coverage >= 1.0f) continue;
            scale_pixel(at(j, i), coverage);
            scale_pixel(at(width - 1 - j, i), coverage);
            scale_pixel(at(j, height - 1 - i), coverage);
            scale_pixel(at(width - 1 - j, height - 1 - i), coverage);
        }
    }
}

}  // namespace veltrane
