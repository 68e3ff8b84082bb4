#include "image/png_image.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>

#include "file_util/text.h"
#include "image/binary_file.h"
#include "image/png_decoder.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VELTRANE_HAS_SSE2 1
#else
#define VELTRANE_HAS_SSE2 0
#endif

namespace veltrane {
namespace {

constexpr std::uint32_t kMaxSide = 0x7fffffff;

// Pixels are handled as 32-bit words with red in the low byte.
static_assert(std::endian::native == std::endian::little);

// (v * a + 127) / 255 for every v, a in 0 ... 255, without a division, so the row loops
// vectorise.
std::uint8_t premultiply(std::uint32_t v, std::uint32_t a) {
    const std::uint32_t t = v * a + 128;
    return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

// The source row sits at the end of its 4-byte-per-pixel slot; widening it front to back
// never overwrites source bytes not yet read, because pixel k's output ends at 4k + 4 while
// pixel k + 1's source starts at width * (4 - n) + (k + 1) * n >= 4k + 4.
template <int N>
void widen_row(std::uint8_t* slot, std::size_t width) {
    const std::uint8_t* source = slot + width * (4 - N);
    for (std::size_t k = 0; k < width; ++k, source += N) {
        std::uint32_t r, g, b, a;
        if constexpr (N <= 2) r = g = b = source[0];
        else r = source[0], g = source[1], b = source[2];
        if constexpr (N == 2) a = source[1];
        else a = 255;
        std::uint8_t* d = slot + k * 4;
        d[0] = premultiply(b, a), d[1] = premultiply(g, a), d[2] = premultiply(r, a);
        d[3] = static_cast<std::uint8_t>(a);
    }
}

std::uint32_t rgba_to_bgra(std::uint32_t px) {
    const std::uint32_t r = px & 0xFF, g = px >> 8 & 0xFF, b = px >> 16 & 0xFF, a = px >> 24;
    if (a == 255) return (px & 0xFF00FF00u) | b | r << 16;
    return premultiply(b, a) | std::uint32_t{premultiply(g, a)} << 8 | std::uint32_t{premultiply(r, a)} << 16 | a << 24;
}

#if VELTRANE_HAS_SSE2
// Four opaque pixels at a time only trade red and blue; any other group takes the exact path.
std::size_t opaque_groups_to_bgra(std::uint8_t* p, std::size_t width) {
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF00FF00u));
    const __m128i low = _mm_set1_epi32(0xFF);
    std::size_t k = 0;
    for (; k + 4 <= width; k += 4) {
        auto* at = reinterpret_cast<__m128i*>(p + k * 4);
        const __m128i px = _mm_loadu_si128(at);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(px, alpha), alpha)) != 0xFFFF) {
            for (std::size_t i = k; i < k + 4; ++i) {
                std::uint32_t one;
                std::memcpy(&one, p + i * 4, 4);
                one = rgba_to_bgra(one);
                std::memcpy(p + i * 4, &one, 4);
            }
            continue;
        }
        const __m128i swapped = _mm_or_si128(_mm_and_si128(px, keep),
                                             _mm_or_si128(_mm_and_si128(_mm_srli_epi32(px, 16), low),
                                                          _mm_slli_epi32(_mm_and_si128(px, low), 16)));
        _mm_storeu_si128(at, swapped);
    }
    return k;
}
#else
std::size_t opaque_groups_to_bgra(std::uint8_t*, std::size_t) { return 0; }
#endif

// Same size in and out, so each pixel is rewritten where it lies. Charts are mostly
// opaque: an opaque pixel only trades red and blue.
template <>
void widen_row<4>(std::uint8_t* p, std::size_t width) {
    for (std::size_t k = opaque_groups_to_bgra(p, width); k < width; ++k) {
        std::uint32_t px;
        std::memcpy(&px, p + k * 4, 4);
        px = rgba_to_bgra(px);
        std::memcpy(p + k * 4, &px, 4);
    }
}

struct RowFormat {
    std::size_t width;
    int bytes_per_pixel;
};

void widen_row_to_bgra(std::uint8_t* slot, void* context) {
    const auto* format = static_cast<const RowFormat*>(context);
    switch (format->bytes_per_pixel) {
        case 1: return widen_row<1>(slot, format->width);
        case 2: return widen_row<2>(slot, format->width);
        case 3: return widen_row<3>(slot, format->width);
        default: return widen_row<4>(slot, format->width);
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
    if (!decoder.read_header(&header)) {
        if (decoder.header_size_unsupported()) return make_error("지원하지 않는 PNG 크기입니다.");
        return make_error(std::string("PNG 헤더가 올바르지 않습니다: ") + decoder.message());
    }
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
    RowFormat format{header.width, bytes_per_pixel};
    if (!decoder.read_rows(buffer->data(), std::size_t{header.width} * 4, &header, widen_row_to_bgra, &format))
        return make_error(std::string("PNG 디코딩에 실패했습니다: ") + decoder.message());
    const auto width = static_cast<std::int32_t>(header.width), height = static_cast<std::int32_t>(header.height);
    round_corners(*buffer, width, height);
    return TextLayer{std::move(*buffer), width, height};
}

std::optional<PngSize> png_decoded_size(std::span<const std::uint8_t> bytes) {
    detail::PngDecoder decoder(bytes.data(), bytes.size(), kPngDecoderMemoryLimit);
    detail::PngHeader header;
    if (!decoder.read_header(&header) || header.width == 0 || header.height == 0) return std::nullopt;
    // What the renderer would refuse is not worth decoding.
    if (std::uint64_t{header.width} * header.height > kPngMaxPixels) return std::nullopt;
    if (std::uint64_t{header.row_bytes} * header.height > kPngDecoderMemoryLimit) return std::nullopt;
    auto buffer = allocate_pixels(header.row_bytes * header.height);
    if (!buffer) return std::nullopt;
    if (!decoder.read_rows(buffer->data(), header.row_bytes, &header, [](std::uint8_t*, void*) {}, nullptr))
        return std::nullopt;
    return PngSize{static_cast<std::int32_t>(header.width), static_cast<std::int32_t>(header.height)};
}

bool png_decodes(std::span<const std::uint8_t> bytes) { return png_decoded_size(bytes).has_value(); }

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
