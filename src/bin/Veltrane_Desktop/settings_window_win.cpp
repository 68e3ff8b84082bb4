#include "settings_window_win.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "autostart_win.h"
#include "file_util/win.h"
#include "image/content_font.h"
#include "ipc/ipc.h"
#include "platform_win.h"
#include "service.h"
#include "settings/policy.h"
#include "settings_commands_win.h"
#include "settings_focus_win.h"
#include "settings_view_win.h"
#include "startup.h"
#include "sync/sync_service.h"
#include "update/update_check.h"
#include "wallpaper/com_win.h"

namespace veltrane::settings_window {
namespace {

void show_state(WindowState& s) {
    set_text(s.program_line, update_status_line());
    set_text(s.last_sync, last_sync_line());
    set_text(s.next_sync, next_sync_line());
    EnableWindow(control(s, ui::kSaveId), FALSE);
    show_policy(s);
    refresh_service_state(s);
}

const char* closing_text(WindowWork work) {
    switch (work) {
        case WindowWork::Service: return "서비스 작업이 끝나면 창을 닫습니다.";
        case WindowWork::Save: return "설정 적용이 끝나면 창을 닫습니다.";
        default: return "바탕화면 복원이 끝나면 창을 닫습니다.";
    }
}

LRESULT CALLBACK settings_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* s = static_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        s->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
        return DefWindowProcW(window, message, w, l);
    }
    WindowState* s = state_of(window);
    if (!s) return DefWindowProcW(window, message, w, l);
    switch (message) {
        case WM_COMMAND: command(*s, LOWORD(w)); return 0;
        case WM_TIMER: timer(*s, w); return 0;
        case kWorkDone:
            if (auto outcome = take_work_outcome()) work_done(*s, *outcome);
            return 0;
        case WM_CLOSE:
            // What the user asked for is carried out: a stop whose window went with it would
            // leave the watchdog no sign of the request, a restore or a save could end half-done.
            if (s->work == WindowWork::None) return DefWindowProcW(window, message, w, l);
            s->close_when_done = true;
            SetWindowTextW(s->service_text, win::to_wide(closing_text(s->work)).c_str());
            return 0;
        case WM_ACTIVATE:
            // Keeps the focused control across deactivation (a message box, another window).
            if (LOWORD(w) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && GetAncestor(focus, GA_ROOT) == window) s->focus = focus;
            } else if (!HIWORD(w)) {
                if (s->focus) restore_focus(*s, s->focus);
                else focus_next(*s, nullptr, true);
            }
            return 0;
        case WM_DRAWITEM: draw_item(*s, *reinterpret_cast<const DRAWITEMSTRUCT*>(l)); return TRUE;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(control_colour(*s, reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l)));
        case WM_SETTINGCHANGE:
            // Group Policy applied while the window is open.
            if (l && lstrcmpiW(reinterpret_cast<const wchar_t*>(l), L"Policy") == 0) refresh_policy(*s);
            return DefWindowProcW(window, message, w, l);
        case WM_VSCROLL: vertical_scroll(*s, LOWORD(w)); return 0;
        case WM_MOUSEWHEEL: wheel(*s, GET_WHEEL_DELTA_WPARAM(w)); return 0;
        case WM_DPICHANGED:
            change_dpi(*s, HIWORD(w), *reinterpret_cast<const RECT*>(l));
            if (HWND focus = GetFocus(); focus && GetAncestor(focus, GA_ROOT) == window) focus_control(*s, focus);
            return 0;
        case WM_DESTROY:
            for (UINT_PTR t : {kSyncTimer, kServiceTimer, kUpdateTimer}) KillTimer(window, t);
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            s->normal.reset();
            s->heading.reset();
            PostQuitMessage(0);
            return 0;
        default: return DefWindowProcW(window, message, w, l);
    }
}

Status register_window_class(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = settings_procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = window_brush();
    wc.lpszClassName = ipc::kSettingsClass;
    if (!RegisterClassExW(&wc)) return make_error("창 클래스 등록에 실패했습니다.");
    return register_control_classes(instance);
}

std::wstring font_face(std::optional<ContentFont>& registration) {
    const auto folder = executable_folder();
    if (folder) {
        if (auto font = register_content_font(*folder / kContentFontFile); font && *font) {
            registration = std::move(**font);
            return win::to_wide(registration->family());
        }
    }
    return L"맑은 고딕";
}

}  // namespace
}  // namespace veltrane::settings_window

namespace veltrane {

void run_settings_window() {
    using namespace settings_window;
    auto shutdown = ipc::open_shutdown_event();
    if (!shutdown) {
        message_box(shutdown.error().message, kErrorIcon);
        return;
    }
    // The apartment that hands the controls' accessible objects to screen readers.
    const win::ComScope com;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (auto registered = register_window_class(instance); !registered) {
        message_box(registered.error().message, kErrorIcon);
        return;
    }
    auto state = std::make_unique<WindowState>();
    state->monitors = list_monitors();
    if (state->monitors.empty()) {
        message_box("활성 모니터를 찾지 못했습니다.", kErrorIcon);
        return;
    }
    const auto path = settings_path();
    state->settings = path ? read_settings(*path) : Settings{};
    state->policy = read_policy();
    state->dpi = GetDpiForSystem();
    std::optional<ContentFont> registration;
    state->face = font_face(registration);
    make_fonts(*state);
    state->current = ui::choices_from(state->settings, state->monitors, is_autostart_enabled(), state->policy);
    state->saved = state->current;

    const RECT r = window_rect_for(state->dpi);
    // The window refers to the state; the state outlives it.
    HWND window = CreateWindowExW(kSettingsWindowExStyle, ipc::kSettingsClass, L"벨트레인 설정", kSettingsWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, state.get());
    if (!window) {
        message_box(win::last_win32_error("설정 창 생성에 실패했습니다.").message, kErrorIcon);
        return;
    }
    // Laid out for the monitor the window opens on, whose DPI may differ from the system's.
    if (const unsigned dpi = GetDpiForWindow(window); dpi && dpi != state->dpi) {
        state->dpi = dpi;
        make_fonts(*state);
    }
    RECT at;
    GetWindowRect(window, &at);
    place_window(*state, at);
    build_controls(*state);
    show_state(*state);
    SetTimer(window, kServiceTimer, 500, nullptr);
    SetTimer(window, kUpdateTimer, 5000, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    const ipc::LoopEnd end = ipc::run_message_loop(shutdown->get(), [window](MSG& msg) { return keyboard(window, msg); });
    if (end.kind == ipc::LoopEnd::Shutdown && IsWindow(window)) DestroyWindow(window);
    if (end.kind == ipc::LoopEnd::WaitFailed) {
        message_box(win::win32_error("창 메시지를 기다리지 못했습니다.", end.error).message, kErrorIcon);
    }
}

}  // namespace veltrane
