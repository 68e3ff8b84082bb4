// Screen-reader access to the settings window's owner-drawn controls. The system's proxies
// call every such control a "client" with its window text, so each control answers
// WM_GETOBJECT with an IAccessible of its own that reads name, role and state from the
// window at the moment it is asked.
#pragma once

#include <windows.h>

#include <string>

namespace veltrane {

struct AccessibleDescription {
    std::wstring name;
    long role = 0;   // ROLE_SYSTEM_*
    long state = 0;  // STATE_SYSTEM_*
    std::wstring description;  // why it is unavailable, where that is not plain to see
};
using DescribeControl = AccessibleDescription (*)(HWND control);

// The answer to WM_GETOBJECT: the control's own object for its client area, 0 otherwise (the
// system's proxy answers then).
LRESULT accessible_object(HWND control, WPARAM w, LPARAM l, DescribeControl describe);

// Gives a Button-class control the same answer.
void make_accessible(HWND button, DescribeControl describe);

// Tells screen readers that the control's checked or selected state changed.
void notify_state_change(HWND control);

}  // namespace veltrane
