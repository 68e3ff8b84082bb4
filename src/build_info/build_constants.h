// Values fixed when the program is built, in one generated translation unit per variant
// (the product's, and the test builds' own). Nothing changes them at run time.
#pragma once

#include <array>
#include <cstdint>

namespace veltrane::build {

// "YYYYMMDDHHMMSS", checked at first use by current_build_version().
extern const char* const kBuildTimestamp;

// The content server's HTTPS origin: scheme and host, no trailing slash.
extern const char* const kContentServerOrigin;

// The Windows Spotlight selection service's HTTPS origin, in the same form.
extern const char* const kSpotlightOrigin;

// The Ed25519 public key that every update manifest must be signed with; the only one.
extern const std::array<std::uint8_t, 32> kUpdateSigningKey;

// The content origin, version and key as one text in the executable file, so that the
// release tool takes a release's version, origin and key from the build itself:
// "Veltrane_Desktop release marker v1 version=YYYYMMDDHHMMSS origin=https://host key=HEX end".
extern const char kReleaseMarker[];

}  // namespace veltrane::build
