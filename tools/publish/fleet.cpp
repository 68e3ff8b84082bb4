#include "fleet.h"

#include "settings/install_identity.h"

#include <algorithm>
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

// "2026-12-08T14:20:01+09:00" ($time_iso8601) as seconds since 1970 UTC.
std::optional<std::int64_t> parse_iso_time(std::string_view t) {
    if (t.size() != 25 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' ||
        (t[19] != '+' && t[19] != '-') || t[22] != ':') {
        return std::nullopt;
    }
    const std::string_view year = t.substr(0, 4), month = t.substr(5, 2), day = t.substr(8, 2), hour = t.substr(11, 2),
                           minute = t.substr(14, 2), second = t.substr(17, 2), zone_hour = t.substr(20, 2),
                           zone_minute = t.substr(23, 2);
    for (const std::string_view field : {year, month, day, hour, minute, second, zone_hour, zone_minute}) {
        if (!digits(field)) return std::nullopt;
    }
    if (number(month) < 1 || number(month) > 12 || number(day) < 1 || number(day) > 31 || number(hour) > 23 ||
        number(minute) > 59 || number(second) > 60 || number(zone_hour) > 23 || number(zone_minute) > 59) {
        return std::nullopt;
    }
    const std::int64_t offset = (number(zone_hour) * 60 + number(zone_minute)) * 60;
    const std::int64_t local = days_from_civil(number(year), number(month), number(day)) * 86400 +
                               number(hour) * 3600 + number(minute) * 60 + number(second);
    return t[19] == '+' ? local - offset : local + offset;
}

// The path of "GET /path?query HTTP/1.1". Through some proxies the target comes in absolute
// form, "GET https://host/path HTTP/1.1": the scheme and authority are no part of the path.
// A malformed request line (status 400) gives an empty path.
std::string path_of_request(std::string_view request) {
    const std::size_t space = request.find(' ');
    if (space == std::string_view::npos) return {};
    std::string_view target = request.substr(space + 1);
    target = target.substr(0, target.find(' '));
    const std::size_t scheme_end = target.find("://");
    if (!target.empty() && target[0] != '/' && scheme_end != std::string_view::npos) {
        target = target.substr(std::min(target.find_first_of("/?", scheme_end + 3), target.size()));
    }
    return std::string(target.substr(0, target.find('?')));
}

// A line as it may be shown: bounded, and without control characters.
std::string printable(std::string_view line) {
    constexpr std::size_t kShown = 200;
    std::string out(line.substr(0, kShown));
    for (char& c : out) {
        if (c < 0x20 || c > 0x7e) c = '?';
    }
    if (line.size() > kShown) out += "...";
    return out;
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

void later(std::optional<std::int64_t>& slot, const std::optional<std::int64_t>& t) {
    if (t && (!slot || *t > *slot)) slot = t;
}

void merge(Installation& into, const Installation& from) {
    if (into.build.empty() || from.latest >= into.latest) {
        into.build = from.build;
        into.ring = from.ring;
        into.address = from.address;
        into.latest = from.latest;
    }
    later(into.last_sync, from.last_sync);
    later(into.last_update_check, from.last_update_check);
}

void merge_all(std::map<std::string, Installation>& into, const std::map<std::string, Installation>& from) {
    for (const auto& [key, installation] : from) merge(into[key], installation);
}

// nginx logs an empty value as "" and a missing one as "-".
std::string field_value(std::string_view field) { return field == "-" ? std::string() : std::string(field); }

struct Row {
    std::string name;
    const Installation* installation;
};

}  // namespace

std::optional<AccessLine> parse_access_line(std::string_view line) {
    // The site file's log_format:
    //   $remote_addr [$time_iso8601] "$request" $status $body_bytes_sent "$http_user_agent"
    //   "$http_x_veltrane_install" "$veltrane_ring"
    // (lines of the site file before rings end after the identity). nginx writes a quote
    // inside a field as \x22, so a quote always ends a field.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t at = 0;
    const auto address = take_until(line, at, " [");
    if (!address || address->empty() || address->find(' ') != std::string_view::npos) return std::nullopt;
    const auto time_text = take_until(line, at, "] \"");
    const auto request = take_until(line, at, "\" ");
    const auto status = take_until(line, at, " ");
    if (!time_text || !request || !status || !digits(*status) || status->size() != 3) return std::nullopt;
    const auto bytes = take_until(line, at, " \"");
    const auto agent = take_until(line, at, "\" \"");
    const auto install = take_until(line, at, "\"");
    if (!bytes || !digits(*bytes) || !agent || !install) return std::nullopt;
    std::optional<std::string_view> ring = std::string_view();
    if (at != line.size()) {
        if (line.substr(at, 2) != " \"") return std::nullopt;
        at += 2;
        ring = take_until(line, at, "\"");
        if (!ring || at != line.size()) return std::nullopt;
    }
    for (const std::string_view quoted : {*request, *agent, *install, *ring}) {
        if (quoted.find('"') != std::string_view::npos) return std::nullopt;
    }
    const auto time = parse_iso_time(*time_text);
    if (!time) return std::nullopt;
    AccessLine out;
    out.address = std::string(*address);
    out.time = *time;
    out.path = path_of_request(*request);
    out.status = number(*status);
    out.user_agent = std::string(*agent);
    out.install = parse_install_identity(*install).value_or("");
    out.ring = field_value(*ring);
    return out;
}

std::optional<std::string> build_of_user_agent(std::string_view agent) {
    if (agent.substr(0, kAgentName.size()) != kAgentName) return std::nullopt;
    const std::string_view rest = agent.substr(kAgentName.size());
    if (rest.empty()) return "unknown";
    if (rest[0] != '/' || rest.size() == 1) return std::nullopt;
    return std::string(rest.substr(1));
}

void add_access_line(Fleet& fleet, std::string_view line, std::string_view where) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    const auto parsed = parse_access_line(line);
    if (!parsed) {
        ++fleet.skipped_lines;
        if (fleet.skipped_examples.size() < kSkippedExamples) {
            fleet.skipped_examples.push_back((where.empty() ? "" : std::string(where) + ": ") + printable(line));
        }
        return;
    }
    ++fleet.read_lines;
    const auto build = build_of_user_agent(parsed->user_agent);
    if (!build) return;
    Installation seen;
    seen.build = *build;
    seen.ring = parsed->ring.empty() ? std::string(kDefaultRing) : parsed->ring;
    seen.address = parsed->address;
    seen.latest = parsed->time;
    if (parsed->path == kSyncPath && parsed->status == 200) seen.last_sync = parsed->time;
    if (parsed->path == kUpdateCheckPath) seen.last_update_check = parsed->time;
    if (parsed->install.empty()) merge(fleet.by_address[parsed->address], seen);
    else merge(fleet.by_identity[parsed->install], seen);
}

void add_fleet(Fleet& into, const Fleet& from) {
    merge_all(into.by_identity, from.by_identity);
    merge_all(into.by_address, from.by_address);
    into.read_lines += from.read_lines;
    into.skipped_lines += from.skipped_lines;
    for (const std::string& example : from.skipped_examples) {
        if (into.skipped_examples.size() < kSkippedExamples) into.skipped_examples.push_back(example);
    }
    into.warnings.insert(into.warnings.end(), from.warnings.begin(), from.warnings.end());
}

std::string fleet_report(const Fleet& fleet, std::int64_t now, std::int64_t stale_hours) {
    std::vector<Row> rows;
    for (const auto& [identity, i] : fleet.by_identity) rows.push_back({"installation " + identity + " at " + i.address, &i});
    for (const auto& [address, i] : fleet.by_address) rows.push_back({"address " + address + ", no identity", &i});
    std::string out = "installations: " + std::to_string(rows.size()) + " (" + std::to_string(fleet.by_identity.size()) +
                      " by identity, " + std::to_string(fleet.by_address.size()) +
                      " by address: builds that send no identity, one row for all behind an address)\n";
    std::map<std::pair<std::string, std::string>, std::size_t> builds;
    std::string stale;
    for (const Row& row : rows) {
        const Installation& i = *row.installation;
        out += row.name + "  last sync " + when(i.last_sync) + "  build " + i.build + "  last update check " +
               when(i.last_update_check) + "  ring " + i.ring + "\n";
        ++builds[{i.ring, i.build}];
        if (!i.last_sync || now - *i.last_sync > stale_hours * 3600) {
            stale += "  " + row.name + "  last sync " + when(i.last_sync) + "\n";
        }
    }
    out += "builds per ring:\n";
    for (const auto& [ring_build, count] : builds) {
        out += "  " + ring_build.first + "  " + ring_build.second + "  " + std::to_string(count) + "\n";
    }
    out += "last sync older than " + std::to_string(stale_hours) + " h:\n" + (stale.empty() ? "  none\n" : stale);
    if (fleet.skipped_lines) {
        out += "lines not in the log format of veltrane-site.conf, skipped: " + std::to_string(fleet.skipped_lines) +
               "\n";
        for (const std::string& example : fleet.skipped_examples) out += "  " + example + "\n";
    }
    return out;
}

}  // namespace veltrane::publish
