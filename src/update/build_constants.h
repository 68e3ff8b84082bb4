// Values fixed when the program is built, in one generated translation unit per variant
// (the product's, and the test builds' own). Nothing changes them at run time.
#pragma once

namespace veltrane::build {

// "YYYYMMDDHHMMSS", checked at first use by current_build_version().
extern const char* const kBuildTimestamp;

// The content server's HTTPS origin: scheme and host, no trailing slash.
extern const char* const kContentServerOrigin;

// The Windows Spotlight selection service's HTTPS origin, in the same form.
extern const char* const kSpotlightOrigin;

}  // namespace veltrane::build
