// The settings window's one record: what the user has chosen (and what was last saved), what
// policy fixes, what the status rows show, which job runs on the window's worker, and the
// controls with their places in 1/96 inch. Controls never hold a choice: they paint by asking
// this record, and commands change it and repaint them.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "file_util/result.h"
#include "file_util/win.h"
#include "settings/monitors.h"
#include "settings/policy.h"
#include "settings/settings.h"
#include "settings_choices.h"
#include "settings_layout.h"

namespace veltrane::settings_window {

namespace ui = settings_ui;

// A caption with a system menu and a dialog frame: no resizing, no maximising.
constexpr DWORD kSettingsWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kSettingsWindowExStyle = WS_EX_DLGMODALFRAME;
static_assert(kSettingsWindowStyle == 0x00C80000 && kSettingsWindowExStyle == 0x1);

constexpr UINT_PTR kSyncTimer = 1, kServiceTimer = 2, kUpdateTimer = 3;
// Posted by the window's worker when it ends; its outcome waits in take_work_outcome().
constexpr UINT kWorkDone = WM_APP + 1;

// Work that can take longer than a window may stop answering (a service start waits up to a
// minute, a restore or a save's wallpapers up to 30 s for the restore lock) runs on one
// worker at a time.
enum class WindowWork { None, Service, Restore, Save };

enum class FontRole { Normal, Heading };

// A control and where it sits at 96 DPI, relative to its parent: what a DPI change moves.
struct Placed {
    HWND control;
    ui::Rect units;
    FontRole font;
};

struct WindowState {
    std::vector<MonitorEntry> monitors;
    Settings settings;  // the file's, without policy
    Policy policy;
    ui::Choices current, saved;
    ui::ServiceState service = ui::ServiceState::Unknown;
    std::string sync_note;  // why the last sync failed, where IT should look; empty for none
    WindowWork work = WindowWork::None;  // what runs on the window's worker
    bool close_when_done = false;  // closed while it ran: destroyed once it ends
    // A save whose wallpapers are applied on the worker: what it reports once they are.
    Status save_autostart;
    bool save_without_spotlight_image = false;
    HWND focus = nullptr;       // the focused control while the window is inactive
    unsigned dpi = 96;
    std::wstring face;
    win::UniqueFont normal, heading;
    HWND window = nullptr, program_line = nullptr, last_sync = nullptr, next_sync = nullptr, service_text = nullptr,
         viewport = nullptr;
    std::map<int, HWND> controls;  // by control id: buttons, options, toggles, policy notes
    std::vector<Placed> placed;    // every child, parents before their children
    int scroll = 0;
    ui::ScrollRange range;
    int vscroll = 0;  // the main window's content, when the work area is too low for it
    ui::ScrollRange vrange;
};

WindowState* state_of(HWND window);
HWND control(const WindowState& s, int id);

}  // namespace veltrane::settings_window
