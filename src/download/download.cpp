#include "download/download.h"

#include <algorithm>

#include "build_info/build_version.h"

namespace veltrane {

std::uint64_t download_deadline_ms(std::uint64_t limit) {
    // In two parts so that no limit overflows; the fraction of a second is rounded up.
    const std::uint64_t rate = kSlowestLinkBytesPerSecond;
    return limit / rate * 1000 + (limit % rate * 1000 + rate - 1) / rate + kDownloadTimeoutMs;
}

namespace {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

std::string_view scheme_of(std::string_view url) {
    if (starts_with_nocase(url, "https://")) return "https";
    if (starts_with_nocase(url, "http://")) return "http";
    return {};
}

}  // namespace

std::optional<std::string> redirect_target(std::string_view from, std::string_view location) {
    while (!location.empty() && (location.front() == ' ' || location.front() == '\t')) location.remove_prefix(1);
    while (!location.empty() && (location.back() == ' ' || location.back() == '\t')) location.remove_suffix(1);
    location = location.substr(0, location.find('#'));
    const std::string_view scheme = scheme_of(from);
    if (scheme.empty() || location.empty()) return std::nullopt;
    std::string target;
    if (const std::size_t scheme_end = location.find("://");
        scheme_end != std::string_view::npos && scheme_end < location.find_first_of("/?")) {
        target = location;
    } else if (location.substr(0, 2) == "//") {
        target = std::string(scheme) + ":" + std::string(location);
    } else {
        const std::size_t authority = scheme.size() + 3;
        const std::size_t path = std::min(from.find_first_of("/?", authority), from.size());
        if (location.front() == '/') {
            target = std::string(from.substr(0, path)) + std::string(location);
        } else {
            // Relative to the folder of the path that answered.
            const std::string_view before_query = from.substr(0, from.find('?'));
            const std::size_t slash = before_query.rfind('/');
            target = slash >= path && slash != std::string_view::npos
                         ? std::string(before_query.substr(0, slash + 1)) + std::string(location)
                         : std::string(from.substr(0, path)) + "/" + std::string(location);
        }
    }
    const std::string_view next = scheme_of(target);
    if (next.empty() || (scheme == "https" && next == "http")) return std::nullopt;
    return target;
}

bool is_on_origin(std::string_view url, std::string_view origin) {
    if (origin.empty() || !url.starts_with(origin)) return false;
    // Only a path may follow: after "?" or "\\" WinHTTP can still be reading the authority
    // ("origin?@elsewhere/"), and the identity would go to another host.
    return url.size() == origin.size() || url[origin.size()] == '/';
}

std::string download_user_agent() { return "Veltrane_Desktop/" + format_build_version(current_build_version()); }

}  // namespace veltrane
