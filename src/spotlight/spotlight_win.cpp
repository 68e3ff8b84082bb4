// The Spotlight download worker and the mode's process-wide steps.
#include <windows.h>

#include <ctime>
#include <system_error>
#include <thread>

#include "file_util/file_util.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_state.h"
#include "spotlight/spotlight_win.h"
#include "download/download.h"
#include "build_info/build_constants.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

void remove_quietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

std::optional<fs::file_time_type> modified(const fs::path& path) {
    std::error_code ec;
    const auto t = fs::last_write_time(path, ec);
    if (ec) return std::nullopt;
    return t;
}

std::optional<std::uint64_t> unix_seconds_now() {
    const std::time_t now = std::time(nullptr);
    if (now < 0) return std::nullopt;
    return static_cast<std::uint64_t>(now);
}

std::optional<std::string> previous_asset_url(const fs::path& exe_folder) {
    auto text = read_text_limited(exe_folder / kSpotlightStatusFile, kSpotlightStatusLimit);
    if (!text) return std::nullopt;
    return status_asset_url(*text);
}

// The download written beside the target and moved onto it; nothing is left on failure.
bool store_download(const fs::path& folder, const Bytes& bytes, const fs::path& target) {
    const fs::path temp = folder / kSpotlightTempFile;
    remove_quietly(temp);
    if (write_file_synced(temp, bytes) && replace_file(temp, target)) return true;
    remove_quietly(temp);
    return false;
}

// Applies (in the overlay method) and publishes one stored picture under the wallpaper-change
// lock; the method is read under it, as the user may have switched since the worker started.
void place(const fs::path& exe_folder, const std::string& url, const fs::path& target) {
    auto lock = take_wallpaper_change_lock();
    if (!lock) {
        remove_quietly(target);
        return;
    }
    if (!spotlight_enabled()) {
        remove_quietly(target);
        return;
    }
    const bool applies = spotlight_applies_now();
    if (applies && (!save_wallpaper_backup(exe_folder) || !set_wallpaper_image(target, false))) {
        remove_quietly(target);
        return;
    }
    // Written before the lock is released: a leave of the mode in between would otherwise
    // find no record to delete, and the one written after it would hold back the next
    // download for six hours.
    const auto now = unix_seconds_now();
    (void)write_file_atomic(exe_folder / kSpotlightStatusFile,
                            std::string_view(format_spotlight_status(now.value_or(0), url, target)));
    lock.reset();
    if (applies) announce_wallpaper_change();
    (void)prune_spotlight_folder(exe_folder / kSpotlightFolder);
}

void fetch_candidates(const fs::path& exe_folder) {
    if (!spotlight_enabled()) return;
    const fs::path folder = exe_folder / kSpotlightFolder;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return;
    if (prune_spotlight_folder(folder) >= kSpotlightFolderFull) return;
    const auto now = unix_seconds_now();
    if (!now) return;
    const fs::path target = folder / spotlight_image_name(*now);
    const auto document = download_text(spotlight_selection_url(), kSelectionLimit);
    if (!document) return;
    const auto urls = order_candidates(spotlight_candidates(*document), previous_asset_url(exe_folder));
    for (const auto& url : urls) {
        const auto bytes = download_bytes(url, kSpotlightImageLimit);
        if (!bytes || !is_jpeg_envelope(*bytes) || !spotlight_picture_fits(*bytes)) continue;
        if (!store_download(folder, *bytes, target)) continue;
        place(exe_folder, url, target);
        return;
    }
}

}  // namespace

std::string spotlight_selection_url() { return std::string(build::kSpotlightOrigin) + kSelectionPath; }

void fetch_spotlight(const std::optional<fs::path>& exe_folder) {
    // Nothing may leave the worker: an exception here would end the whole service.
    try {
        if (exe_folder) fetch_candidates(*exe_folder);
    } catch (...) {
    }
    release_spotlight_worker();
}

bool spotlight_tick(bool just_became_spotlight, const std::optional<fs::path>& exe_folder) {
    if (!exe_folder) return false;
    const auto status = modified(*exe_folder / kSpotlightStatusFile);
    if (!spotlight_refresh_due(status, fs::file_time_type::clock::now())) return false;
    if (spotlight_in_progress()) return false;
    if (!note_spotlight_start(std::chrono::steady_clock::now(), just_became_spotlight)) return false;
    if (!claim_spotlight_worker()) return false;
    try {
        std::thread(fetch_spotlight, exe_folder).detach();
    } catch (...) {
        release_spotlight_worker();
        return false;
    }
    return true;
}

void leave_spotlight_mode(const std::optional<fs::path>& exe_folder) {
    set_spotlight_enabled(false);
    auto lock = take_wallpaper_change_lock();
    if (exe_folder) {
        remove_spotlight_files(*exe_folder);
        remove_quietly(*exe_folder / kSpotlightStatusFile);
    }
    reset_spotlight_start();
}

}  // namespace veltrane
