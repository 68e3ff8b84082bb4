#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "download/download.h"
#include "file_util/win.h"

namespace veltrane {
namespace {

struct InternetCloser {
    void operator()(void* h) const { WinHttpCloseHandle(h); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

using Clock = std::chrono::steady_clock;

// Each call gets the usual time-out, cut short by what is left of the whole request's
// deadline; false once the deadline has passed.
bool set_call_timeouts(HINTERNET handle, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int t = static_cast<int>(std::min<long long>(left, kDownloadTimeoutMs));
    return WinHttpSetTimeouts(handle, t, t, t, t);
}

struct UrlParts {
    std::wstring host;
    std::wstring path;  // with query
    INTERNET_PORT port = 0;
    bool secure = false;
};

std::optional<UrlParts> split_url(std::string_view url) {
    const std::wstring wide = win::to_wide(url);
    URL_COMPONENTS c{};
    c.dwStructSize = sizeof c;
    c.dwHostNameLength = static_cast<DWORD>(-1);
    c.dwUrlPathLength = static_cast<DWORD>(-1);
    c.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &c)) return std::nullopt;
    if (c.nScheme != INTERNET_SCHEME_HTTPS && c.nScheme != INTERNET_SCHEME_HTTP) return std::nullopt;
    UrlParts parts;
    parts.host.assign(c.lpszHostName, c.dwHostNameLength);
    parts.path.assign(c.lpszUrlPath, c.dwUrlPathLength);
    if (c.lpszExtraInfo) parts.path.append(c.lpszExtraInfo, c.dwExtraInfoLength);
    if (parts.path.empty()) parts.path = L"/";
    parts.port = c.nPort;
    parts.secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    return parts;
}

void set_limits(HINTERNET request) {
    DWORD redirects = kMaxRedirects;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
    // Older systems (and Wine) may not know the header limit; their default is larger but
    // still bounded, so a refusal here is not fatal.
    DWORD header_limit = kMaxHeaderBytes;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &header_limit, sizeof header_limit);
}

std::optional<DWORD> status_code(HINTERNET request) {
    DWORD code = 0, size = sizeof code;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &code, &size, WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    return code;
}

std::optional<std::uint64_t> content_length(HINTERNET request) {
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9' || value > UINT64_MAX / 10 - 9) return UINT64_MAX;
        value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
    }
    return value;
}

// Reads at most limit + 1 bytes so an oversized body is noticed without holding it. Each read
// takes only what has arrived, so a trickling server meets the deadline between reads.
std::optional<Bytes> read_body(HINTERNET request, std::uint64_t limit, Clock::time_point deadline) {
    const std::uint64_t cap = limit == UINT64_MAX ? limit : limit + 1;
    Bytes body;
    body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(limit, 65536)));
    while (body.size() < cap) {
        if (!set_call_timeouts(request, deadline)) return std::nullopt;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return std::nullopt;
        if (available == 0) break;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({available, 65536, cap - body.size()}));
        const std::size_t at = body.size();
        // Up to 64 MiB of body: running out of memory fails the download, not the process.
        if (!try_resize(body, at + want)) return std::nullopt;
        DWORD got = 0;
        if (!WinHttpReadData(request, body.data() + at, static_cast<DWORD>(want), &got)) return std::nullopt;
        body.resize(at + got);
        if (got == 0) break;
    }
    if (body.size() > limit) return std::nullopt;
    // A connection that closes early ends the read like a complete body does; the announced
    // length tells the two apart.
    if (const auto announced = content_length(request); announced && *announced != body.size()) return std::nullopt;
    return body;
}

}  // namespace

std::optional<Bytes> download_bytes(std::string_view url, std::uint64_t limit) {
    // A day is far beyond any caller's limit; the cap keeps the clock arithmetic in range.
    const auto ms = std::min<std::uint64_t>(download_deadline_ms(limit), 86'400'000);
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(ms));
    const auto parts = split_url(url);
    if (!parts) return std::nullopt;
    const std::wstring agent = win::to_wide(download_user_agent());
    Internet session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return std::nullopt;
    if (!set_call_timeouts(session.get(), deadline)) return std::nullopt;
    Internet connection(WinHttpConnect(session.get(), parts->host.c_str(), parts->port, 0));
    if (!connection) return std::nullopt;
    Internet request(WinHttpOpenRequest(connection.get(), L"GET", parts->path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, parts->secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return std::nullopt;
    set_limits(request.get());
    // Set on the request as well: not every WinHTTP hands the session's time-outs down.
    if (!set_call_timeouts(request.get(), deadline)) return std::nullopt;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return std::nullopt;
    }
    if (!set_call_timeouts(request.get(), deadline)) return std::nullopt;
    if (!WinHttpReceiveResponse(request.get(), nullptr)) return std::nullopt;
    if (status_code(request.get()) != DWORD{200}) return std::nullopt;
    return read_body(request.get(), limit, deadline);
}

std::optional<std::string> download_text(std::string_view url, std::uint64_t limit) {
    auto bytes = download_bytes(url, limit);
    if (!bytes) return std::nullopt;
    auto text = utf8_text(*bytes);
    if (!text) return std::nullopt;
    return std::move(*text);
}

}  // namespace veltrane
