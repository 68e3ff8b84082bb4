// The real service and watchdog as processes under Wine, checked by what the user sees: the
// wallpaper the desktop-wallpaper stand-in holds, the overlay windows, the named objects,
// the last-error record and which program processes run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "composition/composition_fixture.h"
#include "program_boxes.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "ipc/ipc.h"
#include "settings/policy.h"
#include "settings/settings.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using win::UniqueHandle;

std::vector<DWORD> program_processes() {
    return processes_named([](std::wstring_view name) { return _wcsicmp(std::wstring(name).c_str(), L"Veltrane_Desktop.exe") == 0; });
}

void kill(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(process);
    TerminateProcess(process.get(), 9);
    WaitForSingleObject(process.get(), 5000);
}

std::size_t set_wallpaper_calls() {
    const auto methods = standin_call_methods();
    return static_cast<std::size_t>(std::count(methods.begin(), methods.end(), "SetWallpaper"));
}

std::vector<HWND> layer_windows() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(w, name, 64);
            if (std::wstring(name) == ipc::kLayerClass) reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Started suspended, with the COM-refusing DLL queued as an APC on its main thread: it loads
// there before the program's own code runs.
UniqueHandle start_with_com_refused(const fs::path& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe.wstring() + L"\" " + arguments;
    const std::wstring dll = unix_file(VELTRANE_COM_REFUSING_DLL).wstring();
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) return {};
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process.get(), nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    // LoadLibraryW takes one pointer-sized argument, as an APC does; void (*)() bridges the types.
    const auto load = reinterpret_cast<PAPCFUNC>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    if (!remote || !WriteProcessMemory(process.get(), remote, dll.c_str(), bytes, nullptr) ||
        !QueueUserAPC(load, thread.get(), reinterpret_cast<ULONG_PTR>(remote))) {
        TerminateProcess(process.get(), 9);
        return {};
    }
    ResumeThread(thread.get());
    return process;
}

class Service : public ::testing::Test {
protected:
    ScratchDir scratch{"service"};
    fs::path install;
    fs::path user_wallpaper = scratch / "user.png";
    std::string monitor = standin_default_device_path(0);

    void SetUp() override {
        auto folder = install_folder();
        ASSERT_TRUE(folder.ok());
        install = *folder;
        fs::create_directories(install);
        ASSERT_TRUE(CopyFileW(program_path().c_str(), (install / "Veltrane_Desktop.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(unix_file(VELTRANE_TEST_FONT).c_str(), (install / "Veltrane_Desktop.ttf").c_str(), FALSE));
        write_png_file(install / "Veltrane_Desktop.png", 400, 300, kGreen);
        write_raw(install / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
        write_png_file(user_wallpaper, 160, 90, kBlue);
        describe_desktop({});
        // The default background would ask the public Spotlight service.
        write_config(DisplayMethod::Composite, BackgroundMode::Original);
    }
    void write_config(DisplayMethod method, BackgroundMode background) {
        Settings settings;
        settings.method = method;
        settings.background = background;
        ASSERT_TRUE(write_settings(settings, install / "Veltrane_Desktop.config").ok());
    }
    void TearDown() override {
        (void)ipc::stop_running_instances();
        for (DWORD pid : program_processes()) kill(pid);
        std::error_code ec;
        fs::remove_all(install, ec);
    }
    void describe_desktop(const std::vector<std::string>& extra) {
        StandinState state;
        state.wallpapers = {{monitor, path_to_utf8(user_wallpaper)}};
        state.extra_lines = extra;
        write_standin_state(state);
    }
    std::string wallpaper() const { return standin_wallpaper(monitor); }
    bool composed() const { return path_is_inside(wallpaper(), composite_paths(install).content); }
    bool user_wallpaper_back() const { return wallpaper() == path_to_utf8(user_wallpaper); }
    fs::path last_error() const { return install / "Veltrane_Desktop.last-error"; }

    // The installed copy, as every role but the installer runs.
    UniqueHandle start(const std::wstring& arguments) { return testing::start(install / "Veltrane_Desktop.exe", arguments); }
    // Waits for the ready event, as the installer does.
    UniqueHandle start_service(bool com_refused = false) {
        const std::wstring name = ipc::service_ready_event_name(current_build_version());
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        UniqueHandle process = com_refused ? start_with_com_refused(install / "Veltrane_Desktop.exe", L"--run") : start(L"--run");
        EXPECT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
        return process;
    }
    void publish_generation(const std::string& name, Rgb color) {
        const fs::path folder = install / "Content" / name;
        fs::create_directories(folder);
        write_png_file(folder / "Veltrane_Desktop.png", 400, 300, color);
        write_raw(folder / "Veltrane_Desktop.txt", "R새 항생제표\nP박서준약사 2232\n");
        write_raw(install / "Veltrane_Desktop.current", name + "\n");
    }
};

TEST_F(Service, ComposesKeepsItsWatchdogPresentsNewContentAndGivesTheDesktopBack) {
    describe_desktop({standin_fail("SetWallpaper", 0x80004005)});
    UniqueHandle service = start_service();
    ASSERT_TRUE(service);
    EXPECT_EQ(read_raw(last_error()).rfind("바탕화면 합성 실패: ", 0), 0u);
    EXPECT_TRUE(user_wallpaper_back());

    describe_desktop({});
    ASSERT_TRUE(ipc::post_refresh_request());
    ASSERT_TRUE(wait_until([&] { return composed(); }));
    EXPECT_TRUE(wait_until([&] { return !fs::exists(last_error()); }));
    EXPECT_TRUE(watchdog_alive());

    // A second service ends at once and leaves the desktop alone.
    const std::string picture = wallpaper();
    UniqueHandle second = start(L"--run");
    EXPECT_EQ(WaitForSingleObject(second.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(service_pid(), GetProcessId(service.get()));
    EXPECT_EQ(wallpaper(), picture);

    // The watchdog killed: the next refresh starts another one.
    for (DWORD pid : program_processes()) {
        if (pid != GetProcessId(service.get())) kill(pid);
    }
    ASSERT_TRUE(wait_until([] { return !watchdog_alive(); }));
    ASSERT_TRUE(ipc::post_refresh_request());
    EXPECT_TRUE(wait_until(watchdog_alive));

    // A new generation published by a sync shows after the next refresh.
    publish_generation("generation-1-2", kRed);
    ASSERT_TRUE(ipc::post_refresh_request());
    ASSERT_TRUE(wait_until([&] { return composed() && wallpaper() != picture; }));
    const Rgb centre = Picture(utf8_to_path(wallpaper())).at(960, 540);
    EXPECT_GT(centre.r, 200);
    EXPECT_LT(centre.g, 60);

    // A burst of display changes composes once, a second after the last one.
    HWND controller = FindWindowW(ipc::kControllerClass, nullptr);
    const auto sets_before = set_wallpaper_calls();
    for (int i = 0; i < 3; ++i) {
        PostMessageW(controller, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
        Sleep(400);
    }
    EXPECT_EQ(set_wallpaper_calls(), sets_before);
    EXPECT_TRUE(wait_until([&] { return set_wallpaper_calls() == sets_before + 1; }));
    Sleep(1500);
    EXPECT_EQ(set_wallpaper_calls(), sets_before + 1);

    // The session ends: the user's wallpaper comes back and the watchdog goes.
    SendMessageW(controller, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(user_wallpaper_back());
    EXPECT_TRUE(wait_until([] { return !watchdog_alive(); }));

    ASSERT_TRUE(ipc::stop_running_instances().ok());
    EXPECT_TRUE(user_wallpaper_back());
    EXPECT_FALSE(watchdog_alive());
    EXPECT_TRUE(program_processes().empty());
}

TEST_F(Service, AContentSetThatDoesNotRenderIsSkipped) {
    publish_generation("generation-1-1", kRed);
    publish_generation("generation-1-2", kRed);
    write_raw(install / "Content" / "generation-1-2" / "Veltrane_Desktop.png", "not a picture");
    UniqueHandle service = start_service();
    ASSERT_TRUE(wait_until([&] { return composed(); }));
    EXPECT_GT(Picture(utf8_to_path(wallpaper())).at(960, 540).r, 200);
    EXPECT_FALSE(fs::exists(last_error()));

    // A reset that fails at the end is recorded, not shown: the service ends on its own.
    StandinState state = read_standin_state();
    state.extra_lines.push_back(standin_fail("SetWallpaper", 0x80004005));
    write_standin_state(state);
    ASSERT_TRUE(ipc::stop_running_instances().ok());
    DWORD code = 1;
    GetExitCodeProcess(service.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(read_raw(last_error()).empty());
}

TEST_F(Service, TheWatchdogRestartsAKilledServiceThreeTimesThenGivesTheDesktopBack) {
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([&] { return composed() && watchdog_alive(); }));
    for (int restart = 1; restart <= 3; ++restart) {
        const DWORD killed = service_pid();
        kill(killed);
        ASSERT_TRUE(wait_until([&] { return service_pid() != 0 && service_pid() != killed && composed(); }))
            << "restart " << restart;
    }
    kill(service_pid());
    ASSERT_TRUE(wait_until([] { return !watchdog_alive(); }));
    EXPECT_TRUE(user_wallpaper_back());
    EXPECT_EQ(service_pid(), 0u);
}

// A restarted service takes its watchdog over: closed as the settings window's service button
// closes it (no shutdown signal), it ends that watchdog and is not started again.
TEST_F(Service, AServiceItsWatchdogRestartedEndsThatWatchdogWhenClosed) {
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([&] { return composed() && watchdog_alive(); }));
    const DWORD killed = service_pid();
    kill(killed);
    ASSERT_TRUE(wait_until([&] { return service_pid() != 0 && service_pid() != killed && composed(); }));
    ASSERT_TRUE(ipc::close_services().ok());
    EXPECT_TRUE(wait_until([] { return !watchdog_alive(); }));
    EXPECT_EQ(service_pid(), 0u);
    EXPECT_TRUE(user_wallpaper_back());
}

// The settings window's stop while the service's end-time reset hangs: it returns within its
// bound, and the watchdog, told of the stop, gives the desktop back and starts nothing again.
TEST_F(Service, AUserStopWithAHangingResetIsBoundedAndBringsNothingBack) {
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([&] { return composed() && watchdog_alive(); }));
    StandinState state = read_standin_state();
    state.extra_lines.push_back(standin_delay("SetWallpaper", 20000));
    write_standin_state(state);
    const auto begin = std::chrono::steady_clock::now();
    const Status stopped = ipc::close_services();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(36));  // two waits and a termination
    if (!stopped) {
        EXPECT_EQ(stopped.error().message,
                  "서비스는 종료했지만 바탕화면을 되돌리는 감시 프로세스가 제한 시간 안에 끝나지 않았습니다.");
    }
    EXPECT_TRUE(wait_until([] { return !watchdog_alive(); }, 40000));
    EXPECT_EQ(service_pid(), 0u);
    EXPECT_EQ(FindWindowW(ipc::kControllerClass, nullptr), nullptr);
    EXPECT_TRUE(user_wallpaper_back());
}

TEST_F(Service, AWatchdogForAnotherProcessGivesTheDesktopBackAndEnds) {
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([&] { return composed() && watchdog_alive(); }));
    // Both die, as in a crash of the session's programs: the composed pictures stay.
    for (DWORD pid : program_processes()) {
        if (pid != service_pid()) kill(pid);
    }
    kill(service_pid());
    ASSERT_TRUE(composed());
    UniqueHandle watchdog = start(L"--watchdog " + std::to_wstring(GetCurrentProcessId()) + L" 12345");
    ASSERT_EQ(WaitForSingleObject(watchdog.get(), 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(user_wallpaper_back());
}

TEST_F(Service, OverlayModeShowsLayerWindowsOnEnabledMonitorsOnly) {
    Settings settings;
    settings.method = DisplayMethod::TopLevel;
    settings.background = BackgroundMode::Original;
    ASSERT_TRUE(write_settings(settings, install / "Veltrane_Desktop.config").ok());
    UniqueHandle first = start_service();
    ASSERT_TRUE(wait_until([] { return !layer_windows().empty(); }));
    EXPECT_EQ(layer_windows().size(), 2u);  // image and text box; there is no duty roster
    EXPECT_TRUE(user_wallpaper_back());
    EXPECT_FALSE(watchdog_alive());
    EXPECT_FALSE(fs::exists(last_error()));

    // An end of session that does not end this process: the service gives everything back
    // and ends, so the next start is not refused by a service that does nothing.
    PostMessageW(FindWindowW(ipc::kControllerClass, nullptr), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    EXPECT_EQ(WaitForSingleObject(first.get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(layer_windows().empty());
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([] { return !layer_windows().empty(); }));

    settings.disabled_monitors = {"\\\\.\\DISPLAY1"};
    ASSERT_TRUE(write_settings(settings, install / "Veltrane_Desktop.config").ok());
    ASSERT_TRUE(ipc::post_refresh_request());
    EXPECT_TRUE(wait_until([] { return layer_windows().empty(); }));
    ASSERT_TRUE(ipc::stop_running_instances().ok());
    EXPECT_TRUE(user_wallpaper_back());
}

// Overlays need no COM: a service whose COM start-up fails still shows them, and a
// composition reports its own failure.
TEST_F(Service, StartsInOverlayModeWhenComRefusesToStart) {
    write_config(DisplayMethod::TopLevel, BackgroundMode::Original);
    UniqueHandle refused(CreateEventW(nullptr, TRUE, FALSE, L"VeltraneTestComRefused"));
    ASSERT_TRUE(start_service(true));
    EXPECT_EQ(WaitForSingleObject(refused.get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(wait_until([] { return layer_windows().size() == 2; }));
    ASSERT_TRUE(ipc::stop_running_instances().ok());

    write_config(DisplayMethod::Composite, BackgroundMode::Original);
    ASSERT_TRUE(start_service(true));
    EXPECT_NE(read_raw(last_error()).find("COM 초기화 실패: HRESULT(0x8007000E)"), std::string::npos);
    ASSERT_TRUE(ipc::stop_running_instances().ok());
}

// Wine keeps a process's own reading of the wallpaper setting: another process's change
// shows in the value the setting is stored in.
std::string registry_wallpaper() { return user_registry_text(kDesktopKey, L"Wallpaper"); }

TEST_F(Service, BlackThenOriginalGivesTheUserWallpaperSettingsBackInBothDisplayMethods) {
    set_system_wallpaper(user_wallpaper);
    set_user_registry_text(kDesktopKey, L"WallpaperStyle", L"6");
    set_user_registry_text(kColorsKey, L"Background", L"1 2 3");
    write_config(DisplayMethod::TopLevel, BackgroundMode::Black);
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([] { return !layer_windows().empty(); }));
    EXPECT_EQ(registry_wallpaper(), "");
    EXPECT_EQ(user_registry_text(kColorsKey, L"Background"), "0 0 0");
    EXPECT_TRUE(fs::exists(install / "Veltrane_Desktop.wallpaper-backup"));

    write_config(DisplayMethod::TopLevel, BackgroundMode::Original);
    ASSERT_TRUE(ipc::post_refresh_request());
    ASSERT_TRUE(wait_until([&] { return registry_wallpaper() == path_to_utf8(user_wallpaper); }));
    EXPECT_EQ(user_registry_text(kDesktopKey, L"WallpaperStyle"), "6");
    EXPECT_EQ(user_registry_text(kColorsKey, L"Background"), "1 2 3");
    EXPECT_FALSE(fs::exists(last_error()));
    EXPECT_FALSE(fs::exists(install / "Veltrane_Desktop.wallpaper-backup"));
    ASSERT_TRUE(ipc::stop_running_instances().ok());

    // The same while the service composes, decided from state: the switch back is made while
    // no service runs, and the next start puts the user's wallpaper back.
    write_config(DisplayMethod::Composite, BackgroundMode::Black);
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([&] { return composed(); }));
    EXPECT_EQ(registry_wallpaper(), "");
    ASSERT_TRUE(ipc::stop_running_instances().ok());
    write_config(DisplayMethod::Composite, BackgroundMode::Original);
    // A composition record over its size limit does not keep the service from starting.
    fs::create_directories(composite_paths(install).folder);
    write_raw(composite_paths(install).state, std::string((1 << 20) + 1, 'x'));
    ASSERT_TRUE(start_service());
    EXPECT_TRUE(wait_until([&] { return registry_wallpaper() == path_to_utf8(user_wallpaper); }));
    EXPECT_TRUE(wait_until([&] { return composed(); }));
    EXPECT_EQ(read_raw(last_error()), "바탕화면 복원 실패: 바탕화면 백업 상태가 손상되었습니다.");
    ASSERT_TRUE(ipc::stop_running_instances().ok());
}

TEST_F(Service, ComposesOnTheSpotlightPictureAndOnBlackAfterLeavingSpotlight) {
    // A picture downloaded less than six hours ago: no download is due.
    const fs::path spotlight = install / "Spotlight";
    fs::create_directories(spotlight);
    write_jpeg_file(spotlight / "spotlight-1700000000.jpg", 320, 180, kYellow);
    write_raw(install / "Veltrane_Desktop.spotlight-status", "applied_at=1700000000\n");
    write_config(DisplayMethod::Composite, BackgroundMode::Spotlight);
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([&] { return composed(); }));
    const Rgb corner = Picture(utf8_to_path(wallpaper())).at(20, 20);
    EXPECT_GT(corner.r, 200);
    EXPECT_GT(corner.g, 200);
    EXPECT_LT(corner.b, 60);
    const std::string on_spotlight = wallpaper();

    write_config(DisplayMethod::Composite, BackgroundMode::Black);
    ASSERT_TRUE(ipc::post_refresh_request());
    ASSERT_TRUE(wait_until([&] { return composed() && wallpaper() != on_spotlight; }));
    EXPECT_EQ(Picture(utf8_to_path(wallpaper())).at(20, 20), kBlack);
    EXPECT_FALSE(fs::exists(spotlight));
    EXPECT_FALSE(fs::exists(install / "Veltrane_Desktop.spotlight-status"));
    ASSERT_TRUE(ipc::stop_running_instances().ok());
    EXPECT_TRUE(user_wallpaper_back());
}


// User policy written as Group Policy writes it, and gone again whatever the outcome.
class UserPolicy {
public:
    UserPolicy() = default;
    UserPolicy(const UserPolicy&) = delete;
    UserPolicy& operator=(const UserPolicy&) = delete;
    ~UserPolicy() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Policies\\Veltrane"); }
    void set(const wchar_t* name, const std::wstring& text) { set_user_registry_text(key_.c_str(), name, text); }
    void set(const wchar_t* name, DWORD number) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name, REG_DWORD, &number, sizeof number), ERROR_SUCCESS);
    }
    void remove(const wchar_t* name) { RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name); }

private:
    std::wstring key_ = win::to_wide(kPolicyKey);
};

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST_F(Service, PolicyWinsOverTheFileAppliesOnItsBroadcastAndNamesAnInvalidValue) {
    UserPolicy policy;
    policy.set(L"DisplayMethod", L"top_level");
    policy.set(L"Monitors", L"sideways");
    policy.set(L"Autostart", DWORD{0});
    set_user_registry_text(kRunKey, L"Veltrane_Desktop", L"\"" + (install / "Veltrane_Desktop.exe").wstring() + L"\" --run");
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_until([] { return !layer_windows().empty(); }));  // the file says composite
    EXPECT_EQ(read_raw(last_error()), "정책 값이 올바르지 않아 무시했습니다: "
                                      "HKCU\\Software\\Policies\\Veltrane\\Veltrane_Desktop\\Monitors = \"sideways\"");
    EXPECT_EQ(user_registry_text(kRunKey, L"Veltrane_Desktop"), "<absent>");

    // Well before the next 30-second tick: the policy refresh's broadcast.
    policy.remove(L"DisplayMethod");
    policy.set(L"Monitors", L"all");
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"), SMTO_ABORTIFHUNG,
                        5000, &answer);
    EXPECT_TRUE(wait_until([] { return layer_windows().empty(); }, 5000));
    EXPECT_TRUE(wait_until([&] { return composed(); }));
    EXPECT_FALSE(fs::exists(last_error()));
    ASSERT_TRUE(ipc::stop_running_instances().ok());
}

}  // namespace
}  // namespace veltrane
