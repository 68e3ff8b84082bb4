// The user's proxy settings where Windows does not apply them itself: whether a host is exempt
// from the proxy by the per-user bypass list.
#pragma once

#include <string_view>

namespace veltrane {

// The list as the per-user settings hold it: entries apart by ";" or white space, each a host
// name or address with "*" wildcards, optionally with a scheme ("https://*.hospital.local");
// "<local>" stands for every host name without a dot. Case does not matter.
bool proxy_bypassed(std::string_view bypass_list, std::string_view host);

}  // namespace veltrane
