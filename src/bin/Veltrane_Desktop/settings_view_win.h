// The settings window's controls as the user sees them: the control classes and their
// painting, building the controls once and moving and re-fonting them at a DPI change, the
// window's size on its monitor, scrolling, and showing what the window's record says.
// Nothing here changes a choice or starts work.
#pragma once

#include <windows.h>

#include <string>

#include "file_util/result.h"
#include "settings_window_state_win.h"

namespace veltrane::settings_window {

Status register_control_classes(HINSTANCE instance);
// The 0xF0F0F0 brush of the main window and the cards, for the process's lifetime.
HBRUSH window_brush();

void make_fonts(WindowState& s);
RECT window_rect_for(unsigned dpi);
// Sizes the window for its DPI on the monitor of `at`: when the work area is too low, the
// height is capped there and the content scrolls.
void place_window(WindowState& s, const RECT& at);
void build_controls(WindowState& s);
// The existing controls move and take new fonts, so the focus, the scroll positions (kept in
// 1/96 inch) and the screen readers' objects stay.
void change_dpi(WindowState& s, unsigned dpi, const RECT& suggested);

void scroll_viewport_to(WindowState& s, int position);
void scroll_window_to(WindowState& s, int position);
void vertical_scroll(WindowState& s, WORD code);
void wheel(WindowState& s, short delta);

void set_text(HWND control, const std::string& text);
// Repaints the options and toggles whose state differs from `before`, telling screen readers.
void show_choices(const WindowState& s, const ui::Choices& before);
void show_service(const WindowState& s);

void draw_item(const WindowState& s, const DRAWITEMSTRUCT& d);
HBRUSH control_colour(const WindowState& s, HDC dc, HWND control);

}  // namespace veltrane::settings_window
