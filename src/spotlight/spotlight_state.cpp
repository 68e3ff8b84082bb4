#include "spotlight/spotlight_state.h"

#include <atomic>
#include <system_error>

#include "spotlight/spotlight.h"

namespace veltrane {
namespace {

std::atomic<bool> g_enabled{false};
std::atomic<bool> g_applies_now{false};
std::atomic<bool> g_in_progress{false};
std::atomic<bool> g_pruned{false};
std::mutex g_last_start_mutex;
std::optional<std::chrono::steady_clock::time_point> g_last_start;
std::mutex g_wallpaper_change_mutex;

}  // namespace

void set_spotlight_enabled(bool enabled) { g_enabled.store(enabled); }
bool spotlight_enabled() { return g_enabled.load(); }

void set_spotlight_applies_now(bool applies_now) {
    auto lock = take_wallpaper_change_lock();
    g_applies_now.store(applies_now);
}
bool spotlight_applies_now() { return g_applies_now.load(); }

bool claim_spotlight_worker() { return !g_in_progress.exchange(true); }
void release_spotlight_worker() { g_in_progress.store(false); }
bool spotlight_in_progress() { return g_in_progress.load(); }

// A mutex that cannot be locked means no start rather than an exception on the window thread.
bool note_spotlight_start(std::chrono::steady_clock::time_point now, bool just_became_spotlight) {
    try {
        std::lock_guard lock(g_last_start_mutex);
        if (!spotlight_start_allowed(g_last_start, now, just_became_spotlight)) return false;
        g_last_start = now;
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void reset_spotlight_start() {
    try {
        std::lock_guard lock(g_last_start_mutex);
        g_last_start.reset();
    } catch (const std::system_error&) {
    }
}

std::optional<std::unique_lock<std::mutex>> take_wallpaper_change_lock() {
    try {
        return std::unique_lock(g_wallpaper_change_mutex);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

bool first_spotlight_prune() { return !g_pruned.exchange(true); }

}  // namespace veltrane
