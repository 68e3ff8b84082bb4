#include "settings_choices.h"

#include "settings_layout.h"

namespace veltrane::settings_ui {

Choices lay_policy(Choices c, const Policy& policy, const std::vector<MonitorEntry>& monitors) {
    if (policy.method) c.method = *policy.method;
    if (policy.background) c.background = *policy.background;
    if (policy.autostart) c.autostart = *policy.autostart;
    if (policy.monitors) {
        c.monitors.clear();
        for (const auto& m : monitors) c.monitors.push_back(*policy.monitors == MonitorScope::All || m.is_primary);
    }
    return c;
}

Choices choices_from(const Settings& settings, const std::vector<MonitorEntry>& monitors, bool autostart,
                     const Policy& policy) {
    Choices c{settings.method, settings.background, autostart, {}};
    for (const auto& m : monitors) c.monitors.push_back(is_monitor_enabled(settings, m.device_name));
    return lay_policy(std::move(c), policy, monitors);
}

Settings collect_settings(Settings base, const Choices& c, const std::vector<MonitorEntry>& monitors,
                          const Policy& policy) {
    if (!policy.method) base.method = c.method;
    if (!policy.background) base.background = c.background;
    if (policy.monitors) return base;
    for (std::size_t i = 0; i < monitors.size() && i < c.monitors.size(); ++i) {
        set_monitor_enabled(base, monitors[i].device_name, c.monitors[i]);
    }
    return base;
}

bool option_selected(const Choices& c, int id) {
    switch (id) {
        case kCompositeId: return c.method != DisplayMethod::TopLevel;
        case kTopLevelId: return c.method == DisplayMethod::TopLevel;
        case kOriginalId: return c.background == BackgroundMode::Original;
        case kBlackId: return c.background == BackgroundMode::Black;
        case kSpotlightId: return c.background == BackgroundMode::Spotlight;
        case kAutostartId: return c.autostart;
        default: {
            const auto i = static_cast<std::size_t>(id - kFirstMonitorId);
            return id >= kFirstMonitorId && i < c.monitors.size() && c.monitors[i];
        }
    }
}

Choices choose(Choices c, int id) {
    switch (id) {
        case kCompositeId: c.method = DisplayMethod::Composite; break;
        case kTopLevelId: c.method = DisplayMethod::TopLevel; break;
        case kOriginalId: c.background = BackgroundMode::Original; break;
        case kBlackId: c.background = BackgroundMode::Black; break;
        case kSpotlightId: c.background = BackgroundMode::Spotlight; break;
        case kAutostartId: c.autostart = !c.autostart; break;
        default: {
            const auto i = static_cast<std::size_t>(id - kFirstMonitorId);
            if (id >= kFirstMonitorId && i < c.monitors.size()) c.monitors[i] = !c.monitors[i];
        }
    }
    return c;
}

bool fixed_by_policy(const Policy& policy, int id) {
    switch (id) {
        case kCompositeId:
        case kTopLevelId: return policy.method.has_value();
        case kOriginalId:
        case kBlackId:
        case kSpotlightId: return policy.background.has_value();
        case kAutostartId: return policy.autostart.has_value();
        case kUpdateId: return policy.manual_update_check == false;
        default: return id >= kFirstMonitorId && policy.monitors.has_value();
    }
}

}  // namespace veltrane::settings_ui
