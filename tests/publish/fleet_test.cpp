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

std::string line(const std::string& address, const std::string& time, const std::string& request, int status,
                 const std::string& agent) {
    return address + " - - [" + time + "] \"" + request + "\" " + std::to_string(status) + " 42 \"-\" \"" + agent + "\"";
}

const std::string kNew = "Veltrane_Desktop/20261208.71500.0";
const std::string kOld = "Veltrane_Desktop/20261019.230507.0";

}  // namespace

TEST(Fleet, ParsesTheCombinedFormat) {
    const auto parsed = parse_access_line(
        line("10.1.2.3", "08/Dec/2026:09:30:00 +0900", "GET /api/veltrane/current?x=1 HTTP/1.1", 200, kNew));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->address, "10.1.2.3");
    EXPECT_EQ(parsed->time, kDay + 1800);
    EXPECT_EQ(parsed->path, "/api/veltrane/current");
    EXPECT_EQ(parsed->status, 200);
    EXPECT_EQ(parsed->user_agent, kNew);
    EXPECT_EQ(parse_access_line(line("::1", "07/Dec/2026:23:00:00 -0100", "\\x16\\x03", 400, "-"))->time, kDay);

    EXPECT_FALSE(parse_access_line("10.1.2.3 - - [08/Dec/2026:09:30:00 +0900] \"GET / HTTP/1.1\" 200 4").has_value());
    EXPECT_FALSE(parse_access_line(line("10.1.2.3", "08/Xyz/2026:09:30:00 +0900", "GET / HTTP/1.1", 200, kNew)));

    EXPECT_EQ(build_of_user_agent(kNew), "20261208.71500.0");
    EXPECT_EQ(build_of_user_agent("Veltrane_Desktop"), "unknown");
    EXPECT_FALSE(build_of_user_agent("Mozilla/5.0").has_value());
}

TEST(Fleet, ReportsEachWorkstationsLastSyncBuildAndUpdateCheck) {
    Fleet fleet;
    // Out of order, as rotated files are read: the latest request names the build.
    add_access_line(fleet, line("10.0.0.1", "08/Dec/2026:10:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 200, kNew));
    add_access_line(fleet, line("10.0.0.1", "08/Dec/2026:08:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 200, kOld));
    add_access_line(fleet, line("10.0.0.1", "08/Dec/2026:11:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 503, kNew));
    add_access_line(fleet, line("10.0.0.1", "08/Dec/2026:06:00:00 +0000",
                                "GET /api/static/veltrane/update.json HTTP/1.1", 404, kOld));
    add_access_line(fleet, line("10.0.0.2", "07/Dec/2026:20:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 200, kOld));
    add_access_line(fleet, line("10.0.0.3", "08/Dec/2026:10:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 404,
                                "Veltrane_Desktop"));
    add_access_line(fleet, line("10.9.9.9", "08/Dec/2026:10:00:00 +0000", "GET / HTTP/1.1", 200, "Mozilla/5.0"));
    add_access_line(fleet, "garbage");

    const std::string report = fleet_report(fleet, kDay + 12 * 3600, 12);
    EXPECT_EQ(report,
              "workstations: 3\n"
              "10.0.0.1  last sync 2026-12-08 10:00:00 UTC  build 20261208.71500.0  last update check 2026-12-08 06:00:00 UTC\n"
              "10.0.0.2  last sync 2026-12-07 20:00:00 UTC  build 20261019.230507.0  last update check never\n"
              "10.0.0.3  last sync never  build unknown  last update check never\n"
              "builds:\n"
              "  20261019.230507.0  1\n"
              "  20261208.71500.0  1\n"
              "  unknown  1\n"
              "last sync older than 12 h:\n"
              "  10.0.0.2  last sync 2026-12-07 20:00:00 UTC\n"
              "  10.0.0.3  last sync never\n"
              "lines not in nginx's combined format, skipped: 1\n");
    EXPECT_NE(fleet_report(fleet, kDay + 12 * 3600, 24).find("older than 24 h:\n  10.0.0.3"), std::string::npos);
}

TEST(Fleet, ReadsTheLogWithItsRotatedAndCompressedFiles) {
    vt::ScratchDir dir("fleet");
    vt::write_raw(dir / "access.log",
                  line("10.0.0.1", "08/Dec/2026:10:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 200, kNew) + "\n");
    vt::write_raw(dir / "access.log.1",
                  line("10.0.0.2", "08/Dec/2026:09:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 200, kNew) + "\r\n");
    const std::string rotated =
        line("10.0.0.3", "07/Dec/2026:09:00:00 +0000", "GET /api/veltrane/current HTTP/1.1", 200, kOld) + "\n";
    gzFile gz = gzopen(veltrane::path_to_utf8(dir / "access.log.2.gz").c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    ASSERT_EQ(gzwrite(gz, rotated.data(), static_cast<unsigned>(rotated.size())), static_cast<int>(rotated.size()));
    gzclose(gz);
    vt::write_raw(dir / "access.log.old", "not a rotation\n");

    const auto fleet = read_fleet(dir / "access.log");
    ASSERT_TRUE(fleet.ok()) << fleet.error().message;
    EXPECT_EQ(fleet->workstations.size(), 3u);
    EXPECT_EQ(fleet->workstations.at("10.0.0.3").build, "20261019.230507.0");
    EXPECT_EQ(fleet->skipped_lines, 0u);

    // A log that cannot be read, and a damaged compressed file, are errors.
    const auto missing = read_fleet(dir / "none.log");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("none.log"), std::string::npos);
    vt::write_raw(dir / "access.log.3.gz", std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03garbage", 18));
    EXPECT_FALSE(read_fleet(dir / "access.log").ok());
}
