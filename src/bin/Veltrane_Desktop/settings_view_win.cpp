#include "settings_view_win.h"

#include <oleacc.h>
#include <uxtheme.h>

#include <algorithm>

#include "settings_accessible_win.h"
#include "startup.h"
#include "sync/sync_service.h"
#include "update/update_check.h"

namespace veltrane::settings_window {

HBRUSH window_brush() {
    static win::UniqueBrush brush(CreateSolidBrush(RGB(240, 240, 240)));
    return brush.get();
}

WindowState* state_of(HWND window) { return reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

HWND control(const WindowState& s, int id) {
    const auto found = s.controls.find(id);
    return found == s.controls.end() ? nullptr : found->second;
}

void set_text(HWND control, const std::string& text) { SetWindowTextW(control, win::to_wide(text).c_str()); }

namespace {

constexpr const wchar_t* kViewportClass = L"Veltrane_Desktop.MonitorViewport";
constexpr const wchar_t* kCardClass = L"Veltrane_Desktop.SettingsCard";
constexpr const wchar_t* kSelectClass = L"Veltrane_Desktop.SelectCard";
constexpr const wchar_t* kBadgeClass = L"Veltrane_Desktop.PrimaryBadge";
// Options and badges keep their font in their window extra bytes.
constexpr int kFontSlot = 0;

COLORREF colour(ui::Rgb c) { return RGB(c.r, c.g, c.b); }

const WindowState* root_state(HWND control) {
    HWND root = GetAncestor(control, GA_ROOT);
    return root ? state_of(root) : nullptr;
}

unsigned dpi_of(HWND control) {
    const WindowState* s = root_state(control);
    return s ? s->dpi : 96;
}

std::wstring text_of(HWND control) {
    wchar_t text[256] = {};
    const int n = GetWindowTextW(control, text, 256);
    return std::wstring(text, static_cast<std::size_t>(std::max(0, n)));
}

void fill(HDC dc, const RECT& rect, ui::Rgb c) {
    win::UniqueBrush brush(CreateSolidBrush(colour(c)));
    FillRect(dc, &rect, brush.get());
}

void round_rect(HDC dc, const RECT& r, int corner, ui::Rgb face, ui::Rgb border) {
    win::UniqueBrush brush(CreateSolidBrush(colour(face)));
    win::UniquePen pen(CreatePen(PS_SOLID, 1, colour(border)));
    const win::Selection with_brush(dc, brush.get()), with_pen(dc, pen.get());
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
}

RECT to_rect(const ui::Rect& r) { return {r.x, r.y, r.x + r.width, r.y + r.height}; }
ui::Rect from_rect(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

// The keyboard focus: an outline inside the control's border.
void focus_ring(HDC dc, const RECT& item, ui::Rgb c, unsigned dpi) {
    const RECT r = to_rect(ui::focus_ring(from_rect(item), dpi));
    win::UniquePen pen(CreatePen(PS_SOLID, 1, colour(c)));
    const win::Selection with_brush(dc, GetStockObject(NULL_BRUSH)), with_pen(dc, pen.get());
    const int corner = ui::scale(4, dpi);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
}

AccessibleDescription describe_control(HWND control) {
    const int id = GetDlgCtrlID(control);
    const ui::Access access = ui::control_access(id, win::from_wide(text_of(control)));
    AccessibleDescription d{win::to_wide(access.name), ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, {}};
    if (!IsWindowEnabled(control)) d.state |= STATE_SYSTEM_UNAVAILABLE;
    if (GetFocus() == control) d.state |= STATE_SYSTEM_FOCUSED;
    if (access.role != ui::AccessRole::PushButton) {
        d.role = access.role == ui::AccessRole::RadioButton ? ROLE_SYSTEM_RADIOBUTTON : ROLE_SYSTEM_CHECKBUTTON;
    }
    const WindowState* s = root_state(control);
    if (!s) return d;
    if (access.role != ui::AccessRole::PushButton && ui::option_selected(s->current, id)) d.state |= STATE_SYSTEM_CHECKED;
    if (ui::fixed_by_policy(s->policy, id)) d.description = win::to_wide(ui::kPolicyNote);
    return d;
}

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
            const WindowState* s = root_state(card);
            // A monitor card sits on the white viewport, every other card on the grey window.
            fill(dc, r, s && GetParent(card) == s->viewport ? ui::kCardWhite : ui::kWindowGray);
            round_rect(dc, r, ui::scale(4, dpi_of(card)), ui::kCardWhite, ui::kLineGray);
            EndPaint(card, &ps);
            return 0;
        }
        default: return DefWindowProcW(card, message, w, l);
    }
}

HFONT own_font(HWND control) { return reinterpret_cast<HFONT>(GetWindowLongPtrW(control, kFontSlot)); }

void paint_option(HWND option) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(option, &ps);
    RECT r;
    GetClientRect(option, &r);
    const WindowState* s = root_state(option);
    const bool selected = s && ui::option_selected(s->current, GetDlgCtrlID(option)), enabled = IsWindowEnabled(option);
    const unsigned dpi = dpi_of(option);
    fill(dc, r, ui::kCardWhite);
    const bool focused = GetFocus() == option;
    round_rect(dc, r, ui::scale(3, dpi), ui::option_face(selected), selected || focused ? ui::kAccent : ui::kLineGray);
    if (focused) focus_ring(dc, r, enabled ? ui::kTextNormal : ui::kTextDisabled, dpi);
    const win::Selection with_font(dc, own_font(option));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour(enabled ? ui::kTextNormal : ui::kTextDisabled));
    const int pad = ui::scale(8, dpi);
    RECT t{r.left + pad, r.top, r.right - pad, r.bottom};
    DrawTextW(dc, text_of(option).c_str(), -1, &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
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
        case WM_SETFONT:
            SetWindowLongPtrW(option, kFontSlot, static_cast<LONG_PTR>(w));
            if (LOWORD(l)) InvalidateRect(option, nullptr, TRUE);
            return 0;
        case WM_GETFONT: return reinterpret_cast<LRESULT>(own_font(option));
        default: return DefWindowProcW(option, message, w, l);
    }
}

LRESULT CALLBACK badge_procedure(HWND badge, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_SETFONT:
            SetWindowLongPtrW(badge, kFontSlot, static_cast<LONG_PTR>(w));
            if (LOWORD(l)) InvalidateRect(badge, nullptr, TRUE);
            return 0;
        case WM_GETFONT: return reinterpret_cast<LRESULT>(own_font(badge));
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(badge, &ps);
            RECT r;
            GetClientRect(badge, &r);
            fill(dc, r, ui::kCardWhite);
            round_rect(dc, r, ui::scale(3, dpi_of(badge)), ui::kBadgeBlue, ui::kBadgeBlue);
            const win::Selection with_font(dc, own_font(badge));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(255, 255, 255));
            DrawTextW(dc, text_of(badge).c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
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
        case WM_DRAWITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: return SendMessageW(GetParent(viewport), message, w, l);
        default: return DefWindowProcW(viewport, message, w, l);
    }
}

// ---- building ----

HWND create_child(WindowState& s, const wchar_t* cls, const std::string& text, DWORD style, const ui::Rect& units,
                  HWND parent, int id, FontRole font = FontRole::Normal) {
    const ui::Rect r = ui::scale(units, s.dpi);
    HWND h = CreateWindowExW(0, cls, win::to_wide(text).c_str(), WS_CHILD | style, r.x, r.y, r.width, r.height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!h) return nullptr;
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font == FontRole::Heading ? s.heading.get() : s.normal.get()),
                 FALSE);
    SetWindowTheme(h, L"Explorer", nullptr);
    s.placed.push_back({h, units, font});
    if (id) s.controls[id] = h;
    return h;
}

HWND create_spec(WindowState& s, const ui::ControlSpec& c, HWND parent) {
    constexpr DWORD kStatic = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
    switch (c.kind) {
        case ui::Kind::Card: return create_child(s, kCardClass, c.text, WS_VISIBLE, c.rect, parent, c.id);
        case ui::Kind::Heading: return create_child(s, L"STATIC", c.text, kStatic, c.rect, parent, c.id, FontRole::Heading);
        case ui::Kind::RowLabel:
            return create_child(s, L"STATIC", c.text, kStatic | SS_CENTERIMAGE, c.rect, parent, c.id, FontRole::Heading);
        case ui::Kind::Line: return create_child(s, L"STATIC", c.text, kStatic | SS_CENTERIMAGE, c.rect, parent, c.id);
        case ui::Kind::EllipsisLine:
            return create_child(s, L"STATIC", c.text, kStatic | SS_CENTERIMAGE | SS_ENDELLIPSIS, c.rect, parent, c.id);
        case ui::Kind::PolicyNote:
            return create_child(s, L"STATIC", c.text, SS_RIGHT | SS_NOPREFIX | SS_CENTERIMAGE, c.rect, parent, c.id);
        case ui::Kind::Button:
        case ui::Kind::Toggle: {
            HWND h = create_child(s, L"BUTTON", c.text, WS_VISIBLE | BS_OWNERDRAW | WS_TABSTOP, c.rect, parent, c.id);
            make_accessible(h, describe_control);
            return h;
        }
        case ui::Kind::Option: return create_child(s, kSelectClass, c.text, WS_VISIBLE | WS_TABSTOP, c.rect, parent, c.id);
        case ui::Kind::Viewport: return create_child(s, kViewportClass, c.text, WS_VISIBLE | WS_HSCROLL, c.rect, parent, c.id);
    }
    return nullptr;
}

void set_viewport_range(WindowState& s) {
    s.range = ui::viewport_scroll_range(s.monitors.size(), s.dpi);
    SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL, s.range.minimum, s.range.maximum,
                    static_cast<UINT>(s.range.page), 0, 0};
    SetScrollInfo(s.viewport, SB_HORZ, &info, TRUE);
}

void build_monitor_cards(WindowState& s) {
    constexpr DWORD kVisible = WS_VISIBLE;
    for (std::size_t i = 0; i < s.monitors.size(); ++i) {
        const MonitorEntry& m = s.monitors[i];
        const ui::MonitorCardLayout l = ui::monitor_card_layout(i, m.is_primary);
        HWND card = create_child(s, kCardClass, "", kVisible, l.card, s.viewport, 0);
        create_child(s, L"STATIC", ui::monitor_title(i, m), kVisible | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, l.title, card,
                     0, FontRole::Heading);
        if (l.badge) create_child(s, kBadgeClass, "주 모니터", kVisible, *l.badge, card, 0);
        create_child(s, L"STATIC", ui::monitor_size_text(m), kVisible | SS_LEFT | SS_NOPREFIX, l.size_text, card, 0);
        create_child(s, kSelectClass, "항생제표 표시", kVisible | WS_TABSTOP, l.toggle, card,
                     ui::kFirstMonitorId + static_cast<int>(i));
    }
    s.scroll = 0;
    set_viewport_range(s);
}

}  // namespace

Status register_control_classes(HINSTANCE instance) {
    struct Class {
        const wchar_t* name;
        WNDPROC procedure;
        HBRUSH background;
        LPCWSTR cursor;
        int extra;
    };
    const HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    const Class classes[] = {
        {kViewportClass, viewport_procedure, white, IDC_ARROW, 0},
        {kCardClass, card_procedure, window_brush(), IDC_ARROW, 0},
        {kSelectClass, option_procedure, white, IDC_HAND, sizeof(LONG_PTR)},
        {kBadgeClass, badge_procedure, white, IDC_ARROW, sizeof(LONG_PTR)},
    };
    for (const Class& c : classes) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = c.procedure;
        wc.cbWndExtra = c.extra;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, c.cursor);
        wc.hbrBackground = c.background;
        wc.lpszClassName = c.name;
        if (!RegisterClassExW(&wc)) return make_error("창 클래스 등록에 실패했습니다.");
    }
    return {};
}

namespace {

win::UniqueFont make_font(const std::wstring& face, unsigned dpi, int points, int weight) {
    for (const std::wstring& name : {face, std::wstring(L"맑은 고딕"), std::wstring(L"Segoe UI")}) {
        HFONT font = CreateFontW(-(points * static_cast<int>(dpi) / 96), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                 DEFAULT_PITCH, name.c_str());
        if (font) return win::UniqueFont(font);
    }
    return {};
}

}  // namespace

void make_fonts(WindowState& s) {
    s.normal = make_font(s.face, s.dpi, 12, 400);
    s.heading = make_font(s.face, s.dpi, 13, 600);
}

RECT window_rect_for(unsigned dpi) {
    RECT r{0, 0, ui::scale(ui::kClientWidth, dpi), ui::scale(ui::kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&r, kSettingsWindowStyle, FALSE, kSettingsWindowExStyle, dpi);
    return r;
}

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

void build_controls(WindowState& s) {
    HWND parents[5] = {s.window, nullptr, nullptr, nullptr, nullptr};
    for (const ui::ControlSpec& c : ui::fixed_controls()) {
        HWND h = create_spec(s, c, parents[static_cast<int>(c.parent)]);
        switch (c.slot) {
            case ui::Slot::Card1: parents[1] = h; break;
            case ui::Slot::Card2: parents[2] = h; break;
            case ui::Slot::Card3: parents[3] = h; break;
            case ui::Slot::Card4: parents[4] = h; break;
            case ui::Slot::ProgramLine: s.program_line = h; break;
            case ui::Slot::LastSync: s.last_sync = h; break;
            case ui::Slot::NextSync: s.next_sync = h; break;
            case ui::Slot::ServiceText: s.service_text = h; break;
            case ui::Slot::Viewport: s.viewport = h; break;
            case ui::Slot::None: break;
        }
    }
    build_monitor_cards(s);
}

void change_dpi(WindowState& s, unsigned dpi, const RECT& suggested) {
    const unsigned old = s.dpi;
    const int across = s.scroll * 96 / static_cast<int>(old), down = s.vscroll * 96 / static_cast<int>(old);
    // From the origin, so that every control's place is its layout rectangle.
    scroll_viewport_to(s, 0);
    scroll_window_to(s, 0);
    // The old fonts go only once no control uses them.
    const win::UniqueFont old_normal = std::move(s.normal), old_heading = std::move(s.heading);
    s.dpi = dpi;
    make_fonts(s);
    place_window(s, suggested);
    for (const Placed& p : s.placed) {
        const ui::Rect r = ui::scale(p.units, s.dpi);
        SetWindowPos(p.control, nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
        const HFONT font = p.font == FontRole::Heading ? s.heading.get() : s.normal.get();
        SendMessageW(p.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    set_viewport_range(s);
    scroll_viewport_to(s, ui::scroll_position(s.range, 0, ui::ScrollAction::Track, ui::scale(across, s.dpi), s.dpi));
    scroll_window_to(s, ui::scale(down, s.dpi));
    InvalidateRect(s.window, nullptr, TRUE);
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

void wheel(WindowState& s, short delta) { scroll_window_to(s, s.vscroll - ui::scale(100, s.dpi) * delta / WHEEL_DELTA); }

void show_choices(const WindowState& s, const ui::Choices& before) {
    for (const auto& [id, h] : s.controls) {
        if (id >= ui::kPolicyNoteOffset) continue;
        if (ui::option_selected(before, id) == ui::option_selected(s.current, id)) continue;
        InvalidateRect(h, nullptr, TRUE);
        notify_state_change(h);
    }
}

void show_service(const WindowState& s) {
    set_text(s.service_text, ui::service_line(s.service, s.sync_note));
    if (s.work != WindowWork::Service) set_text(control(s, ui::kServiceId), ui::service_button_text(s.service));
    InvalidateRect(s.service_text, nullptr, TRUE);
    InvalidateRect(control(s, ui::kServiceId), nullptr, TRUE);
}

// ---- owner drawing ----

namespace {

void draw_button(const WindowState& s, const DRAWITEMSTRUCT& d) {
    const ui::ControlState st{!(d.itemState & ODS_DISABLED), (d.itemState & ODS_SELECTED) != 0, (d.itemState & ODS_FOCUS) != 0};
    fill(d.hDC, d.rcItem, GetParent(d.hwndItem) == s.window ? ui::kWindowGray : ui::kCardWhite);
    const ui::Colours c = ui::button_colours(static_cast<int>(d.CtlID), st);
    round_rect(d.hDC, d.rcItem, ui::scale(8, s.dpi), c.face, c.border);
    if (st.focused && st.enabled) focus_ring(d.hDC, d.rcItem, c.text, s.dpi);
    const win::Selection with_font(d.hDC, reinterpret_cast<HFONT>(SendMessageW(d.hwndItem, WM_GETFONT, 0, 0)));
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, colour(c.text));
    RECT r = d.rcItem;
    DrawTextW(d.hDC, text_of(d.hwndItem).c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void draw_toggle(const WindowState& s, const DRAWITEMSTRUCT& d) {
    const ui::ControlState st{!(d.itemState & ODS_DISABLED), (d.itemState & ODS_SELECTED) != 0, (d.itemState & ODS_FOCUS) != 0};
    fill(d.hDC, d.rcItem, ui::kWindowGray);
    const std::wstring text = text_of(d.hwndItem);
    const win::Selection with_font(d.hDC, reinterpret_cast<HFONT>(SendMessageW(d.hwndItem, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(d.hDC, text.c_str(), static_cast<int>(text.size()), &extent);
    const ui::ToggleLayout t = ui::toggle_layout(from_rect(d.rcItem), extent.cx, s.current.autostart, st, s.dpi);
    round_rect(d.hDC, to_rect(t.track), ui::scale(20, s.dpi), t.track_face, t.track_border);
    {
        win::UniqueBrush knob(CreateSolidBrush(colour(t.knob_colour)));
        const win::Selection with_brush(d.hDC, knob.get()), with_pen(d.hDC, GetStockObject(NULL_PEN));
        Ellipse(d.hDC, t.knob.x, t.knob.y, t.knob.x + t.knob.width + 1, t.knob.y + t.knob.height + 1);
    }
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, colour(t.text));
    RECT label = to_rect(t.label);
    DrawTextW(d.hDC, text.c_str(), -1, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (st.focused && st.enabled) focus_ring(d.hDC, d.rcItem, t.text, s.dpi);
}

}  // namespace

void draw_item(const WindowState& s, const DRAWITEMSTRUCT& d) {
    if (d.CtlID == static_cast<UINT>(ui::kAutostartId)) draw_toggle(s, d);
    else draw_button(s, d);
}

HBRUSH control_colour(const WindowState& s, HDC dc, HWND control) {
    SetBkMode(dc, TRANSPARENT);
    ui::Rgb text = ui::kTextNormal;
    if (control == s.service_text) {
        text = !s.sync_note.empty()                     ? ui::kDanger
               : s.service == ui::ServiceState::Running ? ui::kRunningGreen
                                                        : ui::kTextDisabled;
    } else if (GetDlgCtrlID(control) >= ui::kPolicyNoteOffset) {
        text = ui::kTextDisabled;
    }
    SetTextColor(dc, colour(text));
    return GetParent(control) == s.window ? window_brush() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

}  // namespace veltrane::settings_window
