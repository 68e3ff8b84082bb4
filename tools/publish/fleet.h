// The fleet report for hospital IT: from the content server's nginx access logs (the default
// combined format), per workstation address the last content sync, the build it runs and its
// last update check; the number of workstations per build; the workstations whose last sync
// is older than a limit. Parsing and the report are portable; reading the logs (plain and
// gzip-compressed, rotated) is in fleet_log.cpp.
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

// One request line of the combined format; time in seconds since 1970 UTC.
struct AccessLine {
    std::string address;
    std::int64_t time = 0;
    std::string path;  // without the query
    int status = 0;
    std::string user_agent;
};

std::optional<AccessLine> parse_access_line(std::string_view line);

// The build from a user agent "Veltrane_Desktop/20261208.71500.0": the version text; "unknown"
// for builds that sent the bare name; nothing for other programs.
std::optional<std::string> build_of_user_agent(std::string_view user_agent);

struct Workstation {
    std::string build;  // of its latest request
    std::int64_t build_time = 0;
    std::optional<std::int64_t> last_sync;
    std::optional<std::int64_t> last_update_check;
};

struct Fleet {
    std::map<std::string, Workstation> workstations;  // by address
    std::uint64_t skipped_lines = 0;                   // not in the combined format
};

// Lines of programs other than this one are ignored; the order of lines does not matter.
void add_access_line(Fleet& fleet, std::string_view line);

std::string fleet_report(const Fleet& fleet, std::int64_t now, std::int64_t stale_hours);

// The log and its rotated files beside it (LOG.1, LOG.2.gz, ...), plain or gzip-compressed.
// The log itself must be readable; so must every rotated file found.
Result<Fleet> read_fleet(const std::filesystem::path& log);

}  // namespace veltrane::publish
