// The build information module, a leaf that every other module may use: the build version
// here and the build-time constants (build_constants.h).
// The build version: the date and time the program was built. It names the service-ready
// event, is compared with the update manifest's version, names release folders and is shown
// in the status line. Two text forms: the version text "20261019.230507.0" and the build
// label "20261019-230507".
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

struct BuildVersion {
    std::uint32_t date = 0;  // YYYYMMDD
    std::uint32_t time = 0;  // HHMMSS, leading zeros vanish (09:05:07 is 90507)

    friend auto operator<=>(const BuildVersion&, const BuildVersion&) = default;
};

bool is_valid_build_version(const BuildVersion& version);

// The program's own version from the embedded build timestamp; a malformed timestamp is a
// build defect and stops the program with "build timestamp must be YYYYMMDDHHMMSS".
BuildVersion current_build_version();

// Parses a timestamp of exactly 14 ASCII digits; nothing when malformed or invalid.
std::optional<BuildVersion> parse_build_timestamp(std::string_view text);

std::optional<BuildVersion> parse_build_version(std::string_view text);
std::string format_build_version(const BuildVersion& version);
std::string build_label(const BuildVersion& version);

}  // namespace veltrane
