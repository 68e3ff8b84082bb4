// Trimming shared by every text the program reads from servers, editors and records: they
// pad with Unicode spaces (U+3000 in Korean text), not only ASCII ones.
#pragma once

#include <string_view>

namespace veltrane {

// Removes Unicode White_Space characters at both ends of UTF-8 text. Bytes that are not
// valid UTF-8 are never removed, and U+001E / U+001F (the cell markup) are not white space.
std::string_view trim_white_space(std::string_view text);

}  // namespace veltrane
