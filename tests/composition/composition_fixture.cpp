#include "composition/composition_fixture.h"

#include <algorithm>
#include <ostream>

#include <gtest/gtest.h>
#include <png.h>

#include "file_util/win.h"
#include "image/png_image.h"
#include "image/png_writer.h"
#include "wallpaper/background_cache_win.h"
#include "wallpaper/compose_win.h"
#include "wallpaper/gdiplus_win.h"
#include "wallpaper/original_state.h"

namespace veltrane::testing {

namespace fs = std::filesystem;

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "rgb(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

void write_png_file(const fs::path& path, std::uint32_t width, std::uint32_t height, Rgb left, Rgb right) {
    PngPicture picture;
    picture.width = width;
    picture.height = height;
    picture.color_type = PNG_COLOR_TYPE_RGB;
    picture.rows.reserve(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb c = x < width / 2 ? left : right;
            picture.rows.insert(picture.rows.end(), {c.r, c.g, c.b});
        }
    }
    write_raw(path, encode_png(picture));
}

void write_png_file(const fs::path& path, std::uint32_t width, std::uint32_t height, Rgb color) {
    write_png_file(path, width, height, color, color);
}

std::string system_wallpaper() {
    std::vector<wchar_t> buffer(32768, L'\0');
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETDESKWALLPAPER, 32768, buffer.data(), 0));
    return win::from_wide(buffer.data());
}

void set_system_wallpaper(const fs::path& path) {
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(path.c_str()), 3));
}

std::string user_registry_text(const wchar_t* key, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD bytes = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
        return "<absent>";
    }
    return win::from_wide(buffer);
}

void set_user_registry_text(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void write_jpeg_file(const fs::path& path, std::uint32_t width, std::uint32_t height, Rgb color) {
    auto session = gdiplus::Session::start();
    ASSERT_TRUE(session.ok());
    Gdiplus::GpBitmap* raw = nullptr;
    ASSERT_EQ(gdiplus::flat::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                                       PixelFormat24bppRGB, nullptr, &raw),
              Gdiplus::Ok);
    const gdiplus::Image bitmap(raw);
    Gdiplus::GpGraphics* context = nullptr;
    ASSERT_EQ(gdiplus::flat::GdipGetImageGraphicsContext(raw, &context), Gdiplus::Ok);
    {
        const gdiplus::Graphics graphics(context);
        gdiplus::flat::GdipGraphicsClear(context, 0xFF000000u | color.r << 16 | color.g << 8 | color.b);
    }
    const CLSID jpeg = {0x557cf401, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    ASSERT_EQ(gdiplus::flat::GdipSaveImageToFile(raw, path.c_str(), &jpeg, nullptr), Gdiplus::Ok);
}

namespace {

TextLayer solid_layer(std::int32_t width, std::int32_t height, Rgb c) {
    TextLayer layer;
    layer.width = width;
    layer.height = height;
    layer.pixels.resize(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < layer.pixels.size(); i += 4) {
        layer.pixels[i] = c.b;
        layer.pixels[i + 1] = c.g;
        layer.pixels[i + 2] = c.r;
        layer.pixels[i + 3] = 255;
    }
    return layer;
}

}  // namespace

RenderedContent sample_content(std::uint8_t alpha) {
    RenderedContent content;
    content.image = solid_layer(400, 300, kGreen);
    content.text = solid_layer(400, 100, kBlue);
    content.duty = solid_layer(400, 80, kWhite);
    content.text_gap = 10;
    content.duty_gap = 10;
    content.total_height = 80 + 10 + 300 + 10 + 100;
    content.image_alpha = content.text_alpha = content.duty_alpha = alpha;
    return content;
}

void describe_two_monitors(const std::string& left_wallpaper, std::int32_t position, std::uint32_t color,
                           const std::vector<std::string>& extra_lines) {
    StandinState state;
    state.position = position;
    state.color = color;
    state.monitors = {{kLeftMonitor, 0, 0, 1920, 1080}, {kRightMonitor, 1920, 0, 3840, 1080}};
    if (!left_wallpaper.empty()) state.wallpapers = {{kLeftMonitor, left_wallpaper}};
    state.extra_lines = extra_lines;
    write_standin_state(state);
}

Status compose(const fs::path& install, const RenderedContent& content, const Settings& settings, BackgroundMode mode,
               const std::optional<fs::path>& spotlight) {
    auto session = gdiplus::Session::start();
    if (!session) return session.take_error();
    Status composed = compose_wallpapers(install, content, settings, mode, spotlight);
    // The kept backgrounds are on disk when the test looks, and before its folder goes.
    (void)finish_background_writes();
    return composed;
}

Picture::Picture(const fs::path& png) {
    auto layer = load_png_bgra(png);
    if (!layer) return;
    pixels_ = std::move(layer->pixels);
    width_ = layer->width;
    height_ = layer->height;
}

Rgb Picture::at(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return Rgb{1, 2, 3};
    const std::size_t i = (std::size_t(y) * width_ + x) * 4;
    return Rgb{pixels_[i + 2], pixels_[i + 1], pixels_[i]};
}

fs::path content_folder(const fs::path& install) { return composite_paths(install).content; }

std::vector<std::string> output_folders(const fs::path& install) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(content_folder(install), ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> calls_of(const std::string& method) {
    std::vector<std::string> lines;
    for (const auto& line : standin_calls()) {
        const auto space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, method.size() + 1, method + " ") == 0)
            lines.push_back(line);
    }
    return lines;
}

}  // namespace veltrane::testing
