#include <windows.h>

#include <cstdio>
#include <memory>
#include <system_error>

#include "file_util/file_util.h"
#include "file_util/local_time.h"
#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "overlay/layer_windows_win.h"
#include "overlay/text_table.h"
#include "autostart_win.h"
#include "installer.h"
#include "service.h"
#include "service_win.h"
#include "settings/policy.h"
#include "settings/settings.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_state.h"
#include "spotlight/spotlight_win.h"
#include "sync/sync_run.h"
#include "sync/sync_service.h"
#include "settings/install_identity.h"
#include "uninstall_entry_win.h"
#include "build_info/build_version.h"
#include "update/apply_update.h"
#include "update/update_check.h"
#include "wallpaper/com_win.h"
#include "wallpaper/compose_win.h"
#include "wallpaper/desktop_wallpaper_win.h"
#include "wallpaper/gdiplus_win.h"
#include "wallpaper/original_state.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

constexpr DWORD kControllerExStyle = 0x08000080;  // tool window, no activate
constexpr DWORD kPopupStyle = 0x80000000;
constexpr DWORD kWatchdogStopWait = 5000;
// A watchdog of an earlier service that still gives the desktop back; the start goes on.
constexpr std::chrono::milliseconds kWatchdogExitWait{15000};
constexpr const char* kWatchdogStillRunning = "이전 감시 프로세스가 15초 안에 끝나지 않았습니다.";

struct ServiceState {
    std::optional<ipc::ChildProcess> watchdog_process;
    RenderedContent content;
    ContentPaths content_source;
    ContentStamp content_stamp;
    FailedRenders failed_renders;
    std::vector<MonitorWindows> layer_windows;
    std::vector<MonitorRect> overlay_targets;
    Settings settings;
    Policy policy;
    // Invalid policy values and a Run value that could not be matched: named in the
    // last-error record with whatever else it says.
    std::optional<std::string> policy_note;
    std::vector<LayoutEntry> monitor_layout;
    BackgroundImage background_image;
    bool presentation_dirty = true;
    bool display_change_pending = false;
    HINSTANCE instance = nullptr;
    fs::path exe_folder;
    // What start-up could not give back (a damaged record): reported until the service ends.
    std::optional<std::string> unrestored;
    // The settings step's transition, read by the overlay steps of the same refresh.
    SettingsTransition transition;
    // Setting the wallpaper broadcasts a setting change that this thread's own window
    // receives at once; a refresh must not start inside another.
    bool refreshing = false;
};

std::optional<std::string> joined(std::optional<std::string> first, const std::optional<std::string>& second) {
    if (!first) return second;
    if (second) *first += "\n" + *second;
    return first;
}

void report(const ServiceState& s, std::optional<std::string> text) {
    write_last_error(joined(std::move(text), s.policy_note));
}

Result<RenderedContent> render(const ContentPaths& paths) { return render_content(paths, render_text_table); }

// Until a Spotlight picture exists the mode composes onto the user's wallpaper.
BackgroundImage background_image_for(BackgroundMode mode, const fs::path& exe_folder) {
    BackgroundImage image{mode, std::nullopt, {}};
    if (mode != BackgroundMode::Spotlight) return image;
    image.spotlight_image = latest_spotlight_image(exe_folder);
    if (image.spotlight_image) image.spotlight_stamp = file_stamp(*image.spotlight_image);
    return image;
}

void destroy_layer_windows(ServiceState& s) { destroy_overlays(s.layer_windows); }

void stop_watchdog(ServiceState& s) {
    if (!s.watchdog_process) return;
    TerminateProcess(s.watchdog_process->process.get(), 1);
    WaitForSingleObject(s.watchdog_process->process.get(), kWatchdogStopWait);
    s.watchdog_process.reset();
}

Status compose_now(const ServiceState& s) {
    // An apartment set up in another mode is used as it is.
    const win::ComScope com;
    if (auto usable = com.status(); !usable) return usable;
    auto gdiplus = gdiplus::Session::start();
    if (!gdiplus) return gdiplus.take_error();
    return compose_wallpapers(s.exe_folder, s.content, s.settings, s.background_image.mode,
                              s.background_image.spotlight_image);
}

// The composed pictures are still every monitor's wallpaper: nobody changed them since.
bool composed_wallpaper_in_place(const fs::path& exe_folder) {
    const CompositePaths paths = composite_paths(exe_folder);
    std::error_code ec;
    if (!fs::exists(paths.state, ec)) return false;
    auto desktop = open_desktop_wallpaper();
    if (!desktop) return false;
    auto monitors = list_wallpaper_monitors(**desktop);
    if (!monitors) return false;
    for (const auto& m : *monitors) {
        if (!path_is_inside(m.wallpaper, paths.content)) return false;
    }
    return true;
}

Status ensure_watchdog(ServiceState& s) {
    if (s.watchdog_process) {
        if (WaitForSingleObject(s.watchdog_process->process.get(), 0) == WAIT_TIMEOUT) return {};
        s.watchdog_process.reset();
    }
    auto exe = executable_path();
    if (!exe) return exe.take_error();
    const auto created = ipc::process_creation_time(GetCurrentProcess());
    if (!created) return make_error("현재 프로세스 생성 시각을 확인하지 못했습니다.");
    const std::wstring arguments =
        L"--watchdog " + std::to_wstring(GetCurrentProcessId()) + L" " + std::to_wstring(*created);
    auto child = ipc::start_program(*exe, arguments, ipc::kNoWindowFlag);
    if (!child) return make_error("watchdog 시작 실패: " + child.error().message);
    s.watchdog_process = std::move(*child);
    return {};
}

// Refresh step 1.
void refresh_monitors(ServiceState& s) {
    auto layout = monitor_layout(list_monitors());
    if (layout == s.monitor_layout) return;
    s.monitor_layout = std::move(layout);
    destroy_layer_windows(s);
    s.presentation_dirty = true;
}

// The shown generation is kept by pruning; a failed set waits for a change of its files.
Result<RenderedContent> render_candidate(ServiceState& s, const ContentPaths& paths, const ContentStamp& stamp) {
    auto rendered = render(paths);
    if (!rendered) {
        remember_failure(s.failed_renders, paths, stamp);
        return rendered;
    }
    record_shown_generation(s.exe_folder, paths.image);
    return rendered;
}

// Refresh step 2: the first set that is unchanged or renders wins.
void refresh_content(ServiceState& s) {
    const DutyPeriod period = duty_period_at(local_time_now());
    for (const auto& paths : content_sets(s.exe_folder)) {
        const ContentStamp stamp = content_stamp(paths, period);
        if (same_paths(paths, s.content_source) && stamp == s.content_stamp) return;
        if (failed_before(s.failed_renders, paths, stamp)) continue;
        auto rendered = render_candidate(s, paths, stamp);
        if (!rendered) continue;
        s.content = std::move(*rendered);
        s.content_source = paths;
        s.content_stamp = stamp;
        destroy_layer_windows(s);
        s.presentation_dirty = true;
        return;
    }
}

Status set_autostart(bool on) {
    if (!on) return disable_autostart();
    auto exe = executable_path();
    if (!exe) return exe.take_error();
    return enable_autostart(*exe);
}

// Policy fixes the Run value whatever the settings window or the installer wrote.
std::optional<std::string> match_autostart(const std::optional<bool>& wanted) {
    if (!wanted || *wanted == is_autostart_enabled()) return std::nullopt;
    const Status matched = set_autostart(*wanted);
    if (matched) return std::nullopt;
    return "Windows 시작 등록을 정책에 맞추지 못했습니다: " + matched.error().message;
}

void refresh_policy_note(ServiceState& s) {
    auto note = joined(policy_problem(s.policy), match_autostart(s.policy.autostart));
    if (note == s.policy_note) return;
    s.policy_note = std::move(note);
    // A composed desktop left in place writes no record; presenting again names the change.
    s.presentation_dirty = true;
}

// Refresh step 3. Policy is read with the file, so a policy refresh (and its setting-change
// broadcast) applies within one refresh.
void refresh_settings(ServiceState& s) {
    s.transition = {};
    s.policy = read_policy();
    refresh_policy_note(s);
    Settings now = effective_settings(s.policy);
    if (now == s.settings) return;
    s.transition = settings_transition(s.settings, now);
    s.settings = std::move(now);
    destroy_layer_windows(s);
    s.presentation_dirty = true;
    if (s.transition.spotlight_off) leave_spotlight_mode(s.exe_folder);
}

// Refresh step 4.
void refresh_spotlight(ServiceState& s) {
    const bool spotlight = s.settings.background == BackgroundMode::Spotlight;
    set_spotlight_enabled(spotlight);
    // Before this refresh composes: a worker placing a picture later sees the method of now.
    set_spotlight_applies_now(s.settings.method == DisplayMethod::TopLevel);
    if (first_spotlight_prune()) (void)prune_spotlight_folder(s.exe_folder / kSpotlightFolder);
    if (spotlight) (void)spotlight_tick(s.transition.spotlight_on, s.exe_folder);
}

// Refresh step 5.
void refresh_background_image(ServiceState& s) {
    BackgroundImage now = background_image_for(s.settings.background, s.exe_folder);
    if (now == s.background_image) return;
    s.background_image = std::move(now);
    s.presentation_dirty = true;
}

Status render_again_if_dropped(ServiceState& s) {
    if (holds_pixels(s.content)) return {};
    auto rendered = render(s.content_source);
    if (!rendered) return rendered.take_error();
    s.content = std::move(*rendered);
    return {};
}

// Black or the newest Spotlight picture on the real wallpaper. Going back to the user's own
// is decided from state, not from one transition: the backup record exists until it has been
// put back, so a failed or missed switch is made good at the next refresh or start.
Status apply_background_mode(BackgroundMode mode, const fs::path& exe_folder) {
    if (mode == BackgroundMode::Black) return apply_black_background(exe_folder);
    if (mode == BackgroundMode::Spotlight) return apply_spotlight_background(exe_folder);
    return restore_wallpaper_backup(exe_folder);
}

// What cannot be put back is reported, and the content is shown all the same.
std::optional<std::string> restore_user_background(const ServiceState& s) {
    if (s.settings.background != BackgroundMode::Original) return std::nullopt;
    if (auto restored = apply_background_mode(s.settings.background, s.exe_folder); !restored) return restored.error().message;
    return std::nullopt;
}

void present_overlays(ServiceState& s, const std::vector<MonitorRect>& targets) {
    std::optional<std::string> problem;
    if (auto reset = reset_desktop_background(); !reset) problem = "바탕화면 복원 실패: " + reset.error().message;
    stop_watchdog(s);
    if (s.settings.background == BackgroundMode::Original) {
        if (auto unrestored = restore_user_background(s)) problem = std::move(unrestored);
    } else if (auto applied = apply_background_mode(s.settings.background, s.exe_folder); !applied) {
        report(s, applied.error().message);
        return;
    }
    report(s, problem ? problem : s.unrestored ? s.unrestored : content_problem(s.content, targets));
    if (targets.empty()) {
        destroy_layer_windows(s);
        return;
    }
    if (!s.layer_windows.empty() && s.overlay_targets.size() == targets.size()) {
        raise_overlays(s.layer_windows);
        return;
    }
    destroy_layer_windows(s);
    if (auto again = render_again_if_dropped(s); !again) {
        report(s, again.error().message);
        return;
    }
    auto windows = show_overlays(s.content, targets, s.instance);
    if (!windows) {
        report(s, windows.error().message);
        return;
    }
    s.layer_windows = std::move(*windows);
    s.overlay_targets = targets;
    // The windows hold their own copy of the pixels.
    drop_pixels(s.content);
}

void present_composite(ServiceState& s, const std::vector<MonitorRect>& targets) {
    destroy_layer_windows(s);
    // Black and Spotlight blanked the user's own wallpaper in both methods; composing alone
    // would draw on that blank and leave it there when the service stops.
    const std::optional<std::string> problem = restore_user_background(s);
    if (s.display_change_pending) return;
    if (auto watchdog = ensure_watchdog(s); !watchdog) {
        auto reset = reset_desktop_background();
        report(s, reset ? watchdog.error().message
                        : watchdog.error().message + "\n바탕화면 복원 실패: " + reset.error().message);
        return;
    }
    if (!s.presentation_dirty && composed_wallpaper_in_place(s.exe_folder)) return;
    if (auto again = render_again_if_dropped(s); !again) {
        report(s, again.error().message);
        return;
    }
    if (auto composed = compose_now(s); !composed) {
        report(s, "바탕화면 합성 실패: " + composed.error().message);
        return;
    }
    report(s, problem ? problem : s.unrestored ? s.unrestored : content_problem(s.content, targets));
    s.presentation_dirty = false;
    // The pictures are on disk now; pixels are rendered again when they are needed.
    drop_pixels(s.content);
}

void service_refresh(ServiceState& s) {
    if (s.refreshing) return;
    s.refreshing = true;
    refresh_monitors(s);
    refresh_content(s);
    refresh_settings(s);
    refresh_spotlight(s);
    refresh_background_image(s);
    if (!update_check_running() && s.policy.automatic_update_check.value_or(true)) update_tick();
    sync_schedule_tick(update_check_running());
    const auto targets = target_monitors(s.monitor_layout, s.settings);
    if (s.settings.method == DisplayMethod::TopLevel) present_overlays(s, targets);
    else present_composite(s, targets);
    s.refreshing = false;
}

void arm_duty_timer(HWND window) {
    const LocalTime now = local_time_now();
    const std::uint64_t ms = (std::uint64_t(now.hour) * 3600 + now.minute * 60 + now.second) * 1000;
    SetTimer(window, kDutyTimer, duty_timer_delay(ms), nullptr);
}

void on_display_change(HWND window, ServiceState& s) {
    arm_duty_timer(window);
    s.presentation_dirty = true;
    const bool overlay = s.settings.method == DisplayMethod::TopLevel;
    s.display_change_pending = !overlay;
    destroy_layer_windows(s);
    if (overlay) service_refresh(s);
    else SetTimer(window, kDisplayChangeTimer, kDisplayChangeDelayMs, nullptr);
}

LRESULT on_timer(HWND window, WPARAM id, ServiceState& s) {
    switch (id) {
    case kServiceTickTimer:
        service_refresh(s);
        return 0;
    case kDisplayChangeTimer:
        KillTimer(window, kDisplayChangeTimer);
        s.display_change_pending = false;
        service_refresh(s);
        return 0;
    case kDutyTimer:
        service_refresh(s);
        arm_duty_timer(window);
        return 0;
    default:
        return DefWindowProcW(window, WM_TIMER, id, 0);
    }
}

LRESULT CALLBACK controller_procedure(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wp, lp);
    }
    switch (message) {
    case WM_CREATE:
        SetTimer(window, kServiceTickTimer, kServiceTickMs, nullptr);
        arm_duty_timer(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, kServiceTickTimer);
        KillTimer(window, kDisplayChangeTimer);
        KillTimer(window, kDutyTimer);
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    default:
        break;
    }
    auto* state = reinterpret_cast<ServiceState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!state) return DefWindowProcW(window, message, wp, lp);
    ServiceState& s = *state;
    switch (message) {
    case WM_TIMER:
        if (wp == kServiceTickTimer || wp == kDisplayChangeTimer || wp == kDutyTimer) return on_timer(window, wp, s);
        break;
    case WM_TIMECHANGE:
        service_refresh(s);
        arm_duty_timer(window);
        return 0;
    case WM_DISPLAYCHANGE:
    case WM_DPICHANGED:
        on_display_change(window, s);
        return 0;
    case WM_POWERBROADCAST:
    case WM_DEVICECHANGE:
        on_display_change(window, s);
        return TRUE;
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
    case ipc::kRefreshMessage:
        service_refresh(s);
        return 0;
    case WM_ENDSESSION:
        if (wp) {
            // The desktop is given back before returning, as the process may end right after;
            // then the service ends itself, so a session that goes on is not left with a
            // service that holds the singleton and does nothing.
            s.refreshing = true;  // the reset's own broadcast must not present again
            destroy_layer_windows(s);
            if (auto reset = reset_desktop_background(); !reset) write_last_error(reset.error().message);
            stop_watchdog(s);
            DestroyWindow(window);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wp, lp);
}

Status register_class(HINSTANCE instance, const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.lpszClassName = name;
    if (RegisterClassExW(&wc)) return {};
    return win::last_win32_error("창 클래스 등록 실패");
}

// Start-up steps 6-7: the first content set that renders.
Status render_first_content(ServiceState& s) {
    const DutyPeriod period = duty_period_at(local_time_now());
    Status last = make_error("실행 파일 폴더를 찾지 못했습니다.");
    for (const auto& paths : content_sets(s.exe_folder)) {
        const ContentStamp stamp = content_stamp(paths, period);
        auto rendered = render_candidate(s, paths, stamp);
        if (!rendered) {
            last = rendered.take_error();
            continue;
        }
        s.content = std::move(*rendered);
        s.content_source = paths;
        s.content_stamp = stamp;
        return {};
    }
    return last;
}

bool started_by_own_watchdog() {
    win::UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, watchdog_restart_event_name(GetCurrentProcessId()).c_str()));
    return static_cast<bool>(event);
}

void signal_ready() {
    const std::wstring name = ipc::service_ready_event_name(current_build_version());
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    if (event) SetEvent(event.get());
}

// Steps 6-13 of the start-up; the controller window is returned for the orderly end.
Result<HWND> start_controller(ServiceState& s) {
    const auto folder = executable_folder();
    if (!folder) return make_error("실행 파일 폴더를 찾지 못했습니다.");
    s.exe_folder = *folder;
    if (auto first = render_first_content(s); !first) return first.take_error();
    s.policy = read_policy();
    s.settings = effective_settings(s.policy);
    s.instance = GetModuleHandleW(nullptr);
    if (!s.instance) return make_error("모듈 핸들을 얻지 못했습니다.");
    if (auto c = register_class(s.instance, ipc::kControllerClass, controller_procedure); !c) return c.take_error();
    if (auto c = register_class(s.instance, ipc::kLayerClass, layer_window_procedure); !c) return c.take_error();
    s.background_image = background_image_for(s.settings.background, s.exe_folder);
    HWND window = CreateWindowExW(kControllerExStyle, ipc::kControllerClass, L"", kPopupStyle, 0, 0, 0, 0, nullptr,
                                  nullptr, s.instance, &s);
    if (!window) {
        return win::last_win32_error("컨트롤러 창 생성 실패");
    }
    return window;
}

// Steps 14-18.
Status serve(ServiceState& s, HWND window, HANDLE shutdown) {
    service_refresh(s);
    // Recorded before the event is set, so that whoever waits for it reads the outcome.
    if (auto finished = finish_update_when_ready(s.exe_folder); !finished) write_last_error(finished.error().message);
    // Every build that serves, a self-update's too, gives Apps & Features its version.
    refresh_uninstall_entry(s.exe_folder);
    signal_ready();
    const ipc::LoopEnd end = ipc::run_message_loop(shutdown);
    s.refreshing = true;  // the service ends: the reset's own broadcast must not present again
    destroy_layer_windows(s);
    Status reset = reset_desktop_background();
    stop_watchdog(s);
    if (IsWindow(window)) DestroyWindow(window);
    if (end.kind == ipc::LoopEnd::WaitFailed) return Error{"메시지 루프 오류 " + std::to_string(end.error), end.error};
    return reset;
}

}  // namespace

std::wstring watchdog_restart_event_name(unsigned long service_process_id) {
    return L"Local\\Veltrane_Desktop.WatchdogRestart." + std::to_wstring(service_process_id);
}

void write_last_error(const std::optional<std::string>& text) {
    const auto folder = executable_folder();
    if (!folder) return;
    const fs::path path = *folder / kLastErrorFile;
    if (text) {
        (void)write_file_atomic(path, std::string_view(*text));
        return;
    }
    std::error_code ec;
    fs::remove(path, ec);
}

Status reset_desktop_background() {
    const auto folder = executable_folder();
    if (!folder) return {};
    // A record that cannot be used does not keep the background step from running.
    auto restored = restore_original_wallpapers(*folder);
    const Settings settings = effective_settings(read_policy());
    Status applied = apply_background_mode(settings.background, *folder);
    if (!restored) return restored.take_error();
    return applied;
}

Status run_service() {
    win::UniqueHandle singleton(CreateMutexW(nullptr, FALSE, ipc::kSingletonName));
    if (!singleton) {
        return win::last_win32_error("단일 실행 잠금을 만들 수 없습니다");
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) return {};
    // First, so that a new build that fails early in its start still gets this far, and
    // before anything reads the font: an updater ended part-way left this build or its font.
    if (const auto folder = executable_folder()) {
        if (auto installed = finish_interrupted_install(*folder); !installed) write_last_error(installed.error().message);
        auto finished = finish_interrupted_update(*folder);
        if (!finished) write_last_error(finished.error().message);
        else if (*finished == ServiceStart::HandedOver) return {};
    }
    auto shutdown = ipc::open_shutdown_event();
    if (!shutdown) return shutdown.take_error();
    // A watchdog that started this service again goes on watching it, as the service's own.
    std::optional<ipc::ChildProcess> watchdog;
    if (started_by_own_watchdog()) watchdog = ipc::open_parent_process();
    else if (!ipc::wait_for_watchdog_exit(kWatchdogExitWait)) write_last_error(kWatchdogStillRunning);
    // A damaged record must not keep the service from starting: it is reported, and the
    // content is shown all the same.
    std::optional<std::string> unrestored;
    if (auto reset = reset_desktop_background(); !reset) {
        unrestored = "바탕화면 복원 실패: " + reset.error().message;
        write_last_error(unrestored);
    }
    // A build that came by self-update, or a record someone damaged, gets its identity here
    // before the first request; without one, requests go out without it.
    if (const auto folder = executable_folder()) (void)ensure_install_identity(*folder);
    if (!has_content()) {
        // Started without it all the same: the sync ticks try again.
        if (auto synced = run_content_sync(); !synced) write_last_error(synced.error().message);
    }
    // The window thread keeps one apartment for its life, so each refresh's look at the
    // desktop-wallpaper object does not set COM up and tear it down again. Without it the
    // overlays still work, and a composition reports its own COM failure.
    const win::ComScope apartment;
    auto state = std::make_unique<ServiceState>();
    state->watchdog_process = std::move(watchdog);
    state->unrestored = std::move(unrestored);
    auto window = start_controller(*state);
    if (!window) return window.take_error();
    // Started: from here on nothing is shown, a failure goes to the last-error record.
    if (auto served = serve(*state, *window, shutdown->get()); !served) write_last_error(served.error().message);
    return {};
}

}  // namespace veltrane
