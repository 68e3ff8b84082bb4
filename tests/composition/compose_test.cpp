// Composition through the stand-in desktop with real GDI+: what each monitor's picture shows,
// what the desktop is left with, and that failures leave the user's wallpapers in place.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <array>
#include <chrono>

#include "composition/composition_fixture.h"
#include "file_util/text.h"
#include "image/png_writer.h"
#include "wallpaper/compose_win.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// The block on a 1920 × 1080 monitor: origin (760, 290); duty 290–369, image 380–679,
// text 690–789.
constexpr int kCentreX = 960, kDutyY = 330, kImageY = 530, kTextY = 740, kDutyGapY = 375;

class Composition : public ::testing::Test {
protected:
    ScratchDir dir{"compose"};
    fs::path install = dir / "Veltrane_Desktop";
    fs::path user_wallpaper = dir / "holiday.final.png";

    void SetUp() override {
        fs::create_directories(install);
        write_png_file(user_wallpaper, 160, 90, kRed);
    }
    fs::path monitor_picture(int i) const {
        return utf8_to_path(standin_wallpaper(i == 0 ? kLeftMonitor : kRightMonitor));
    }
};

TEST_F(Composition, EachMonitorGetsItsOwnPictureAndTheUserWallpaperIsRecorded) {
    describe_two_monitors(path_to_utf8(user_wallpaper), 4, kBlueColorref);
    ASSERT_TRUE(compose(install, sample_content(255), Settings{}, BackgroundMode::Original).ok());

    const auto folders = output_folders(install);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].rfind("generation-", 0), 0u);
    const fs::path published = content_folder(install) / folders[0];
    EXPECT_EQ(monitor_picture(0), published / "monitor-0.png");
    EXPECT_EQ(monitor_picture(1), published / "monitor-1.png");
    EXPECT_EQ(read_standin_state().position, 2);

    const Picture left(monitor_picture(0));
    ASSERT_EQ(left.width(), 1920);
    ASSERT_EQ(left.height(), 1080);
    EXPECT_EQ(left.at(10, 10), kRed);  // the user's wallpaper, filled
    EXPECT_EQ(left.at(kCentreX, kDutyY), kWhite);
    EXPECT_EQ(left.at(kCentreX, kDutyGapY), kRed);
    EXPECT_EQ(left.at(kCentreX, kImageY), kGreen);
    EXPECT_EQ(left.at(kCentreX, kTextY), kBlue);
    EXPECT_EQ(left.at(759, kImageY), kRed);
    EXPECT_EQ(left.at(760, kImageY), kGreen);

    // No wallpaper and no GDI device name: the background colour, no content.
    const Picture right(monitor_picture(1));
    EXPECT_EQ(right.at(10, 10), kBlue);
    EXPECT_EQ(right.at(kCentreX, kImageY), kBlue);

    const auto state = read_original_state(composite_paths(install).state);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->position, 4);
    EXPECT_EQ(state->color, kBlueColorref);
    ASSERT_EQ(state->monitors.size(), 2u);
    EXPECT_EQ(state->monitors[0].wallpaper, path_to_utf8(user_wallpaper));
    EXPECT_EQ(read_raw(utf8_to_path(state->monitors[0].backup)), read_raw(user_wallpaper));
    EXPECT_EQ(utf8_to_path(state->monitors[0].backup).filename(), "monitor-0.png");
    EXPECT_EQ(state->monitors[1].wallpaper, "");
    EXPECT_EQ(state->monitors[1].composite, path_to_utf8(published / "monitor-1.png"));
}

// Seen through the pixels: a background painted into the cache file shows while its key
// holds; a new last-write time of the wallpaper, or a damaged file, draws it again.
TEST_F(Composition, ACachedBackgroundIsReusedUntilItsKeyChanges) {
    describe_two_monitors(path_to_utf8(user_wallpaper), 4, kBlueColorref);
    const auto compose_left = [&] {
        EXPECT_TRUE(compose(install, sample_content(255), Settings{}, BackgroundMode::Original).ok());
        return Picture(monitor_picture(0));
    };
    const fs::path cache = composite_paths(install).folder / "Cache";
    const auto paint_cache_white = [&](std::size_t cut) {
        std::string bytes = read_raw(cache / "monitor-0.background");
        const auto head = bytes.find("\n\n");
        ASSERT_NE(head, std::string::npos);
        ASSERT_EQ(bytes.size() - head - 2, 1920u * 1080 * 4);
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(head + 2), bytes.end(), '\xFF');
        write_raw(cache / "monitor-0.background", bytes.substr(0, bytes.size() - cut));
    };
    EXPECT_EQ(compose_left().at(10, 10), kRed);
    EXPECT_FALSE(fs::exists(cache / "monitor-1.background"));  // the colour alone is not kept

    paint_cache_white(0);
    const Picture reused = compose_left();
    EXPECT_EQ(reused.at(10, 10), kWhite);
    EXPECT_EQ(reused.at(kCentreX, kImageY), kGreen);

    fs::last_write_time(user_wallpaper, fs::last_write_time(user_wallpaper) + std::chrono::seconds(10));
    EXPECT_EQ(compose_left().at(10, 10), kRed);

    paint_cache_white(1);
    EXPECT_EQ(compose_left().at(10, 10), kRed);
}

TEST_F(Composition, AlphaBlackModeAndDisabledMonitors) {
    describe_two_monitors(path_to_utf8(user_wallpaper), 4, kBlueColorref);
    ASSERT_TRUE(compose(install, sample_content(128), Settings{}, BackgroundMode::Black).ok());
    const Picture half(monitor_picture(0));
    EXPECT_EQ(half.at(10, 10), kBlack);  // black mode ignores wallpaper and colour
    EXPECT_EQ(half.at(kCentreX, kImageY), (Rgb{0, 128, 0}));
    EXPECT_EQ(half.at(kCentreX, kDutyY), (Rgb{128, 128, 128}));
    EXPECT_EQ(Picture(monitor_picture(1)).at(10, 10), kBlack);

    Settings settings;
    settings.disabled_monitors = {"\\\\.\\DISPLAY1"};
    ASSERT_TRUE(compose(install, sample_content(255), settings, BackgroundMode::Original).ok());
    const Picture disabled(monitor_picture(0));
    EXPECT_EQ(disabled.at(kCentreX, kImageY), kRed);
    EXPECT_EQ(disabled.at(kCentreX, kDutyY), kRed);
    // The previous output folder is gone; the record still names the user's wallpaper.
    EXPECT_EQ(output_folders(install).size(), 1u);
    EXPECT_EQ(read_original_state(composite_paths(install).state)->monitors[0].wallpaper,
              path_to_utf8(user_wallpaper));
}

TEST_F(Composition, SpanAndSpotlightBackgrounds) {
    const fs::path wide = dir / "wide.png";
    write_png_file(wide, 160, 45, kRed, kBlue);
    describe_two_monitors(path_to_utf8(wide), 5, 0);
    StandinState state = read_standin_state();
    state.wallpapers.push_back({kRightMonitor, path_to_utf8(wide)});
    write_standin_state(state);
    ASSERT_TRUE(compose(install, sample_content(255), Settings{}, BackgroundMode::Original).ok());
    // One image over 3840 pixels: red on the left monitor, blue on the right one.
    EXPECT_EQ(Picture(monitor_picture(0)).at(1800, 500), kRed);
    EXPECT_EQ(Picture(monitor_picture(1)).at(120, 500), kBlue);

    const fs::path spotlight = dir / "spotlight.png";
    write_png_file(spotlight, 64, 36, kYellow);
    ASSERT_TRUE(compose(install, sample_content(255), Settings{}, BackgroundMode::Spotlight, spotlight).ok());
    EXPECT_EQ(Picture(monitor_picture(0)).at(10, 10), kYellow);
    EXPECT_EQ(Picture(monitor_picture(1)).at(1900, 1070), kYellow);
}

TEST_F(Composition, FailingSecondMonitorPutsTheFirstBack) {
    describe_two_monitors(path_to_utf8(user_wallpaper), 4, kBlueColorref,
                          {"fail=SetWallpaper|0x80070005|" + kRightMonitor + "|monitor-1.png"});
    const auto result = compose(install, sample_content(255), Settings{}, BackgroundMode::Original);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().message.find("0x80070005"), std::string::npos) << result.error().message;
    EXPECT_EQ(standin_wallpaper(kLeftMonitor), path_to_utf8(user_wallpaper));
    EXPECT_EQ(read_standin_state().position, 4);
    for (const auto& name : output_folders(install)) EXPECT_NE(name.rfind("generation-", 0), 0u) << name;
}

TEST_F(Composition, MonitorUnpluggedWhileComposingChangesNothing) {
    describe_two_monitors(path_to_utf8(user_wallpaper), 4, kBlueColorref, {"unplug=" + kRightMonitor + "|1"});
    const auto result = compose(install, sample_content(255), Settings{}, BackgroundMode::Original);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, kMonitorsChangedMessage);
    EXPECT_TRUE(calls_of("SetWallpaper").empty());
    EXPECT_TRUE(calls_of("SetPosition").empty());
    EXPECT_TRUE(output_folders(install).empty());
    EXPECT_EQ(standin_wallpaper(kLeftMonitor), path_to_utf8(user_wallpaper));
}

TEST(GdiplusSession, AFailedStartGivesTheStatusInDecimal) {
    const auto refused = gdiplus::Session::start(0);  // no such GDI+ version
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "GDI+ 초기화 실패: 17");
}

// A w × h picture whose four quadrants have the four colours (top left, top right, bottom
// left, bottom right); a 1 × 1 picture is the first colour.
struct Quadrants {
    std::uint32_t width, height;
    std::array<Rgb, 4> colors;
    Rgb at(std::int64_t x, std::int64_t y) const {
        return colors[(y < std::int64_t{height / 2} ? 0 : 2) + (x < std::int64_t{width / 2} ? 0 : 1)];
    }
};

void write_quadrants(const fs::path& path, const Quadrants& q) {
    PngPicture picture;
    picture.width = q.width;
    picture.height = q.height;
    picture.color_type = PNG_COLOR_TYPE_RGB;
    for (std::uint32_t y = 0; y < q.height; ++y) {
        for (std::uint32_t x = 0; x < q.width; ++x) {
            const Rgb c = q.width == 1 ? q.colors[0] : q.at(x, y);
            picture.rows.insert(picture.rows.end(), {c.r, c.g, c.b});
        }
    }
    write_raw(path, encode_png(picture));
}

std::int64_t modulo(std::int64_t a, std::int64_t n) { return ((a % n) + n) % n; }

TEST(Tiling, EveryTileSizeIsOneDrawWithEachPixelFromItsPlaceInTheGrid) {
    ScratchDir dir{"tiles"};
    auto session = gdiplus::Session::start();
    ASSERT_TRUE(session.ok());
    // Left of and above the primary monitor, so the grid's first tile starts before its edge.
    const MonitorRect monitor{-1283, -7, -1283 + 1024, -7 + 768};
    const MonitorRect bounds{-1283, -7, 1920, 1080};
    const std::vector<Quadrants> tiles = {{1, 1, {kYellow, kYellow, kYellow, kYellow}},
                                          {2, 2, {kRed, kGreen, kBlue, kWhite}},
                                          {500, 500, {kGreen, kRed, kWhite, kBlue}}};
    std::vector<double> seconds;
    for (const auto& tile : tiles) {
        const fs::path file = dir / ("tile-" + std::to_string(tile.width) + ".png");
        write_quadrants(file, tile);
        Gdiplus::GpBitmap* raw = nullptr;
        ASSERT_EQ(gdiplus::flat::GdipCreateBitmapFromScan0(1024, 768, 0, PixelFormat32bppPARGB, nullptr, &raw), Gdiplus::Ok);
        const gdiplus::Image bitmap(raw);
        Gdiplus::GpGraphics* raw_graphics = nullptr;
        ASSERT_EQ(gdiplus::flat::GdipGetImageGraphicsContext(bitmap.get(), &raw_graphics), Gdiplus::Ok);
        {
            const gdiplus::Graphics graphics(raw_graphics);
            gdiplus::flat::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
            gdiplus::flat::GdipGraphicsClear(graphics.get(), 0xFF000000);
            // The fastest of three draws, so a busy machine does not decide.
            double fastest = 1e9;
            for (int i = 0; i < 3; ++i) {
                const auto start = std::chrono::steady_clock::now();
                (void)draw_wallpaper_file(graphics.get(), file, 1, monitor, bounds);
                fastest = std::min(fastest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            }
            seconds.push_back(fastest);
        }
        Gdiplus::Rect all(0, 0, 1024, 768);
        Gdiplus::BitmapData data{};
        ASSERT_EQ(gdiplus::flat::GdipBitmapLockBits(bitmap.bitmap(), &all, Gdiplus::ImageLockModeRead,
                                                    PixelFormat32bppARGB, &data),
                  Gdiplus::Ok);
        int wrong = 0;
        for (int y = 0; y < 768; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(data.Scan0) + std::ptrdiff_t{y} * data.Stride;
            for (int x = 0; x < 1024; ++x) {
                const Rgb got{row[x * 4 + 2], row[x * 4 + 1], row[x * 4]};
                const Rgb want = tile.width == 1 ? tile.colors[0]
                                                 : tile.at(modulo(x + monitor.left, tile.width),
                                                           modulo(y + monitor.top, tile.height));
                if (got != want && ++wrong <= 3) ADD_FAILURE() << tile.width << ": (" << x << ", " << y << ") " << got;
            }
        }
        gdiplus::flat::GdipBitmapUnlockBits(bitmap.bitmap(), &data);
        EXPECT_EQ(wrong, 0) << tile.width;
    }
    // 786,432 tiles of one pixel take about as long as four of 500 pixels.
    EXPECT_LT(seconds[0], 4 * seconds[2] + 0.15) << seconds[0] << " s against " << seconds[2] << " s";
}

}  // namespace
}  // namespace veltrane
