#include "settings_commands_win.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <system_error>

#include "autostart_win.h"
#include "file_util/win.h"
#include "file_util/worker.h"
#include "ipc/ipc.h"
#include "platform_win.h"
#include "settings_accessible_win.h"
#include "settings_focus_win.h"
#include "settings_view_win.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_win.h"
#include "startup.h"
#include "sync/sync_service.h"
#include "uninstaller_win.h"
#include "update/apply_update_win.h"
#include "update/update_check.h"
#include "wallpaper/original_state.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane::settings_window {

namespace fs = std::filesystem;
using ui::Choices;
using ui::ServiceState;

void show_save(WindowState& s) { enable(s, control(s, ui::kSaveId), !(s.current == s.saved)); }

void refresh_service_state(WindowState& s) {
    if (s.work != WindowWork::None) return;
    const ServiceState now = ipc::is_service_running() ? ServiceState::Running : ServiceState::Stopped;
    std::string note = sync_note_line();
    if (now == s.service && note == s.sync_note) return;
    s.service = now;
    s.sync_note = std::move(note);
    show_service(s);
}

void show_update_button(WindowState& s) {
    enable(s, control(s, ui::kUpdateId), !update_check_running() && !ui::fixed_by_policy(s.policy, ui::kUpdateId));
}

void show_policy(WindowState& s) {
    for (const auto& [id, h] : s.controls) {
        if (id >= ui::kPolicyNoteOffset) {
            ShowWindow(h, ui::fixed_by_policy(s.policy, id - ui::kPolicyNoteOffset) ? SW_SHOWNA : SW_HIDE);
        } else if (id == ui::kAutostartId || id >= ui::kCompositeId) {
            enable(s, h, !ui::fixed_by_policy(s.policy, id));
        }
    }
    show_update_button(s);
}

void refresh_policy(WindowState& s) {
    s.policy = read_policy();
    const Choices before = s.current;
    s.current = ui::lay_policy(s.current, s.policy, s.monitors);
    s.saved = ui::lay_policy(s.saved, s.policy, s.monitors);
    show_choices(s, before);
    show_policy(s);
    show_save(s);
}

namespace {

// Message boxes have no owner; the focus returns to the control that had it.
int box(WindowState& s, const std::string& text, unsigned icon = kErrorIcon) {
    HWND opener = GetFocus();
    const int answer = message_box(text, icon);
    if (IsWindow(s.window)) restore_focus(s, opener);
    return answer;
}

void command_sync(WindowState& s) {
    disable(s, control(s, ui::kSyncId));
    set_text(s.last_sync, "최근: 확인 중...");
    (void)start_sync_thread();
    SetTimer(s.window, kSyncTimer, 300, nullptr);
}

void command_update(WindowState& s) {
    const auto started = start_update_check(CheckMode::Manual);
    if (!started) {
        box(s, "업데이트 확인을 시작하지 못했습니다.\n\n" + started.error().message);
        return;
    }
    if (*started == CheckStart::NotStarted) {
        box(s, "다른 프로세스에서 이미 업데이트를 확인하고 있습니다.", kInfoIcon);
        return;
    }
    disable(s, control(s, ui::kUpdateId));
    set_text(s.program_line, update_status_line());
    SetTimer(s.window, kUpdateTimer, 500, nullptr);
}

// Applied here only while no service runs; the first error is kept. The composition goes
// first, so black or Spotlight back up the user's wallpaper and not the program's picture.
// Run on the worker: the restore lock may be held for up to 30 s.
Status apply_background_here(BackgroundMode mode, const fs::path& folder) {
    if (auto restored = restore_original_wallpapers(folder); !restored) return restored.take_error();
    if (mode == BackgroundMode::Spotlight) {
        return latest_spotlight_image(folder) ? apply_spotlight_background(folder) : Status{};
    }
    if (mode == BackgroundMode::Black) return apply_black_background(folder);
    return restore_wallpaper_backup(folder);
}

Status apply_autostart(bool on) {
    if (!on) return disable_autostart();
    const auto exe = executable_path();
    if (!exe) return make_error("실행 파일 경로를 확인하지 못했습니다.");
    return enable_autostart(*exe);
}

void save_done(WindowState& s, const Status& applied) {
    EnableWindow(control(s, ui::kRestoreId), TRUE);
    EnableWindow(control(s, ui::kRemoveId), TRUE);
    if (s.save_autostart && applied) s.saved = s.current;
    show_save(s);
    if (!s.save_autostart) {
        box(s, "설정은 저장했지만 Windows 시작 등록을 변경하지 못했습니다.\n\n" + s.save_autostart.error().message);
    } else if (!applied) {
        box(s, "설정은 저장했지만 바탕화면을 적용하지 못했습니다.\n\n" + applied.error().message);
    } else {
        box(s, s.save_without_spotlight_image
                   ? "설정을 저장했습니다.\n\nWindows Spotlight는 서비스를 실행하면 내려받아 적용합니다."
                   : "설정을 저장하고 적용했습니다.",
            kInfoIcon);
    }
}

bool start_window_work(WindowState& s, WindowWork kind, std::function<Status()> job, const char* failure);

void command_save(WindowState& s) {
    if (s.work != WindowWork::None) {
        box(s, "서비스 작업이 끝난 뒤에 다시 시도해 주세요.", kInfoIcon);
        return;
    }
    // Policy applied since the window opened is neither written nor undone by this save.
    refresh_policy(s);
    const Settings next = ui::collect_settings(s.settings, s.current, s.monitors, s.policy);
    // What is in force: the file's choices under policy.
    const Settings effective = apply_policy(next, s.policy);
    const auto path = settings_path();
    if (!path) {
        box(s, "설정 파일 경로를 확인하지 못했습니다.");
        return;
    }
    if (auto written = write_settings(next, *path); !written) {
        box(s, "설정을 저장하지 못했습니다.\n\n" + written.error().message);
        return;
    }
    s.settings = next;
    if (s.saved.background == BackgroundMode::Spotlight && effective.background != BackgroundMode::Spotlight) {
        leave_spotlight_mode();
    }
    (void)ipc::post_refresh_request();
    // What policy fixes is the service's to keep in line, never the window's to write.
    s.save_autostart = s.policy.autostart ? Status{} : apply_autostart(s.current.autostart);
    s.save_without_spotlight_image = false;
    if (ipc::is_service_running()) {
        save_done(s, {});
        return;
    }
    const auto folder = executable_folder();
    if (!folder) {
        save_done(s, make_error("실행 파일 폴더를 확인하지 못했습니다."));
        return;
    }
    s.save_without_spotlight_image =
        effective.background == BackgroundMode::Spotlight && !latest_spotlight_image(*folder);
    if (!start_window_work(s, WindowWork::Save,
                           [mode = effective.background, folder = *folder] { return apply_background_here(mode, folder); },
                           "바탕화면을 적용하는 중 오류가 발생했습니다.")) {
        save_done(s, make_error("바탕화면을 적용할 작업을 시작하지 못했습니다."));
        return;
    }
    // Restoring or removing meanwhile would race the save's own wallpapers.
    for (int id : {ui::kSaveId, ui::kRestoreId, ui::kRemoveId}) disable(s, control(s, id));
}

Status stop_service() {
    if (auto closed = ipc::close_services(); !closed) return closed;
    if (ipc::is_service_running()) return make_error("서비스 종료를 확인하지 못했습니다.");
    return {};
}

Status start_service() {
    const auto exe = executable_path();
    if (!exe) return make_error("실행 파일 경로를 확인하지 못했습니다.");
    const auto folder = parent_folder(*exe);
    if (!folder) return make_error("실행 파일 폴더를 확인하지 못했습니다.");
    return start_service_and_wait(*exe, *folder);
}


// The worker's outcome, handed to the window thread by kWorkDone; a message that finds
// none here did not come from the worker and is ignored.
std::atomic<bool> g_window_work{false};
std::mutex g_outcome_mutex;
std::optional<Status> g_outcome;

void hand_over(HWND window, Status outcome) {
    {
        const std::lock_guard<std::mutex> guard(g_outcome_mutex);
        g_outcome = std::move(outcome);
    }
    PostMessageW(window, kWorkDone, 0, 0);
}

// The outcome comes back as kWorkDone; false when another job runs or no thread starts.
bool start_window_work(WindowState& s, WindowWork kind, std::function<Status()> job, const char* failure) {
    if (!claim_worker(g_window_work)) return false;
    HWND window = s.window;
    auto work = [window, job = std::move(job), failure] {
        Status outcome;
        try {
            outcome = job();
        } catch (...) {
            outcome = make_error(failure);
        }
        hand_over(window, std::move(outcome));
        g_window_work.store(false);
    };
    s.work = kind;
    if (start_claimed_worker(g_window_work, work)) return true;
    s.work = WindowWork::None;
    return false;
}

// A start waits up to a minute and a stop several seconds: both run on the worker so that
// the window keeps answering.
void command_service(WindowState& s) {
    const bool stopping = ipc::is_service_running();
    if (!start_window_work(s, WindowWork::Service, [stopping] { return stopping ? stop_service() : start_service(); },
                           "서비스 작업 중 오류가 발생했습니다.")) {
        box(s, "서비스 작업을 시작하지 못했습니다.");
        return;
    }
    // The busy button while the worker runs: the text says what happens, and no second press.
    HWND button = control(s, ui::kServiceId);
    set_text(button, stopping ? "중지 중…" : "시작 중…");
    disable(s, button);
    InvalidateRect(button, nullptr, TRUE);
}

// The wallpapers go back first; then the settings say what the desktop now shows. Run on the
// worker: the restore lock may be held for up to 30 s.
Status restore_backgrounds(const fs::path& folder, bool backup, bool was_spotlight, const Policy& policy) {
    if (auto restored = restore_original_wallpapers(folder); !restored) {
        return make_error("합성 이전 바탕화면으로 되돌리지 못했습니다.\n\n" + restored.error().message);
    }
    if (backup) {
        if (auto restored = restore_wallpaper_backup(folder); !restored) return restored.take_error();
    }
    if (was_spotlight) leave_spotlight_mode(folder);
    const auto path = settings_path();
    if (!path) return {};
    Settings next = read_settings(*path);
    // What policy fixes stays the user's own in the file; the service applies policy.
    if (!policy.method) next.method = DisplayMethod::TopLevel;
    if (!policy.background) next.background = BackgroundMode::Original;
    if (auto written = write_settings(next, *path); !written) {
        return make_error("복원 후 설정을 저장하지 못했습니다.\n\n" + written.error().message);
    }
    (void)ipc::post_refresh_request();
    return {};
}

void command_restore(WindowState& s) {
    const auto folder = executable_folder();
    if (!folder) {
        box(s, "실행 파일 경로를 확인하지 못했습니다.");
        return;
    }
    std::error_code ec;
    const bool composition = fs::exists(composite_paths(*folder).state, ec);
    const bool backup = fs::exists(*folder / kWallpaperBackupFile, ec);
    if (!composition && !backup) {
        box(s, "되돌릴 바탕화면 기록이 없습니다.", kInfoIcon);
        return;
    }
    const bool was_spotlight = s.saved.background == BackgroundMode::Spotlight;
    if (!start_window_work(s, WindowWork::Restore,
                           [folder = *folder, backup, was_spotlight, policy = s.policy] {
                               return restore_backgrounds(folder, backup, was_spotlight, policy);
                           },
                           "바탕화면을 되돌리는 중 오류가 발생했습니다.")) {
        box(s, "서비스 작업이 끝난 뒤에 다시 시도해 주세요.", kInfoIcon);
        return;
    }
    // Saving or removing meanwhile would race the restore's own settings and wallpapers.
    for (int id : {ui::kRestoreId, ui::kSaveId, ui::kRemoveId}) disable(s, control(s, id));
}

void restore_done(WindowState& s, const Status& outcome) {
    EnableWindow(control(s, ui::kRestoreId), TRUE);
    EnableWindow(control(s, ui::kRemoveId), TRUE);
    if (!outcome) {
        show_save(s);
        box(s, outcome.error().message);
        return;
    }
    if (const auto path = settings_path()) {
        s.settings = read_settings(*path);
        // The restore wrote the method and background; the other choices stay as the user left them.
        const Choices restored = ui::choices_from(s.settings, s.monitors, s.saved.autostart, s.policy);
        const Choices before = s.current;
        s.current.method = s.saved.method = restored.method;
        s.current.background = s.saved.background = restored.background;
        show_choices(s, before);
    }
    show_save(s);
    box(s, "이전 바탕화면으로 되돌렸습니다.", kInfoIcon);
}

}  // namespace

std::optional<Status> take_work_outcome() {
    const std::lock_guard<std::mutex> guard(g_outcome_mutex);
    return std::exchange(g_outcome, std::nullopt);
}

void work_done(WindowState& s, const Status& outcome) {
    const WindowWork finished = std::exchange(s.work, WindowWork::None);
    // Closed while the worker ran: what the user asked for is done, now it goes.
    if (s.close_when_done) {
        DestroyWindow(s.window);
        return;
    }
    if (finished == WindowWork::Restore) {
        restore_done(s, outcome);
        return;
    }
    if (finished == WindowWork::Save) {
        save_done(s, outcome);
        return;
    }
    EnableWindow(control(s, ui::kServiceId), TRUE);
    s.service = ServiceState::Unknown;
    refresh_service_state(s);
    if (!outcome) box(s, outcome.error().message);
}

void command(WindowState& s, int id) {
    switch (id) {
        case ui::kSaveId: command_save(s); return;
        case ui::kSyncId: command_sync(s); return;
        case ui::kRestoreId: command_restore(s); return;
        case ui::kServiceId: command_service(s); return;
        case ui::kUpdateId: command_update(s); return;
        case ui::kRemoveId: launch_removal_helper(s.window); return;
        default: {
            if (ui::fixed_by_policy(s.policy, id)) return;
            const Choices before = s.current;
            s.current = ui::choose(s.current, id);
            show_choices(s, before);
            show_save(s);
        }
    }
}

void timer(WindowState& s, UINT_PTR id) {
    if (id == kSyncTimer) {
        if (sync_in_progress()) return;
        KillTimer(s.window, kSyncTimer);
        set_text(s.last_sync, last_sync_line());
        set_text(s.next_sync, next_sync_line());
        EnableWindow(control(s, ui::kSyncId), TRUE);
        refresh_service_state(s);
    } else if (id == kServiceTimer) {
        refresh_service_state(s);
    } else if (id == kUpdateTimer) {
        set_text(s.program_line, update_status_line());
        show_update_button(s);
        if (!update_check_running()) SetTimer(s.window, kUpdateTimer, 5000, nullptr);
    }
}

}  // namespace veltrane::settings_window
