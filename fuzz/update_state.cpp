// The update-state record (written stably) and the build version texts it and the staged
// update's ready marker hold.
#include "file_util/white_space.h"
#include "fuzz_support.h"
#include "update/update_state.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    fuzz::check_stable(text, parse_update_state, format_update_state);
    if (const auto version = parse_build_version(trim_white_space(text))) {
        fuzz::check(is_valid_build_version(*version), "an invalid version");
        const std::string written = format_build_version(*version);
        fuzz::check(parse_build_version(written) == version, "a version reads back differently", written);
    }
    if (const auto version = parse_build_timestamp(text)) {
        fuzz::check(is_valid_build_version(*version), "an invalid timestamp");
    }
    return 0;
}
