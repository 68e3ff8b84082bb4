// The record of the wallpapers that were there before composition: original.state in
// WallpaperComposite (position, background colour, one hex-encoded line per monitor), the
// names of the backup copies, and where the composite folders lie in the install folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/result.h"
#include "file_util/text.h"

namespace veltrane {

inline constexpr const char* kCompositeFolder = "WallpaperComposite";
inline constexpr const char* kOriginalStateFile = "original.state";
inline constexpr const char* kBackupFolder = "Backup";
inline constexpr const char* kCompositeContentFolder = "Content";
inline constexpr std::uint64_t kOriginalStateLimit = 1048576;

struct OriginalEntry {
    std::string device_path;
    std::string wallpaper;  // empty: the monitor had no wallpaper
    std::string backup;
    std::optional<std::string> composite;  // the picture the last composition set
    friend bool operator==(const OriginalEntry&, const OriginalEntry&) = default;
};

struct OriginalState {
    std::int32_t position = 0;
    std::uint32_t color = 0;  // Win32 colour reference 0x00BBGGRR
    std::vector<OriginalEntry> monitors;
    friend bool operator==(const OriginalState&, const OriginalState&) = default;
};

// Every byte as two lower-case hexadecimal digits.
std::string hex_encode(std::string_view bytes);
// Nothing for an odd length or a non-hexadecimal digit.
std::optional<std::string> hex_decode(std::string_view digits);

std::string format_original_state(const OriginalState& state);
// Nothing unless both position and colour were read and every monitor line decodes.
std::optional<OriginalState> parse_original_state(std::string_view text);

// Nothing for a missing, oversized, non-UTF-8 or invalid file.
std::optional<OriginalState> read_original_state(const std::filesystem::path& path);
Status write_original_state(const std::filesystem::path& path, const OriginalState& state);

// "monitor-" + k + "." + the extension of the wallpaper's file name, "img" when it has none.
std::string backup_copy_name(std::size_t index, std::string_view wallpaper_path);

// install folder / WallpaperComposite and the three names inside it.
struct CompositePaths {
    std::filesystem::path folder;
    std::filesystem::path state;
    std::filesystem::path backup;
    std::filesystem::path content;
};
CompositePaths composite_paths(const std::filesystem::path& install_folder);

}  // namespace veltrane
