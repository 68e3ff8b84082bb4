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
#include "settings_window_parts_win.h"
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

Choices current_choices(const WindowState& s) {
    Choices c;
    c.method = is_selected(control_by_id(s.window, ui::kTopLevelId)) ? DisplayMethod::TopLevel : DisplayMethod::Composite;
    c.background = is_selected(control_by_id(s.window, ui::kOriginalId))  ? BackgroundMode::Original
                   : is_selected(control_by_id(s.window, ui::kBlackId)) ? BackgroundMode::Black
                                                                          : BackgroundMode::Spotlight;
    c.autostart = s.current.autostart;
    for (std::size_t i = 0; i < s.monitors.size(); ++i) {
        c.monitors.push_back(is_selected(control_by_id(s.window, ui::kFirstMonitorId + static_cast<int>(i))));
    }
    return c;
}

void update_save(WindowState& s) {
    s.current = current_choices(s);
    EnableWindow(control_by_id(s.window, ui::kSaveId), !(s.current == s.saved));
}

void refresh_service_state(WindowState& s) {
    if (s.work != WindowWork::None) return;
    const ServiceState now = ipc::is_service_running() ? ServiceState::Running : ServiceState::Stopped;
    std::string note = sync_note_line();
    if (now == s.service && note == s.sync_note) return;
    s.service = now;
    s.sync_note = std::move(note);
    set_text(s.service_text, ui::service_line(now, s.sync_note));
    set_text(s.service_button, ui::service_button_text(now));
    InvalidateRect(s.service_text, nullptr, TRUE);
    InvalidateRect(s.service_button, nullptr, TRUE);
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
    disable(s, control_by_id(s.window, ui::kSyncId));
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
    disable(s, control_by_id(s.window, ui::kUpdateId));
    set_text(s.program_line, update_status_line());
    SetTimer(s.window, kUpdateTimer, 500, nullptr);
}

// Applied here only while no service runs; the first error is kept. The composition goes
// first, so black or Spotlight back up the user's wallpaper and not the program's picture.
Status apply_background_here(BackgroundMode mode, const fs::path& folder, bool& no_spotlight_image) {
    if (auto restored = restore_original_wallpapers(folder); !restored) return restored.take_error();
    if (mode == BackgroundMode::Spotlight) {
        no_spotlight_image = !latest_spotlight_image(folder);
        return no_spotlight_image ? Status{} : apply_spotlight_background(folder);
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

void command_save(WindowState& s) {
    update_save(s);
    const Settings next = ui::collect_settings(s.settings, s.current, s.monitors);
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
    if (s.saved.background == BackgroundMode::Spotlight && next.background != BackgroundMode::Spotlight) {
        leave_spotlight_mode();
    }
    (void)ipc::post_refresh_request();
    bool no_spotlight_image = false;
    Status applied;
    if (!ipc::is_service_running()) {
        const auto folder = executable_folder();
        applied = folder ? apply_background_here(next.background, *folder, no_spotlight_image)
                         : Status(make_error("실행 파일 폴더를 확인하지 못했습니다."));
    }
    const Status autostart = apply_autostart(s.current.autostart);
    if (!autostart) {
        box(s, "설정은 저장했지만 Windows 시작 등록을 변경하지 못했습니다.\n\n" + autostart.error().message);
    } else if (!applied) {
        box(s, "설정은 저장했지만 바탕화면을 적용하지 못했습니다.\n\n" + applied.error().message);
    } else {
        s.saved = s.current;
        update_save(s);
        box(s, no_spotlight_image ? "설정을 저장했습니다.\n\nWindows Spotlight는 서비스를 실행하면 내려받아 적용합니다."
                               : "설정을 저장하고 적용했습니다.",
            kInfoIcon);
    }
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


// The worker's outcome, handed to the window thread by kServiceDone; a message that finds
// none here did not come from the worker and is ignored.
std::atomic<bool> g_window_work{false};
std::mutex g_outcome_mutex;
std::optional<Status> g_outcome;

void hand_over(HWND window, Status outcome) {
    {
        const std::lock_guard<std::mutex> guard(g_outcome_mutex);
        g_outcome = std::move(outcome);
    }
    PostMessageW(window, kServiceDone, 0, 0);
}

// The outcome comes back as kServiceDone; false when another job runs or no thread starts.
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
    show_service_busy(s, stopping);
}

// The wallpapers go back first; then the settings say what the desktop now shows. Run on the
// worker: the restore lock may be held for up to 30 s.
Status restore_backgrounds(const fs::path& folder, bool backup, bool was_spotlight) {
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
    next.method = DisplayMethod::TopLevel;
    next.background = BackgroundMode::Original;
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
                           [folder = *folder, backup, was_spotlight] { return restore_backgrounds(folder, backup, was_spotlight); },
                           "바탕화면을 되돌리는 중 오류가 발생했습니다.")) {
        box(s, "서비스 작업이 끝난 뒤에 다시 시도해 주세요.", kInfoIcon);
        return;
    }
    // Saving or removing meanwhile would race the restore's own settings and wallpapers.
    for (int id : {ui::kRestoreId, ui::kSaveId, ui::kRemoveId}) disable(s, control_by_id(s.window, id));
}

void restore_done(WindowState& s, const Status& outcome) {
    EnableWindow(control_by_id(s.window, ui::kRestoreId), TRUE);
    EnableWindow(control_by_id(s.window, ui::kRemoveId), TRUE);
    if (!outcome) {
        update_save(s);
        box(s, outcome.error().message);
        return;
    }
    if (const auto path = settings_path()) {
        s.settings = read_settings(*path);
        s.current = current_choices(s);
        s.current.method = s.saved.method = DisplayMethod::TopLevel;
        s.current.background = s.saved.background = BackgroundMode::Original;
        select_options(s);
    }
    update_save(s);
    box(s, "이전 바탕화면으로 되돌렸습니다.", kInfoIcon);
}

}  // namespace

// The busy button while the worker runs: the text says what happens, and no second press.
void show_service_busy(WindowState& s, bool stopping) {
    set_text(s.service_button, stopping ? "중지 중…" : "시작 중…");
    disable(s, s.service_button);
    InvalidateRect(s.service_button, nullptr, TRUE);
}

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
    EnableWindow(s.service_button, TRUE);
    s.service = ServiceState::Unknown;
    refresh_service_state(s);
    if (!outcome) box(s, outcome.error().message);
}

void command(WindowState& s, int id) {
    switch (id) {
        case ui::kSaveId: command_save(s); return;
        case ui::kAutostartId:
            s.current.autostart = !s.current.autostart;
            InvalidateRect(control_by_id(s.window, ui::kAutostartId), nullptr, TRUE);
            notify_state_change(control_by_id(s.window, ui::kAutostartId));
            update_save(s);
            return;
        case ui::kSyncId: command_sync(s); return;
        case ui::kRestoreId: command_restore(s); return;
        case ui::kServiceId: command_service(s); return;
        case ui::kUpdateId: command_update(s); return;
        case ui::kRemoveId: launch_removal_helper(s.window); return;
        case ui::kCompositeId:
        case ui::kTopLevelId:
            set_selected(control_by_id(s.window, ui::kCompositeId), id == ui::kCompositeId);
            set_selected(control_by_id(s.window, ui::kTopLevelId), id == ui::kTopLevelId);
            update_save(s);
            return;
        case ui::kOriginalId:
        case ui::kBlackId:
        case ui::kSpotlightId:
            for (int option : {ui::kOriginalId, ui::kBlackId, ui::kSpotlightId}) {
                set_selected(control_by_id(s.window, option), option == id);
            }
            update_save(s);
            return;
        default:
            if (id >= ui::kFirstMonitorId && id < ui::kFirstMonitorId + static_cast<int>(s.monitors.size())) {
                HWND toggle = control_by_id(s.window, id);
                set_selected(toggle, !is_selected(toggle));
                update_save(s);
            }
    }
}

void timer(WindowState& s, UINT_PTR id) {
    if (id == kSyncTimer) {
        if (sync_in_progress()) return;
        KillTimer(s.window, kSyncTimer);
        set_text(s.last_sync, last_sync_line());
        set_text(s.next_sync, next_sync_line());
        EnableWindow(control_by_id(s.window, ui::kSyncId), TRUE);
        refresh_service_state(s);
    } else if (id == kServiceTimer) {
        refresh_service_state(s);
    } else if (id == kUpdateTimer) {
        set_text(s.program_line, update_status_line());
        const bool running = update_check_running();
        if (running) disable(s, control_by_id(s.window, ui::kUpdateId));
        else EnableWindow(control_by_id(s.window, ui::kUpdateId), TRUE);
        if (!running) SetTimer(s.window, kUpdateTimer, 5000, nullptr);
    }
}

}  // namespace veltrane::settings_window
