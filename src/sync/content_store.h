// The content store in the executable folder: immutable generation folders under
// "Content", the one-line pointer "Veltrane_Desktop.current" that names the current one,
// pruning to at most two generations (never the one the service last showed), and the
// ordered list of content sets readers try.
// Also the checks a downloaded content set must pass before it is published.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/file_util.h"
#include "file_util/generation.h"

namespace veltrane {

inline constexpr const char* kContentFolder = "Content";
inline constexpr const char* kCurrentPointerFile = "Veltrane_Desktop.current";
inline constexpr const char* kContentImageFile = "Veltrane_Desktop.png";
inline constexpr const char* kContentTextFile = "Veltrane_Desktop.txt";
inline constexpr const char* kDutyFile = "Veltrane_Desktop.duty.txt";
inline constexpr const char* kSyncStatusFile = "Veltrane_Desktop.sync-status";
// Room for the time and a note naming a proxy.
inline constexpr std::uint64_t kSyncStatusLimit = 512;
inline constexpr const char* kShownGenerationFile = "Veltrane_Desktop.shown";
inline constexpr std::uint64_t kPointerLimit = 256;

struct ContentPair {
    std::filesystem::path image;
    std::filesystem::path text;
};

// 1 to 128 of A-Z, a-z, 0-9, "_" and "-": safe to put in a URL as it is.
bool is_entity_tag(std::string_view tag);

std::optional<std::string> read_current_generation(const std::filesystem::path& exe_folder);
// The generation folder that holds `image`, recorded when the service has shown it; an image
// outside the store records nothing.
void record_shown_generation(const std::filesystem::path& exe_folder, const std::filesystem::path& image);
std::optional<std::string> read_shown_generation(const std::filesystem::path& exe_folder);
// Deletes the oldest generations, never the current one nor the one last shown, until at
// most two are left; returns how many valid generation folders remain.
std::size_t prune_generations(const std::filesystem::path& exe_folder);
// The current generation first, then newer first, then the legacy pair of the folder.
std::vector<ContentPair> content_candidates(const std::filesystem::path& exe_folder);

// Text that is empty after trimming Unicode white space at both ends.
bool is_blank_text(std::string_view utf8);
// PNG signature at the start and a standard IEND chunk as the last 12 bytes.
bool has_png_envelope(std::span<const std::uint8_t> bytes);

}  // namespace veltrane
