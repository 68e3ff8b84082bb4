#include "standin_control.h"

#include <cstdio>
#include <stdexcept>

#include "desktop_state.h"
#include "state_io_win.h"

namespace veltrane::testing {
namespace {

// Test set-up has no way to go on without the stand-in's files: fail loudly.
void check(DWORD error, const char* what) {
    if (error != ERROR_SUCCESS) {
        throw std::runtime_error(std::string("desktop-wallpaper stand-in: ") + what + " failed, Win32 error " +
                                 std::to_string(error));
    }
}

std::string read_locked(const std::wstring& path) {
    standin::StateLock lock;
    check(lock.held() ? ERROR_SUCCESS : lock.error(), "taking the mutex");
    std::string text;
    check(standin::read_whole_file(path, text), "reading");
    return text;
}

}  // namespace

void write_standin_state(const StandinState& state) {
    standin::Desktop d;
    d.position = state.position;
    d.color = state.color;
    for (const auto& m : state.monitors) d.monitors.push_back({m.device_path, m.left, m.top, m.right, m.bottom});
    d.wallpapers = state.wallpapers;
    d.kept_lines = state.extra_lines;
    standin::StateLock lock;
    check(lock.held() ? ERROR_SUCCESS : lock.error(), "taking the mutex");
    check(standin::replace_file_contents(standin::state_file_path(), standin::format_desktop(d)), "writing the state");
    check(standin::replace_file_contents(standin::log_file_path(), ""), "clearing the call log");
}

StandinState read_standin_state() {
    const standin::Desktop d = standin::parse_desktop(read_locked(standin::state_file_path()));
    StandinState state;
    state.position = d.position;
    state.color = d.color;
    for (const auto& m : d.monitors) state.monitors.push_back({m.device_path, m.left, m.top, m.right, m.bottom});
    state.wallpapers = d.wallpapers;
    if (d.count_calls) state.extra_lines.push_back("count_calls=" + std::to_string(*d.count_calls));
    state.extra_lines.insert(state.extra_lines.end(), d.kept_lines.begin(), d.kept_lines.end());
    return state;
}

std::string standin_wallpaper(const std::string& device_path) {
    return standin::wallpaper_of(standin::parse_desktop(read_locked(standin::state_file_path())), device_path);
}

std::vector<std::string> standin_calls() {
    auto lines = standin::split_lines(read_locked(standin::log_file_path()));
    std::erase_if(lines, [](const std::string& line) { return line.empty(); });
    return lines;
}

std::filesystem::path standin_state_path() { return std::filesystem::path(standin::state_file_path()); }
std::filesystem::path standin_log_path() { return std::filesystem::path(standin::log_file_path()); }

std::string standin_default_device_path(std::size_t index) { return standin::default_device_path(index); }

std::string standin_fail(const std::string& method, unsigned long hresult, const std::string& device_path) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", hresult);
    return "fail=" + method + "|" + code + (device_path.empty() ? "" : "|" + device_path);
}

std::string standin_unplug(const std::string& device_path, unsigned after_count_calls) {
    return "unplug=" + device_path + "|" + std::to_string(after_count_calls);
}

std::string standin_delay(const std::string& method, unsigned milliseconds) {
    return "delay=" + method + "|" + std::to_string(milliseconds);
}

std::vector<std::string> standin_call_methods(bool this_process_only) {
    const std::string own = std::to_string(GetCurrentProcessId()) + " ";
    std::vector<std::string> methods;
    for (const auto& line : standin_calls()) {
        if (this_process_only && !line.starts_with(own)) continue;
        const auto first = line.find(' ');
        const auto second = line.find(' ', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        methods.push_back(line.substr(first + 1, second - first - 1));
    }
    return methods;
}

}  // namespace veltrane::testing
