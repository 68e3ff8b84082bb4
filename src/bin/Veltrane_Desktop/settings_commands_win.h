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
// Policy-fixed controls disabled with their note beside them, the others enabled.
void show_policy(WindowState& s);
// Policy read again (Group Policy applied while the window is open): what it now fixes is
// shown with its value, in the choices and the saved ones alike.
void refresh_policy(WindowState& s);
// The worker's outcome, once; nothing for a kWorkDone that it did not post.
std::optional<Status> take_work_outcome();
void work_done(WindowState& s, const Status& outcome);
void command(WindowState& s, int id);
void timer(WindowState& s, UINT_PTR id);

}  // namespace veltrane::settings_window
