#include "settings/monitors.h"

#include <algorithm>

#include "file_util/white_space.h"
#include "settings/record.h"

namespace veltrane {

std::string monitor_label(std::string_view device_name, const std::optional<std::string>& device_string) {
    if (device_string && !trim_white_space(*device_string).empty()) return *device_string;
    constexpr std::string_view prefix = "\\\\.\\";
    if (device_name.starts_with(prefix)) device_name.remove_prefix(prefix.size());
    return std::string(device_name);
}

void sort_monitors(std::vector<MonitorEntry>& monitors) {
    std::stable_sort(monitors.begin(), monitors.end(), [](const MonitorEntry& a, const MonitorEntry& b) {
        if (a.rect.left != b.rect.left) return a.rect.left < b.rect.left;
        return a.rect.top < b.rect.top;
    });
}

}  // namespace veltrane
