#include "wallpaper/original_wallpaper.h"

#include <algorithm>
#include <system_error>

#include "file_util/file_util.h"
#include "file_util/text.h"

namespace veltrane {

namespace {

namespace fs = std::filesystem;

bool file_exists(std::string_view utf8_path) {
    if (utf8_path.empty()) return false;
    std::error_code ec;
    return fs::is_regular_file(utf8_to_path(utf8_path), ec);
}

// The user's own wallpaper: a file that is there and is not one of the program's pictures.
bool can_back_up(const std::string& wallpaper, const CompositePaths& paths) {
    return file_exists(wallpaper) && !path_is_inside(wallpaper, paths.content);
}

std::string backup_path(const CompositePaths& paths, std::size_t index, std::string_view wallpaper) {
    return path_to_utf8(paths.backup / backup_copy_name(index, wallpaper));
}

Result<OriginalState> fresh_record(DesktopWallpaper& desktop) {
    auto position = desktop.position();
    if (!position) return position.take_error();
    auto color = desktop.background_color();
    if (!color) return color.take_error();
    return OriginalState{*position, *color, {}};
}

// The program's own picture is never taken for the user's: the monitor counts as having had
// none, so a restore clears it instead of pointing at a file the restore deletes.
Status add_entry(OriginalState& state, const WallpaperMonitor& monitor, const CompositePaths& paths) {
    const std::size_t k = state.monitors.size();
    const bool own = !monitor.wallpaper.empty() && path_is_inside(monitor.wallpaper, paths.content);
    OriginalEntry entry{monitor.device_path, own ? std::string() : monitor.wallpaper,
                        backup_path(paths, k, own ? std::string_view() : monitor.wallpaper), std::nullopt};
    if (!own && file_exists(monitor.wallpaper)) {
        if (auto copied = copy_file_atomic(utf8_to_path(monitor.wallpaper), utf8_to_path(entry.backup)); !copied)
            return copied;
    }
    state.monitors.push_back(std::move(entry));
    return {};
}

// Backup copies the new record no longer names. They are deleted only once that record is
// written, and only inside the Backup folder: the record is a file anyone can edit.
using Litter = std::vector<std::string>;

// A wallpaper the user picked since recording replaces the entry; one whose file is gone
// cannot be backed up or shown, so the entry keeps what it had.
Result<bool> refresh_entry(OriginalEntry& entry, std::size_t index, const WallpaperMonitor& monitor,
                           const CompositePaths& paths, Litter& litter) {
    if (monitor.wallpaper.empty() || monitor.wallpaper == entry.wallpaper || !can_back_up(monitor.wallpaper, paths))
        return false;
    const std::string backup = backup_path(paths, index, monitor.wallpaper);
    if (auto copied = copy_file_atomic(utf8_to_path(monitor.wallpaper), utf8_to_path(backup)); !copied)
        return copied.take_error();
    if (backup != entry.backup && path_is_inside(entry.backup, paths.backup)) litter.push_back(entry.backup);
    entry.wallpaper = monitor.wallpaper;
    entry.backup = backup;
    return true;
}

void remove_litter(const Litter& litter, const OriginalState& state) {
    for (const auto& path : litter) {
        const bool named = std::any_of(state.monitors.begin(), state.monitors.end(),
                                       [&](const OriginalEntry& e) { return e.backup == path; });
        std::error_code ec;
        if (!named) fs::remove(utf8_to_path(path), ec);
    }
}

// Whether the record changed.
Result<bool> record_monitor(OriginalState& state, const WallpaperMonitor& monitor, BackgroundMode mode,
                            const CompositePaths& paths, Litter& litter) {
    const auto found = std::find_if(state.monitors.begin(), state.monitors.end(),
                                    [&](const OriginalEntry& e) { return e.device_path == monitor.device_path; });
    if (found == state.monitors.end()) {
        if (auto added = add_entry(state, monitor, paths); !added) return added.take_error();
        return true;
    }
    // In the other modes the wallpaper in place was set by the program.
    if (mode != BackgroundMode::Original) return false;
    return refresh_entry(*found, static_cast<std::size_t>(found - state.monitors.begin()), monitor, paths, litter);
}

bool monitor_present(std::span<const WallpaperMonitor> monitors, const std::string& device_path) {
    return std::any_of(monitors.begin(), monitors.end(),
                       [&](const WallpaperMonitor& m) { return m.device_path == device_path; });
}

// A file that cannot be opened or read (held, access denied) is not damaged: that failure
// passes, the bytes do not.
bool record_damaged(const fs::path& state) {
    auto text = read_text_limited(state, kOriginalStateLimit);
    if (!text) return text.error().os_code == 0;
    return !parse_original_state(*text);
}

}  // namespace

std::optional<std::string> restorable_path(const OriginalEntry& entry) {
    if (file_exists(entry.wallpaper)) return entry.wallpaper;
    if (file_exists(entry.backup)) return entry.backup;
    if (entry.wallpaper.empty()) return std::string();
    return std::nullopt;
}

Result<OriginalState> record_original_wallpapers(DesktopWallpaper& desktop, std::span<const WallpaperMonitor> monitors,
                                                 BackgroundMode mode, const fs::path& install_folder) {
    if (install_folder.empty()) return make_error(kStatePathMessage);
    const CompositePaths paths = composite_paths(install_folder);
    std::error_code ec;
    fs::create_directories(paths.backup, ec);
    if (ec) return file_system_error(ec);
    std::optional<OriginalState> recorded = read_original_state(paths.state);
    // Without monitors there is nothing to record and nothing is written: the record on disk
    // when it is valid, else an empty one that no caller draws with.
    if (monitors.empty()) return recorded.value_or(OriginalState{});
    bool changed = !recorded;
    if (!recorded) {
        auto fresh = fresh_record(desktop);
        if (!fresh) return fresh.take_error();
        recorded = std::move(*fresh);
    }
    OriginalState& state = *recorded;
    Litter litter;
    for (const auto& monitor : monitors) {
        auto monitor_changed = record_monitor(state, monitor, mode, paths, litter);
        if (!monitor_changed) return monitor_changed.take_error();
        changed = changed || *monitor_changed;
    }
    if (changed) {
        if (auto written = write_original_state(paths.state, state); !written) return written.take_error();
    }
    remove_litter(litter, state);
    return std::move(state);
}

Result<std::vector<std::string>> put_back_wallpapers(DesktopWallpaper& desktop, const OriginalState& state,
                                                     std::span<const WallpaperMonitor> monitors) {
    std::vector<std::string> missed;
    for (const auto& entry : state.monitors) {
        const auto path = monitor_present(monitors, entry.device_path) ? restorable_path(entry) : std::nullopt;
        if (!path) {
            missed.push_back(entry.device_path);
            continue;
        }
        if (auto set = desktop.set_wallpaper(entry.device_path, *path); !set) return set.take_error();
    }
    if (auto set = desktop.set_position(state.position); !set) return set.take_error();
    if (auto set = desktop.set_background_color(state.color); !set) return set.take_error();
    return missed;
}

std::vector<std::string> missed_monitor_notes(const std::vector<std::string>& missed) {
    std::vector<std::string> notes;
    for (const auto& device_path : missed) notes.push_back("연결되지 않은 모니터 " + device_path);
    return notes;
}

Result<RestoreReport> restore_from_record(const fs::path& install_folder, const OpenDesktopWallpaper& open,
                                          const ListGdiMonitors& gdi_monitors) {
    if (install_folder.empty()) return make_error(kStatePathMessage);
    const CompositePaths paths = composite_paths(install_folder);
    std::error_code ec;
    if (!fs::exists(paths.state, ec) && !ec) return RestoreReport{};
    const auto state = read_original_state(paths.state);
    if (!state) return make_error(kBrokenStateMessage);
    auto desktop = open();
    if (!desktop) return desktop.take_error();
    const std::vector<MonitorEntry> gdi = gdi_monitors();
    auto monitors = list_wallpaper_monitors(**desktop, gdi);
    if (!monitors) return monitors.take_error();
    auto missed = put_back_wallpapers(**desktop, *state, *monitors);
    if (!missed) return missed.take_error();
    if (!missed->empty()) return RestoreReport{RestoreOutcome::RestoredPartly, std::move(*missed)};
    if (auto removed = remove_tree(paths.folder); !removed) return removed.take_error();
    return RestoreReport{RestoreOutcome::Restored, {}};
}

Result<std::vector<std::string>> restore_over_damaged_record(const fs::path& install_folder,
                                                             const OpenDesktopWallpaper& open,
                                                             const ListGdiMonitors& gdi_monitors) {
    auto restored = restore_from_record(install_folder, open, gdi_monitors);
    if (restored) return missed_monitor_notes(restored->missed);
    const CompositePaths paths = composite_paths(install_folder);
    if (install_folder.empty() || !record_damaged(paths.state)) return restored.take_error();
    if (auto moved = replace_file(paths.state, paths.folder / kDamagedStateFile); !moved) {
        return make_error(restored.error().message + " " + moved.error().message);
    }
    return std::vector<std::string>{restored.error().message};
}

}  // namespace veltrane
