// What the settings window's controls do: choices, save, sync now, update check, service
// start and stop and restore (the last two on the window's one worker), removal, and the
// timers that follow the sync, the update check and the service.
#pragma once

#include <optional>

#include "file_util/result.h"
#include "settings_window_state_win.h"

namespace veltrane::settings_window {

// "저장" enabled exactly while a choice differs from the saved ones.
void show_save(WindowState& s);
void refresh_service_state(WindowState& s);
// The update button as the running check and policy allow.
void show_update_button(WindowState& s);
// The worker's outcome, once; nothing for a kWorkDone that it did not post.
std::optional<Status> take_work_outcome();
void work_done(WindowState& s, const Status& outcome);
void command(WindowState& s, int id);
void timer(WindowState& s, UINT_PTR id);

}  // namespace veltrane::settings_window
