#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "build_info/build_constants.h"
#include "download/download.h"
#include "download/proxy.h"
#include "file_util/win.h"
#include "settings/install_identity.h"
#include "settings/settings.h"

namespace veltrane {
namespace {

struct WinHttpHandle {
    using Handle = HINTERNET;
    static HINTERNET none() { return nullptr; }
    static bool is_none(HINTERNET h) { return h == nullptr; }
    static void close(HINTERNET h) { WinHttpCloseHandle(h); }
};
using Internet = win::Unique<WinHttpHandle>;

using Clock = std::chrono::steady_clock;

// A string WinHTTP allocated for the caller.
struct GlobalString {
    using Handle = wchar_t*;
    static wchar_t* none() { return nullptr; }
    static bool is_none(wchar_t* h) { return h == nullptr; }
    static void close(wchar_t* h) { GlobalFree(h); }
};
using GlobalText = win::Unique<GlobalString>;

// The per-user settings, as the user's other programs read them.
struct UserConfig {
    UserProxySettings settings;
    BOOL auto_detect = FALSE;
    GlobalText auto_config_url;
};

void read_user_config(UserConfig& out) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return;
    const GlobalText proxy(config.lpszProxy), bypass(config.lpszProxyBypass);
    out.auto_detect = config.fAutoDetect;
    out.auto_config_url.reset(config.lpszAutoConfigUrl);
    out.settings.automatic = out.auto_detect || (config.lpszAutoConfigUrl && *config.lpszAutoConfigUrl);
    if (proxy) out.settings.proxy = win::from_wide(proxy.get());
    if (bypass) out.settings.bypass = win::from_wide(bypass.get());
}

// What a PAC script or WPAD says for this URL: "" for DIRECT; nothing when it has no answer.
std::optional<std::string> ask_automatic(const UserConfig& user, HINTERNET session, const std::wstring& url) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (user.auto_config_url && *user.auto_config_url.get()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = user.auto_config_url.get();
    }
    if (user.auto_detect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) return std::nullopt;
    const GlobalText proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !proxy || !*proxy.get()) return std::string();
    return win::from_wide(proxy.get());
}

// The system's own setting (the machine-wide proxy, and on Windows 8.1 and later whatever
// else WinHTTP applies itself) when the user named nothing; older systems refuse the
// automatic type.
Internet open_session(const std::wstring& agent, const ProxyRoute& route) {
    if (route.kind == RouteKind::Direct) {
        return Internet(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    }
    if (route.kind == RouteKind::Named) {
        const std::wstring proxy = win::to_wide(route.proxy);
        return Internet(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
    }
    Internet session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (session) return session;
    return Internet(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

// Each call gets the usual time-out, cut short by what is left of the whole request's
// deadline; false once the deadline has passed.
bool set_call_timeouts(HINTERNET handle, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int t = static_cast<int>(std::min<long long>(left, kDownloadTimeoutMs));
    if (!WinHttpSetTimeouts(handle, t, t, t, t)) return false;
    // The whole header wait, which a per-read time-out does not bound against a trickle. Not
    // every WinHTTP knows it.
    DWORD whole = static_cast<DWORD>(t);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &whole, sizeof whole);
    return true;
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

// Redirects are followed here, one host at a time, so that each gets its own proxy decision.
bool set_limits(HINTERNET request) {
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects)) return false;
    // Older systems (and Wine) may not know the header limit; their default is larger but
    // still bounded, so a refusal here is not fatal.
    DWORD header_limit = kMaxHeaderBytes;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &header_limit, sizeof header_limit);
    return true;
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

std::optional<std::wstring> location(HINTERNET request) {
    std::wstring text(kMaxHeaderBytes, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

bool is_redirect(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// A proxy's 407 to CONNECT arrives as the response on Windows; Wine fails the TLS handshake
// and keeps no status. Asked again without TLS, the proxy answers the same 407 itself.
bool proxy_wants_password(HINTERNET session, const std::wstring& host, INTERNET_PORT port, Clock::time_point deadline) {
    const Internet connection(WinHttpConnect(session, host.c_str(), port, 0));
    if (!connection) return false;
    const Internet request(WinHttpOpenRequest(connection.get(), L"GET", L"/", nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request || !set_limits(request.get()) || !set_call_timeouts(request.get(), deadline)) return false;
    return WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
           WinHttpReceiveResponse(request.get(), nullptr) && status_code(request.get()) == DWORD{407};
}

struct Answer {
    std::optional<Bytes> body;
    std::optional<std::string> next;  // a redirect to follow
};

// One request to one host, through the proxy decided for it.
Answer request_once(const std::string& url, std::uint64_t limit, Clock::time_point deadline, const UserConfig& user,
                    DownloadReport& report) {
    const auto parts = split_url(url);
    if (!parts) return {};
    const std::wstring agent = win::to_wide(download_user_agent());
    std::optional<std::string> automatic;
    if (user.settings.automatic) {
        const Internet asking(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                          WINHTTP_NO_PROXY_BYPASS, 0));
        if (asking && set_call_timeouts(asking.get(), deadline)) automatic = ask_automatic(user, asking.get(), win::to_wide(url));
    }
    const ProxyRoute route = choose_proxy_route(user.settings, win::from_wide(parts->host), parts->port, automatic);
    const Internet session = open_session(agent, route);
    if (!session || !set_call_timeouts(session.get(), deadline)) return {};
    const Internet connection(WinHttpConnect(session.get(), parts->host.c_str(), parts->port, 0));
    if (!connection) return {};
    const Internet request(WinHttpOpenRequest(connection.get(), L"GET", parts->path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, parts->secure ? WINHTTP_FLAG_SECURE : 0));
    // Set on the request as well: not every WinHTTP hands the session's time-outs down.
    if (!request || !set_limits(request.get()) || !set_call_timeouts(request.get(), deadline)) return {};
    // Checked for every hop: a redirect to another host never takes the identity along.
    if (is_on_origin(url, build::kContentServerOrigin)) {
        const auto folder = executable_folder();
        if (const auto identity = folder ? read_install_identity(*folder) : std::nullopt) {
            const std::wstring header = win::to_wide(std::string(kInstallIdentityHeader) + ": " + *identity);
            if (!WinHttpAddRequestHeaders(request.get(), header.c_str(), static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD)) {
                return {};
            }
        }
    }
    const bool answered =
        WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        set_call_timeouts(request.get(), deadline) && WinHttpReceiveResponse(request.get(), nullptr);
    const auto status = status_code(request.get());
    if (status == DWORD{407} || (!answered && route.kind == RouteKind::Named && parts->secure &&
                                 proxy_wants_password(session.get(), parts->host, parts->port, deadline))) {
        report.proxy_wants_password = proxy_server_name(route.proxy, parts->secure);
    }
    if (!answered || !status) return {};
    if (is_redirect(*status)) {
        const auto to = location(request.get());
        if (!to) return {};
        return {std::nullopt, redirect_target(url, win::from_wide(*to))};
    }
    if (*status != 200) return {};
    return {read_body(request.get(), limit, deadline), std::nullopt};
}

struct Outcome {
    std::optional<Bytes> body;
    DownloadReport report;
};

Outcome fetch(std::string url, std::uint64_t limit, Clock::time_point deadline) {
    UserConfig user;
    read_user_config(user);
    Outcome out;
    for (std::uint32_t hop = 0; hop <= kMaxRedirects; ++hop) {
        Answer answer = request_once(url, limit, deadline, user, out.report);
        if (!answer.next) {
            out.body = std::move(answer.body);
            return out;
        }
        url = std::move(*answer.next);
    }
    return out;
}

// Handed between the caller and the worker that does the request.
struct Handover {
    std::mutex mutex;
    std::condition_variable done_signal;
    bool done = false;
    Outcome outcome;
};

}  // namespace

// The request runs on a worker so that the caller is free at the deadline whatever WinHTTP is
// waiting for (Wine ignores the time-outs while it waits for headers, and closing the
// request's or the session's handle from another thread does not end that wait either:
// tried with a server sending one header byte every 20 s). A worker held past it
// by its server fails at its next step and closes its handles then; it shares nothing with
// the caller but the handover.
std::optional<Bytes> download_bytes_reporting(std::string_view url, std::uint64_t limit, DownloadReport& report) {
    // A day is far beyond any caller's limit; the cap keeps the clock arithmetic in range.
    const auto ms = std::min<std::uint64_t>(download_deadline_ms(limit), 86'400'000);
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(ms));
    const auto handover = std::make_shared<Handover>();
    try {
        std::thread([handover, url = std::string(url), limit, deadline] {
            Outcome outcome;
            try {
                outcome = fetch(url, limit, deadline);
            } catch (const std::exception&) {
                outcome = {};  // out of memory: a failed download, not an ended process
            }
            const std::lock_guard lock(handover->mutex);
            handover->outcome = std::move(outcome);
            handover->done = true;
            handover->done_signal.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(handover->mutex);
    if (!handover->done_signal.wait_until(lock, deadline, [&] { return handover->done; })) return std::nullopt;
    report = handover->outcome.report;
    return std::move(handover->outcome.body);
}

std::optional<Bytes> download_bytes(std::string_view url, std::uint64_t limit) {
    DownloadReport ignored;
    return download_bytes_reporting(url, limit, ignored);
}

std::optional<std::string> download_text(std::string_view url, std::uint64_t limit) {
    auto bytes = download_bytes(url, limit);
    if (!bytes) return std::nullopt;
    auto text = utf8_text(*bytes);
    if (!text) return std::nullopt;
    return std::move(*text);
}

}  // namespace veltrane
