// The settings window's pieces shared between its files: the window state that the main
// window owns, the control lookups and the focus moves the commands use, and the commands
// and timers that the window procedure calls.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "file_util/result.h"
#include "settings/monitors.h"
#include "settings/settings.h"
#include "settings_layout.h"

namespace veltrane::settings_window {

namespace ui = settings_ui;

constexpr UINT_PTR kSyncTimer = 1, kServiceTimer = 2, kUpdateTimer = 3;
// Posted by the window's worker when it ends; its outcome waits in take_work_outcome().
constexpr UINT kServiceDone = WM_APP + 1;

struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

// Work that can take longer than a window may stop answering (a service start waits up to a
// minute, a restore up to 30 s for the restore lock) runs on one worker at a time.
enum class WindowWork { None, Service, Restore };

struct WindowState {
    std::vector<MonitorEntry> monitors;
    Settings settings;
    ui::Choices current, saved;
    ui::ServiceState service = ui::ServiceState::Unknown;
    std::string sync_note;  // why the last sync failed, where IT should look; empty for none
    WindowWork work = WindowWork::None;  // what runs on the window's worker
    bool close_when_done = false;  // closed while it ran: destroyed once it ends
    HWND focus = nullptr;       // the focused control while the window is inactive
    unsigned dpi = 96;
    std::wstring face;
    UniqueFont normal, heading;
    HWND window = nullptr, program_line = nullptr, last_sync = nullptr, next_sync = nullptr, service_text = nullptr,
         service_button = nullptr, viewport = nullptr, card4 = nullptr;
    int scroll = 0;
    ui::ScrollRange range;
    int vscroll = 0;  // the main window's content, when the work area is too low for it
    ui::ScrollRange vrange;
};

// ---- settings_window_win.cpp ----
WindowState* state_of(HWND window);
void set_text(HWND control, const std::string& text);
HWND control_by_id(HWND window, int id);
bool is_selected(HWND option);
void set_selected(HWND option, bool selected);
void select_options(WindowState& s);
// Moves the focus on first when the control has it.
void disable(WindowState& s, HWND control);
// Gives the focus back to `control`, or to the next control when it cannot take it.
void restore_focus(WindowState& s, HWND control);

// ---- settings_commands_win.cpp ----
ui::Choices current_choices(const WindowState& s);
void update_save(WindowState& s);
void refresh_service_state(WindowState& s);
void show_service_busy(WindowState& s, bool stopping);
// The worker's outcome, once; nothing for a kServiceDone that it did not post.
std::optional<Status> take_work_outcome();
void work_done(WindowState& s, const Status& outcome);
void command(WindowState& s, int id);
void timer(WindowState& s, UINT_PTR id);

}  // namespace veltrane::settings_window
