// An in-memory desktop-wallpaper object: monitors with rectangles and wallpapers, the
// position and colour, a log of the calls that change something, and calls told to fail.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "wallpaper/desktop_wallpaper.h"

namespace veltrane::testing {

class FakeDesktop : public DesktopWallpaper {
public:
    struct Monitor {
        std::string device_path;
        MonitorRect rect;
        std::string wallpaper;
    };
    std::vector<Monitor> monitors;
    std::int32_t current_position = 4;
    std::uint32_t color = 0x00332211;
    std::vector<std::string> log;
    // Call name, or call name + " " + device path, to the error it returns.
    std::map<std::string, std::string> failures;

    Status set_wallpaper(const std::string& device_path, const std::string& path) override {
        if (auto e = failure("set_wallpaper", device_path)) return *e;
        log.push_back("set_wallpaper " + device_path + " " + path);
        find(device_path).wallpaper = path;
        return {};
    }
    Result<std::string> wallpaper(const std::string& device_path) override {
        if (auto e = failure("wallpaper", device_path)) return *e;
        log.push_back("wallpaper " + device_path);
        return find(device_path).wallpaper;
    }
    Result<std::string> monitor_device_path_at(std::uint32_t index) override {
        if (auto e = failure("monitor_device_path_at", std::to_string(index))) return *e;
        return monitors.at(index).device_path;
    }
    Result<std::uint32_t> monitor_device_path_count() override {
        if (auto e = failure("monitor_device_path_count", "")) return *e;
        return static_cast<std::uint32_t>(monitors.size());
    }
    Result<MonitorRect> monitor_rect(const std::string& device_path) override {
        if (auto e = failure("monitor_rect", device_path)) return *e;
        return find(device_path).rect;
    }
    Status set_background_color(std::uint32_t c) override {
        if (auto e = failure("set_background_color", "")) return *e;
        log.push_back("set_background_color " + std::to_string(c));
        color = c;
        return {};
    }
    Result<std::uint32_t> background_color() override {
        if (auto e = failure("background_color", "")) return *e;
        return color;
    }
    Status set_position(std::int32_t p) override {
        if (auto e = failure("set_position", "")) return *e;
        log.push_back("set_position " + std::to_string(p));
        current_position = p;
        return {};
    }
    Result<std::int32_t> position() override {
        if (auto e = failure("position", "")) return *e;
        return current_position;
    }

    std::vector<WallpaperMonitor> listed() {
        auto listed = list_wallpaper_monitors(*this, {});
        return listed ? *listed : std::vector<WallpaperMonitor>{};
    }

private:
    std::optional<Error> failure(const std::string& call, const std::string& argument) const {
        auto it = failures.find(call);
        if (it == failures.end()) it = failures.find(call + " " + argument);
        if (it == failures.end()) return std::nullopt;
        return make_error(it->second);
    }
    Monitor& find(const std::string& device_path) {
        for (auto& m : monitors) {
            if (m.device_path == device_path) return m;
        }
        throw std::out_of_range("no monitor " + device_path);
    }
};

}  // namespace veltrane::testing
