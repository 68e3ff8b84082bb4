// What the renderer refuses, judged without drawing: a table text reduced as the renderer
// reduces it for one duty period, its gaps and paddings, and its box's size at the image's
// width. The sync run checks a download with it before publishing, the publisher what a
// site will serve together.
#pragma once

#include <cstdint>
#include <string_view>

#include "file_util/result.h"
#include "image/content_text.h"

namespace veltrane {

struct BoxCheck {
    std::int32_t gap = 0;
    std::int32_t height = 0;
};

// `duty` reduces a roster to its duty day's block; otherwise a chart text's roster schedule
// is expanded. A leading byte-order mark is skipped.
Result<BoxCheck> check_table_text(std::string_view text, std::int32_t width, bool duty, const DutyPeriod& period);

}  // namespace veltrane
