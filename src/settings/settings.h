// The install folder and the executable folder, the settings file Veltrane_Desktop.config
// (its syntax, defaults and writer), and the monitor list whose device names key the
// per-monitor settings. Every file the program keeps lives in the install folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/result.h"

namespace veltrane {

inline constexpr const char* kInstallFolderName = "Veltrane_Desktop";
inline constexpr const char* kExecutableName = "Veltrane_Desktop.exe";
inline constexpr const char* kSettingsFileName = "Veltrane_Desktop.config";
inline constexpr const char* kNoLocalAppDataMessage = "LOCALAPPDATA 경로를 찾지 못했습니다.";
inline constexpr std::uint64_t kSettingsByteLimit = 65536;

// LOCALAPPDATA joined with Veltrane_Desktop; taken from the environment, not from a shell
// folder query, so a test or a redirected profile moves the whole installation.
Result<std::filesystem::path> install_folder();
// The same rule for a given value of LOCALAPPDATA (nothing when it is unset); an empty or
// relative value is treated as unset.
Result<std::filesystem::path> install_folder_from(const std::optional<std::filesystem::path>& local_app_data);

// The running program's path, or the system's error when it cannot be read.
Result<std::filesystem::path> executable_path();
// The folder that holds the running program; nothing when its path is unknown or has no parent.
std::optional<std::filesystem::path> executable_folder();
std::optional<std::filesystem::path> parent_folder(const std::filesystem::path& path);
std::optional<std::filesystem::path> settings_path();

enum class DisplayMethod { Composite, TopLevel };
enum class BackgroundMode { Original, Black, Spotlight };

struct Settings {
    std::vector<std::string> disabled_monitors;  // device names, in the order they were disabled
    DisplayMethod method = DisplayMethod::Composite;
    BackgroundMode background = BackgroundMode::Spotlight;
    // Only ever set by policy (settings/policy.h): never read from or written to the file.
    bool primary_only = false;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// Never fails: a missing, oversized, non-UTF-8 or unreadable file gives the defaults, and
// the next save writes a complete file.
Settings read_settings(const std::filesystem::path& path);
Settings parse_settings(std::string_view text);
std::string format_settings(const Settings& settings);
Status write_settings(const Settings& settings, const std::filesystem::path& path);

// Names of monitors that are not attached stay untouched, so an unplugged monitor keeps its
// setting when it comes back.
void set_monitor_enabled(Settings& settings, std::string_view device_name, bool enabled);
bool is_monitor_enabled(const Settings& settings, std::string_view device_name);
// Whether the content is shown there: the file's choice, unless policy keeps it to the primary.
bool shows_monitor(const Settings& settings, std::string_view device_name, bool is_primary);

}  // namespace veltrane
