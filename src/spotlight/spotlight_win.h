// Background modes and Windows Spotlight on Windows: the wallpaper registry values and the
// single desktop wallpaper through SystemParametersInfoW, the wallpaper backup record, black
// and Spotlight backgrounds, and the Spotlight download worker. Every operation works on the
// executable folder; tests pass a folder of their own.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "file_util/result.h"
#include "settings/settings.h"

namespace veltrane {

// The selection request: the build's Spotlight origin with the fixed path and query.
std::string spotlight_selection_url();

// On a service tick in the Spotlight mode: starts a worker when a download is due; true if
// one was started.
bool spotlight_tick(bool just_became_spotlight,
                    const std::optional<std::filesystem::path>& exe_folder = executable_folder());

// The worker's body (it clears the in-progress flag on every way out); the picture becomes
// the wallpaper only when spotlight_applies_now() holds as it is placed.
void fetch_spotlight(const std::optional<std::filesystem::path>& exe_folder = executable_folder());

// Style "10" (fill), no tiling, then the picture as the desktop wallpaper; `announce` false
// leaves telling the other windows to announce_wallpaper_change().
Status set_wallpaper_image(const std::filesystem::path& image, bool announce = true);

// Tells every top-level window that the wallpaper changed. Never under the wallpaper-change
// lock: the service's own window answers by refreshing, which takes that lock.
void announce_wallpaper_change();

// Records the user's wallpaper settings once; an existing record stays in force.
Status save_wallpaper_backup(const std::optional<std::filesystem::path>& exe_folder = executable_folder());
Status apply_black_background(const std::optional<std::filesystem::path>& exe_folder = executable_folder());
Status apply_spotlight_background(const std::optional<std::filesystem::path>& exe_folder = executable_folder());
Status restore_wallpaper_backup(const std::filesystem::path& exe_folder);

// Stops Spotlight in this process and deletes its files; the wallpaper stays as it is.
void leave_spotlight_mode(const std::optional<std::filesystem::path>& exe_folder = executable_folder());

}  // namespace veltrane
