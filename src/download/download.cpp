#include "download/download.h"

#include <utility>

namespace veltrane {

std::optional<std::string> download_text(std::string_view url, std::uint64_t limit) {
    auto bytes = download_bytes(url, limit);
    if (!bytes) return std::nullopt;
    auto text = utf8_text(*bytes);
    if (!text) return std::nullopt;
    return std::move(*text);
}

}  // namespace veltrane
