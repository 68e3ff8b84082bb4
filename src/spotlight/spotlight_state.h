// The Spotlight state one process shares between its window thread and its Spotlight
// worker: the enabled, applies-now and in-progress flags, the last worker start, the wallpaper-change
// lock and the once-per-process pruning.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>

namespace veltrane {

void set_spotlight_enabled(bool enabled);
bool spotlight_enabled();

// Whether a downloaded picture becomes the wallpaper at once (overlay windows) or only the
// base of the next composition. Set under the wallpaper-change lock, and read by the worker
// under it, so a picture is never set over a composed wallpaper.
void set_spotlight_applies_now(bool applies_now);
bool spotlight_applies_now();

// True for the caller that set the in-progress flag; the worker clears it on every way out.
bool claim_spotlight_worker();
void release_spotlight_worker();
bool spotlight_in_progress();

// Under the last-start mutex: whether a worker may start now, recording now if so.
bool note_spotlight_start(std::chrono::steady_clock::time_point now, bool just_became_spotlight);
void reset_spotlight_start();

// Held while a downloaded picture is applied and while Spotlight files are deleted; none
// when the lock cannot be taken.
std::optional<std::unique_lock<std::mutex>> take_wallpaper_change_lock();

// True only the first time in this process.
bool first_spotlight_prune();

}  // namespace veltrane
