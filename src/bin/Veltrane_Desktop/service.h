// The background service's decisions, apart from its window and system calls: when the
// duty timer fires, which content sets it tries and how it notices that their files or the
// duty period changed, what a settings change means for the background, which monitors get
// content, which background picture a presentation used, and which content sets failed.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/content_render.h"
#include "settings/monitors.h"
#include "settings/settings.h"

namespace veltrane {

inline constexpr const char* kLastErrorFile = "Veltrane_Desktop.last-error";
inline constexpr const char* kContentFontFile = "Veltrane_Desktop.ttf";

inline constexpr unsigned kServiceTickTimer = 1;
inline constexpr unsigned kDisplayChangeTimer = 2;
inline constexpr unsigned kDutyTimer = 3;
inline constexpr std::uint32_t kServiceTickMs = 30000;
inline constexpr std::uint32_t kDisplayChangeDelayMs = 1000;

// Milliseconds for the duty timer at `ms_since_midnight` local time: 200 ms past the next
// 07:00 or 17:00 boundary when it is at most five minutes away, five minutes otherwise.
std::uint32_t duty_timer_delay(std::uint64_t ms_since_midnight);

// A monitor as the service compares layouts: the label plays no part.
struct LayoutEntry {
    std::string device_name;
    MonitorRect rect;
    bool is_primary = false;
    friend bool operator==(const LayoutEntry&, const LayoutEntry&) = default;
};
std::vector<LayoutEntry> monitor_layout(const std::vector<MonitorEntry>& monitors);

// The rectangles of the monitors not disabled in the settings, in layout order.
std::vector<MonitorRect> target_monitors(const std::vector<LayoutEntry>& layout, const Settings& settings);

// What a settings change means for the background behind the content.
struct SettingsTransition {
    bool spotlight_off = false;     // was Spotlight, is not
    bool spotlight_on = false;      // is Spotlight, was not
};
SettingsTransition settings_transition(const Settings& before, const Settings& after);

// The content sets to try, best first: each generation's pair with the folder's duty text
// and font; the legacy pair of the folder when there is no content store.
std::vector<ContentPaths> content_sets(const std::filesystem::path& exe_folder);

struct FileStamp {
    bool readable = false;
    std::filesystem::file_time_type modified{};
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
FileStamp file_stamp(const std::filesystem::path& path);

// The four files' stamps and the duty period: a new period renders the roster again.
struct ContentStamp {
    std::array<FileStamp, 4> files{};
    DutyPeriod period;
    friend bool operator==(const ContentStamp&, const ContentStamp&) = default;
};
ContentStamp content_stamp(const ContentPaths& paths, const DutyPeriod& period);

bool same_paths(const ContentPaths& a, const ContentPaths& b);

// Content sets that failed to render, with their stamps: a set is not decoded again until
// one of its files or the duty period changes.
struct FailedRenders {
    std::vector<std::pair<ContentPaths, ContentStamp>> sets;
};
bool failed_before(const FailedRenders& failed, const ContentPaths& paths, const ContentStamp& stamp);
void remember_failure(FailedRenders& failed, const ContentPaths& paths, const ContentStamp& stamp);

// The background a presentation was made on; for Spotlight also the picture and its stamp,
// so a new Spotlight picture presents again.
struct BackgroundImage {
    BackgroundMode mode = BackgroundMode::Original;
    std::optional<std::filesystem::path> spotlight_image;
    FileStamp spotlight_stamp;
    friend bool operator==(const BackgroundImage&, const BackgroundImage&) = default;
};

// Whether the rendered pixels are still held; they are dropped after a presentation, and the
// layers' sizes stay for content_problem.
bool holds_pixels(const RenderedContent& content);
void drop_pixels(RenderedContent& content);

// For the last-error record: why the roster shows no duty box, and the gaps that push the
// block off a target monitor. Nothing when the content shows as it was made.
std::optional<std::string> content_problem(const RenderedContent& content, const std::vector<MonitorRect>& targets);

}  // namespace veltrane
