#include "settings_window_win.h"

#include <windows.h>
#include <oleacc.h>
#include <uxtheme.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "file_util/win.h"
#include "image/content_font.h"
#include "ipc/ipc.h"
#include "platform_win.h"
#include "autostart_win.h"
#include "service.h"
#include "settings_accessible_win.h"
#include "settings/monitors.h"
#include "settings/settings.h"
#include "settings_layout.h"
#include "settings_window_parts_win.h"
#include "startup.h"
#include "sync/sync_service.h"
#include "update/update_check.h"
#include "wallpaper/com_win.h"

namespace veltrane::settings_window {

using ui::Choices;
using ui::ServiceState;

constexpr const wchar_t* kViewportClass = L"Veltrane_Desktop.MonitorViewport";
constexpr const wchar_t* kCardClass = L"Veltrane_Desktop.SettingsCard";
constexpr const wchar_t* kSelectClass = L"Veltrane_Desktop.SelectCard";
constexpr const wchar_t* kBadgeClass = L"Veltrane_Desktop.PrimaryBadge";
constexpr DWORD kWindowStyle = 0x00C80000;
constexpr DWORD kWindowExStyle = 0x1;

COLORREF colour(ui::Rgb c) { return RGB(c.r, c.g, c.b); }

// The 0xF0F0F0 brush of the main window and the cards, for the process's lifetime.
HBRUSH window_brush() {
    static UniqueBrush brush(CreateSolidBrush(RGB(240, 240, 240)));
    return brush.get();
}

WindowState* state_of(HWND window) { return reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

void set_text(HWND control, const std::string& text) { SetWindowTextW(control, win::to_wide(text).c_str()); }

HWND control_by_id(HWND window, int id) {
    struct Search {
        int id;
        HWND found = nullptr;
    } search{id};
    EnumChildWindows(
        window,
        [](HWND child, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (GetDlgCtrlID(child) != s->id) return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

UniqueFont make_font(const std::wstring& face, unsigned dpi, int points, int weight) {
    for (const std::wstring& name : {face, std::wstring(L"맑은 고딕"), std::wstring(L"Segoe UI")}) {
        HFONT font = CreateFontW(-(points * static_cast<int>(dpi) / 96), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                 DEFAULT_PITCH, name.c_str());
        if (font) return UniqueFont(font);
    }
    return nullptr;
}

void make_fonts(WindowState& s) {
    s.normal = make_font(s.face, s.dpi, 12, 400);
    s.heading = make_font(s.face, s.dpi, 13, 600);
}

// Selected flag in bit 0, the font handle shifted above it so that no bit of it is lost.
bool is_selected(HWND option) { return (GetWindowLongPtrW(option, GWLP_USERDATA) & 1) != 0; }
void set_selected(HWND option, bool selected) {
    if (!option) return;
    const LONG_PTR data = GetWindowLongPtrW(option, GWLP_USERDATA);
    SetWindowLongPtrW(option, GWLP_USERDATA, (data & ~LONG_PTR{1}) | (selected ? 1 : 0));
    InvalidateRect(option, nullptr, TRUE);
    if ((data & 1) != (selected ? 1 : 0)) notify_state_change(option);
}
HFONT option_font(HWND option) {
    return reinterpret_cast<HFONT>(static_cast<ULONG_PTR>(GetWindowLongPtrW(option, GWLP_USERDATA)) >> 1);
}

void fill(HDC dc, const RECT& rect, ui::Rgb c) {
    UniqueBrush brush(CreateSolidBrush(colour(c)));
    FillRect(dc, &rect, brush.get());
}

void round_rect(HDC dc, const RECT& r, int corner, ui::Rgb face, ui::Rgb border) {
    UniqueBrush brush(CreateSolidBrush(colour(face)));
    std::unique_ptr<std::remove_pointer_t<HPEN>, GdiDeleter> pen(CreatePen(PS_SOLID, 1, colour(border)));
    const HGDIOBJ old_brush = SelectObject(dc, brush.get());
    const HGDIOBJ old_pen = SelectObject(dc, pen.get());
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

RECT to_rect(const ui::Rect& r) { return {r.x, r.y, r.x + r.width, r.y + r.height}; }
ui::Rect from_rect(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

// The keyboard focus: an outline inside the control's border.
void focus_ring(HDC dc, const RECT& item, ui::Rgb c, unsigned dpi) {
    const RECT r = to_rect(ui::focus_ring(from_rect(item), dpi));
    std::unique_ptr<std::remove_pointer_t<HPEN>, GdiDeleter> pen(CreatePen(PS_SOLID, 1, colour(c)));
    const HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    const HGDIOBJ old_pen = SelectObject(dc, pen.get());
    const int corner = ui::scale(4, dpi);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

AccessibleDescription describe_control(HWND control) {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    const int id = GetDlgCtrlID(control);
    const ui::Access access = ui::control_access(id, win::from_wide(text));
    AccessibleDescription d{win::to_wide(access.name), ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE};
    if (!IsWindowEnabled(control)) d.state |= STATE_SYSTEM_UNAVAILABLE;
    if (GetFocus() == control) d.state |= STATE_SYSTEM_FOCUSED;
    bool checked = false;
    if (access.role == ui::AccessRole::RadioButton) {
        d.role = ROLE_SYSTEM_RADIOBUTTON;
        checked = is_selected(control);
    } else if (access.role == ui::AccessRole::CheckBox) {
        d.role = ROLE_SYSTEM_CHECKBUTTON;
        const WindowState* s = state_of(GetAncestor(control, GA_ROOT));
        checked = id == ui::kAutostartId ? s && s->current.autostart : is_selected(control);
    }
    if (checked) d.state |= STATE_SYSTEM_CHECKED;
    return d;
}

unsigned dpi_of(HWND window) {
    HWND root = GetAncestor(window, GA_ROOT);
    if (auto* s = root ? state_of(root) : nullptr) return s->dpi;
    return 96;
}

// ---- control window procedures ----

LRESULT CALLBACK card_procedure(HWND card, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
        case WM_DRAWITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: return SendMessageW(GetParent(card), message, w, l);
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(card, &ps);
            RECT r;
            GetClientRect(card, &r);
            fill(dc, r, GetWindowLongPtrW(card, GWLP_USERDATA) ? ui::kCardWhite : ui::kWindowGray);
            round_rect(dc, r, ui::scale(4, dpi_of(card)), ui::kCardWhite, ui::kLineGray);
            EndPaint(card, &ps);
            return 0;
        }
        default: return DefWindowProcW(card, message, w, l);
    }
}

void paint_option(HWND option) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(option, &ps);
    RECT r;
    GetClientRect(option, &r);
    const bool selected = is_selected(option), enabled = IsWindowEnabled(option);
    fill(dc, r, ui::kCardWhite);
    const bool focused = GetFocus() == option;
    round_rect(dc, r, ui::scale(3, dpi_of(option)), ui::option_face(selected), selected || focused ? ui::kAccent : ui::kLineGray);
    if (focused) focus_ring(dc, r, enabled ? ui::kTextNormal : ui::kTextDisabled, dpi_of(option));
    wchar_t text[256] = {};
    GetWindowTextW(option, text, 256);
    const HGDIOBJ old = SelectObject(dc, option_font(option));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour(enabled ? ui::kTextNormal : ui::kTextDisabled));
    const int pad = ui::scale(8, dpi_of(option));
    RECT t{r.left + pad, r.top, r.right - pad, r.bottom};
    const UINT align = GetDlgCtrlID(option) ? DT_LEFT : DT_CENTER;
    DrawTextW(dc, text, -1, &t, align | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(option, &ps);
}

void option_clicked(HWND option) {
    if (!IsWindowEnabled(option)) return;
    SetFocus(option);
    SendMessageW(GetParent(option), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(option), BN_CLICKED),
                 reinterpret_cast<LPARAM>(option));
}

LRESULT CALLBACK option_procedure(HWND option, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_PAINT: paint_option(option); return 0;
        case WM_ERASEBKGND: return 1;
        case WM_LBUTTONUP: option_clicked(option); return 0;
        case WM_KEYUP:
            if (w == VK_RETURN || w == VK_SPACE) option_clicked(option);
            return 0;
        case WM_GETDLGCODE: return DLGC_BUTTON;
        case BM_CLICK: option_clicked(option); return 0;
        case WM_GETOBJECT:
            if (const LRESULT answer = accessible_object(option, w, l, describe_control)) return answer;
            return DefWindowProcW(option, message, w, l);
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ENABLE: InvalidateRect(option, nullptr, TRUE); return 0;
        case WM_SETFONT: {
            const LONG_PTR flag = GetWindowLongPtrW(option, GWLP_USERDATA) & 1;
            SetWindowLongPtrW(option, GWLP_USERDATA, static_cast<LONG_PTR>(static_cast<ULONG_PTR>(w) << 1) | flag);
            if (LOWORD(l)) InvalidateRect(option, nullptr, TRUE);
            return 0;
        }
        case WM_GETFONT: return reinterpret_cast<LRESULT>(option_font(option));
        default: return DefWindowProcW(option, message, w, l);
    }
}

LRESULT CALLBACK badge_procedure(HWND badge, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_SETFONT: SetWindowLongPtrW(badge, GWLP_USERDATA, static_cast<LONG_PTR>(w)); return 0;
        case WM_GETFONT: return GetWindowLongPtrW(badge, GWLP_USERDATA);
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(badge, &ps);
            RECT r;
            GetClientRect(badge, &r);
            fill(dc, r, ui::kCardWhite);
            round_rect(dc, r, ui::scale(3, dpi_of(badge)), ui::kBadgeBlue, ui::kBadgeBlue);
            wchar_t text[64] = {};
            GetWindowTextW(badge, text, 64);
            const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(GetWindowLongPtrW(badge, GWLP_USERDATA)));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(255, 255, 255));
            DrawTextW(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, old);
            EndPaint(badge, &ps);
            return 0;
        }
        default: return DefWindowProcW(badge, message, w, l);
    }
}

ui::ScrollAction scroll_action(WORD code) {
    switch (code) {
        case SB_LINELEFT: return ui::ScrollAction::LineLeft;
        case SB_LINERIGHT: return ui::ScrollAction::LineRight;
        case SB_PAGELEFT: return ui::ScrollAction::PageLeft;
        case SB_PAGERIGHT: return ui::ScrollAction::PageRight;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK: return ui::ScrollAction::Track;
        case SB_LEFT: return ui::ScrollAction::LeftEnd;
        case SB_RIGHT: return ui::ScrollAction::RightEnd;
        default: return ui::ScrollAction::Other;
    }
}

void scroll_viewport_to(WindowState& s, int position) {
    if (position == s.scroll) return;
    const int delta = s.scroll - position;
    s.scroll = position;
    SetScrollPos(s.viewport, SB_HORZ, position, TRUE);
    ScrollWindowEx(s.viewport, delta, 0, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
}

void scroll_window_to(WindowState& s, int position) {
    position = ui::scroll_position(s.vrange, s.vscroll, ui::ScrollAction::Track, position, s.dpi);
    if (position == s.vscroll) return;
    const int delta = s.vscroll - position;
    s.vscroll = position;
    SetScrollPos(s.window, SB_VERT, position, TRUE);
    ScrollWindowEx(s.window, 0, delta, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
}

// The main window's scroll bar: its codes are the viewport's, turned upright.
void vertical_scroll(WindowState& s, WORD code) {
    SCROLLINFO info{sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
    GetScrollInfo(s.window, SB_VERT, &info);
    scroll_window_to(s, ui::scroll_position(s.vrange, s.vscroll, scroll_action(code), info.nTrackPos, s.dpi));
}

void wheel(WindowState& s, short delta) {
    scroll_window_to(s, s.vscroll - ui::scale(100, s.dpi) * delta / WHEEL_DELTA);
}

LRESULT CALLBACK viewport_procedure(HWND viewport, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_HSCROLL: {
            auto* s = state_of(GetAncestor(viewport, GA_ROOT));
            if (!s) return 0;
            SCROLLINFO info{sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
            GetScrollInfo(viewport, SB_HORZ, &info);
            scroll_viewport_to(*s, ui::scroll_position(s->range, s->scroll, scroll_action(LOWORD(w)), info.nTrackPos, s->dpi));
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(w) >= ui::kFirstMonitorId) return SendMessageW(GetParent(viewport), message, w, l);
            return 0;
        case WM_DRAWITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: return SendMessageW(GetParent(viewport), message, w, l);
        default: return DefWindowProcW(viewport, message, w, l);
    }
}

// ---- building the controls ----

HWND create_child(const wchar_t* cls, const std::string& text, DWORD style, const ui::Rect& units, HWND parent, int id,
                  unsigned dpi) {
    const ui::Rect r = ui::scale(units, dpi);
    return CreateWindowExW(0, cls, win::to_wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, r.x, r.y, r.width, r.height,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

HWND create_spec(WindowState& s, const ui::ControlSpec& c, HWND parent) {
    switch (c.kind) {
        case ui::Kind::Card: return create_child(kCardClass, c.text, 0, c.rect, parent, c.id, s.dpi);
        case ui::Kind::Heading: {
            HWND h = create_child(L"STATIC", c.text, SS_LEFT | SS_NOPREFIX, c.rect, parent, c.id, s.dpi);
            SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(s.heading.get()), FALSE);
            return h;
        }
        case ui::Kind::RowLabel: {
            HWND h = create_child(L"STATIC", c.text, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, c.rect, parent, c.id, s.dpi);
            SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(s.heading.get()), FALSE);
            return h;
        }
        case ui::Kind::Line: return create_child(L"STATIC", c.text, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, c.rect, parent, c.id, s.dpi);
        case ui::Kind::EllipsisLine:
            return create_child(L"STATIC", c.text, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX | SS_ENDELLIPSIS, c.rect, parent,
                                c.id, s.dpi);
        case ui::Kind::Button:
        case ui::Kind::Toggle: {
            HWND h = create_child(L"BUTTON", c.text, BS_OWNERDRAW | WS_TABSTOP, c.rect, parent, c.id, s.dpi);
            make_accessible(h, describe_control);
            return h;
        }
        case ui::Kind::Option: return create_child(kSelectClass, c.text, WS_TABSTOP, c.rect, parent, c.id, s.dpi);
        case ui::Kind::Viewport: return create_child(kViewportClass, c.text, WS_HSCROLL, c.rect, parent, c.id, s.dpi);
    }
    return nullptr;
}

void build_monitor_cards(WindowState& s) {
    for (std::size_t i = 0; i < s.monitors.size(); ++i) {
        const MonitorEntry& m = s.monitors[i];
        const ui::MonitorCardLayout l = ui::monitor_card_layout(i, m.is_primary);
        HWND card = create_child(kCardClass, "", 0, l.card, s.viewport, 0, s.dpi);
        SetWindowLongPtrW(card, GWLP_USERDATA, 1);
        HWND title = create_child(L"STATIC", ui::monitor_title(i, m), SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, l.title, card, 0, s.dpi);
        SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(s.heading.get()), FALSE);
        if (l.badge) create_child(kBadgeClass, "주 모니터", 0, *l.badge, card, 0, s.dpi);
        create_child(L"STATIC", ui::monitor_size_text(m), SS_LEFT | SS_NOPREFIX, l.size_text, card, 0, s.dpi);
        HWND toggle = create_child(kSelectClass, "항생제표 표시", WS_TABSTOP, l.toggle, card,
                                   ui::kFirstMonitorId + static_cast<int>(i), s.dpi);
        set_selected(toggle, i < s.current.monitors.size() && s.current.monitors[i]);
    }
    s.range = ui::viewport_scroll_range(s.monitors.size(), s.dpi);
    s.scroll = 0;
    SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL, s.range.minimum, s.range.maximum,
                    static_cast<UINT>(s.range.page), 0, 0};
    SetScrollInfo(s.viewport, SB_HORZ, &info, TRUE);
}


void select_options(WindowState& s) {
    set_selected(control_by_id(s.window, ui::kCompositeId), s.current.method != DisplayMethod::TopLevel);
    set_selected(control_by_id(s.window, ui::kTopLevelId), s.current.method == DisplayMethod::TopLevel);
    set_selected(control_by_id(s.window, ui::kOriginalId), s.current.background == BackgroundMode::Original);
    set_selected(control_by_id(s.window, ui::kBlackId), s.current.background == BackgroundMode::Black);
    set_selected(control_by_id(s.window, ui::kSpotlightId), s.current.background == BackgroundMode::Spotlight);
}

void give_fonts_and_theme(WindowState& s) {
    EnumChildWindows(
        s.window,
        [](HWND child, LPARAM p) -> BOOL {
            auto* st = reinterpret_cast<WindowState*>(p);
            if (!SendMessageW(child, WM_GETFONT, 0, 0)) {
                SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(st->normal.get()), FALSE);
            }
            SetWindowTheme(child, L"Explorer", nullptr);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
}

void build_controls(WindowState& s) {
    HWND parents[5] = {s.window, nullptr, nullptr, nullptr, nullptr};
    s.service = ServiceState::Unknown;
    for (const ui::ControlSpec& c : ui::fixed_controls()) {
        HWND h = create_spec(s, c, parents[static_cast<int>(c.parent)]);
        switch (c.slot) {
            case ui::Slot::Card1: parents[1] = h; break;
            case ui::Slot::Card2: parents[2] = h; break;
            case ui::Slot::Card3: parents[3] = h; break;
            case ui::Slot::Card4: parents[4] = s.card4 = h; break;
            case ui::Slot::ProgramLine: s.program_line = h; set_text(h, update_status_line()); break;
            case ui::Slot::LastSync: s.last_sync = h; set_text(h, last_sync_line()); break;
            case ui::Slot::NextSync: s.next_sync = h; set_text(h, next_sync_line()); break;
            case ui::Slot::ServiceText: s.service_text = h; break;
            case ui::Slot::Viewport: s.viewport = h; break;
            case ui::Slot::None: break;
        }
        if (c.id == ui::kServiceId) {
            s.service_button = h;
            refresh_service_state(s);
            if (s.work == WindowWork::Service) show_service_busy(s, s.service == ServiceState::Running);
        }
        if (c.id == ui::kSaveId) EnableWindow(h, FALSE);
    }
    EnableWindow(control_by_id(s.window, ui::kUpdateId), !update_check_running());
    select_options(s);
    build_monitor_cards(s);
    give_fonts_and_theme(s);
}

// ---- owner drawing ----

void draw_button(const WindowState& s, const DRAWITEMSTRUCT& d) {
    const ui::ControlState st{!(d.itemState & ODS_DISABLED), (d.itemState & ODS_SELECTED) != 0, (d.itemState & ODS_FOCUS) != 0};
    fill(d.hDC, d.rcItem, GetParent(d.hwndItem) == s.window ? ui::kWindowGray : ui::kCardWhite);
    const ui::Colours c = ui::button_colours(static_cast<int>(d.CtlID), st);
    round_rect(d.hDC, d.rcItem, ui::scale(8, s.dpi), c.face, c.border);
    if (st.focused && st.enabled) focus_ring(d.hDC, d.rcItem, c.text, s.dpi);
    wchar_t text[64] = {};
    GetWindowTextW(d.hwndItem, text, 64);
    const HGDIOBJ old = SelectObject(d.hDC, reinterpret_cast<HFONT>(SendMessageW(d.hwndItem, WM_GETFONT, 0, 0)));
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, colour(c.text));
    RECT r = d.rcItem;
    DrawTextW(d.hDC, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(d.hDC, old);
}

void draw_toggle(const WindowState& s, const DRAWITEMSTRUCT& d) {
    const ui::ControlState st{!(d.itemState & ODS_DISABLED), (d.itemState & ODS_SELECTED) != 0, (d.itemState & ODS_FOCUS) != 0};
    fill(d.hDC, d.rcItem, ui::kWindowGray);
    wchar_t text[64] = {};
    const int n = GetWindowTextW(d.hwndItem, text, 64);
    const HGDIOBJ old = SelectObject(d.hDC, reinterpret_cast<HFONT>(SendMessageW(d.hwndItem, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(d.hDC, text, n, &extent);
    const ui::Rect item{d.rcItem.left, d.rcItem.top, d.rcItem.right - d.rcItem.left, d.rcItem.bottom - d.rcItem.top};
    const ui::ToggleLayout t = ui::toggle_layout(item, extent.cx, s.current.autostart, st, s.dpi);
    const RECT track{t.track.x, t.track.y, t.track.x + t.track.width, t.track.y + t.track.height};
    round_rect(d.hDC, track, ui::scale(20, s.dpi), t.track_face, t.track_border);
    UniqueBrush knob(CreateSolidBrush(colour(t.knob_colour)));
    const HGDIOBJ old_brush = SelectObject(d.hDC, knob.get());
    const HGDIOBJ old_pen = SelectObject(d.hDC, GetStockObject(NULL_PEN));
    Ellipse(d.hDC, t.knob.x, t.knob.y, t.knob.x + t.knob.width + 1, t.knob.y + t.knob.height + 1);
    SelectObject(d.hDC, old_pen);
    SelectObject(d.hDC, old_brush);
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, colour(t.text));
    RECT label{t.label.x, t.label.y, t.label.x + t.label.width, t.label.y + t.label.height};
    DrawTextW(d.hDC, text, n, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(d.hDC, old);
    if (st.focused && st.enabled) focus_ring(d.hDC, d.rcItem, t.text, s.dpi);
}

// ---- keyboard focus ----

bool focusable(HWND control) { return control && IsWindowEnabled(control) && IsWindowVisible(control); }

// Scrolls the monitor viewport so that toggle `id` is in view.
void reveal(WindowState& s, int id) {
    if (id < ui::kFirstMonitorId) return;
    const ui::Rect card = ui::scale(ui::monitor_card_layout(id - ui::kFirstMonitorId, false).card, s.dpi);
    int to = s.scroll;
    if (card.x < s.scroll) to = card.x;
    else if (card.x + card.width > s.scroll + s.range.page) to = card.x + card.width - s.range.page;
    scroll_viewport_to(s, ui::scroll_position(s.range, s.scroll, ui::ScrollAction::Track, to, s.dpi));
}

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

// The next focusable control after `from` in reading order, skipping `except`.
void focus_next(WindowState& s, HWND from, bool forward, HWND except = nullptr) {
    const int current = from && from != s.window ? GetDlgCtrlID(from) : 0;
    const auto next = ui::next_focus(ui::focus_order(s.monitors.size()), current, forward, [&](int id) {
        HWND c = control_by_id(s.window, id);
        return c != except && focusable(c);
    });
    if (next) focus_control(s, control_by_id(s.window, *next));
}

// A focused control that is disabled leaves the window without keyboard focus, so the
// focus moves on first.
void disable(WindowState& s, HWND control) {
    if (control && GetFocus() == control) focus_next(s, control, true, control);
    EnableWindow(control, FALSE);
}

// The focus goes back to `control`, or on from it when it can no longer take it.
void restore_focus(WindowState& s, HWND control) {
    if (!control || !IsWindow(control) || GetAncestor(control, GA_ROOT) != s.window) return;
    if (focusable(control)) focus_control(s, control);
    else focus_next(s, control, true, control);
}

RECT window_rect_for(unsigned dpi) {
    RECT r{0, 0, ui::scale(ui::kClientWidth, dpi), ui::scale(ui::kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&r, kWindowStyle, FALSE, kWindowExStyle, dpi);
    return r;
}

// Sizes the window for its DPI on the monitor of `at`: when the work area is too low, the
// height is capped there and the content scrolls (from its top, as the controls are new).
void place_window(WindowState& s, const RECT& at) {
    const RECT frame = window_rect_for(s.dpi);
    const int content = ui::scale(ui::kClientHeight, s.dpi);
    const int chrome = frame.bottom - frame.top - content;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromRect(&at, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const ui::WindowFit fit = ui::fit_height(content, work.bottom - work.top - chrome);
    const LONG style = GetWindowLongW(s.window, GWL_STYLE);
    SetWindowLongW(s.window, GWL_STYLE, fit.scrolls ? style | WS_VSCROLL : style & ~WS_VSCROLL);
    const int width = frame.right - frame.left + (fit.scrolls ? GetSystemMetricsForDpi(SM_CXVSCROLL, s.dpi) : 0);
    const int height = fit.client_height + chrome;
    const int x = std::max<int>(work.left, std::min<int>(at.left, work.right - width));
    const int y = std::max<int>(work.top, std::min<int>(at.top, work.bottom - height));
    SetWindowPos(s.window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    // The client as it came out: the frame may be drawn at another DPI than asked for.
    RECT client;
    GetClientRect(s.window, &client);
    s.vscroll = 0;
    s.vrange = {0, fit.scrolls ? content - 1 : 0, std::max<int>(1, client.bottom)};
    SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, s.vrange.minimum, s.vrange.maximum,
                    static_cast<UINT>(s.vrange.page), 0, 0};
    if (fit.scrolls) SetScrollInfo(s.window, SB_VERT, &info, TRUE);
}

void change_dpi(WindowState& s, unsigned dpi, const RECT& suggested) {
    s.current = current_choices(s);
    s.dpi = dpi;
    for (HWND child = GetWindow(s.window, GW_CHILD); child; child = GetWindow(s.window, GW_CHILD)) DestroyWindow(child);
    make_fonts(s);
    place_window(s, suggested);
    build_controls(s);
    update_save(s);
}

HBRUSH control_colour(WindowState& s, HDC dc, HWND control) {
    SetBkMode(dc, TRANSPARENT);
    ui::Rgb text = ui::kTextNormal;
    if (control == s.service_text) {
        text = !s.sync_note.empty()                 ? ui::kDanger
               : s.service == ServiceState::Running ? ui::kRunningGreen
                                                    : ui::kTextDisabled;
    }
    SetTextColor(dc, colour(text));
    return GetParent(control) == s.window ? window_brush() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
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
        case kServiceDone:
            if (auto outcome = take_work_outcome()) work_done(*s, *outcome);
            return 0;
        case WM_CLOSE:
            // What the user asked for is carried out: a stop whose window went with it would
            // leave the watchdog no sign of the request, a restore could end half-done.
            if (s->work == WindowWork::None) return DefWindowProcW(window, message, w, l);
            s->close_when_done = true;
            set_text(s->service_text, s->work == WindowWork::Service ? "서비스 작업이 끝나면 창을 닫습니다."
                                                                     : "바탕화면 복원이 끝나면 창을 닫습니다.");
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
        case WM_DRAWITEM: {
            const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
            if (d->CtlID == static_cast<UINT>(ui::kAutostartId)) draw_toggle(*s, *d);
            else draw_button(*s, *d);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(control_colour(*s, reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l)));
        case WM_VSCROLL: vertical_scroll(*s, LOWORD(w)); return 0;
        case WM_MOUSEWHEEL: wheel(*s, GET_WHEEL_DELTA_WPARAM(w)); return 0;
        case WM_DPICHANGED: change_dpi(*s, HIWORD(w), *reinterpret_cast<const RECT*>(l)); return 0;
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

// ---- keyboard ----

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

// ---- start-up ----

Status register_classes(HINSTANCE instance) {
    struct Class {
        const wchar_t* name;
        WNDPROC procedure;
        HBRUSH background;
        LPCWSTR cursor;
    };
    const HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    const Class classes[] = {
        {ipc::kSettingsClass, settings_procedure, window_brush(), IDC_ARROW},
        {kViewportClass, viewport_procedure, white, IDC_ARROW},
        {kCardClass, card_procedure, window_brush(), IDC_ARROW},
        {kSelectClass, option_procedure, white, IDC_HAND},
        {kBadgeClass, badge_procedure, white, IDC_ARROW},
    };
    for (const Class& c : classes) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = c.procedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, c.cursor);
        wc.hbrBackground = c.background;
        wc.lpszClassName = c.name;
        if (!RegisterClassExW(&wc)) return make_error("창 클래스 등록에 실패했습니다.");
    }
    return {};
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
    if (auto registered = register_classes(instance); !registered) {
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
    state->dpi = GetDpiForSystem();
    std::optional<ContentFont> registration;
    state->face = font_face(registration);
    make_fonts(*state);
    state->current = ui::choices_from(state->settings, state->monitors, is_autostart_enabled());
    state->saved = state->current;

    const RECT r = window_rect_for(state->dpi);
    // The window refers to the state; the state outlives it.
    HWND window = CreateWindowExW(kWindowExStyle, ipc::kSettingsClass, L"벨트레인 설정", kWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, state.get());
    if (!window) {
        const DWORD code = GetLastError();
        message_box("설정 창 생성에 실패했습니다. (Win32 오류 " + std::to_string(code) + ")", kErrorIcon);
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
    SetTimer(window, kServiceTimer, 500, nullptr);
    SetTimer(window, kUpdateTimer, 5000, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    const ipc::LoopEnd end = ipc::run_message_loop(shutdown->get(), [window](MSG& msg) { return keyboard(window, msg); });
    if (end.kind == ipc::LoopEnd::Shutdown && IsWindow(window)) DestroyWindow(window);
    if (end.kind == ipc::LoopEnd::WaitFailed) {
        message_box("창 메시지를 기다리지 못했습니다. (Win32 오류 " + std::to_string(end.error) + ")", kErrorIcon);
    }
}

}  // namespace veltrane
