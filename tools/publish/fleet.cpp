#include "fleet.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace veltrane::publish {
namespace {

constexpr std::string_view kAgentName = "Veltrane_Desktop";
constexpr std::string_view kSyncPath = "/api/veltrane/current";
constexpr std::string_view kUpdateCheckPath = "/api/static/veltrane/update.json";

bool digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view s) {
    int v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "08/Dec/2026:14:20:01 +0900" as seconds since 1970 UTC.
std::optional<std::int64_t> parse_local_time(std::string_view t) {
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (t.size() != 26 || t[2] != '/' || t[6] != '/' || t[11] != ':' || t[14] != ':' || t[17] != ':' || t[20] != ' ' ||
        (t[21] != '+' && t[21] != '-')) {
        return std::nullopt;
    }
    const auto month = std::find(kMonths.begin(), kMonths.end(), t.substr(3, 3));
    const std::string_view day = t.substr(0, 2), year = t.substr(7, 4), hour = t.substr(12, 2), minute = t.substr(15, 2),
                           second = t.substr(18, 2), zone = t.substr(22, 4);
    if (month == kMonths.end() || !digits(day) || !digits(year) || !digits(hour) || !digits(minute) ||
        !digits(second) || !digits(zone)) {
        return std::nullopt;
    }
    const int m = static_cast<int>(month - kMonths.begin()) + 1;
    if (number(day) < 1 || number(day) > 31 || number(hour) > 23 || number(minute) > 59 || number(second) > 60) {
        return std::nullopt;
    }
    const std::int64_t offset = (number(zone.substr(0, 2)) * 60 + number(zone.substr(2))) * 60;
    const std::int64_t local = days_from_civil(number(year), m, number(day)) * 86400 + number(hour) * 3600 +
                               number(minute) * 60 + number(second);
    return t[21] == '+' ? local - offset : local + offset;
}

// The text up to `end` from `at`, moving `at` past the end mark.
std::optional<std::string_view> take_until(std::string_view line, std::size_t& at, std::string_view end) {
    const std::size_t stop = line.find(end, at);
    if (stop == std::string_view::npos) return std::nullopt;
    const std::string_view field = line.substr(at, stop - at);
    at = stop + end.size();
    return field;
}

std::string utc_text(std::int64_t t) {
    const std::int64_t days = (t >= 0 ? t : t - 86399) / 86400;
    const std::int64_t rest = t - days * 86400;
    // Inverse of days_from_civil.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d UTC", static_cast<long long>(y), m, d,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

std::string when(const std::optional<std::int64_t>& t) { return t ? utc_text(*t) : "never"; }

void later(std::optional<std::int64_t>& slot, std::int64_t t) {
    if (!slot || t > *slot) slot = t;
}

}  // namespace

std::optional<AccessLine> parse_access_line(std::string_view line) {
    // $remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent
    // "$http_referer" "$http_user_agent"; nginx writes a quote inside a field as \x22.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t at = 0;
    const auto address = take_until(line, at, " ");
    if (!address || address->empty() || !take_until(line, at, " [")) return std::nullopt;
    const auto time_text = take_until(line, at, "] \"");
    const auto request = take_until(line, at, "\" ");
    const auto status = take_until(line, at, " ");
    if (!time_text || !request || !status || !digits(*status) || status->size() != 3) return std::nullopt;
    const auto bytes = take_until(line, at, " \"");
    const auto referer = take_until(line, at, "\" \"");
    const auto agent = take_until(line, at, "\"");
    if (!bytes || !referer || !agent || at != line.size()) return std::nullopt;
    const auto time = parse_local_time(*time_text);
    if (!time) return std::nullopt;
    AccessLine out;
    out.address = std::string(*address);
    out.time = *time;
    out.status = number(*status);
    out.user_agent = std::string(*agent);
    // "GET /path?query HTTP/1.1"; a malformed request line (status 400) keeps an empty path.
    const std::size_t space = request->find(' ');
    if (space != std::string_view::npos) {
        std::string_view target = request->substr(space + 1);
        target = target.substr(0, target.find(' '));
        out.path = std::string(target.substr(0, target.find('?')));
    }
    return out;
}

std::optional<std::string> build_of_user_agent(std::string_view agent) {
    if (agent.substr(0, kAgentName.size()) != kAgentName) return std::nullopt;
    const std::string_view rest = agent.substr(kAgentName.size());
    if (rest.empty()) return "unknown";
    if (rest[0] != '/' || rest.size() == 1) return std::nullopt;
    return std::string(rest.substr(1));
}

void add_access_line(Fleet& fleet, std::string_view line) {
    if (line.empty() || (line.size() == 1 && line[0] == '\r')) return;
    const auto parsed = parse_access_line(line);
    if (!parsed) {
        ++fleet.skipped_lines;
        return;
    }
    const auto build = build_of_user_agent(parsed->user_agent);
    if (!build) return;
    Workstation& w = fleet.workstations[parsed->address];
    if (w.build.empty() || parsed->time >= w.build_time) {
        w.build = *build;
        w.build_time = parsed->time;
    }
    if (parsed->path == kSyncPath && parsed->status == 200) later(w.last_sync, parsed->time);
    if (parsed->path == kUpdateCheckPath) later(w.last_update_check, parsed->time);
}

std::string fleet_report(const Fleet& fleet, std::int64_t now, std::int64_t stale_hours) {
    std::string out = "workstations: " + std::to_string(fleet.workstations.size()) + "\n";
    std::map<std::string, std::size_t> builds;
    std::string stale;
    for (const auto& [address, w] : fleet.workstations) {
        out += address + "  last sync " + when(w.last_sync) + "  build " + w.build + "  last update check " +
               when(w.last_update_check) + "\n";
        ++builds[w.build];
        if (!w.last_sync || now - *w.last_sync > stale_hours * 3600) {
            stale += "  " + address + "  last sync " + when(w.last_sync) + "\n";
        }
    }
    out += "builds:\n";
    for (const auto& [build, count] : builds) out += "  " + build + "  " + std::to_string(count) + "\n";
    out += "last sync older than " + std::to_string(stale_hours) + " h:\n" + (stale.empty() ? "  none\n" : stale);
    if (fleet.skipped_lines) {
        out += "lines not in nginx's combined format, skipped: " + std::to_string(fleet.skipped_lines) + "\n";
    }
    return out;
}

}  // namespace veltrane::publish
