// Publishing a content set and a duty roster into the site folder the content server
// serves. Everything a workstation would refuse is refused here first, with the product's
// own checks; then the content-addressed files are written, and the `current` document is
// replaced last, so a workstation never reads a `current` that names a missing file.
// Earlier sets stay in the site for workstations that read the previous `current`.
//
// Site layout (the nginx configuration and the test stand-in map the paths onto it):
//   current.json          the `current` document
//   images/TAG.png        image by entity tag (the SHA-256 of its bytes in hex)
//   texts/TAG.txt         text by entity tag
//   duty.txt              the duty roster
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "file_util/result.h"

namespace veltrane::publish {

struct PublishedContent {
    std::string image_tag;
    std::string text_tag;
    std::int32_t block_width = 0;
    std::int32_t block_height = 0;
    // The site's roster does not fit this content: workstations show the chart without the
    // duty box until a roster that fits is published. The refusal, naming the roster.
    std::optional<std::string> roster_warning;
    // A box_gap that pushes the block off a common monitor height, naming the file, the key
    // and the heights; workstations leave the duty box off such a monitor for its own gap.
    std::vector<std::string> gap_warnings;
};

// The whole check of a content set together with the site's duty roster, as a workstation
// renders them today. Errors name the file and the rule (and the style key), in Korean;
// nothing is written. A roster already on the site that does not fit is a warning, as a
// workstation drops only its box.
Result<PublishedContent> check_content(const std::filesystem::path& site, const std::filesystem::path& image,
                                       const std::filesystem::path& text);
// check_content, then the files, then current.json (updatedAt is the given UTC time text).
Result<PublishedContent> publish_content(const std::filesystem::path& site, const std::filesystem::path& image,
                                         const std::filesystem::path& text, const std::string& updated_at);

// The roster checked together with the image and text the site's current.json names (its
// rows and style alone when the site has no content yet), then written; the gap warnings
// as for content.
Result<std::vector<std::string>> publish_duty(const std::filesystem::path& site, const std::filesystem::path& duty);

}  // namespace veltrane::publish
