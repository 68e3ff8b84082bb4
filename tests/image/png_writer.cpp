#include "png_writer.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>

namespace veltrane::testing {
namespace {

struct WriteTarget {
    std::string* out;
};

void append(png_structp png, png_bytep data, std::size_t length) {
    auto* target = static_cast<WriteTarget*>(png_get_io_ptr(png));
    target->out->append(reinterpret_cast<const char*>(data), length);
}

void no_flush(png_structp) {}

int channels(int color_type) {
    switch (color_type) {
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;
    }
}

// libpng's longjmp lands here; only pointers and plain values live in this frame.
bool write_guarded(png_structp png, png_infop info, const PngPicture* picture, const std::uint8_t* rows, std::size_t row_bytes,
                   const png_color* palette, int palette_size, const png_color_16* trans) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, picture->width, picture->height, picture->bit_depth, picture->color_type,
                 picture->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, picture->compression);
    if (palette_size > 0) png_set_PLTE(png, info, palette, palette_size);
    if (!picture->palette_alpha.empty())
        png_set_tRNS(png, info, picture->palette_alpha.data(), static_cast<int>(picture->palette_alpha.size()), nullptr);
    if (trans) png_set_tRNS(png, info, nullptr, 0, trans);
    png_write_info(png, info);
    const int passes = picture->interlaced ? png_set_interlace_handling(png) : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (std::uint32_t y = 0; y < picture->height; ++y) png_write_row(png, rows + (picture->rows.empty() ? 0 : y * row_bytes));
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

std::size_t png_row_bytes(const PngPicture& picture) {
    return (std::size_t{picture.width} * static_cast<std::size_t>(channels(picture.color_type) * picture.bit_depth) + 7) / 8;
}

std::string encode_png(const PngPicture& picture) {
    std::string out;
    WriteTarget target{&out};
    const std::size_t row_bytes = png_row_bytes(picture);
    const std::vector<std::uint8_t> zero_row(picture.rows.empty() ? row_bytes : 0);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < picture.palette.size(); i += 3)
        palette.push_back({picture.palette[i], picture.palette[i + 1], picture.palette[i + 2]});
    png_color_16 trans{};
    if (picture.transparent) {
        trans.red = picture.transparent->red;
        trans.green = picture.transparent->green;
        trans.blue = picture.transparent->blue;
        trans.gray = picture.transparent->gray;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &target, append, no_flush);
    const std::uint8_t* rows = picture.rows.empty() ? zero_row.data() : picture.rows.data();
    const bool ok = write_guarded(png, info, &picture, rows, row_bytes, palette.data(), static_cast<int>(palette.size()),
                                  picture.transparent ? &trans : nullptr);
    png_destroy_write_struct(&png, &info);
    return ok ? out : std::string();
}

std::string be32_bytes(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string png_signature() { return "\x89PNG\r\n\x1a\n"; }

std::string png_chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return be32_bytes(static_cast<std::uint32_t>(data.size())) + body + be32_bytes(static_cast<std::uint32_t>(crc));
}

std::string gradient_png(std::uint32_t width, std::uint32_t height) {
    PngPicture picture;
    picture.width = width;
    picture.height = height;
    picture.color_type = 2;  // RGB
    picture.rows.reserve(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            picture.rows.insert(picture.rows.end(), {static_cast<std::uint8_t>(x * 255 / std::max(width - 1, 1u)),
                                                     static_cast<std::uint8_t>(y * 255 / std::max(height - 1, 1u)),
                                                     static_cast<std::uint8_t>((x ^ y) & 0x3F)});
        }
    }
    return encode_png(picture);
}

}  // namespace veltrane::testing
