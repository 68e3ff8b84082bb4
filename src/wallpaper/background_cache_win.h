// Each monitor's scaled background kept between compositions as a file in
// WallpaperComposite/Cache, headed by everything that decides its pixels, so a content or
// duty change draws only the content block over it. Read straight into the monitor's bitmap
// and written from it: nothing stays in memory between compositions. Any doubt (another key,
// a short or long file, a failed read) is a miss, and the background is drawn as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "settings/monitors.h"
#include "wallpaper/gdiplus_win.h"

namespace veltrane {

inline constexpr const char* kBackgroundCacheFolder = "Cache";

// A wallpaper file drawn over the background colour with a position value.
struct BackgroundPicture {
    std::filesystem::path path;
    std::int32_t position = 0;
};

// The file's identity, size and last-write time, the position, the colour, the monitor's
// rectangle and, for span, the virtual bounds. Nothing when the file cannot be identified:
// such a background is drawn every time.
std::optional<std::string> background_key(const BackgroundPicture& picture, std::uint32_t argb,
                                          const MonitorRect& monitor, const MonitorRect& bounds);

std::filesystem::path background_cache_file(const std::filesystem::path& folder, std::size_t monitor_index);

// True when the file holds this key and filled the whole bitmap.
bool load_background(const std::filesystem::path& file, const std::string& key, Gdiplus::GpBitmap* bitmap,
                     std::int32_t width, std::int32_t height);
// A failed write leaves the file as it was, still true to its own key.
void store_background(const std::filesystem::path& file, const std::string& key, Gdiplus::GpBitmap* bitmap,
                      std::int32_t width, std::int32_t height);

// Removes every entry but the files of monitors 0 .. count − 1, the temporaries of an
// interrupted write among them; errors ignored.
void tidy_background_cache(const std::filesystem::path& folder, std::size_t count);

}  // namespace veltrane
