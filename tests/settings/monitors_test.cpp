#include "settings/monitors.h"

#include <gtest/gtest.h>

using namespace veltrane;

TEST(Monitors, LabelIsTheDeviceStringUnlessItIsBlank) {
    EXPECT_EQ(monitor_label("\\\\.\\DISPLAY1", std::string("Dell U2720Q")), "Dell U2720Q");
    EXPECT_EQ(monitor_label("\\\\.\\DISPLAY1", std::string("  Generic PnP Monitor ")), "  Generic PnP Monitor ");
    EXPECT_EQ(monitor_label("\\\\.\\DISPLAY1", std::string(" \t\xE3\x80\x80")), "DISPLAY1");
    EXPECT_EQ(monitor_label("\\\\.\\DISPLAY2", std::nullopt), "DISPLAY2");
    EXPECT_EQ(monitor_label("DISPLAY3", std::string("")), "DISPLAY3");
    EXPECT_EQ(monitor_label("\\\\?\\DISPLAY4", std::nullopt), "\\\\?\\DISPLAY4");
}

TEST(Monitors, SortByLeftThenTopAndKeepEnumerationOrderOnTies) {
    auto at = [](std::string name, int left, int top) {
        return MonitorEntry{std::move(name), "", {left, top, left + 100, top + 100}, false};
    };
    std::vector<MonitorEntry> m = {at("a", 1920, 0), at("b", -1280, 200), at("c", 0, 1080), at("d", 0, 0),
                                   at("e", 1920, 0), at("f", 0, -1080)};
    sort_monitors(m);
    std::string order;
    for (const auto& e : m) order += e.device_name;
    EXPECT_EQ(order, "bfdcae");
}

#ifdef _WIN32
TEST(Monitors, ListsTheAttachedMonitorsWithOnePrimary) {
    // Under Xvfb Wine shows exactly one monitor, so this checks the fields, not the ordering.
    const auto monitors = list_monitors();
    ASSERT_FALSE(monitors.empty());
    int primaries = 0;
    for (const auto& m : monitors) {
        EXPECT_TRUE(m.device_name.starts_with("\\\\.\\")) << m.device_name;
        EXPECT_FALSE(m.label.empty());
        EXPECT_LT(m.rect.left, m.rect.right);
        EXPECT_LT(m.rect.top, m.rect.bottom);
        primaries += m.is_primary ? 1 : 0;
    }
    EXPECT_EQ(primaries, 1);
}
#endif
