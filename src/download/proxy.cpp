#include "download/proxy.h"

namespace veltrane {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_text(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// "*" matches any run of characters, including none.
bool glob(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && lower(pattern[p]) == lower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool entry_matches(std::string_view entry, std::string_view host) {
    if (const auto scheme = entry.find("://"); scheme != std::string_view::npos) entry.remove_prefix(scheme + 3);
    if (same_text(entry, "<local>")) return host.find_first_of(".:") == std::string_view::npos;
    return glob(entry, host);
}

}  // namespace

bool proxy_bypassed(std::string_view list, std::string_view host) {
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = list.find_first_of("; \t\r\n", at);
        const std::string_view entry = list.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!entry.empty() && entry_matches(entry, host)) return true;
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return false;
}

}  // namespace veltrane
