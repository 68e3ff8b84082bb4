// The fleet report for hospital IT: from the access log that the site file
// (tools/nginx/veltrane-site.conf) declares in its own format, per installation (by its
// identity, or by address for builds that send none) the last content sync, the build it
// runs, its last update check and its ring; the installations per ring and build; those whose
// last sync is older than a limit. Parsing and the report
// are portable; reading the logs (plain and gzip-compressed, rotated) is in fleet_log.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/result.h"

namespace veltrane::publish {

// One line of the site's log format; time in seconds since 1970 UTC.
struct AccessLine {
    std::string address;
    std::int64_t time = 0;
    std::string path;  // without scheme and authority (absolute form) and without the query
    int status = 0;
    std::string user_agent;
    std::string install;  // the installation's identity; empty when the line has none or a malformed one
    std::string ring;     // the ring nginx placed the request in; empty for none (and in older lines)
};

std::optional<AccessLine> parse_access_line(std::string_view line);

// The build from a user agent "Veltrane_Desktop/20261208.71500.0": the version text; "unknown"
// for builds that sent the bare name; nothing for other programs.
std::optional<std::string> build_of_user_agent(std::string_view user_agent);

// The ring that serves the site's own update.json: every request no ring places.
inline constexpr std::string_view kDefaultRing = "all";

struct Installation {
    std::string build;  // these three of its latest request
    std::string ring;
    std::string address;
    std::int64_t latest = 0;
    std::optional<std::int64_t> last_sync;
    std::optional<std::int64_t> last_update_check;
};

struct Fleet {
    std::map<std::string, Installation> by_identity;
    // Builds that send no identity: one row per address, however many stand behind it.
    std::map<std::string, Installation> by_address;
    std::uint64_t read_lines = 0;                      // in the site's log format
    std::uint64_t skipped_lines = 0;                   // not in it
    std::vector<std::string> skipped_examples;         // the first few, "FILE:LINE: text"
    std::vector<std::string> warnings;                 // rotated files left out, and why
};

constexpr std::size_t kSkippedExamples = 5;

// Lines of programs other than this one are read but left out; the order of lines does not
// matter. A line not in the site's log format is counted as skipped, the first few kept as
// examples with `where` ("FILE:LINE") before them.
void add_access_line(Fleet& fleet, std::string_view line, std::string_view where = {});

// Adds what another part of the log held.
void add_fleet(Fleet& into, const Fleet& from);

std::string fleet_report(const Fleet& fleet, std::int64_t now, std::int64_t stale_hours);

// The log and its rotated files beside it (LOG.1, LOG.2.gz, LOG-20261207, LOG-20261207.gz),
// plain or gzip-compressed. The log itself must be readable; a rotated file that is not (a
// damaged or half-written .gz) is left out whole, with a warning naming it.
Result<Fleet> read_fleet(const std::filesystem::path& log);

}  // namespace veltrane::publish
