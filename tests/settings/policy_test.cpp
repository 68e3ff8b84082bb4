#include "settings/policy.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "file_util/win.h"
#endif

using namespace veltrane;

namespace {

Settings from_file() {
    Settings s;
    s.method = DisplayMethod::TopLevel;
    s.background = BackgroundMode::Original;
    s.disabled_monitors = {"\\\\.\\DISPLAY1", "\\\\.\\DISPLAY2"};
    return s;
}

PolicyReading machine(PolicyData data) { return {std::move(data), std::nullopt}; }
PolicyReading user(PolicyData data) { return {std::nullopt, std::move(data)}; }
PolicyReading both(PolicyData m, PolicyData u) { return {std::move(m), std::move(u)}; }

}  // namespace

TEST(Policy, MachineWinsOverUserAndBothOverTheFileWhileAbsentValuesLeaveTheFile) {
    EXPECT_EQ(resolve_policy({}), Policy{});
    EXPECT_EQ(apply_policy(from_file(), resolve_policy({})), from_file());

    const RawPolicy raw = {
        {"DisplayMethod", both(std::string("wallpaper_composite"), std::string("top_level"))},
        {"Background", user(std::string("spotlight"))},
        {"Monitors", machine(std::string("primary"))},
        {"Autostart", both(0u, 1u)},
        {"AutomaticUpdateCheck", user(0u)},
    };
    const Policy p = resolve_policy(raw);
    EXPECT_TRUE(p.invalid.empty());
    EXPECT_EQ(p.method, DisplayMethod::Composite);
    EXPECT_EQ(p.background, BackgroundMode::Spotlight);
    EXPECT_EQ(p.monitors, MonitorScope::Primary);
    EXPECT_EQ(p.autostart, false);
    EXPECT_EQ(p.automatic_update_check, false);
    EXPECT_EQ(p.manual_update_check, std::nullopt);

    const Settings s = apply_policy(from_file(), p);
    EXPECT_EQ(s.method, DisplayMethod::Composite);
    EXPECT_EQ(s.background, BackgroundMode::Spotlight);
    EXPECT_TRUE(s.disabled_monitors.empty());
    EXPECT_TRUE(shows_monitor(s, "\\\\.\\DISPLAY1", true));  // disabled in the file
    EXPECT_FALSE(shows_monitor(s, "\\\\.\\DISPLAY3", false));

    const Settings all = apply_policy(from_file(), resolve_policy({{"Monitors", user(std::string("all"))},
                                                                   {"Background", machine(std::string("black"))}}));
    EXPECT_TRUE(shows_monitor(all, "\\\\.\\DISPLAY1", false));
    EXPECT_EQ(all.background, BackgroundMode::Black);
    EXPECT_EQ(all.method, DisplayMethod::TopLevel);
    EXPECT_EQ(resolve_policy({{"Background", user(std::string("original"))}}).background, BackgroundMode::Original);
}

TEST(Policy, AValueThatIsNotAllowedIsNoPolicyAndIsNamedWithItsHive) {
    const RawPolicy raw = {
        {"DisplayMethod", both(std::string("Top_Level"), std::string("top_level"))},
        {"Background", machine(1u)},
        {"Monitors", both(std::string("all"), std::string(""))},
        {"Autostart", user(2u)},
        {"AutomaticUpdateCheck", machine(std::string("1"))},
        {"ManualUpdateCheck", user(UnreadableData{})},
        {"Unknown", machine(1u)},
    };
    const Policy p = resolve_policy(raw);
    EXPECT_EQ(p.method, DisplayMethod::TopLevel);  // the user's, as the machine's is no policy
    EXPECT_EQ(p.background, std::nullopt);
    EXPECT_EQ(p.monitors, MonitorScope::All);
    EXPECT_EQ(p.autostart, std::nullopt);
    EXPECT_EQ(p.automatic_update_check, std::nullopt);
    EXPECT_EQ(p.manual_update_check, std::nullopt);
    const std::string prefix = "정책 값이 올바르지 않아 무시했습니다: ";
    const std::vector<std::string> expected = {
        prefix + "HKLM\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\DisplayMethod = \"Top_Level\"",
        prefix + "HKLM\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\Background = 1",
        prefix + "HKCU\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\Monitors = \"\"",
        prefix + "HKCU\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\Autostart = 2",
        prefix + "HKLM\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\AutomaticUpdateCheck = \"1\"",
        prefix + "HKCU\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\ManualUpdateCheck = (읽을 수 없는 형식)",
    };
    EXPECT_EQ(p.invalid, expected);
    EXPECT_EQ(policy_problem(p), expected[0] + "\n" + expected[1] + "\n" + expected[2] + "\n" + expected[3] + "\n" +
                                     expected[4] + "\n" + expected[5]);
    EXPECT_EQ(policy_problem(resolve_policy({{"Autostart", user(1u)}})), std::nullopt);
}

#ifdef _WIN32
namespace {

// The predefined keys point into a scratch key for this process only, so no other test in
// the prefix ever sees these values.
class ScratchHives {
public:
    ScratchHives() {
        machine_ = create(HKEY_CURRENT_USER, root_ + L"\\machine");
        user_ = create(HKEY_CURRENT_USER, root_ + L"\\user");
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_.get());
        RegOverridePredefKey(HKEY_CURRENT_USER, user_.get());
    }
    ScratchHives(const ScratchHives&) = delete;
    ScratchHives& operator=(const ScratchHives&) = delete;
    ~ScratchHives() {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        machine_.reset();
        user_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
    }
    static win::UniqueKey policy_key(HKEY hive) { return create(hive, win::to_wide(kPolicyKey)); }

private:
    static win::UniqueKey create(HKEY parent, const std::wstring& path) {
        HKEY key = nullptr;
        RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        return win::UniqueKey(key);
    }
    std::wstring root_ = L"Software\\Veltrane_Tests\\policy-" + std::to_wstring(GetCurrentProcessId());
    win::UniqueKey machine_;
    win::UniqueKey user_;
};

void set_text(HKEY key, const wchar_t* name, const std::wstring& text) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void set_number(HKEY key, const wchar_t* name, DWORD number) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

}  // namespace

TEST(PolicyRegistry, ReadsBothHivesAsTheyAreAndNamesWhatItCannotRead) {
    ScratchHives hives;
    EXPECT_EQ(read_policy(), Policy{});
    const win::UniqueKey machine = ScratchHives::policy_key(HKEY_LOCAL_MACHINE);
    const win::UniqueKey user = ScratchHives::policy_key(HKEY_CURRENT_USER);
    set_text(machine.get(), L"Background", L"black");
    set_text(user.get(), L"Background", L"spotlight");
    set_number(user.get(), L"Autostart", 0);
    set_text(user.get(), L"Monitors", std::wstring(kPolicyTextLimit + 1, L'a'));
    const BYTE bytes[] = {1, 0, 0, 0};
    RegSetValueExW(machine.get(), L"AutomaticUpdateCheck", 0, REG_BINARY, bytes, sizeof bytes);

    const RawPolicy raw = read_raw_policy();
    EXPECT_EQ(raw.at("Background").machine, PolicyData(std::string("black")));
    EXPECT_EQ(raw.at("Background").user, PolicyData(std::string("spotlight")));
    EXPECT_EQ(raw.at("Autostart").user, PolicyData(0u));
    EXPECT_EQ(raw.at("Autostart").machine, std::nullopt);
    EXPECT_EQ(raw.at("Monitors").user, PolicyData(UnreadableData{}));
    EXPECT_EQ(raw.at("AutomaticUpdateCheck").machine, PolicyData(UnreadableData{}));
    EXPECT_EQ(raw.at("DisplayMethod").machine, std::nullopt);
    const Policy p = resolve_policy(raw);
    EXPECT_EQ(p.background, BackgroundMode::Black);
    EXPECT_EQ(p.autostart, false);
    EXPECT_EQ(p.invalid.size(), 2u);
}
#endif
