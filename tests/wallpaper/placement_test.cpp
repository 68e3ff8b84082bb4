#include "wallpaper/placement.h"

#include <gtest/gtest.h>

#include <limits>

#include "wallpaper/desktop_wallpaper.h"

namespace veltrane {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

const MonitorRect kLeft{0, 0, 1920, 1080};
const MonitorRect kRight{1920, 0, 3840, 1080};
const MonitorRect kBoth{0, 0, 3840, 1080};

PixelRect single(std::uint32_t iw, std::uint32_t ih, std::int32_t position, const MonitorRect& m,
                 const MonitorRect& v) {
    const auto p = place_wallpaper(iw, ih, position, m, v);
    EXPECT_TRUE(p && p->columns == 1 && p->rows == 1);
    return p ? p->first : PixelRect{};
}

TEST(Placement, SpanShowsEachMonitorItsPartOfOneImage) {
    // 16:9 over 3840 × 1080: scaled to 3840 wide, cropped top and bottom.
    EXPECT_EQ(single(1600, 900, kPositionSpan, kLeft, kBoth), (PixelRect{0, -540, 3840, 2160}));
    EXPECT_EQ(single(1600, 900, kPositionSpan, kRight, kBoth), (PixelRect{-1920, -540, 3840, 2160}));
    // A monitor to the left of and above the origin.
    const MonitorRect upper{-1280, -1024, 0, 0};
    EXPECT_EQ(single(100, 100, kPositionSpan, upper, {-1280, -1024, 1920, 1080}),
              (PixelRect{0, -548, 3200, 3200}));
}

TEST(Placement, ScaledPositionsOnAnotherAspectRatio) {
    const MonitorRect m{1920, 0, 3840, 1080};  // offsets are the monitor's own
    EXPECT_EQ(single(1000, 1000, kPositionFit, m, kBoth), (PixelRect{420, 0, 1080, 1080}));
    EXPECT_EQ(single(4000, 1000, kPositionFit, m, kBoth), (PixelRect{0, 300, 1920, 480}));
    EXPECT_EQ(single(1000, 1000, kPositionFill, m, kBoth), (PixelRect{0, -420, 1920, 1920}));
    EXPECT_EQ(single(1000, 1000, kPositionStretch, m, kBoth), (PixelRect{0, 0, 1920, 1080}));
    EXPECT_EQ(single(1000, 1000, kPositionCenter, m, kBoth), (PixelRect{460, 40, 1000, 1000}));
    EXPECT_EQ(single(1000, 1000, 42, m, kBoth), (PixelRect{460, 40, 1000, 1000}));
    // Offsets truncate toward zero; a scaled 4.5 rounds up, not to even.
    EXPECT_EQ(single(2001, 3, kPositionCenter, m, kBoth), (PixelRect{-40, 538, 2001, 3}));
    EXPECT_EQ(single(2, 3, kPositionFit, {0, 0, 3, 100}, kBoth), (PixelRect{0, 47, 3, 5}));
}

TEST(Placement, TilesAreAnchoredAtTheVirtualOrigin) {
    auto tiles = place_wallpaper(500, 400, kPositionTile, {-1280, -300, 0, 724}, kBoth);
    ASSERT_TRUE(tiles);
    EXPECT_EQ(tiles->first, (PixelRect{-220, -100, 500, 400}));
    EXPECT_EQ(tiles->columns, 3);  // -220 … 1280 covers 1280
    EXPECT_EQ(tiles->rows, 3);     // -100 … 1100 covers 1024
    tiles = place_wallpaper(500, 400, kPositionTile, kRight, kBoth);
    ASSERT_TRUE(tiles);
    EXPECT_EQ(tiles->first, (PixelRect{-420, 0, 500, 400}));
    EXPECT_EQ(tiles->columns, 5);
    EXPECT_EQ(tiles->rows, 3);
    // Exactly covering needs no extra column.
    EXPECT_EQ(place_wallpaper(480, 1080, kPositionTile, kLeft, kBoth)->columns, 4);
}

TEST(Placement, NothingForAnEmptyImageOrAnEmptyTileGrid) {
    for (std::int32_t position = 0; position <= 6; ++position) {
        EXPECT_FALSE(place_wallpaper(0, 10, position, kLeft, kBoth));
        EXPECT_FALSE(place_wallpaper(10, 0, position, kLeft, kBoth));
    }
    EXPECT_FALSE(place_wallpaper(10, 10, kPositionTile, {5, 5, 5, 100}, kBoth));
}

TEST(Placement, HostileSizesSaturateInsteadOfOverflowing) {
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();
    const MonitorRect big{kMin, kMin, kMin + 32768, kMin + 32768};
    const MonitorRect everything{kMin, kMin, kMax, kMax};
    const PixelRect filled = single(huge, 1, kPositionFill, big, everything);
    EXPECT_EQ(filled.width, kMax);
    EXPECT_EQ(filled.height, 32768);
    EXPECT_EQ(single(huge, huge, kPositionCenter, everything, everything).width, kMax);
    EXPECT_EQ(single(1, 1, kPositionStretch, everything, everything), (PixelRect{0, 0, kMax, kMax}));
    EXPECT_EQ(single(1, 1, kPositionSpan, {kMax - 1, kMax - 1, kMax, kMax}, everything).x, kMin);
    const auto tiles = place_wallpaper(1, huge, kPositionTile, everything, everything);
    ASSERT_TRUE(tiles);
    EXPECT_EQ(tiles->columns, std::int64_t{huge});
    EXPECT_EQ(tiles->first.y, kMin + 1);  // -(INT32_MIN mod (2^32 - 1))
    EXPECT_EQ(tiles->rows, 2);
}

TEST(Placement, AlphaScalesEveryChannelWithRounding) {
    const TextLayer layer{{255, 100, 1, 0, 254, 128, 2, 200}, 2, 1};
    auto same = apply_alpha(layer, 255);
    ASSERT_TRUE(same);
    EXPECT_EQ(&same->layer(), &layer);
    auto half = apply_alpha(layer, 128);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->layer().pixels, (Bytes{128, 50, 1, 0, 127, 64, 1, 100}));
    EXPECT_EQ(half->layer().width, 2);
    EXPECT_EQ(half->layer().height, 1);
    EXPECT_EQ(layer.pixels[0], 255);  // the source stays as it was
    EXPECT_EQ(apply_alpha(layer, 0)->layer().pixels, Bytes(8, 0));
}

TEST(Placement, ColourReferenceBecomesOpaqueArgb) {
    EXPECT_EQ(opaque_argb(0x00332211), 0xFF112233u);
    EXPECT_EQ(opaque_argb(0xAB0000FF), 0xFFFF0000u);
    EXPECT_EQ(opaque_argb(0), 0xFF000000u);
}

}  // namespace
}  // namespace veltrane
