// Release rings: named groups of installations, each served its own signed update.json by
// nginx, while the release files stay shared. Two halves: the ring file that the site file
// includes (nginx decides each request's ring from it), and each ring's manifest pair in the
// site with the pair it replaced, for a halt. The ring "all" is the site's own update.json:
// every request no ring places. With no ring defined nothing changes for anyone.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_info/build_version.h"
#include "file_util/result.h"

namespace veltrane::publish {

inline constexpr std::string_view kAllRing = "all";

struct RingDefinition {
    std::string name;
    std::vector<std::string> addresses;  // CIDR ranges or single addresses, as nginx's geo reads them
    unsigned share = 0;                  // percent of installation identities; 0 for none
};

// Lower-case letters, digits and "-", starting with a letter, at most 32; never "all".
bool is_valid_ring_name(std::string_view name);
bool is_valid_address_range(std::string_view range);

// The ring file's text. Shares are bands of the identities' first byte, in the order the
// rings are listed; an error when they add up to more than 100 %.
Result<std::string> format_ring_file(const std::vector<RingDefinition>& rings);
// The definitions a ring file holds (its "# ring" lines); a missing file is no ring.
Result<std::vector<RingDefinition>> read_ring_file(const std::filesystem::path& path);
Result<std::vector<RingDefinition>> parse_ring_file(std::string_view text);

// The folder of a ring's update.json and update.json.sig: the site's own for "all".
std::filesystem::path ring_folder(const std::filesystem::path& site, std::string_view ring);

// The rings that have a folder in the site, "all" first.
std::vector<std::string> site_rings(const std::filesystem::path& site);

// A defined ring's folder; it serves the release of "all" until one is released to it.
Status add_ring_folder(const std::filesystem::path& site, std::string_view ring);
Status remove_ring_folder(const std::filesystem::path& site, std::string_view ring);

struct RingRelease {
    std::optional<BuildVersion> own;       // the ring's own manifest; nothing when it follows "all"
    std::optional<BuildVersion> served;    // what its installations are offered
    bool can_halt = false;
    std::optional<BuildVersion> previous;  // what a halt goes back to (nothing: no release at all)
};
Result<RingRelease> ring_release(const std::filesystem::path& site, std::string_view ring);

// Before a ring gets a new pair: keeps the pair it serves now, which a halt puts back.
Status keep_ring_history(const std::filesystem::path& site, std::string_view ring);

// The pair `from` serves becomes the pair of `to`; refused unless it is newer than what `to` serves.
Result<BuildVersion> promote_ring(const std::filesystem::path& site, std::string_view from, std::string_view to);

// The ring goes back to the pair it served before its last release or promotion. A ring
// whose earlier pair is what "all" serves now follows "all" again. Installations that took the
// newer build keep it: the program never installs an older one.
Result<std::optional<BuildVersion>> halt_ring(const std::filesystem::path& site, std::string_view ring);

}  // namespace veltrane::publish
