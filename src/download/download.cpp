#include "download/download.h"

#include "build_info/build_version.h"

namespace veltrane {

std::uint64_t download_deadline_ms(std::uint64_t limit) {
    // In two parts so that no limit overflows; the fraction of a second is rounded up.
    const std::uint64_t rate = kSlowestLinkBytesPerSecond;
    return limit / rate * 1000 + (limit % rate * 1000 + rate - 1) / rate + kDownloadTimeoutMs;
}

std::string download_user_agent() { return "Veltrane_Desktop/" + format_build_version(current_build_version()); }

}  // namespace veltrane
