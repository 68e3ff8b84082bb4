// Group Policy: what IT fixes for every user under Software\Policies\Veltrane\Veltrane_Desktop
// in HKLM (the machine) or HKCU (the user). The machine wins over the user, both win over
// the settings file; an absent value, or one that is not allowed, is no policy. Policy is
// laid over the settings as they are read and never written into the settings file.
// The templates in policy/ write exactly the names and data below.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/settings.h"

namespace veltrane {

inline constexpr std::string_view kPolicyKey = "Software\\Policies\\Veltrane\\Veltrane_Desktop";
// Longer REG_SZ data is no allowed word, so nothing longer is read.
inline constexpr std::size_t kPolicyTextLimit = 64;

enum class PolicyKind {
    Word,   // REG_SZ holding one of the words, compared exactly
    Switch  // REG_DWORD 0 (off) or 1 (on)
};

struct PolicyValue {
    std::string_view name;
    PolicyKind kind;
    std::array<std::string_view, 3> words;  // in the order of the enum the value sets
};

inline constexpr PolicyValue kMethodPolicy{"DisplayMethod", PolicyKind::Word, {"wallpaper_composite", "top_level"}};
inline constexpr PolicyValue kBackgroundPolicy{"Background", PolicyKind::Word, {"original", "black", "spotlight"}};
inline constexpr PolicyValue kMonitorsPolicy{"Monitors", PolicyKind::Word, {"all", "primary"}};
inline constexpr PolicyValue kAutostartPolicy{"Autostart", PolicyKind::Switch, {}};
inline constexpr PolicyValue kAutomaticUpdatePolicy{"AutomaticUpdateCheck", PolicyKind::Switch, {}};
inline constexpr PolicyValue kManualUpdatePolicy{"ManualUpdateCheck", PolicyKind::Switch, {}};

inline constexpr std::array<const PolicyValue*, 6> kPolicyValues = {
    &kMethodPolicy,    &kBackgroundPolicy,      &kMonitorsPolicy,
    &kAutostartPolicy, &kAutomaticUpdatePolicy, &kManualUpdatePolicy,
};

enum class PolicyHive { Machine, User };

// Present, but neither a REG_DWORD nor a REG_SZ of at most kPolicyTextLimit units.
struct UnreadableData {
    friend bool operator==(const UnreadableData&, const UnreadableData&) = default;
};
using PolicyData = std::variant<std::uint32_t, std::string, UnreadableData>;

// One value name as read from both hives; nothing where the value is absent.
struct PolicyReading {
    std::optional<PolicyData> machine;
    std::optional<PolicyData> user;
};
using RawPolicy = std::map<std::string, PolicyReading, std::less<>>;

enum class MonitorScope { All, Primary };

// What policy fixes; nothing where the user's own choice stands.
struct Policy {
    std::optional<DisplayMethod> method;
    std::optional<BackgroundMode> background;
    std::optional<MonitorScope> monitors;
    std::optional<bool> autostart;
    std::optional<bool> automatic_update_check;
    std::optional<bool> manual_update_check;
    // One line per value that was ignored, for the last-error record.
    std::vector<std::string> invalid;

    friend bool operator==(const Policy&, const Policy&) = default;
};

Policy resolve_policy(const RawPolicy& raw);

// The fixed values laid over the settings read from the file.
Settings apply_policy(Settings settings, const Policy& policy);

// The settings file at the settings path (defaults without one) under the policy.
Settings effective_settings(const Policy& policy);

// The invalid lines joined by line breaks; nothing when every value was valid or absent.
std::optional<std::string> policy_problem(const Policy& policy);

// Both hives as they are now. Windows only.
RawPolicy read_raw_policy();
Policy read_policy();

}  // namespace veltrane
