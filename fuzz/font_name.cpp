// The family name in a TrueType naming table: either a refusal or a non-empty, valid UTF-8
// name with neither white space nor NUL at its ends.
#include "file_util/text.h"
#include "file_util/white_space.h"
#include "fuzz_support.h"
#include "image/content_font.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto family = find_font_family({data, size});
    if (!family) return 0;
    fuzz::check(!family->empty(), "an empty family name");
    fuzz::check(!utf8_error(*family), "a family name that is not UTF-8", *family);
    fuzz::check(trim_white_space(*family) == *family, "a family name with white space at an end", *family);
    fuzz::check(family->front() != '\0' && family->back() != '\0', "a family name with NUL at an end", *family);
    return 0;
}
