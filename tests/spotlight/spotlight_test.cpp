// The Spotlight decisions: when a download is due, the restart rule, which candidates in
// which order, the JPEG check, the records, and pruning a real folder.
#include <gtest/gtest.h>

#include "file_util/text.h"
#include "spotlight/spotlight.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ScratchDir;
using testing::write_raw;

TEST(SpotlightSchedule, SixHoursOfStatusAgeAndFiveMinutesBetweenStarts) {
    const auto now = fs::file_time_type::clock::now();
    EXPECT_FALSE(spotlight_refresh_due(now - 21599s, now));
    EXPECT_TRUE(spotlight_refresh_due(now - 21600s, now));
    EXPECT_TRUE(spotlight_refresh_due(now + 60s, now));  // a clock set back does not hold it
    EXPECT_TRUE(spotlight_refresh_due(std::nullopt, now));

    const auto t = std::chrono::steady_clock::now();
    EXPECT_TRUE(spotlight_start_allowed(std::nullopt, t, false));
    EXPECT_FALSE(spotlight_start_allowed(t - 299s, t, false));
    EXPECT_TRUE(spotlight_start_allowed(t - 300s, t, false));
    // Switching to Spotlight starts at once even after a start ten seconds ago.
    EXPECT_TRUE(spotlight_start_allowed(t - 10s, t, true));
}

std::string item(const std::string& asset) {
    return R"({"item":")" + std::string(R"({\"ad\":{\"landscapeImage\":{\"asset\":\")") + asset + R"(\"}}})" + R"("})";
}

TEST(SpotlightCandidates, OnlyWellFormedItemsInOrderWithThePreviousAssetLast) {
    const std::string document = R"({"batchrsp":{"items":[)" + item("https://a/1.jpg") + "," +
                                 R"({"item":"not json"},{"item":5},{"other":1},)" +
                                 R"({"item":"{\"ad\":{\"portraitImage\":{\"asset\":\"https://a/p.jpg\"}}}"},)" +
                                 R"({"item":"{\"ad\":{\"landscapeImage\":{\"asset\":7}}}"},)" + item("http://a/plain.jpg") + "," +
                                 item("file://a/local.jpg") + "," + item("HTTPS:/a/x.jpg") + "," + item("https://a/2.jpg") +
                                 "," + item("https://a/3.jpg") + "," + item("https://a/4.jpg") + "]}}";
    const auto urls = spotlight_candidates(document);
    ASSERT_EQ(urls, (std::vector<std::string>{"https://a/1.jpg", "https://a/2.jpg", "https://a/3.jpg", "https://a/4.jpg"}));
    EXPECT_EQ(order_candidates(urls, "https://a/1.jpg"),
              (std::vector<std::string>{"https://a/2.jpg", "https://a/3.jpg", "https://a/4.jpg", "https://a/1.jpg"}));
    EXPECT_EQ(order_candidates(urls, "https://elsewhere/x.jpg"), urls);

    EXPECT_TRUE(spotlight_candidates(R"({"batchrsp":{"items":[{"item":"{broken"},{"item":""}]}})").empty());
    EXPECT_TRUE(spotlight_candidates(R"({"batchrsp":{"items":{"item":"x"}}})").empty());
    EXPECT_TRUE(spotlight_candidates(R"({"items":[]})").empty());
    EXPECT_TRUE(spotlight_candidates("{").empty());
}

TEST(SpotlightCandidates, AJpegNeedsMoreThanThreeBytesBetweenItsMarkers) {
    using B = std::vector<std::uint8_t>;
    EXPECT_FALSE(is_jpeg_envelope(B{0xFF, 0xD8, 0xFF}));
    EXPECT_TRUE(is_jpeg_envelope(B{0xFF, 0xD8, 0xFF, 0xD9}));
    EXPECT_FALSE(is_jpeg_envelope(B{0xFF, 0xD8, 0xFF, 0xE0, 0x00}));
    EXPECT_FALSE(is_jpeg_envelope(B{0x89, 'P', 'N', 'G', 0xFF, 0xD9}));
}

TEST(SpotlightCandidates, APicturesSizeIsReadFromItsFrameHeaderAndCappedAsTheRendererCaps) {
    using B = std::vector<std::uint8_t>;
    // SOI, an APP0 segment, a fill byte, a progressive frame header of `height` × `width`, EOI.
    const auto picture = [](std::uint8_t h1, std::uint8_t h0, std::uint8_t w1, std::uint8_t w0) {
        return B{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J', 'F', 0xFF, 0xFF, 0xC2, 0x00, 0x0B, 0x08,
                 h1,   h0,   w1,   w0,   0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};
    };
    const auto size = jpeg_frame_size(picture(0x10, 0x00, 0x20, 0x00));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 8192u);
    EXPECT_EQ(size->height, 4096u);
    EXPECT_TRUE(spotlight_picture_fits(picture(0x10, 0x00, 0x20, 0x00)));   // 2^25 pixels
    EXPECT_FALSE(spotlight_picture_fits(picture(0x10, 0x00, 0x20, 0x01)));  // one column more
    EXPECT_FALSE(spotlight_picture_fits(picture(0x00, 0x00, 0x20, 0x00)));  // height from a later segment
    EXPECT_FALSE(jpeg_frame_size(B{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9}));  // a scan before any frame
    EXPECT_FALSE(jpeg_frame_size(B{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x40, 0xFF, 0xD9}));  // a segment past the end
    B huffman_first = picture(0x00, 0x10, 0x00, 0x10);
    huffman_first[10] = 0xC4;  // a table segment is no frame: nothing follows it
    EXPECT_FALSE(jpeg_frame_size(huffman_first));
}

TEST(SpotlightRecords, StatusAndBackupReadBackAsWritten) {
    const std::string status = format_spotlight_status(1700000000, "https://a/1.jpg", fs::path("C:/x/spotlight-1.jpg"));
    EXPECT_EQ(status, "applied_at=1700000000\nasset_url=https://a/1.jpg\npath=C:/x/spotlight-1.jpg\n");
    EXPECT_EQ(status_asset_url(status), "https://a/1.jpg");
    EXPECT_EQ(status_asset_url("asset_url=first\nasset_url=second\n"), "first");
    EXPECT_EQ(status_asset_url("applied_at=1\npath=x\n"), std::nullopt);

    const std::string written = format_wallpaper_backup("C:\\u.bmp", "10", std::nullopt, "0 0 0");
    EXPECT_EQ(written, "path=C:\\u.bmp\nstyle=10\ntile=\ncolor=0 0 0\n");
    EXPECT_EQ(parse_wallpaper_backup(written), (WallpaperBackup{"C:\\u.bmp", "10", std::nullopt, "0 0 0"}));
    // An empty path is kept, empty values are left alone, carriage returns are dropped.
    EXPECT_EQ(parse_wallpaper_backup("path=\r\nstyle=10\r\ntile=\r\ncolor=\r\n"),
              (WallpaperBackup{"", "10", std::nullopt, std::nullopt}));
    EXPECT_EQ(parse_wallpaper_backup("Path=x\nstyle=a=b\n"), (WallpaperBackup{"", "a=b", std::nullopt, std::nullopt}));
}

TEST(SpotlightFolder, PruningKeepsTheNewestThreeWithTiesByPath) {
    ScratchDir dir("spotlight");
    const fs::path folder = dir.path();
    const auto now = fs::file_time_type::clock::now();
    const char* names[] = {"spotlight-5.jpg", "spotlight-1.jpg", "spotlight-2.jpg", "spotlight-3.jpg", "spotlight-4.jpg"};
    const std::chrono::seconds ages[] = {50s, 400s, 300s, 300s, 100s};
    for (int i = 0; i < 5; ++i) {
        write_raw(folder / names[i], "x");
        fs::last_write_time(folder / names[i], now - ages[i]);
    }
    write_raw(folder / kSpotlightTempFile, "partial");
    write_raw(folder / "Spotlight-9.jpg", "not ours");
    fs::create_directory(folder / "spotlight-0.jpg");

    EXPECT_EQ(prune_spotlight_folder(folder), 3u);
    // spotlight-2 and spotlight-3 are equally old: the smaller path goes first.
    EXPECT_FALSE(fs::exists(folder / "spotlight-1.jpg"));
    EXPECT_FALSE(fs::exists(folder / "spotlight-2.jpg"));
    EXPECT_TRUE(fs::exists(folder / "spotlight-3.jpg"));
    EXPECT_FALSE(fs::exists(folder / kSpotlightTempFile));
    EXPECT_TRUE(fs::exists(folder / "Spotlight-9.jpg"));
    EXPECT_TRUE(fs::is_directory(folder / "spotlight-0.jpg"));
    EXPECT_EQ(latest_spotlight_image(folder.parent_path() / "missing"), std::nullopt);

    // The newest wins; on equal times the one listed later.
    const std::vector<SpotlightImage> listed = {{"a", now}, {"b", now - 1s}, {"c", now}};
    EXPECT_EQ(newest_image(listed), fs::path("c"));
}

}  // namespace
}  // namespace veltrane
