// The desktop-wallpaper stand-in's state record: the lines of its state file parsed into one
// desktop (position, colour, described monitors, wallpapers, injected faults) and written
// back. Shared by the stand-in DLL and the tests' control library; no Windows headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane::standin {

struct MonitorLine {
    std::string device_path;
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct FailRule {
    std::string method;
    std::uint32_t hresult = 0;
    std::optional<std::string> device_path;  // only calls about this monitor fail
    std::optional<std::string> path_suffix;  // only SetWallpaper calls whose path ends so
};

struct UnplugRule {
    std::string device_path;
    std::uint64_t after_count_calls = 0;
};

struct DelayRule {
    std::string method;
    std::uint32_t milliseconds = 0;
};

struct Desktop {
    std::optional<int> position;
    std::optional<std::uint32_t> color;
    std::optional<std::uint64_t> count_calls;
    std::vector<MonitorLine> monitors;                              // described monitors
    std::vector<std::pair<std::string, std::string>> wallpapers;   // device path, path
    std::vector<FailRule> fails;
    std::vector<UnplugRule> unplugs;
    std::vector<DelayRule> delays;
    // fail=, unplug=, delay= and unknown or malformed lines, verbatim and in order: they are
    // written back unchanged.
    std::vector<std::string> kept_lines;
};

inline constexpr int kDefaultPosition = 4;  // fill
inline constexpr std::uint32_t kDefaultColor = 0;

// Lines end at a line feed (a carriage return before it is dropped).
std::vector<std::string> split_lines(std::string_view text);
std::vector<std::string> split_fields(std::string_view value, char separator = '|');

Desktop parse_desktop(std::string_view text);
// position, color, count_calls, monitor and wallpaper lines, then the kept lines.
std::string format_desktop(const Desktop& desktop);

// "" when the monitor has none.
std::string wallpaper_of(const Desktop& desktop, std::string_view device_path);
// An empty path removes the entry.
void set_wallpaper(Desktop& desktop, const std::string& device_path, const std::string& path);

// A monitor is gone from every answer once GetMonitorDevicePathCount has been called more
// than n times in total (count_calls counts the call in progress); n = 0: gone from the start.
bool unplugged(const Desktop& desktop, std::string_view device_path);

// The first rule for the method that applies: a rule without device path always, one with a
// device path only when `device_path` is that monitor.
std::optional<std::uint32_t> injected_failure(const Desktop& desktop, std::string_view method,
                                              const std::string* device_path, const std::string* path = nullptr);
std::uint32_t delay_of(const Desktop& desktop, std::string_view method);

// "\\?\DISPLAY#VLT0000#<n>&0&UID<n>#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}"
std::string default_device_path(std::size_t index);

}  // namespace veltrane::standin
