// Reading the access logs: zlib reads plain and gzip-compressed files alike.
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

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

Result<void> add_log(Fleet& fleet, const fs::path& path) {
    const std::string name = path_to_utf8(path);
    errno = 0;
    std::unique_ptr<gzFile_s, GzCloser> file(open_log(path));
    if (!file) return make_error("cannot read " + name + ": " + (errno ? std::strerror(errno) : "out of memory"));
    // nginx's lines are short; a longer one is no request line, and is not held whole.
    constexpr std::size_t kLongestLine = 65536;
    std::string line;
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
            add_access_line(fleet, line);
            line.clear();
        }
    }
    add_access_line(fleet, line);
    return {};
}

// "access.log.1", "access.log.2.gz", ...: what logrotate leaves beside the log.
bool is_rotated(const std::string& name, const std::string& base) {
    if (name.size() <= base.size() + 1 || name.compare(0, base.size(), base) != 0 || name[base.size()] != '.') {
        return false;
    }
    std::string rest = name.substr(base.size() + 1);
    if (rest.size() > 3 && rest.compare(rest.size() - 3, 3, ".gz") == 0) rest.resize(rest.size() - 3);
    return !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

Result<Fleet> read_fleet(const fs::path& log) {
    Fleet fleet;
    std::error_code ec;
    if (fs::is_directory(log, ec)) return make_error("cannot read " + path_to_utf8(log) + ": it is a folder");
    if (auto added = add_log(fleet, log); !added) return added.take_error();
    const fs::path folder = log.has_parent_path() ? log.parent_path() : fs::path(".");
    const std::string base = path_to_utf8(log.filename());
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!is_rotated(path_to_utf8(it->path().filename()), base)) continue;
        if (auto added = add_log(fleet, it->path()); !added) return added.take_error();
    }
    if (ec) return make_error("cannot list " + path_to_utf8(folder) + ": " + ec.message());
    return fleet;
}

}  // namespace veltrane::publish
