// The settings window's portable decisions: where every control sits at a given DPI, the
// colours of the owner-drawn buttons and toggle, the monitor viewport's scrolling, the
// keyboard focus order and what a screen reader is told.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "settings/monitors.h"
#include "settings/settings.h"

namespace veltrane::settings_ui {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kWindowGray{240, 240, 240};
inline constexpr Rgb kCardWhite{255, 255, 255};
inline constexpr Rgb kLineGray{222, 222, 222};
inline constexpr Rgb kOptionGray{245, 245, 245};
inline constexpr Rgb kOptionSelected{205, 232, 255};
inline constexpr Rgb kAccent{30, 144, 255};
inline constexpr Rgb kAccentPressed{0, 92, 158};
inline constexpr Rgb kTextNormal{55, 65, 81};
inline constexpr Rgb kTextDisabled{156, 163, 175};
inline constexpr Rgb kRunningGreen{22, 163, 74};
inline constexpr Rgb kDanger{220, 38, 38};
inline constexpr Rgb kDangerFace{254, 242, 242};
inline constexpr Rgb kBadgeBlue{70, 130, 180};
inline constexpr Rgb kWhite{255, 255, 255};

// Control ids.
inline constexpr int kSaveId = 1;
inline constexpr int kAutostartId = 3;
inline constexpr int kSyncId = 6;
inline constexpr int kRestoreId = 7;
inline constexpr int kServiceId = 8;
inline constexpr int kUpdateId = 9;
inline constexpr int kRemoveId = 10;
inline constexpr int kCompositeId = 100;
inline constexpr int kTopLevelId = 101;
inline constexpr int kOriginalId = 102;
inline constexpr int kBlackId = 103;
inline constexpr int kSpotlightId = 104;
inline constexpr int kFirstMonitorId = 200;

inline constexpr int kClientWidth = 640;
inline constexpr int kClientHeight = 519;

enum class Parent { Window, Card1, Card2, Card3, Card4 };
enum class Kind {
    Card,          // SettingsCard
    Heading,       // static, heading font
    RowLabel,      // static, heading font, vertically centred
    Line,          // static, vertically centred
    EllipsisLine,  // static, vertically centred, end ellipsis
    Button,        // owner-drawn button
    Option,        // SelectCard, tab stop
    Viewport,      // MonitorViewport with a horizontal scroll bar
    Toggle,        // owner-drawn toggle
    PolicyNote,    // static, right-aligned, shown only while policy fixes the setting beside it
};

// Names of the lines the window fills in at run time.
enum class Slot { None, Card1, Card2, Card3, Card4, ProgramLine, LastSync, NextSync, ServiceText, Viewport };

// A policy note's id: that of the control whose setting it stands beside, plus this.
inline constexpr int kPolicyNoteOffset = 1000;

struct ControlSpec {
    Parent parent;
    Kind kind;
    int id;
    const char* text;
    Rect rect;  // 1/96 inch, relative to the parent
    Slot slot = Slot::None;
};

// Every control outside the viewport, parents before their children.
std::span<const ControlSpec> fixed_controls();

int scale(int units, unsigned dpi);
Rect scale(const Rect& units, unsigned dpi);

// The controls of monitor card i, relative to the card (the card itself to the viewport).
struct MonitorCardLayout {
    Rect card, title, size_text, toggle;
    std::optional<Rect> badge;
};
MonitorCardLayout monitor_card_layout(std::size_t index, bool primary);
std::string monitor_title(std::size_t index, const MonitorEntry& monitor);
std::string monitor_size_text(const MonitorEntry& monitor);

struct ScrollRange {
    int minimum = 0, maximum = 0, page = 1;
    friend bool operator==(const ScrollRange&, const ScrollRange&) = default;
};
ScrollRange viewport_scroll_range(std::size_t monitor_count, unsigned dpi);

enum class ScrollAction { LineLeft, LineRight, PageLeft, PageRight, Track, LeftEnd, RightEnd, Other };
// The clamped new position; `track` is the thumb's position for Track.
int scroll_position(const ScrollRange& range, int position, ScrollAction action, int track, unsigned dpi);

struct Colours {
    Rgb text, face, border;
    friend bool operator==(const Colours&, const Colours&) = default;
};
struct ControlState {
    bool enabled = true, pressed = false, focused = false;
};
Colours button_colours(int id, ControlState state);

// Focus shows as a ring inside the border in the control's text colour, which stands out
// from its face in every state (a selected option and an "on" toggle have accent borders).
Rect focus_ring(const Rect& item, unsigned dpi);
Rgb option_face(bool selected);

struct ToggleLayout {
    Rect track, knob, label;
    Rgb track_face, track_border, knob_colour, text;
};
// `item` in pixels; `text_width` of the label in pixels.
ToggleLayout toggle_layout(const Rect& item, int text_width, bool on, ControlState state, unsigned dpi);

// Reading order of the focusable controls: status buttons, options, monitor toggles, then
// the bottom row.
std::vector<int> focus_order(std::size_t monitor_count);
// The next id after `current` (or the first/last when `current` is not in the order) that
// `focusable` accepts; nothing when none does.
template <class Focusable>
std::optional<int> next_focus(const std::vector<int>& order, int current, bool forward, Focusable focusable) {
    const int n = static_cast<int>(order.size());
    int at = -1;
    for (int i = 0; i < n; ++i) {
        if (order[i] == current) at = i;
    }
    for (int step = 1; step <= n; ++step) {
        const int i = at < 0 ? (forward ? step - 1 : n - step) : ((at + (forward ? step : -step)) % n + n) % n;
        if (focusable(order[i])) return order[i];
    }
    return std::nullopt;
}

// The window on a monitor whose work area leaves `available` pixels for the client: all of
// the content when it fits, else what fits, and the content scrolls vertically.
struct WindowFit {
    int client_height = 0;
    bool scrolls = false;
    friend bool operator==(const WindowFit&, const WindowFit&) = default;
};
WindowFit fit_height(int content_height, int available);
// The scroll position nearest to `position` that shows [low, high) in a page of `page`.
int reveal_position(int position, int page, int low, int high);

// What a screen reader is told about a focusable control.
enum class AccessRole { PushButton, RadioButton, CheckBox };
struct Access {
    std::string name;
    AccessRole role;
    friend bool operator==(const Access&, const Access&) = default;
};
// `text` is the control's visible text; a monitor toggle says which monitor it is for.
Access control_access(int id, const std::string& text);

enum class ServiceState { Unknown, Stopped, Running };
const char* service_state_text(ServiceState state);
// The service row's line: its state, then the sync status record's note if there is one.
std::string service_line(ServiceState state, const std::string& sync_note);
const char* service_button_text(ServiceState state);

}  // namespace veltrane::settings_ui
