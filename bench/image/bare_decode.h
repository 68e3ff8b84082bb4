// A bare libpng decode into a plain buffer, the yardstick the image benchmarks compare with,
// and a timer.
#pragma once

#include <png.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace veltrane::bench {

struct BareDecode {
    std::unique_ptr<std::uint8_t[]> pixels;
    std::size_t size = 0;
};

inline void ignore_warning(png_structp, png_const_charp) {}

inline std::FILE* open_file(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.wstring().c_str(), L"rb");
#else
    return std::fopen(path.string().c_str(), "rb");
#endif
}

// Plain pointers only across libpng's longjmp.
inline bool bare_decode_guarded(png_structp png, png_infop info, std::FILE* file, BareDecode* out,
                         std::unique_ptr<png_bytep[]>* rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t row_bytes = png_get_rowbytes(png, info);
    const std::uint32_t height = png_get_image_height(png, info);
    out->size = row_bytes * height;
    out->pixels = std::make_unique_for_overwrite<std::uint8_t[]>(out->size);
    *rows = std::make_unique_for_overwrite<png_bytep[]>(height);
    for (std::uint32_t y = 0; y < height; ++y) (*rows)[y] = out->pixels.get() + std::size_t{y} * row_bytes;
    png_read_image(png, rows->get());
    return true;
}

inline BareDecode bare_decode(const std::filesystem::path& path) {
    BareDecode out;
    std::unique_ptr<png_bytep[]> rows;
    std::FILE* file = open_file(path);
    if (!file) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, ignore_warning);
    png_infop info = png_create_info_struct(png);
    if (!bare_decode_guarded(png, info, file, &out, &rows)) out = {};
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}

template <class F>
double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace veltrane::bench
