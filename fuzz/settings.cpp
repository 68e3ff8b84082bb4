// Veltrane_Desktop.config: any text reads as settings, and the written file is stable.
#include "fuzz_support.h"
#include "settings/settings.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::check_stable(fuzz::as_text(data, size), parse_settings, format_settings);
    return 0;
}
