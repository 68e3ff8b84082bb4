#include "settings_focus_win.h"

#include "settings_view_win.h"

namespace veltrane::settings_window {
namespace {

bool focusable(HWND control) { return control && IsWindowEnabled(control) && IsWindowVisible(control); }

// Scrolls the monitor viewport so that toggle `id` is in view.
void reveal(WindowState& s, int id) {
    if (id < ui::kFirstMonitorId || id >= ui::kPolicyNoteOffset) return;
    const ui::Rect card = ui::scale(ui::monitor_card_layout(id - ui::kFirstMonitorId, false).card, s.dpi);
    int to = s.scroll;
    if (card.x < s.scroll) to = card.x;
    else if (card.x + card.width > s.scroll + s.range.page) to = card.x + card.width - s.range.page;
    scroll_viewport_to(s, ui::scroll_position(s.range, s.scroll, ui::ScrollAction::Track, to, s.dpi));
}

}  // namespace

void focus_control(WindowState& s, HWND target) {
    HWND old = GetFocus();
    reveal(s, GetDlgCtrlID(target));
    RECT r;
    GetWindowRect(target, &r);
    MapWindowPoints(nullptr, s.window, reinterpret_cast<POINT*>(&r), 2);
    scroll_window_to(s, ui::reveal_position(s.vscroll, s.vrange.page, r.top + s.vscroll, r.bottom + s.vscroll));
    SetFocus(target);
    // Owner-drawn buttons draw their focus border only when told the focus changed.
    if (old) InvalidateRect(old, nullptr, TRUE);
    InvalidateRect(target, nullptr, TRUE);
}

void focus_next(WindowState& s, HWND from, bool forward, HWND except) {
    const int current = from && from != s.window ? GetDlgCtrlID(from) : 0;
    const auto next = ui::next_focus(ui::focus_order(s.monitors.size()), current, forward, [&](int id) {
        HWND c = control(s, id);
        return c != except && focusable(c);
    });
    if (next) focus_control(s, control(s, *next));
}

void disable(WindowState& s, HWND control) {
    if (control && GetFocus() == control) focus_next(s, control, true, control);
    EnableWindow(control, FALSE);
}

void enable(WindowState& s, HWND control, bool enabled) {
    if (enabled) EnableWindow(control, TRUE);
    else disable(s, control);
}

void restore_focus(WindowState& s, HWND control) {
    if (!control || !IsWindow(control) || GetAncestor(control, GA_ROOT) != s.window) return;
    if (focusable(control)) focus_control(s, control);
    else focus_next(s, control, true, control);
}

// Tab and Shift+Tab walk the controls in reading order; Enter presses a focused button.
bool keyboard(HWND window, MSG& msg) {
    if (msg.message != WM_KEYDOWN || !IsWindow(window) || GetAncestor(msg.hwnd, GA_ROOT) != window) return false;
    WindowState* s = state_of(window);
    if (!s) return false;
    HWND focus = GetFocus();
    if (msg.wParam == VK_RETURN && focus && GetAncestor(focus, GA_ROOT) == window) {
        wchar_t name[16] = {};
        GetClassNameW(focus, name, 16);
        if (_wcsicmp(name, L"Button") != 0) return false;
        SendMessageW(focus, BM_CLICK, 0, 0);
        return true;
    }
    if (msg.wParam != VK_TAB) return false;
    focus_next(*s, focus, GetKeyState(VK_SHIFT) >= 0);
    return true;
}

}  // namespace veltrane::settings_window
