#include "settings/policy.h"

#include <algorithm>

namespace veltrane {
namespace {

constexpr std::string_view kInvalidPrefix = "정책 값이 올바르지 않아 무시했습니다: ";

std::string data_text(const PolicyData& data) {
    if (const auto* number = std::get_if<std::uint32_t>(&data)) return std::to_string(*number);
    if (const auto* text = std::get_if<std::string>(&data)) return "\"" + *text + "\"";
    return "(읽을 수 없는 형식)";
}

std::string invalid_message(PolicyHive hive, std::string_view name, const PolicyData& data) {
    std::string line(kInvalidPrefix);
    line += hive == PolicyHive::Machine ? "HKLM\\" : "HKCU\\";
    line += kPolicyKey;
    line += "\\";
    line += name;
    line += " = " + data_text(data);
    return line;
}

// The word's position for a Word value, 0 or 1 for a Switch; nothing when not allowed.
std::optional<std::size_t> accepted(const PolicyValue& value, const PolicyData& data) {
    if (value.kind == PolicyKind::Switch) {
        const auto* number = std::get_if<std::uint32_t>(&data);
        if (!number || *number > 1) return std::nullopt;
        return *number;
    }
    const auto* text = std::get_if<std::string>(&data);
    if (!text || text->empty()) return std::nullopt;
    const auto it = std::find(value.words.begin(), value.words.end(), *text);
    if (it == value.words.end()) return std::nullopt;
    return static_cast<std::size_t>(it - value.words.begin());
}

// Every invalid value is named, also one that a valid machine value overrides.
std::optional<std::size_t> choice(const RawPolicy& raw, const PolicyValue& value, std::vector<std::string>& invalid) {
    const auto found = raw.find(value.name);
    if (found == raw.end()) return std::nullopt;
    std::optional<std::size_t> chosen;
    for (const auto hive : {PolicyHive::Machine, PolicyHive::User}) {
        const auto& data = hive == PolicyHive::Machine ? found->second.machine : found->second.user;
        if (!data) continue;
        const auto index = accepted(value, *data);
        if (!index) invalid.push_back(invalid_message(hive, value.name, *data));
        else if (!chosen) chosen = index;
    }
    return chosen;
}

template <typename Enum>
std::optional<Enum> as(std::optional<std::size_t> index) {
    if (!index) return std::nullopt;
    return static_cast<Enum>(*index);
}

std::optional<bool> as_switch(std::optional<std::size_t> index) {
    if (!index) return std::nullopt;
    return *index == 1;
}

}  // namespace

Policy resolve_policy(const RawPolicy& raw) {
    Policy p;
    p.method = as<DisplayMethod>(choice(raw, kMethodPolicy, p.invalid));
    p.background = as<BackgroundMode>(choice(raw, kBackgroundPolicy, p.invalid));
    p.monitors = as<MonitorScope>(choice(raw, kMonitorsPolicy, p.invalid));
    p.autostart = as_switch(choice(raw, kAutostartPolicy, p.invalid));
    p.automatic_update_check = as_switch(choice(raw, kAutomaticUpdatePolicy, p.invalid));
    p.manual_update_check = as_switch(choice(raw, kManualUpdatePolicy, p.invalid));
    return p;
}

Settings apply_policy(Settings s, const Policy& policy) {
    if (policy.method) s.method = *policy.method;
    if (policy.background) s.background = *policy.background;
    if (policy.monitors) {
        s.disabled_monitors.clear();
        s.primary_only = *policy.monitors == MonitorScope::Primary;
    }
    return s;
}

Settings effective_settings(const Policy& policy) {
    const auto path = settings_path();
    return apply_policy(path ? read_settings(*path) : Settings{}, policy);
}

std::optional<std::string> policy_problem(const Policy& policy) {
    if (policy.invalid.empty()) return std::nullopt;
    std::string text;
    for (const auto& line : policy.invalid) {
        if (!text.empty()) text += "\n";
        text += line;
    }
    return text;
}

}  // namespace veltrane
