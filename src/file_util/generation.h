// Names of folders that are written once and published whole: "generation-" folders, built
// under a ".staging-" name and renamed into place. Content sync and wallpaper composition
// both keep their output this way, and both clear what an interrupted run left behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace veltrane {

// Nanoseconds since 1970 need more than 64 bits to stay valid for centuries.
__extension__ typedef unsigned __int128 Uint128;

// "generation-" followed by at least one of 0-9 and "-".
bool is_generation_name(std::string_view name);
// "generation-" + process id + "-" + nanoseconds since 1970 (a 128-bit count).
std::string make_generation_name(std::uint32_t process_id, Uint128 nanoseconds);
std::string staging_name(std::string_view generation);
// Deletes every entry of the folder whose name begins with ".staging-": what an interrupted
// run left. Errors are ignored.
void remove_staging_folders(const std::filesystem::path& folder);

}  // namespace veltrane
