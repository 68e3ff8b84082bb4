#include "settings_window_win.h"

#include <windows.h>
#include <uxtheme.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "autostart_win.h"
#include "file_util/win.h"
#include "image/content_font.h"
#include "ipc/ipc.h"
#include "platform_win.h"
#include "service.h"
#include "settings/monitors.h"
#include "settings/settings.h"
#include "settings_layout.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_win.h"
#include "startup.h"
#include "sync/sync_service.h"
#include "uninstaller_win.h"
#include "update/apply_update_win.h"
#include "update/update_check.h"
#include "wallpaper/original_state.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
namespace ui = settings_ui;
using ui::Choices;
using ui::ServiceState;

constexpr const wchar_t* kViewportClass = L"Veltrane_Desktop.MonitorViewport";
constexpr const wchar_t* kCardClass = L"Veltrane_Desktop.SettingsCard";
constexpr const wchar_t* kSelectClass = L"Veltrane_Desktop.SelectCard";
constexpr const wchar_t* kBadgeClass = L"Veltrane_Desktop.PrimaryBadge";
constexpr DWORD kWindowStyle = 0x00C80000;
constexpr DWORD kWindowExStyle = 0x1;
constexpr UINT_PTR kSyncTimer = 1, kServiceTimer = 2, kUpdateTimer = 3;

COLORREF colour(ui::Rgb c) { return RGB(c.r, c.g, c.b); }

struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

// The 0xF0F0F0 brush of the main window and the cards, for the process's lifetime.
HBRUSH window_brush() {
    static UniqueBrush brush(CreateSolidBrush(RGB(240, 240, 240)));
    return brush.get();
}

struct WindowState {
    std::vector<MonitorEntry> monitors;
    Settings settings;
    Choices current, saved;
    ServiceState service = ServiceState::Unknown;
    unsigned dpi = 96;
    std::wstring face;
    UniqueFont normal, heading;
    HWND window = nullptr, program_line = nullptr, last_sync = nullptr, next_sync = nullptr, service_text = nullptr,
         service_button = nullptr, viewport = nullptr, card4 = nullptr;
    int scroll = 0;
    ui::ScrollRange range;
};

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
    const bool accent = selected || GetFocus() == option;
    round_rect(dc, r, ui::scale(3, dpi_of(option)), selected ? ui::kOptionSelected : ui::kOptionGray,
               accent ? ui::kAccent : ui::kLineGray);
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
        case ui::Kind::Toggle:
            return create_child(L"BUTTON", c.text, BS_OWNERDRAW | WS_TABSTOP, c.rect, parent, c.id, s.dpi);
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

void refresh_service_state(WindowState& s);
void update_save(WindowState& s);

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
        }
        if (c.id == ui::kSaveId) EnableWindow(h, FALSE);
    }
    EnableWindow(control_by_id(s.window, ui::kUpdateId), !update_check_running());
    select_options(s);
    build_monitor_cards(s);
    give_fonts_and_theme(s);
}

// ---- state of the controls ----

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
    const ServiceState now = ipc::is_service_running() ? ServiceState::Running : ServiceState::Stopped;
    if (now == s.service) return;
    s.service = now;
    set_text(s.service_text, ui::service_state_text(now));
    set_text(s.service_button, ui::service_button_text(now));
    InvalidateRect(s.service_text, nullptr, TRUE);
    InvalidateRect(s.service_button, nullptr, TRUE);
}

// ---- owner drawing ----

void draw_button(const WindowState& s, const DRAWITEMSTRUCT& d) {
    const ui::ControlState st{!(d.itemState & ODS_DISABLED), (d.itemState & ODS_SELECTED) != 0, (d.itemState & ODS_FOCUS) != 0};
    fill(d.hDC, d.rcItem, GetParent(d.hwndItem) == s.window ? ui::kWindowGray : ui::kCardWhite);
    const ui::Colours c = ui::button_colours(static_cast<int>(d.CtlID), st);
    round_rect(d.hDC, d.rcItem, ui::scale(8, s.dpi), c.face, c.border);
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
}

// ---- commands ----

int box(const std::string& text, unsigned icon = kErrorIcon) { return message_box(text, icon); }

void command_sync(WindowState& s) {
    EnableWindow(control_by_id(s.window, ui::kSyncId), FALSE);
    set_text(s.last_sync, "최근: 확인 중...");
    (void)start_sync_thread();
    SetTimer(s.window, kSyncTimer, 300, nullptr);
}

void command_update(WindowState& s) {
    const auto started = start_update_check(CheckMode::Manual);
    if (!started) {
        box("업데이트 확인을 시작하지 못했습니다.\n\n" + started.error().message);
        return;
    }
    if (*started == CheckStart::NotStarted) {
        box("다른 프로세스에서 이미 업데이트를 확인하고 있습니다.", kInfoIcon);
        return;
    }
    EnableWindow(control_by_id(s.window, ui::kUpdateId), FALSE);
    set_text(s.program_line, update_status_line());
    SetTimer(s.window, kUpdateTimer, 500, nullptr);
}

// Applied here only while no service runs; the first error is kept.
Status apply_background_here(BackgroundMode mode, const fs::path& folder, bool& no_spotlight_image) {
    if (mode == BackgroundMode::Spotlight) {
        no_spotlight_image = !latest_spotlight_image(folder);
        return no_spotlight_image ? Status{} : apply_spotlight_background(folder);
    }
    if (mode == BackgroundMode::Black) return apply_black_background(folder);
    if (auto restored = restore_original_wallpapers(folder); !restored) return restored.take_error();
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
        box("설정 파일 경로를 확인하지 못했습니다.");
        return;
    }
    if (auto written = write_settings(next, *path); !written) {
        box("설정을 저장하지 못했습니다.\n\n" + written.error().message);
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
        box("설정은 저장했지만 Windows 시작 등록을 변경하지 못했습니다.\n\n" + autostart.error().message);
    } else if (!applied) {
        box("설정은 저장했지만 바탕화면을 적용하지 못했습니다.\n\n" + applied.error().message);
    } else {
        s.saved = s.current;
        update_save(s);
        box(no_spotlight_image ? "설정을 저장했습니다.\n\nWindows Spotlight는 서비스를 실행하면 내려받아 적용합니다."
                               : "설정을 저장하고 적용했습니다.",
            kInfoIcon);
    }
}

void command_restore(WindowState& s) {
    const auto folder = executable_folder();
    if (!folder) {
        box("실행 파일 경로를 확인하지 못했습니다.");
        return;
    }
    std::error_code ec;
    const bool composition = fs::exists(composite_paths(*folder).state, ec);
    const bool backup = fs::exists(*folder / kWallpaperBackupFile, ec);
    if (!composition && !backup) {
        box("되돌릴 바탕화면 기록이 없습니다.", kInfoIcon);
        return;
    }
    if (auto restored = restore_original_wallpapers(*folder); !restored) {
        box("합성 이전 바탕화면으로 되돌리지 못했습니다.\n\n" + restored.error().message);
        return;
    }
    if (backup) {
        if (auto restored = restore_wallpaper_backup(*folder); !restored) {
            box(restored.error().message);
            return;
        }
    }
    if (s.saved.background == BackgroundMode::Spotlight) leave_spotlight_mode(*folder);
    const auto path = settings_path();
    if (!path) {
        box("이전 바탕화면으로 되돌렸습니다.", kInfoIcon);
        return;
    }
    Settings next = read_settings(*path);
    next.method = DisplayMethod::TopLevel;
    next.background = BackgroundMode::Original;
    if (auto written = write_settings(next, *path); !written) {
        box("복원 후 설정을 저장하지 못했습니다.\n\n" + written.error().message);
        return;
    }
    s.settings = next;
    s.current = current_choices(s);
    s.current.method = s.saved.method = DisplayMethod::TopLevel;
    s.current.background = s.saved.background = BackgroundMode::Original;
    select_options(s);
    update_save(s);
    (void)ipc::post_refresh_request();
    box("이전 바탕화면으로 되돌렸습니다.", kInfoIcon);
}

Status stop_service() {
    if (!ipc::close_services()) return make_error("서비스를 종료하지 못했습니다.");
    ipc::wait_for_watchdog_exit();
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

void command_service(WindowState& s) {
    const Status done = ipc::is_service_running() ? stop_service() : start_service();
    if (!done) box(done.error().message);
    refresh_service_state(s);
}

void command(WindowState& s, int id) {
    switch (id) {
        case ui::kSaveId: command_save(s); return;
        case ui::kAutostartId:
            s.current.autostart = !s.current.autostart;
            InvalidateRect(control_by_id(s.window, ui::kAutostartId), nullptr, TRUE);
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
    } else if (id == kServiceTimer) {
        refresh_service_state(s);
    } else if (id == kUpdateTimer) {
        set_text(s.program_line, update_status_line());
        const bool running = update_check_running();
        EnableWindow(control_by_id(s.window, ui::kUpdateId), !running);
        if (!running) SetTimer(s.window, kUpdateTimer, 5000, nullptr);
    }
}

RECT window_rect_for(unsigned dpi) {
    RECT r{0, 0, ui::scale(ui::kClientWidth, dpi), ui::scale(ui::kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&r, kWindowStyle, FALSE, kWindowExStyle, dpi);
    return r;
}

void change_dpi(WindowState& s, unsigned dpi, const RECT& suggested) {
    s.current = current_choices(s);
    s.dpi = dpi;
    for (HWND child = GetWindow(s.window, GW_CHILD); child; child = GetWindow(s.window, GW_CHILD)) DestroyWindow(child);
    make_fonts(s);
    const RECT r = window_rect_for(dpi);
    SetWindowPos(s.window, nullptr, suggested.left, suggested.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    build_controls(s);
    update_save(s);
}

HBRUSH control_colour(WindowState& s, HDC dc, HWND control) {
    SetBkMode(dc, TRANSPARENT);
    ui::Rgb text = ui::kTextNormal;
    if (control == s.service_text) text = s.service == ServiceState::Running ? ui::kRunningGreen : ui::kTextDisabled;
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
        case WM_DRAWITEM: {
            const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
            if (d->CtlID == static_cast<UINT>(ui::kAutostartId)) draw_toggle(*s, *d);
            else draw_button(*s, *d);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(control_colour(*s, reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l)));
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
    const bool forward = GetKeyState(VK_SHIFT) >= 0;
    const int current = focus && focus != window ? GetDlgCtrlID(focus) : 0;
    const auto next = ui::next_focus(ui::focus_order(s->monitors.size()), current, forward, [&](int id) {
        HWND c = control_by_id(window, id);
        return c && IsWindowEnabled(c) && IsWindowVisible(c);
    });
    if (!next) return true;
    HWND target = control_by_id(window, *next);
    if (*next >= ui::kFirstMonitorId) {
        const ui::Rect card = ui::scale(ui::monitor_card_layout(*next - ui::kFirstMonitorId, false).card, s->dpi);
        const int left = card.x;
        const int right = card.x + card.width;
        int to = s->scroll;
        if (left < s->scroll) to = left;
        else if (right > s->scroll + s->range.page) to = right - s->range.page;
        scroll_viewport_to(*s, ui::scroll_position(s->range, s->scroll, ui::ScrollAction::Track, to, s->dpi));
    }
    HWND old = focus;
    SetFocus(target);
    // Owner-drawn buttons draw their focus border only when told the focus changed.
    if (old) InvalidateRect(old, nullptr, TRUE);
    InvalidateRect(target, nullptr, TRUE);
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

}  // namespace

void run_settings_window() {
    auto shutdown = ipc::open_shutdown_event();
    if (!shutdown) {
        message_box(shutdown.error().message, kErrorIcon);
        return;
    }
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
