// How a request reaches its host, decided as the user's other programs decide it: the
// automatic configuration (a PAC script or WPAD) first, then the proxy server of the per-user
// settings with its bypass list, else the system's own setting. Decided per host, so that a
// redirect to another host gets its own answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// The list as the per-user settings hold it: entries apart by ";" or white space, each a host
// name or address with "*" wildcards, optionally with a scheme ("https://*.hospital.local")
// and a port ("intranet:8443" bypasses that port only); "<local>" stands for every host name
// without a dot. Case does not matter.
bool proxy_bypassed(std::string_view bypass_list, std::string_view host, std::uint16_t port);

// The per-user settings: whether an automatic configuration is set, and the manual proxy.
struct UserProxySettings {
    bool automatic = false;
    std::string proxy;  // "host:port", or per scheme: "http=a:80;https=b:8080"
    std::string bypass;
};

enum class RouteKind { Direct, Named, System };
struct ProxyRoute {
    RouteKind kind = RouteKind::System;
    std::string proxy;  // for Named
    friend bool operator==(const ProxyRoute&, const ProxyRoute&) = default;
};

// `automatic_answer` is what the automatic configuration said for this URL: empty for
// DIRECT, a proxy list otherwise, nothing when it gave no answer (no script, or one that
// could not be fetched or run); then the manual proxy applies.
ProxyRoute choose_proxy_route(const UserProxySettings& user, std::string_view host, std::uint16_t port,
                              const std::optional<std::string>& automatic_answer);

// The server a proxy list sends this scheme to, for messages: "http=a:80;https=b:8080" with
// secure → "b:8080"; "a:80" → "a:80"; a scheme prefix ("http://a:80") is dropped.
std::string proxy_server_name(std::string_view proxy_list, bool secure);

}  // namespace veltrane
