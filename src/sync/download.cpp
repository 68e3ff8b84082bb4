#include "sync/download.h"

#include "file_util/text.h"

namespace veltrane {

std::optional<std::string> download_text(std::string_view url, std::uint64_t limit) {
    auto bytes = download_bytes(url, limit);
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    if (utf8_error(text)) return std::nullopt;
    return text;
}

}  // namespace veltrane
