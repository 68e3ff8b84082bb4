// The Spotlight status record: the asset URL it holds is written back stably.
#include "fuzz_support.h"
#include "spotlight/spotlight.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::check_stable(
        fuzz::as_text(data, size), [](std::string_view record) { return status_asset_url(record).value_or(""); },
        [](const std::string& url) { return format_spotlight_status(1767225600, url, "C:\\Users\\u\\spotlight-1.jpg"); });
    return 0;
}
