// The download module: every HTTP request the program makes (content sync, the Spotlight
// background, the update check and releases) goes through here. One GET, 30-second time-outs
// per call and an overall deadline, status 200 only, at most `limit` bytes of body, no retry.
// The user agent names the build; requests to the content server's origin also carry the
// installation's identity (settings/install_identity.h), requests elsewhere nothing more. Requests go through the user's
// proxy (a proxy server of the per-user settings with its bypass list, else WinHTTP's
// automatic proxy), TLS end to end through its CONNECT. Failures carry no detail: every
// caller turns them into its own outcome.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_util/file_util.h"

namespace veltrane {

inline constexpr std::uint32_t kDownloadTimeoutMs = 30000;
inline constexpr std::uint32_t kMaxHeaderBytes = 8192;
inline constexpr std::uint32_t kMaxRedirects = 100;
// The slowest honest link a download must still complete on, averaged over the transfer.
inline constexpr std::uint64_t kSlowestLinkBytesPerSecond = 65536;

// The whole request's deadline: the largest allowed body at the slowest honest rate, plus one
// time-out, so that a server that trickles cannot hold a download (and the locks its caller
// holds) for longer.
std::uint64_t download_deadline_ms(std::uint64_t limit);

// "Veltrane_Desktop/20261019.230507.0": lets the server's logs tell builds apart.
std::string download_user_agent();

// Whether the URL is on this origin ("https://host[:port]", as the build constants give it),
// compared exactly: only such requests carry the installation's identity.
bool is_on_origin(std::string_view url, std::string_view origin);

// Where a redirect leads: Location resolved against the URL that answered. Nothing for a
// scheme other than http(s), or for a step down from https to http.
std::optional<std::string> redirect_target(std::string_view from, std::string_view location);

// What a failed download can tell beyond failing.
struct DownloadReport {
    // The proxy server that answered 407: it wants a password this program does not have.
    std::optional<std::string> proxy_wants_password;
};

std::optional<Bytes> download_bytes(std::string_view url, std::uint64_t limit);
std::optional<Bytes> download_bytes_reporting(std::string_view url, std::uint64_t limit, DownloadReport& report);

// As download_bytes, then strict UTF-8.
std::optional<std::string> download_text(std::string_view url, std::uint64_t limit);

}  // namespace veltrane
