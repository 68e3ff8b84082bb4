// The attached display monitors, as the settings and the presentation see them: device
// name (the key of the per-monitor settings), a label for the user, the rectangle in
// virtual-screen coordinates and whether it is the primary one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

struct MonitorRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const MonitorRect&, const MonitorRect&) = default;
};

struct MonitorEntry {
    std::string device_name;  // \\.\DISPLAY1
    std::string label;
    MonitorRect rect;
    bool is_primary = false;
    friend bool operator==(const MonitorEntry&, const MonitorEntry&) = default;
};

// The display device's own string when it holds anything but white space; otherwise the
// device name without its "\\.\" prefix.
std::string monitor_label(std::string_view device_name, const std::optional<std::string>& device_string);

// Left edge, then top edge; monitors at the same position keep enumeration order.
void sort_monitors(std::vector<MonitorEntry>& monitors);

// Every attached monitor in that order; empty when none is attached (callers decide what
// that means). Windows only.
std::vector<MonitorEntry> list_monitors();

}  // namespace veltrane
