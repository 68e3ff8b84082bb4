// Shared set-up for the composition tests: a two-monitor desktop in the stand-in, the
// user's wallpaper files, hand-made content layers and pixel checks on composed PNGs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "standin_control.h"
#include "file_util/result.h"
#include "image/content_render.h"
#include "settings/settings.h"
#include "support/test_paths.h"

namespace veltrane::testing {

// The stand-in's left monitor has the rectangle of Wine's one GDI monitor, so it gets the
// device name \\.\DISPLAY1; the right one has none and shows no content.
inline const std::string kLeftMonitor = "\\\\?\\DISPLAY#TEST0001#left";
inline const std::string kRightMonitor = "\\\\?\\DISPLAY#TEST0002#right";
inline constexpr std::uint32_t kBlueColorref = 0x00FF0000;  // 0x00BBGGRR

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
std::ostream& operator<<(std::ostream& os, const Rgb& c);

inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

// An opaque PNG file, left half `left` and right half `right`.
void write_png_file(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height, Rgb left, Rgb right);
void write_png_file(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height, Rgb color);
// The single desktop wallpaper (SystemParametersInfoW) and the user's REG_SZ values, as the
// background modes change them; an absent value reads "<absent>".
std::string system_wallpaper();
void set_system_wallpaper(const std::filesystem::path& path);
std::string user_registry_text(const wchar_t* key, const wchar_t* name);
void set_user_registry_text(const wchar_t* key, const wchar_t* name, const std::wstring& value);
inline constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";
inline constexpr const wchar_t* kColorsKey = L"Control Panel\\Colors";

// A JPEG file of one colour, encoded by GDI+.
void write_jpeg_file(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height, Rgb color);

// Image 400 × 300 green, text box 400 × 100 blue, duty box 400 × 80 white, gaps 10.
RenderedContent sample_content(std::uint8_t alpha);

// Two 1920 × 1080 monitors side by side; the left one shows `left_wallpaper`.
void describe_two_monitors(const std::string& left_wallpaper, std::int32_t position, std::uint32_t color,
                           const std::vector<std::string>& extra_lines = {});

// GDI+ started around the call, as the service does it.
Status compose(const std::filesystem::path& install, const RenderedContent& content, const Settings& settings,
               BackgroundMode mode, const std::optional<std::filesystem::path>& spotlight = std::nullopt);

class Picture {
public:
    explicit Picture(const std::filesystem::path& png);
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    Rgb at(std::int32_t x, std::int32_t y) const;

private:
    std::vector<std::uint8_t> pixels_;
    std::int32_t width_ = 0, height_ = 0;
};

std::filesystem::path content_folder(const std::filesystem::path& install);
// Names in WallpaperComposite/Content, sorted.
std::vector<std::string> output_folders(const std::filesystem::path& install);
// The call log lines of one method.
std::vector<std::string> calls_of(const std::string& method);

}  // namespace veltrane::testing
