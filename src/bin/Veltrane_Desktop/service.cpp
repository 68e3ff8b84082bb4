#include "service.h"

#include <algorithm>
#include <limits>
#include <system_error>

#include "image/content_block.h"
#include "sync/content_store.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kHourMs = 3'600'000;
constexpr std::uint64_t kDutyBoundariesMs[] = {7 * kHourMs, 17 * kHourMs, 31 * kHourMs};
constexpr std::uint64_t kMaxDutyDelayMs = 300'000;
constexpr std::uint64_t kPastBoundaryMs = 200;
// More than the store's generations and the legacy pair.
constexpr std::size_t kFailedRendersKept = 8;

}  // namespace

std::uint32_t duty_timer_delay(std::uint64_t ms_since_midnight) {
    for (std::uint64_t boundary : kDutyBoundariesMs) {
        if (boundary <= ms_since_midnight) continue;
        const std::uint64_t d = boundary - ms_since_midnight;
        return static_cast<std::uint32_t>(d <= kMaxDutyDelayMs ? d + kPastBoundaryMs : kMaxDutyDelayMs);
    }
    return static_cast<std::uint32_t>(kMaxDutyDelayMs);
}

std::vector<LayoutEntry> monitor_layout(const std::vector<MonitorEntry>& monitors) {
    std::vector<LayoutEntry> layout;
    layout.reserve(monitors.size());
    for (const auto& m : monitors) layout.push_back({m.device_name, m.rect, m.is_primary});
    return layout;
}

std::vector<MonitorRect> target_monitors(const std::vector<LayoutEntry>& layout, const Settings& settings) {
    std::vector<MonitorRect> targets;
    for (const auto& m : layout) {
        if (shows_monitor(settings, m.device_name, m.is_primary)) targets.push_back(m.rect);
    }
    return targets;
}

SettingsTransition settings_transition(const Settings& before, const Settings& after) {
    const bool was_spotlight = before.background == BackgroundMode::Spotlight;
    const bool is_spotlight = after.background == BackgroundMode::Spotlight;
    SettingsTransition t;
    t.spotlight_off = was_spotlight && !is_spotlight;
    t.spotlight_on = is_spotlight && !was_spotlight;
    return t;
}

std::vector<ContentPaths> content_sets(const fs::path& exe_folder) {
    const fs::path duty = exe_folder / kDutyFile;
    const fs::path font = exe_folder / kContentFontFile;
    std::vector<ContentPaths> sets;
    for (auto& pair : content_candidates(exe_folder)) sets.push_back({pair.image, pair.text, duty, font});
    if (sets.empty()) sets.push_back({exe_folder / kContentImageFile, exe_folder / kContentTextFile, duty, font});
    return sets;
}

FileStamp file_stamp(const fs::path& path) {
    std::error_code ec;
    const auto modified = fs::last_write_time(path, ec);
    if (ec) return {};
    return {true, modified};
}

ContentStamp content_stamp(const ContentPaths& paths, const DutyPeriod& period) {
    return {{file_stamp(paths.image), file_stamp(paths.text), file_stamp(paths.duty), file_stamp(paths.font)}, period};
}

bool same_paths(const ContentPaths& a, const ContentPaths& b) {
    return a.image == b.image && a.text == b.text && a.duty == b.duty && a.font == b.font;
}

bool failed_before(const FailedRenders& failed, const ContentPaths& paths, const ContentStamp& stamp) {
    for (const auto& [p, s] : failed.sets) {
        if (same_paths(p, paths)) return s == stamp;
    }
    return false;
}

void remember_failure(FailedRenders& failed, const ContentPaths& paths, const ContentStamp& stamp) {
    std::erase_if(failed.sets, [&](const auto& entry) { return same_paths(entry.first, paths); });
    if (failed.sets.size() >= kFailedRendersKept) failed.sets.erase(failed.sets.begin());
    failed.sets.emplace_back(paths, stamp);
}

bool holds_pixels(const RenderedContent& content) { return !content.image.pixels.empty(); }

void drop_pixels(RenderedContent& content) {
    // Swapping with empty buffers gives the memory back; clear() would keep the capacity.
    Bytes().swap(content.image.pixels);
    if (content.text) Bytes().swap(content.text->pixels);
    if (content.duty) Bytes().swap(content.duty->pixels);
}

std::optional<std::string> content_problem(const RenderedContent& content, const std::vector<MonitorRect>& targets) {
    std::vector<std::int32_t> heights;
    for (const auto& m : targets) {
        heights.push_back(static_cast<std::int32_t>(
            std::clamp<std::int64_t>(std::int64_t{m.bottom} - m.top, 0, std::numeric_limits<std::int32_t>::max())));
    }
    const auto gaps = gap_overflow_message(block_stack(content), heights);
    if (!content.duty_error) return gaps;
    return gaps ? *content.duty_error + "\n" + *gaps : content.duty_error;
}

}  // namespace veltrane
