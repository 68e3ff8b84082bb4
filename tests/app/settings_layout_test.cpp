#include "settings_layout.h"
#include "settings_choices.h"

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::settings_ui;

namespace {

const ControlSpec* find(int id, const char* text = nullptr) {
    for (const auto& c : fixed_controls()) {
        if (c.id == id && (!text || std::string(c.text) == text)) return &c;
    }
    return nullptr;
}

MonitorEntry monitor(const char* name, int left, bool primary) {
    return {name, name + 4, {left, 0, left + 1920, 1080}, primary};
}

}  // namespace

TEST(SettingsLayout, ControlsSitAtTheirRectanglesScaledWithTruncation) {
    ASSERT_TRUE(find(kSaveId));
    EXPECT_EQ(scale(find(kSaveId)->rect, 96), (Rect{532, 479, 100, 32}));
    EXPECT_EQ(scale(find(kSaveId)->rect, 144), (Rect{798, 718, 150, 48}));
    EXPECT_EQ(scale(find(kTopLevelId)->rect, 144), (Rect{24, 111, 414, 42}));
    EXPECT_EQ(scale(find(kSpotlightId)->rect, 120), (Rect{20, 117, 345, 30}));
    EXPECT_EQ(find(0, "표시할 모니터")->parent, Parent::Card4);
    EXPECT_EQ(scale(kClientWidth, 144), 960);
    EXPECT_EQ(scale(kClientHeight, 144), 778);  // 778.5 truncated

    const auto plain = monitor_card_layout(2, false), primary = monitor_card_layout(0, true);
    EXPECT_EQ(plain.card, (Rect{400, 0, 192, 110}));
    EXPECT_EQ(plain.size_text.width, 160);
    EXPECT_FALSE(plain.badge);
    EXPECT_EQ(primary.size_text.width, 96);
    EXPECT_EQ(primary.badge, (Rect{116, 38, 60, 20}));
    EXPECT_EQ(monitor_size_text({"\\\\.\\DISPLAY2", "DISPLAY2", {-1280, -200, 0, 824}, false}), "1280x1024\n위치 (-1280, -200)");
    EXPECT_EQ(monitor_title(1, monitor("\\\\.\\DISPLAY2", 0, false)), "#2 DISPLAY2");
}

TEST(SettingsLayout, ViewportScrollsOverFourMonitorsInSteps) {
    const ScrollRange four = viewport_scroll_range(4, 96);
    EXPECT_EQ(four, (ScrollRange{0, 791, 592}));
    EXPECT_EQ(viewport_scroll_range(4, 144), (ScrollRange{0, 1187, 888}));
    EXPECT_EQ(viewport_scroll_range(0, 96), (ScrollRange{0, 0, 592}));
    EXPECT_EQ(scroll_position(four, 0, ScrollAction::LineRight, 0, 96), 100);
    EXPECT_EQ(scroll_position(four, 100, ScrollAction::LineRight, 0, 96), 200);  // last page starts at 200
    EXPECT_EQ(scroll_position(four, 200, ScrollAction::RightEnd, 0, 96), 200);
    EXPECT_EQ(scroll_position(four, 150, ScrollAction::PageLeft, 0, 96), 0);
    EXPECT_EQ(scroll_position(four, 0, ScrollAction::Track, 150, 96), 150);
    EXPECT_EQ(scroll_position(viewport_scroll_range(2, 96), 0, ScrollAction::LineRight, 0, 96), 0);
}

TEST(SettingsLayout, SaveIsEnabledExactlyWhenAChoiceDiffersAndSavingKeepsUnknownMonitors) {
    const std::vector<MonitorEntry> monitors{monitor("\\\\.\\DISPLAY1", 0, true), monitor("\\\\.\\DISPLAY2", 1920, false)};
    Settings settings;
    settings.disabled_monitors = {"\\\\.\\DISPLAY9", "\\\\.\\DISPLAY2"};
    settings.background = BackgroundMode::Original;
    const Choices saved = choices_from(settings, monitors, true);
    EXPECT_EQ(saved.monitors, (std::vector<bool>{true, false}));

    Choices current = saved;
    current.background = BackgroundMode::Black;
    EXPECT_FALSE(current == saved);
    current.background = BackgroundMode::Original;
    EXPECT_TRUE(current == saved);

    current.monitors = {false, true};
    current.method = DisplayMethod::TopLevel;
    const Settings next = collect_settings(settings, current, monitors);
    EXPECT_EQ(next.disabled_monitors, (std::vector<std::string>{"\\\\.\\DISPLAY9", "\\\\.\\DISPLAY1"}));
    EXPECT_EQ(next.method, DisplayMethod::TopLevel);
}

TEST(SettingsChoices, PolicyIsShownAndNeverWrittenAndClicksChangeOnlyTheRecord) {
    const std::vector<MonitorEntry> monitors{monitor("\\\\.\\DISPLAY1", 0, true), monitor("\\\\.\\DISPLAY2", 1920, false)};
    Settings file;
    file.background = BackgroundMode::Original;
    Policy policy;
    policy.background = BackgroundMode::Black;
    policy.monitors = MonitorScope::Primary;
    policy.autostart = true;
    const Choices shown = choices_from(file, monitors, false, policy);
    EXPECT_EQ(shown.background, BackgroundMode::Black);
    EXPECT_EQ(shown.monitors, (std::vector<bool>{true, false}));
    EXPECT_TRUE(shown.autostart);
    EXPECT_TRUE(fixed_by_policy(policy, kBlackId) && fixed_by_policy(policy, kFirstMonitorId + 1));
    EXPECT_FALSE(fixed_by_policy(policy, kTopLevelId) || fixed_by_policy(policy, kUpdateId));

    // The user changes what policy leaves free; the file keeps its own background and monitors.
    const Choices chosen = choose(choose(shown, kTopLevelId), kFirstMonitorId);
    EXPECT_TRUE(option_selected(chosen, kTopLevelId) && !option_selected(chosen, kCompositeId));
    EXPECT_FALSE(option_selected(chosen, kFirstMonitorId));
    const Settings written = collect_settings(file, chosen, monitors, policy);
    EXPECT_EQ(written.method, DisplayMethod::TopLevel);
    EXPECT_EQ(written.background, BackgroundMode::Original);
    EXPECT_TRUE(written.disabled_monitors.empty());
    EXPECT_FALSE(written.primary_only);
}

TEST(SettingsLayout, ColoursFollowStyleAndState) {
    EXPECT_EQ(button_colours(kSaveId, {true, false, false}), (Colours{kWhite, kAccent, kAccent}));
    EXPECT_EQ(button_colours(kSaveId, {false, false, true}), (Colours{kTextDisabled, kOptionGray, kLineGray}));
    EXPECT_EQ(button_colours(kRemoveId, {true, true, false}), (Colours{kWhite, kDanger, kDanger}));
    EXPECT_EQ(button_colours(kSyncId, {true, false, true}), (Colours{kTextNormal, kCardWhite, kAccent}));

    const ToggleLayout on = toggle_layout({356, 479, 160, 32}, 90, true, {true, false, false}, 96);
    EXPECT_EQ(on.track, (Rect{454, 485, 36, 20}));
    EXPECT_EQ(on.knob, (Rect{473, 488, 14, 14}));
    EXPECT_EQ(on.track_face, kAccent);
    EXPECT_EQ(on.track_border, kAccent);
    const ToggleLayout off = toggle_layout({356, 479, 160, 32}, 200, false, {true, false, true}, 96);
    EXPECT_EQ(off.track.x, 480);  // never beyond the right edge
    EXPECT_EQ(off.knob.x, 483);
    EXPECT_EQ(off.track_border, kAccent);
}

TEST(SettingsLayout, TheFocusRingSitsInsideTheBorderAndStandsOutFromEveryFace) {
    EXPECT_EQ(focus_ring({0, 0, 100, 32}, 96), (Rect{3, 3, 94, 26}));
    EXPECT_EQ(focus_ring({10, 0, 150, 48}, 144), (Rect{14, 4, 142, 40}));
    for (int id : {kSaveId, kSyncId, kRestoreId, kServiceId, kUpdateId, kRemoveId}) {
        for (bool pressed : {false, true}) {
            const Colours c = button_colours(id, {true, pressed, true});
            EXPECT_NE(c.text, c.face) << id << " " << pressed;
        }
    }
    EXPECT_NE(kTextNormal, option_face(true));
    EXPECT_NE(kTextNormal, option_face(false));
}

TEST(SettingsLayout, TabWalksReadingOrderSkippingDisabledControlsAndWraps) {
    const auto order = focus_order(2);
    EXPECT_EQ(order.front(), kUpdateId);
    EXPECT_EQ(order.back(), kSaveId);
    auto enabled = [](int id) { return id != kSaveId && id != kSyncId; };
    EXPECT_EQ(next_focus(order, 0, true, enabled), kUpdateId);
    EXPECT_EQ(next_focus(order, kUpdateId, true, enabled), kServiceId);
    EXPECT_EQ(next_focus(order, kAutostartId, true, enabled), kUpdateId);
    EXPECT_EQ(next_focus(order, kUpdateId, false, enabled), kAutostartId);
    EXPECT_EQ(next_focus(order, kSpotlightId, true, enabled), kFirstMonitorId);
    EXPECT_FALSE(next_focus(order, 0, true, [](int) { return false; }));
}

TEST(SettingsLayout, TooTallForTheWorkAreaTheClientIsCappedAndTheFocusScrollsIntoView) {
    EXPECT_EQ(fit_height(scale(kClientHeight, 144), 900), (WindowFit{778, false}));
    EXPECT_EQ(fit_height(scale(kClientHeight, 144), 700), (WindowFit{700, true}));  // 1366 × 768 at 150 %
    const int save_top = scale(479, 144), save_bottom = save_top + scale(32, 144);
    EXPECT_EQ(reveal_position(0, 700, save_top, save_bottom), save_bottom - 700);
    EXPECT_EQ(reveal_position(78, 700, 12, 48), 12);   // above the page
    EXPECT_EQ(reveal_position(40, 700, 100, 140), 40);  // already in view
}

TEST(SettingsLayout, ScreenReadersHearEachControlsMeaningAndKind) {
    EXPECT_EQ(control_access(kFirstMonitorId + 1, "항생제표 표시"), (Access{"모니터 2 항생제표 표시", AccessRole::CheckBox}));
    EXPECT_EQ(control_access(kAutostartId, "부팅시 자동실행").role, AccessRole::CheckBox);
    EXPECT_EQ(control_access(kBlackId, "검정 배경"), (Access{"검정 배경", AccessRole::RadioButton}));
    EXPECT_EQ(control_access(kServiceId, "시작 중…").role, AccessRole::PushButton);
}
