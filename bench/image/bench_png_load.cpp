// Loading an A4 chart at 300 dpi (2480 x 3508 RGBA) with load_png_bgra against a bare libpng
// decode of the same file into a plain buffer, in one run; prints the time ratio.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "image/png_image.h"
#include "bare_decode.h"
#include "png_writer.h"

namespace {

using veltrane::bench::bare_decode;
using veltrane::bench::seconds;
constexpr std::uint32_t kWidth = 2480, kHeight = 3508;

// White paper with a table grid, coloured cells and soft-edged marks, like a scanned chart.
std::string make_chart() {
    veltrane::testing::PngPicture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    picture.rows.resize(std::size_t{kWidth} * kHeight * 4);
    std::uint32_t noise = 1;
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &picture.rows[(std::size_t{y} * kWidth + x) * 4];
            noise = noise * 1103515245u + 12345u;
            const bool grid = x % 124 < 2 || y % 60 < 2;
            const bool cell = (x / 124 + y / 60) % 7 == 0;
            const bool ink = (x % 124 > 10 && x % 124 < 90 && y % 60 > 18 && y % 60 < 42) && ((noise >> 16) % 4 == 0);
            const std::uint8_t base = grid ? 40 : ink ? 20 : cell ? 220 : 255;
            p[0] = base;
            p[1] = cell && !grid ? 235 : base;
            p[2] = base;
            p[3] = (x < 8 || y < 8) ? static_cast<std::uint8_t>(x * 32) : 255;
        }
    }
    return veltrane::testing::encode_png(picture);
}

}  // namespace

int main() {
    const auto path = std::filesystem::temp_directory_path() / "veltrane-bench-chart.png";
    {
        const std::string bytes = make_chart();
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::printf("chart %u x %u RGBA, %zu bytes\n", kWidth, kHeight, bytes.size());
    }
    double best_load = 1e9, best_bare = 1e9;
    for (int round = 0; round < 5; ++round) {
        best_bare = std::min(best_bare, seconds([&] {
                                 if (bare_decode(path).size != std::size_t{kWidth} * kHeight * 4) std::abort();
                             }));
        best_load = std::min(best_load, seconds([&] {
                                 if (!veltrane::load_png_bgra(path).ok()) std::abort();
                             }));
    }
    std::filesystem::remove(path);
    std::printf("bare libpng decode: %.1f ms\nload_png_bgra:      %.1f ms\nratio:              %.3f\n", best_bare * 1e3,
                best_load * 1e3, best_load / best_bare);
    return 0;
}
