// The settings window process: its window classes, the card-based window with its
// owner-drawn controls, the monitor viewport, DPI changes, keyboard focus, and what each
// control does (save, sync now, update check, service start and stop, restore, removal).
#pragma once

namespace veltrane {

// Runs until the window is closed or the shutdown event is set; reports by message box.
void run_settings_window();

}  // namespace veltrane
