#include <gtest/gtest.h>
#include <zlib.h>

#include "fleet.h"
#include "file_util/text.h"
#include "support/test_paths.h"

using namespace veltrane::publish;
namespace vt = veltrane::testing;

namespace {

// 2026-12-08 00:00:00 UTC.
constexpr std::int64_t kDay = 1796688000;

// A line in the site file's log_format; without a ring, as the site file wrote before rings.
std::string line(const std::string& address, const std::string& time, const std::string& request, int status,
                 const std::string& agent, const std::string& install = "-", const std::string& ring = "") {
    return address + " [" + time + "] \"" + request + "\" " + std::to_string(status) + " 42 \"" + agent + "\" \"" +
           install + "\"" + (ring.empty() ? "" : " \"" + ring + "\"");
}

std::string sync(const std::string& address, const std::string& time, const std::string& agent) {
    return line(address, time, "GET /api/veltrane/current HTTP/1.1", 200, agent) + "\n";
}

// Compressed as logrotate does; without the last `cut` bytes, as a half-written file.
void write_gz(const std::filesystem::path& path, const std::string& text, std::size_t cut = 0) {
    std::string packed(compressBound(static_cast<uLong>(text.size())) + 32, '\0');
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out - cut);
    deflateEnd(&z);
    vt::write_raw(path, packed);
}

const std::string kNew = "Veltrane_Desktop/20261208.71500.0";
const std::string kOld = "Veltrane_Desktop/20261019.230507.0";

}  // namespace

TEST(Fleet, ParsesTheSiteLogFormat) {
    const auto parsed = parse_access_line(
        line("10.1.2.3", "2026-12-08T09:30:00+09:00", "GET /api/veltrane/current?x=1 HTTP/1.1", 200, kNew));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->address, "10.1.2.3");
    EXPECT_EQ(parsed->time, kDay + 1800);
    EXPECT_EQ(parsed->path, "/api/veltrane/current");
    EXPECT_EQ(parsed->status, 200);
    EXPECT_EQ(parsed->user_agent, kNew);
    const auto malformed = parse_access_line(line("::1", "2026-12-07T23:00:00-01:00", "\\x16\\x03", 400, "-"));
    ASSERT_TRUE(malformed.has_value());
    EXPECT_EQ(malformed->time, kDay);
    EXPECT_EQ(malformed->path, "");
    // The absolute form that some proxies and WinHTTP through a tunnel send.
    EXPECT_EQ(parse_access_line(line("10.1.2.3", "2026-12-08T09:30:00+09:00",
                                     "GET https://veltrane.hospital.local:443/api/veltrane/current?x=1 HTTP/1.1", 200,
                                     kNew))
                  ->path,
              "/api/veltrane/current");

    // nginx's own combined and main formats, a bad date, a line without the last field.
    EXPECT_FALSE(parse_access_line("10.1.2.3 - - [08/Dec/2026:09:30:00 +0900] \"GET /api/veltrane/current HTTP/1.1\" "
                                   "200 42 \"-\" \"" + kNew + "\"").has_value());
    EXPECT_FALSE(parse_access_line("10.1.2.3 - - [08/Dec/2026:09:30:00 +0900] \"GET /api/veltrane/current HTTP/1.1\" "
                                   "200 42 \"-\" \"" + kNew + "\" \"-\"").has_value());
    EXPECT_FALSE(parse_access_line(line("10.1.2.3", "2026-13-08T09:30:00+09:00", "GET / HTTP/1.1", 200, kNew)));
    EXPECT_FALSE(parse_access_line("10.1.2.3 [2026-12-08T09:30:00+09:00] \"GET / HTTP/1.1\" 200 42 \"" + kNew + "\""));

    EXPECT_EQ(build_of_user_agent(kNew), "20261208.71500.0");
    EXPECT_EQ(build_of_user_agent("Veltrane_Desktop"), "unknown");
    EXPECT_FALSE(build_of_user_agent("Mozilla/5.0").has_value());
}

TEST(Fleet, ReportsEachInstallationByIdentityAndBuildsWithoutOneByAddress) {
    const std::string a(32, 'a'), b(32, 'b');
    const std::string current = "GET /api/veltrane/current HTTP/1.1", check = "GET /api/static/veltrane/update.json HTTP/1.1";
    Fleet fleet;
    // Two installations behind one proxy address; out of order, as rotated files are read:
    // the latest request names the build, the ring and the address.
    add_access_line(fleet, line("10.0.0.1", "2026-12-08T10:00:00+00:00", current, 200, kNew, a, "pilot"));
    add_access_line(fleet, line("10.0.0.1", "2026-12-08T08:00:00+00:00", current, 200, kOld, a, "-"));
    add_access_line(fleet, line("10.0.0.1", "2026-12-08T11:00:00+00:00", current, 503, kNew, a, "pilot"));
    add_access_line(fleet, line("10.0.0.1", "2026-12-08T06:00:00+00:00", check, 404, kOld, a));
    add_access_line(fleet, line("10.0.0.1", "2026-12-07T20:00:00+00:00", current, 200, kOld, b) + " \"\"");
    add_access_line(fleet, line("10.0.0.1", "2026-12-07T21:00:00+00:00", check, 200, kOld, b, "-"));
    // Builds that send none, and a malformed identity: by address.
    add_access_line(fleet, line("10.0.0.3", "2026-12-08T10:00:00+00:00", current, 404, "Veltrane_Desktop"));
    add_access_line(fleet, line("10.0.0.3", "2026-12-08T09:00:00+00:00", current, 200, kOld, "XYZ"));
    add_access_line(fleet, line("10.9.9.9", "2026-12-08T10:00:00+00:00", "GET / HTTP/1.1", 200, "Mozilla/5.0"));
    add_access_line(fleet, "garbage", "access.log:8");
    EXPECT_EQ(fleet.read_lines, 9u);

    const std::string report = fleet_report(fleet, kDay + 12 * 3600, 12);
    EXPECT_EQ(report,
              "installations: 3 (2 by identity, 1 by address: builds that send no identity, one row for all behind an address)\n"
              "installation " + a + " at 10.0.0.1  last sync 2026-12-08 10:00:00 UTC  build 20261208.71500.0  "
              "last update check 2026-12-08 06:00:00 UTC  ring pilot\n"
              "installation " + b + " at 10.0.0.1  last sync 2026-12-07 20:00:00 UTC  build 20261019.230507.0  "
              "last update check 2026-12-07 21:00:00 UTC  ring all\n"
              "address 10.0.0.3, no identity  last sync 2026-12-08 09:00:00 UTC  build unknown  last update check never  ring all\n"
              "builds per ring:\n"
              "  all  20261019.230507.0  1\n"
              "  all  unknown  1\n"
              "  pilot  20261208.71500.0  1\n"
              "last sync older than 12 h:\n"
              "  installation " + b + " at 10.0.0.1  last sync 2026-12-07 20:00:00 UTC\n"
              "lines not in the log format of veltrane-site.conf, skipped: 1\n"
              "  access.log:8: garbage\n");
}

TEST(Fleet, ReadsTheLogWithItsRotatedFilesOfBothNamingSchemes) {
    vt::ScratchDir dir("fleet");
    vt::write_raw(dir / "access.log", sync("10.0.0.1", "2026-12-08T10:00:00+00:00", kNew));
    vt::write_raw(dir / "access.log.1",
                  sync("10.0.0.2", "2026-12-08T09:00:00+00:00", kNew) + "a line of another format\r\n");
    write_gz(dir / "access.log.2.gz", sync("10.0.0.3", "2026-12-07T09:00:00+00:00", kOld));
    vt::write_raw(dir / "access.log-20261206", sync("10.0.0.4", "2026-12-06T09:00:00+00:00", kOld));
    write_gz(dir / "access.log-20261205.gz", sync("10.0.0.5", "2026-12-05T09:00:00+00:00", kOld));
    vt::write_raw(dir / "access.log.old", sync("10.0.0.6", "2026-12-05T09:00:00+00:00", kOld));
    // Half-written by logrotate: what it held so far is left out with the file.
    write_gz(dir / "access.log.3.gz", sync("10.0.0.7", "2026-12-04T09:00:00+00:00", kOld), 8);

    const auto fleet = read_fleet(dir / "access.log");
    ASSERT_TRUE(fleet.ok()) << fleet.error().message;
    EXPECT_EQ(fleet->by_address.size(), 5u);
    EXPECT_EQ(fleet->by_address.at("10.0.0.3").build, "20261019.230507.0");
    EXPECT_TRUE(fleet->by_address.count("10.0.0.5"));
    EXPECT_FALSE(fleet->by_address.count("10.0.0.7"));
    ASSERT_EQ(fleet->warnings.size(), 1u);
    EXPECT_NE(fleet->warnings[0].find("access.log.3.gz"), std::string::npos) << fleet->warnings[0];
    EXPECT_EQ(fleet->skipped_lines, 1u);
    EXPECT_EQ(fleet->skipped_examples, std::vector<std::string>{"access.log.1:2: a line of another format"});

    // The log itself must be readable.
    const auto missing = read_fleet(dir / "none.log");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("none.log"), std::string::npos);
}
