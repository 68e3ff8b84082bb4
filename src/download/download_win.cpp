#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "download/download.h"
#include "download/proxy.h"
#include "file_util/win.h"

namespace veltrane {
namespace {

struct InternetCloser {
    void operator()(void* h) const { WinHttpCloseHandle(h); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

using Clock = std::chrono::steady_clock;

struct GlobalText {
    wchar_t* text = nullptr;
    GlobalText() = default;
    GlobalText(const GlobalText&) = delete;
    GlobalText& operator=(const GlobalText&) = delete;
    ~GlobalText() {
        if (text) GlobalFree(text);
    }
};

// The per-user settings, as the user's other programs read them.
struct UserProxy {
    BOOL auto_detect = FALSE;
    GlobalText auto_config_url, proxy, bypass;
};

void read_user_proxy(UserProxy& out) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return;
    out.auto_detect = config.fAutoDetect;
    out.auto_config_url.text = config.lpszAutoConfigUrl;
    out.proxy.text = config.lpszProxy;
    out.bypass.text = config.lpszProxyBypass;
}

struct Session {
    Internet handle;
    bool ask_script = false;  // before Windows 8.1: a PAC script or WPAD is asked per URL
};

// A proxy server named in the per-user settings is applied here, with its bypass list, the
// same on every Windows version. Everything else (a PAC script, WPAD, the machine-wide
// setting) is the automatic proxy's work on Windows 8.1 and later, which refuses the
// automatic type before 8.1.
Session open_session(const std::wstring& agent, const UserProxy& user, const std::wstring& host) {
    Session s;
    if (user.proxy.text && *user.proxy.text) {
        const std::string bypass = user.bypass.text ? win::from_wide(user.bypass.text) : std::string();
        const bool direct = proxy_bypassed(bypass, win::from_wide(host));
        s.handle.reset(WinHttpOpen(agent.c_str(), direct ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                   direct ? WINHTTP_NO_PROXY_NAME : user.proxy.text, WINHTTP_NO_PROXY_BYPASS, 0));
        return s;
    }
    s.handle.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (s.handle) return s;
    s.handle.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    s.ask_script = user.auto_detect || user.auto_config_url.text;
    return s;
}

// The proxy a PAC script or WPAD names for this URL; none found leaves the request as it is.
void apply_script_proxy(HINTERNET session, HINTERNET request, const UserProxy& user, const std::wstring& url) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (user.auto_config_url.text) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = user.auto_config_url.text;
    }
    if (user.auto_detect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) return;
    GlobalText proxy, bypass;
    proxy.text = info.lpszProxy;
    bypass.text = info.lpszProxyBypass;
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
}

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
    UserProxy user;
    read_user_proxy(user);
    Session opened = open_session(agent, user, parts->host);
    const Internet session = std::move(opened.handle);
    if (!session) return std::nullopt;
    if (!set_call_timeouts(session.get(), deadline)) return std::nullopt;
    Internet connection(WinHttpConnect(session.get(), parts->host.c_str(), parts->port, 0));
    if (!connection) return std::nullopt;
    Internet request(WinHttpOpenRequest(connection.get(), L"GET", parts->path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, parts->secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return std::nullopt;
    set_limits(request.get());
    if (opened.ask_script) apply_script_proxy(session.get(), request.get(), user, win::to_wide(url));
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
