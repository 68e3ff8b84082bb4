// The service's and the watchdog's decisions, without windows or processes.
#include <gtest/gtest.h>

#include "service.h"
#include "support/test_paths.h"
#include "watchdog.h"

using namespace veltrane;
using namespace std::chrono_literals;

namespace {
constexpr std::uint64_t at(std::uint64_t h, std::uint64_t m, std::uint64_t s) { return ((h * 60 + m) * 60 + s) * 1000; }
}  // namespace

TEST(DutyTimer, FiresJustPastEachBoundaryAndAtMostFiveMinutesApart) {
    EXPECT_EQ(duty_timer_delay(at(16, 59, 58)), 2200u);
    EXPECT_EQ(duty_timer_delay(at(6, 55, 0)), 300200u);
    EXPECT_EQ(duty_timer_delay(at(12, 0, 0)), 300000u);
    EXPECT_EQ(duty_timer_delay(at(17, 0, 0)), 300000u);  // the boundary itself is behind us
    EXPECT_EQ(duty_timer_delay(at(23, 0, 0)), 300000u);
    EXPECT_EQ(duty_timer_delay(at(23, 59, 59) + 999), 300000u);
}

TEST(SettingsChange, OrderOfDisabledMonitorsCountsAndTransitionsAreNamed) {
    Settings a;
    a.disabled_monitors = {"\\\\.\\DISPLAY1", "\\\\.\\DISPLAY2"};
    Settings b = a;
    EXPECT_EQ(a, b);
    std::swap(b.disabled_monitors[0], b.disabled_monitors[1]);
    EXPECT_NE(a, b);

    Settings original, black, spotlight;
    original.background = BackgroundMode::Original;
    black.background = BackgroundMode::Black;
    spotlight.background = BackgroundMode::Spotlight;
    const auto off = settings_transition(spotlight, original);
    EXPECT_TRUE(off.spotlight_off && !off.spotlight_on);
    const auto on = settings_transition(black, spotlight);
    EXPECT_TRUE(on.spotlight_on && !on.spotlight_off);
    const auto same = settings_transition(original, original);
    EXPECT_FALSE(same.spotlight_on || same.spotlight_off);
}

TEST(Targets, DisabledMonitorsGetNothingAndOrderIsKept) {
    const std::vector<LayoutEntry> layout = {
        {"\\\\.\\DISPLAY2", {-1280, 0, 0, 1024}, false}, {"\\\\.\\DISPLAY1", {0, 0, 1920, 1080}, true}};
    Settings settings;
    EXPECT_EQ(target_monitors(layout, settings), (std::vector<MonitorRect>{layout[0].rect, layout[1].rect}));
    settings.disabled_monitors = {"\\\\.\\DISPLAY2"};
    EXPECT_EQ(target_monitors(layout, settings), (std::vector<MonitorRect>{layout[1].rect}));
}

TEST(ContentSets, LegacyPairWhenTheStoreIsEmptyAndStampsSeeFileChanges) {
    veltrane::testing::ScratchDir dir("content-sets");
    const auto sets = content_sets(dir.path());
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].image, dir / "Veltrane_Desktop.png");
    EXPECT_EQ(sets[0].duty, dir / "Veltrane_Desktop.duty.txt");
    EXPECT_EQ(sets[0].font, dir / "Veltrane_Desktop.ttf");

    const DutyPeriod day{20000, true};
    const ContentStamp missing = content_stamp(sets[0], day);
    EXPECT_FALSE(missing.files[0].readable);
    veltrane::testing::write_raw(sets[0].image, "x");
    const ContentStamp written = content_stamp(sets[0], day);
    EXPECT_TRUE(written.files[0].readable);
    EXPECT_NE(written, missing);
    EXPECT_EQ(content_stamp(sets[0], day), written);
    EXPECT_NE(content_stamp(sets[0], DutyPeriod{20000, false}), written);  // 17:00 renders the roster again
}

TEST(ContentSets, AFailedSetWaitsForAChangeOfItsFiles) {
    const ContentPaths a{"a/1.png", "a/1.txt", "d", "f"}, b{"b/1.png", "b/1.txt", "d", "f"};
    ContentStamp stamp;
    stamp.files[0].readable = true;
    FailedRenders failed;
    remember_failure(failed, a, stamp);
    EXPECT_TRUE(failed_before(failed, a, stamp));
    EXPECT_FALSE(failed_before(failed, b, stamp));
    ContentStamp changed = stamp;
    changed.files[1].readable = true;
    EXPECT_FALSE(failed_before(failed, a, changed));
    remember_failure(failed, a, changed);  // replaces the set's entry
    EXPECT_EQ(failed.sets.size(), 1u);
    for (int i = 0; i < 20; ++i) remember_failure(failed, ContentPaths{std::to_string(i), "t", "d", "f"}, stamp);
    EXPECT_LE(failed.sets.size(), 8u);
}

TEST(LastError, NamesTheRosterAndTheGapsOnTheTargetMonitorsAlsoAfterThePixelsAreDropped) {
    RenderedContent content;
    content.image = TextLayer{Bytes(400 * 300 * 4), 400, 300};
    content.duty = TextLayer{Bytes(400 * 80 * 4), 400, 80};
    content.duty_gap = 1500;
    const std::vector<MonitorRect> targets{{0, 0, 1920, 1080}, {1920, -100, 3840, 3900}};
    const std::string pushed_off = "당직 박스를 표시하지 못했습니다: box_gap 값이 너무 큽니다(1500). "
                                   "이 간격 때문에 표시 블록이 높이 1080픽셀인 모니터를 벗어납니다.";
    EXPECT_EQ(content_problem(content, targets), pushed_off);
    drop_pixels(content);
    EXPECT_FALSE(holds_pixels(content));
    EXPECT_EQ(content_problem(content, targets), pushed_off);
    EXPECT_FALSE(content_problem(content, {targets[1]}));

    content.duty.reset();
    content.duty_error = "당직 박스를 표시하지 못했습니다: 표시할 텍스트 항목이 없습니다.";
    content.text = TextLayer{{}, 400, 100};
    content.text_gap = 1500;
    EXPECT_EQ(content_problem(content, {}), content.duty_error);
    EXPECT_EQ(content_problem(content, targets),
              *content.duty_error + "\n항생제표 텍스트의 box_gap 값이 너무 큽니다(1500). "
                                    "이 간격 때문에 표시 블록이 높이 1080픽셀인 모니터를 벗어납니다.");
}

TEST(Watchdog, ThreeRestartsPerTenMinutesThenANewWindow) {
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    RestartBudget budget{t0, 0};
    EXPECT_TRUE(take_restart(budget, t0 + 1s));
    EXPECT_TRUE(take_restart(budget, t0 + 2s));
    EXPECT_TRUE(take_restart(budget, t0 + 3s));
    EXPECT_FALSE(take_restart(budget, t0 + 4s));
    EXPECT_FALSE(take_restart(budget, t0 + 600s));  // exactly 600 s is still the same window
    EXPECT_TRUE(take_restart(budget, t0 + 601s));
    EXPECT_EQ(budget.restarts, 1u);
}
