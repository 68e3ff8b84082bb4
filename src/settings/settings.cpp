#include "settings/settings.h"

#include <algorithm>

#include "file_util/file_util.h"
#include "settings/record.h"

namespace veltrane {
namespace {

constexpr std::string_view kMonitorPrefix = "monitor:";

void apply_method(Settings& s, std::string_view value) {
    if (value == "wallpaper_composite" || value == "explorer_child") s.method = DisplayMethod::Composite;
    else if (value == "top_level") s.method = DisplayMethod::TopLevel;
}

bool apply_background(Settings& s, std::string_view value) {
    if (value == "original") s.background = BackgroundMode::Original;
    else if (value == "black") s.background = BackgroundMode::Black;
    else if (value == "spotlight") s.background = BackgroundMode::Spotlight;
    else return false;
    return true;
}

const char* method_text(DisplayMethod m) { return m == DisplayMethod::TopLevel ? "top_level" : "wallpaper_composite"; }

const char* background_text(BackgroundMode b) {
    switch (b) {
    case BackgroundMode::Original: return "original";
    case BackgroundMode::Black: return "black";
    case BackgroundMode::Spotlight: return "spotlight";
    }
    return "spotlight";
}

}  // namespace

Result<std::filesystem::path> install_folder_from(const std::optional<std::filesystem::path>& local_app_data) {
    // An empty or relative value would put the installation, and later its removal, under
    // whatever the current folder happens to be; it counts as no value at all.
    if (!local_app_data || !local_app_data->is_absolute()) return make_error(kNoLocalAppDataMessage);
    return *local_app_data / kInstallFolderName;
}

std::optional<std::filesystem::path> parent_folder(const std::filesystem::path& path) {
    if (!path.has_relative_path() || !path.has_parent_path()) return std::nullopt;
    return path.parent_path();
}

std::optional<std::filesystem::path> executable_folder() {
    auto exe = executable_path();
    if (!exe) return std::nullopt;
    return parent_folder(*exe);
}

std::optional<std::filesystem::path> settings_path() {
    auto folder = executable_folder();
    if (!folder) return std::nullopt;
    return *folder / kSettingsFileName;
}

Settings parse_settings(std::string_view text) {
    Settings s;
    // The older "spotlight_wallpaper" key only counts until a valid "background" line has
    // been read, so "background" wins in either order.
    bool background_seen = false;
    for (const auto& [key, value] : parse_record(text, RecordTrim::Whitespace)) {
        if (key == "method") {
            apply_method(s, value);
        } else if (key == "background") {
            if (apply_background(s, value)) background_seen = true;
        } else if (key == "spotlight_wallpaper") {
            if (!background_seen) s.background = value == "on" ? BackgroundMode::Spotlight : BackgroundMode::Original;
        } else if (key.starts_with(kMonitorPrefix)) {
            set_monitor_enabled(s, std::string_view(key).substr(kMonitorPrefix.size()), value == "on");
        }
    }
    return s;
}

Settings read_settings(const std::filesystem::path& path) {
    auto text = read_text_limited(path, kSettingsByteLimit);
    if (!text) return Settings{};
    return parse_settings(*text);
}

std::string format_settings(const Settings& s) {
    std::vector<RecordField> fields = {
        {"method", method_text(s.method)},
        {"background", background_text(s.background)},
        {"spotlight_wallpaper", s.background == BackgroundMode::Spotlight ? "on" : "off"},
    };
    for (const auto& name : s.disabled_monitors) fields.push_back({std::string(kMonitorPrefix) + name, "off"});
    return format_record(fields);
}

Status write_settings(const Settings& settings, const std::filesystem::path& path) {
    const std::string text = format_settings(settings);
    return write_file_atomic(path, std::string_view(text));
}

void set_monitor_enabled(Settings& s, std::string_view device_name, bool enabled) {
    auto& list = s.disabled_monitors;
    if (enabled) {
        std::erase(list, device_name);
    } else if (std::find(list.begin(), list.end(), device_name) == list.end()) {
        list.emplace_back(device_name);
    }
}

bool is_monitor_enabled(const Settings& s, std::string_view device_name) {
    return std::find(s.disabled_monitors.begin(), s.disabled_monitors.end(), device_name) == s.disabled_monitors.end();
}

bool shows_monitor(const Settings& s, std::string_view device_name, bool is_primary) {
    return s.primary_only ? is_primary : is_monitor_enabled(s, device_name);
}

}  // namespace veltrane
