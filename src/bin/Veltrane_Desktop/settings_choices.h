// What the settings window's choices are: the one record of them (Choices), how a click
// changes it, which option it selects, what Group Policy fixes, and the Settings a save
// writes. Policy values are shown, never written: the file keeps the user's own choice.
#pragma once

#include <string>
#include <vector>

#include "settings/monitors.h"
#include "settings/policy.h"
#include "settings/settings.h"

namespace veltrane::settings_ui {

// Beside every setting that Group Policy fixes, and what a screen reader hears as the reason.
inline constexpr const char* kPolicyNote = "관리자가 설정함";

struct Choices {
    DisplayMethod method = DisplayMethod::Composite;
    BackgroundMode background = BackgroundMode::Spotlight;
    bool autostart = false;
    std::vector<bool> monitors;  // in monitor-list order
    friend bool operator==(const Choices&, const Choices&) = default;
};

// The choices with what policy fixes laid over them.
Choices lay_policy(Choices choices, const Policy& policy, const std::vector<MonitorEntry>& monitors);
// The file's settings with what policy fixes laid over them.
Choices choices_from(const Settings& settings, const std::vector<MonitorEntry>& monitors, bool autostart,
                     const Policy& policy = {});

// The settings to write: `base` (the file's) with every choice policy does not fix.
Settings collect_settings(Settings base, const Choices& choices, const std::vector<MonitorEntry>& monitors,
                          const Policy& policy = {});

// Whether the option, toggle or monitor toggle `id` shows as selected or on.
bool option_selected(const Choices& choices, int id);
// The choices after a click on option or toggle `id`; others leave them as they are.
Choices choose(Choices choices, int id);
// Whether policy fixes what control `id` sets.
bool fixed_by_policy(const Policy& policy, int id);

}  // namespace veltrane::settings_ui
