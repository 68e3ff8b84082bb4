// Tests' side of the desktop-wallpaper stand-in: describe the desktop every process of this
// test will see (monitors, wallpapers, position, colour, injected faults) and read back what
// the stand-in holds and which calls it received. Strings are UTF-8. Windows only.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltrane::testing {

struct StandinMonitor {
    std::string device_path;
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct StandinState {
    std::optional<int> position;        // absent: the stand-in reports 4 (fill)
    std::optional<unsigned> color;      // absent: 0
    std::vector<StandinMonitor> monitors;  // empty: the monitors EnumDisplayMonitors reports
    std::vector<std::pair<std::string, std::string>> wallpapers;  // device path, wallpaper path
    // fail=, unplug=, delay=, count_calls= and any other lines, as written.
    std::vector<std::string> extra_lines;
};

// Replaces the state file and clears the call log.
void write_standin_state(const StandinState& state);
// A missing state file reads as an empty state.
StandinState read_standin_state();
// "" when the monitor has none.
std::string standin_wallpaper(const std::string& device_path);
// Lines of the call log: "<pid> <Method> <arguments separated by |> <result 0x%08X>".
std::vector<std::string> standin_calls();
std::filesystem::path standin_state_path();
std::filesystem::path standin_log_path();

// The device path the stand-in gives the n-th monitor of EnumDisplayMonitors.
std::string standin_default_device_path(std::size_t index);

// Lines for StandinState::extra_lines; hresult as the HRESULT's bits.
std::string standin_fail(const std::string& method, unsigned long hresult, const std::string& device_path = {});
std::string standin_unplug(const std::string& device_path, unsigned after_count_calls);
std::string standin_delay(const std::string& method, unsigned milliseconds);

// The method names of the call log lines, in order (optionally only this process's).
std::vector<std::string> standin_call_methods(bool this_process_only = false);

}  // namespace veltrane::testing
