#include "download/proxy.h"

#include <algorithm>

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

// A trailing ":digits" after a host part; IPv6 addresses only in brackets.
std::optional<std::string_view> entry_port(std::string_view entry) {
    const std::size_t colon = entry.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == entry.size()) return std::nullopt;
    if (entry.find(':') != colon && entry.front() != '[') return std::nullopt;
    const std::string_view port = entry.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    return port;
}

bool entry_matches(std::string_view entry, std::string_view host, std::uint16_t port) {
    if (const auto scheme = entry.find("://"); scheme != std::string_view::npos) entry.remove_prefix(scheme + 3);
    if (same_text(entry, "<local>")) return host.find_first_of(".:") == std::string_view::npos;
    if (entry_port(entry)) return glob(entry, std::string(host) + ":" + std::to_string(port));
    return glob(entry, host);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

bool proxy_bypassed(std::string_view list, std::string_view host, std::uint16_t port) {
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = list.find_first_of("; \t\r\n", at);
        const std::string_view entry = list.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!entry.empty() && entry_matches(entry, host, port)) return true;
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return false;
}

ProxyRoute choose_proxy_route(const UserProxySettings& user, std::string_view host, std::uint16_t port,
                              const std::optional<std::string>& automatic_answer) {
    if (user.automatic && automatic_answer) {
        if (automatic_answer->empty()) return {RouteKind::Direct, {}};
        return {RouteKind::Named, *automatic_answer};
    }
    if (!user.proxy.empty()) {
        if (proxy_bypassed(user.bypass, host, port)) return {RouteKind::Direct, {}};
        return {RouteKind::Named, user.proxy};
    }
    return {RouteKind::System, {}};
}

std::string proxy_server_name(std::string_view list, bool secure) {
    std::string_view fallback;
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t end = std::min(list.find(';', at), list.size());
        std::string_view entry = trimmed(list.substr(at, end - at));
        at = end + 1;
        if (entry.empty()) continue;
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            if (fallback.empty()) fallback = entry;
            continue;
        }
        if (same_text(entry.substr(0, eq), secure ? "https" : "http")) {
            fallback = entry.substr(eq + 1);
            break;
        }
    }
    if (const auto scheme = fallback.find("://"); scheme != std::string_view::npos) fallback.remove_prefix(scheme + 3);
    return std::string(fallback);
}

}  // namespace veltrane
