#include "settings_layout.h"

#include <algorithm>

namespace veltrane::settings_ui {
namespace {

using P = Parent;
using K = Kind;

constexpr ControlSpec kFixed[] = {
    {P::Window, K::Card, 0, "", {8, 8, 624, 132}, Slot::Card1},
    {P::Card1, K::Heading, 0, "상태 및 관리", {16, 12, 440, 20}},
    {P::Card1, K::PolicyNote, kPolicyNoteOffset + kUpdateId, "관리자가 설정함", {464, 12, 144, 20}},
    {P::Card1, K::RowLabel, 0, "프로그램", {16, 36, 120, 24}},
    {P::Card1, K::RowLabel, 0, "콘텐츠 동기화", {16, 64, 120, 24}},
    {P::Card1, K::RowLabel, 0, "백그라운드 서비스", {16, 92, 120, 24}},
    {P::Card1, K::EllipsisLine, 0, "", {144, 36, 344, 24}, Slot::ProgramLine},
    {P::Card1, K::Button, kUpdateId, "업데이트 확인", {496, 36, 112, 24}},
    {P::Card1, K::Line, 0, "", {144, 64, 172, 24}, Slot::LastSync},
    {P::Card1, K::Line, 0, "", {316, 64, 172, 24}, Slot::NextSync},
    {P::Card1, K::Button, kSyncId, "지금 동기화", {496, 64, 112, 24}},
    {P::Card1, K::EllipsisLine, 0, "", {144, 92, 344, 24}, Slot::ServiceText},
    {P::Card1, K::Button, kServiceId, "", {496, 92, 112, 24}},
    {P::Window, K::Card, 0, "", {8, 148, 308, 132}, Slot::Card2},
    {P::Card2, K::Heading, 0, "표시 위치", {16, 12, 150, 20}},
    {P::Card2, K::PolicyNote, kPolicyNoteOffset + kCompositeId, "관리자가 설정함", {172, 12, 120, 20}},
    {P::Card2, K::Option, kCompositeId, "기본 - 바탕화면 직접 합성", {16, 42, 276, 28}},
    {P::Card2, K::Option, kTopLevelId, "대체 - 오버레이 창으로 표시", {16, 74, 276, 28}},
    {P::Window, K::Card, 0, "", {324, 148, 308, 132}, Slot::Card3},
    {P::Card3, K::Heading, 0, "바탕화면", {16, 12, 150, 20}},
    {P::Card3, K::PolicyNote, kPolicyNoteOffset + kOriginalId, "관리자가 설정함", {172, 12, 120, 20}},
    {P::Card3, K::Option, kOriginalId, "기존 바탕화면 유지", {16, 42, 276, 24}},
    {P::Card3, K::Option, kBlackId, "검정 배경", {16, 68, 276, 24}},
    {P::Card3, K::Option, kSpotlightId, "Windows Spotlight · 6시간마다 갱신", {16, 94, 276, 24}},
    {P::Window, K::Card, 0, "", {8, 288, 624, 183}, Slot::Card4},
    {P::Card4, K::Heading, 0, "표시할 모니터", {16, 12, 440, 20}},
    {P::Card4, K::PolicyNote, kPolicyNoteOffset + kFirstMonitorId, "관리자가 설정함", {464, 12, 144, 20}},
    {P::Card4, K::Viewport, 0, "", {16, 40, 592, 127}, Slot::Viewport},
    {P::Window, K::Button, kRestoreId, "백업 배경 복원", {8, 479, 120, 32}},
    {P::Window, K::Button, kRemoveId, "삭제", {136, 479, 64, 32}},
    {P::Window, K::PolicyNote, kPolicyNoteOffset + kAutostartId, "관리자가 설정함", {208, 479, 140, 32}},
    {P::Window, K::Toggle, kAutostartId, "부팅시 자동실행", {356, 479, 160, 32}},
    {P::Window, K::Button, kSaveId, "저장", {532, 479, 100, 32}},
};

}  // namespace

std::span<const ControlSpec> fixed_controls() { return kFixed; }

int scale(int units, unsigned dpi) { return static_cast<int>(static_cast<long long>(units) * dpi / 96); }

Rect scale(const Rect& r, unsigned dpi) {
    return {scale(r.x, dpi), scale(r.y, dpi), scale(r.width, dpi), scale(r.height, dpi)};
}

MonitorCardLayout monitor_card_layout(std::size_t index, bool primary) {
    MonitorCardLayout l;
    l.card = {static_cast<int>(200 * index), 0, 192, 110};
    l.title = {16, 12, 160, 20};
    l.size_text = {16, 38, primary ? 96 : 160, 34};
    l.toggle = {16, 76, 160, 26};
    if (primary) l.badge = Rect{116, 38, 60, 20};
    return l;
}

std::string monitor_title(std::size_t index, const MonitorEntry& monitor) {
    std::string title = "#";
    title.append(std::to_string(index + 1)).append(" ").append(monitor.label);
    return title;
}

std::string monitor_size_text(const MonitorEntry& m) {
    const auto w = static_cast<long long>(m.rect.right) - m.rect.left;
    const auto h = static_cast<long long>(m.rect.bottom) - m.rect.top;
    std::string text = std::to_string(w);
    text.append("x").append(std::to_string(h)).append("\n위치 (").append(std::to_string(m.rect.left));
    text.append(", ").append(std::to_string(m.rect.top)).append(")");
    return text;
}

ScrollRange viewport_scroll_range(std::size_t count, unsigned dpi) {
    ScrollRange r;
    r.page = std::max(1, scale(592, dpi));
    if (count == 0) return r;
    const long long content = (static_cast<long long>(count) * 200 - 8) * dpi / 96;
    r.maximum = content - 1 < 2 ? 0 : static_cast<int>(content - 1);
    return r;
}

int scroll_position(const ScrollRange& range, int position, ScrollAction action, int track, unsigned dpi) {
    int next = position;
    switch (action) {
        case ScrollAction::LineLeft: next = position - scale(100, dpi); break;
        case ScrollAction::LineRight: next = position + scale(100, dpi); break;
        case ScrollAction::PageLeft: next = position - range.page; break;
        case ScrollAction::PageRight: next = position + range.page; break;
        case ScrollAction::Track: next = track; break;
        case ScrollAction::LeftEnd: next = range.minimum; break;
        case ScrollAction::RightEnd: next = range.maximum; break;
        case ScrollAction::Other: break;
    }
    const int high = std::max(range.minimum, range.maximum - range.page + 1);
    return std::clamp(next, range.minimum, high);
}

Colours button_colours(int id, ControlState s) {
    Colours c;
    if (!s.enabled) {
        c = {kTextDisabled, kOptionGray, kLineGray};
    } else if (id == kSaveId) {
        c = s.pressed ? Colours{kWhite, kAccentPressed, kAccentPressed} : Colours{kWhite, kAccent, kAccent};
    } else if (id == kRemoveId) {
        c = s.pressed ? Colours{kWhite, kDanger, kDanger} : Colours{kDanger, kDangerFace, kDanger};
    } else {
        c = s.pressed ? Colours{kAccentPressed, kOptionSelected, kAccent} : Colours{kTextNormal, kCardWhite, kLineGray};
    }
    if (s.enabled && s.focused) c.border = kAccent;
    return c;
}

Rect focus_ring(const Rect& r, unsigned dpi) {
    const int inset = std::max(2, scale(3, dpi));
    return {r.x + inset, r.y + inset, std::max(0, r.width - 2 * inset), std::max(0, r.height - 2 * inset)};
}

Rgb option_face(bool selected) { return selected ? kOptionSelected : kOptionGray; }

ToggleLayout toggle_layout(const Rect& item, int text_width, bool on, ControlState s, unsigned dpi) {
    ToggleLayout t;
    const int w = scale(36, dpi), h = scale(20, dpi), gap = scale(8, dpi), inset = scale(3, dpi);
    const int right = item.x + item.width;
    const int left = std::min(right - w, item.x + gap + text_width);
    t.track = {left, item.y + (item.height - h) / 2, w, h};
    const int knob = scale(20 - 2 * 3, dpi);
    t.knob = {on ? left + w - inset - knob : left + inset, t.track.y + inset, knob, knob};
    t.label = {item.x, item.y, std::max(0, left - gap - item.x), item.height};
    if (!s.enabled) {
        t.track_face = kOptionGray;
        t.knob_colour = t.text = kTextDisabled;
    } else {
        t.knob_colour = kWhite;
        t.text = kTextNormal;
        t.track_face = on ? (s.pressed ? kAccentPressed : kAccent) : (s.pressed ? kLineGray : kOptionGray);
    }
    t.track_border = s.enabled && s.focused ? kAccent : (on ? t.track_face : kLineGray);
    return t;
}

std::vector<int> focus_order(std::size_t monitor_count) {
    std::vector<int> order{kUpdateId, kSyncId, kServiceId, kCompositeId, kTopLevelId, kOriginalId, kBlackId, kSpotlightId};
    for (std::size_t i = 0; i < monitor_count; ++i) order.push_back(kFirstMonitorId + static_cast<int>(i));
    for (int id : {kRestoreId, kRemoveId, kAutostartId, kSaveId}) order.push_back(id);
    return order;
}

WindowFit fit_height(int content_height, int available) {
    if (content_height <= available) return {content_height, false};
    return {std::max(1, available), true};
}

int reveal_position(int position, int page, int low, int high) {
    if (high - low > page || low < position) return low;
    if (high > position + page) return high - page;
    return position;
}

Access control_access(int id, const std::string& text) {
    if (id >= kFirstMonitorId) {
        return {"모니터 " + std::to_string(id - kFirstMonitorId + 1) + " " + text, AccessRole::CheckBox};
    }
    if (id == kAutostartId) return {text, AccessRole::CheckBox};
    if (id >= kCompositeId) return {text, AccessRole::RadioButton};
    return {text, AccessRole::PushButton};
}

const char* service_state_text(ServiceState s) {
    return s == ServiceState::Running ? "실행중" : s == ServiceState::Stopped ? "중지됨" : "";
}
std::string service_line(ServiceState state, const std::string& sync_note) {
    const std::string text = service_state_text(state);
    if (sync_note.empty()) return text;
    return text.empty() ? sync_note : text + " · " + sync_note;
}
const char* service_button_text(ServiceState s) {
    return s == ServiceState::Running ? "서비스 중지" : s == ServiceState::Stopped ? "서비스 실행" : "";
}

}  // namespace veltrane::settings_ui
