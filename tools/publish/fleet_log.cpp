// Reading the access logs: zlib reads plain and gzip-compressed files alike.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "file_util/text.h"
#include "fleet.h"

namespace veltrane::publish {
namespace fs = std::filesystem;

namespace {

struct GzCloser {
    void operator()(gzFile_s* f) const { gzclose(f); }
};

gzFile open_log(const fs::path& path) {
#ifdef _WIN32
    return gzopen_w(path.c_str(), "rb");
#else
    return gzopen(path.c_str(), "rb");
#endif
}

// Reads one file into `fleet`; on an error, what it added must be dropped by the caller.
Result<void> add_log(Fleet& fleet, const fs::path& path) {
    const std::string name = path_to_utf8(path);
    const std::string file_name = path_to_utf8(path.filename());
    errno = 0;
    std::unique_ptr<gzFile_s, GzCloser> file(open_log(path));
    if (!file) return make_error("cannot read " + name + ": " + (errno ? std::strerror(errno) : "out of memory"));
    // nginx's lines are short; a longer one is no request line, and is not held whole.
    constexpr std::size_t kLongestLine = 65536;
    std::string line;
    std::uint64_t number = 1;
    const auto add_line = [&] {
        add_access_line(fleet, line, file_name + ":" + std::to_string(number++));
        line.clear();
    };
    char buffer[8192];
    for (;;) {
        const int got = gzread(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            int code = 0;
            const char* message = gzerror(file.get(), &code);
            return make_error("cannot read " + name + ": " + (code == Z_ERRNO ? std::strerror(errno) : message));
        }
        if (got == 0) {
            int code = 0;
            const char* message = gzerror(file.get(), &code);
            if (code != Z_OK) return make_error("cannot read " + name + ": " + message);
            break;
        }
        for (int i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                if (line.size() <= kLongestLine) line.push_back(buffer[i]);
                continue;
            }
            add_line();
        }
    }
    add_line();
    return {};
}

// What logrotate leaves beside the log: "access.log.1", "access.log.2.gz", and with its
// dateext option "access.log-20261207", "access.log-20261207.gz".
bool is_rotated(std::string_view name, std::string_view base) {
    if (name.size() <= base.size() + 1 || !name.starts_with(base)) return false;
    const char mark = name[base.size()];
    std::string_view rest = name.substr(base.size() + 1);
    if (rest.ends_with(".gz")) rest.remove_suffix(3);
    return (mark == '.' || mark == '-') && !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

Result<Fleet> read_fleet(const fs::path& log) {
    Fleet fleet;
    std::error_code ec;
    if (fs::is_directory(log, ec)) return make_error("cannot read " + path_to_utf8(log) + ": it is a folder");
    if (auto added = add_log(fleet, log); !added) return added.take_error();
    const fs::path folder = log.has_parent_path() ? log.parent_path() : fs::path(".");
    const std::string base = path_to_utf8(log.filename());
    std::vector<fs::path> rotated;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (is_rotated(path_to_utf8(it->path().filename()), base)) rotated.push_back(it->path());
    }
    if (ec) return make_error("cannot list " + path_to_utf8(folder) + ": " + ec.message());
    std::sort(rotated.begin(), rotated.end());
    // logrotate may be compressing one right now; the others still make a report.
    for (const fs::path& path : rotated) {
        Fleet part;
        if (auto added = add_log(part, path); !added) {
            fleet.warnings.push_back(added.error().message + "; left out of the report");
            continue;
        }
        add_fleet(fleet, part);
    }
    return fleet;
}

}  // namespace veltrane::publish
