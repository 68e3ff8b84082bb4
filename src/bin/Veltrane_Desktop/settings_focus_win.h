// The settings window's keyboard: Tab and Shift+Tab in reading order, Enter on a button, and
// where the focus goes when its control is disabled, scrolled away or returns from a box.
#pragma once

#include <windows.h>

#include "settings_window_state_win.h"

namespace veltrane::settings_window {

// Scrolls `target` into view and gives it the focus.
void focus_control(WindowState& s, HWND target);
// The next focusable control after `from` in reading order, skipping `except`.
void focus_next(WindowState& s, HWND from, bool forward, HWND except = nullptr);
// A focused control that is disabled would leave the window without keyboard focus: the
// focus moves on first.
void disable(WindowState& s, HWND control);
// Enables or disables through disable().
void enable(WindowState& s, HWND control, bool enabled);
// Gives the focus back to `control`, or to the next control when it cannot take it.
void restore_focus(WindowState& s, HWND control);
// For the message loop: true when the key was the window's.
bool keyboard(HWND window, MSG& msg);

}  // namespace veltrane::settings_window
