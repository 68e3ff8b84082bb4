#include "wallpaper/desktop_wallpaper.h"

#include <gtest/gtest.h>

#include "wallpaper/fake_desktop.h"

namespace veltrane {
namespace {

using testing::FakeDesktop;

FakeDesktop three_monitors() {
    FakeDesktop desktop;
    desktop.monitors = {{"mon-a", {0, 0, 1920, 1080}, "C:\\a.jpg"},
                        {"mon-b", {1920, 0, 3840, 1080}, ""},
                        {"mon-c", {-1280, -200, 0, 824}, "C:\\c.png"}};
    return desktop;
}

TEST(WallpaperMonitors, ListedInOrderWithTheGdiNameOfTheSameRectangle) {
    FakeDesktop desktop = three_monitors();
    const std::vector<MonitorEntry> gdi{{"\\\\.\\DISPLAY2", "", {-1280, -200, 0, 824}, false},
                                        {"\\\\.\\DISPLAY1", "", {0, 0, 1920, 1080}, true},
                                        {"\\\\.\\DISPLAY3", "", {1920, 0, 3840, 1081}, false}};
    const auto listed = list_wallpaper_monitors(desktop, gdi);
    ASSERT_TRUE(listed.ok());
    ASSERT_EQ(listed->size(), 3u);
    EXPECT_EQ((*listed)[0], (WallpaperMonitor{"mon-a", "C:\\a.jpg", "\\\\.\\DISPLAY1", {0, 0, 1920, 1080}}));
    EXPECT_EQ((*listed)[1], (WallpaperMonitor{"mon-b", "", std::nullopt, {1920, 0, 3840, 1080}}));
    EXPECT_EQ((*listed)[2].device_name, "\\\\.\\DISPLAY2");
}

TEST(WallpaperMonitors, UnreadableRectangleLeavesOneOutOtherFailuresFailAll) {
    FakeDesktop desktop = three_monitors();
    desktop.failures["monitor_rect mon-b"] = "gone";
    const auto listed = list_wallpaper_monitors(desktop, {});
    ASSERT_TRUE(listed.ok());
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ((*listed)[1].device_path, "mon-c");
    EXPECT_EQ(desktop.log, (std::vector<std::string>{"wallpaper mon-a", "wallpaper mon-c"}));

    for (const char* call : {"monitor_device_path_count", "monitor_device_path_at 1", "wallpaper mon-c"}) {
        FakeDesktop failing = three_monitors();
        failing.failures[call] = "E_FAIL 0x80004005";
        const auto result = list_wallpaper_monitors(failing, {});
        ASSERT_FALSE(result.ok()) << call;
        EXPECT_EQ(result.error().message, "E_FAIL 0x80004005");
    }
}

TEST(WallpaperMonitors, LayoutComparesPathsAndRectanglesOnly) {
    FakeDesktop desktop = three_monitors();
    const auto before = desktop.listed();
    desktop.monitors[0].wallpaper = "C:\\other.jpg";
    EXPECT_TRUE(same_monitor_layout(before, desktop.listed()));
    desktop.monitors[2].rect.bottom = 825;
    EXPECT_FALSE(same_monitor_layout(before, desktop.listed()));
    desktop = three_monitors();
    std::swap(desktop.monitors[0], desktop.monitors[1]);
    EXPECT_FALSE(same_monitor_layout(before, desktop.listed()));
    desktop.monitors.pop_back();
    EXPECT_FALSE(same_monitor_layout(before, desktop.listed()));
}

TEST(WallpaperMonitors, VirtualBoundsHoldEveryMonitor) {
    EXPECT_EQ(virtual_bounds(three_monitors().listed()), (MonitorRect{-1280, -200, 3840, 1080}));
    EXPECT_EQ(virtual_bounds({}), MonitorRect{});
}

}  // namespace
}  // namespace veltrane
