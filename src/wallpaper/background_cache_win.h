// Each monitor's scaled background kept between compositions as a file in
// WallpaperComposite/Cache, headed by everything that decides its pixels, so a content or
// duty change draws only the content block over it. Read straight into the monitor's bitmap;
// written from a copy on a worker thread, so the composition does not wait for the write and
// its flush. Nothing stays in memory between compositions. Any doubt (another key, a short or
// long file, a failed read) is a miss, and the background is drawn as before.
#pragma once

#include <chrono>
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
// Copies the bitmap now and writes the copy on the cache's worker thread (here when no thread
// can be started); the copy is freed once written. A failed write leaves the file as it was,
// still true to its own key, and so does one that a wait below gave up on: every file is
// true to its key, so a write landing late costs a miss at most.
void store_background(const std::filesystem::path& file, const std::string& key, Gdiplus::GpBitmap* bitmap,
                      std::int32_t width, std::int32_t height);

// Before the next composition reads the cache and before anything removes WallpaperComposite
// (the restore): long enough for a few 4K monitors on a slow disk, well inside the time the
// service is given to stop.
inline constexpr std::chrono::milliseconds kBackgroundWriteWait{5000};

// Waits for the queued writes to land and the worker to end; false when `limit` passed first.
bool finish_background_writes(std::chrono::milliseconds limit = kBackgroundWriteWait);

// Removes every entry but the files of monitors 0 .. count − 1, the temporaries of an
// interrupted write among them; errors ignored.
void tidy_background_cache(const std::filesystem::path& folder, std::size_t count);

}  // namespace veltrane
