// The background service (--run): start-up, the hidden controller window with its timers
// and messages, the refresh that keeps the content on every enabled monitor, the watchdog it
// keeps alive while the wallpaper holds composed pictures, and the orderly end that gives
// the desktop back. Also the desktop reset that the watchdog runs on its way out.
#pragma once

#include <optional>
#include <string>

#include "file_util/result.h"

namespace veltrane {

// An error is the start-up failure to show; a second service ends at once with success.
Status run_service();

// Puts the recorded wallpapers back; nothing to do when the executable folder is unknown.
Status reset_desktop_background();

// With a text writes the last-error record, without one deletes it; failures are ignored.
void write_last_error(const std::optional<std::string>& text);

// The event a watchdog holds while it starts a service again, named with that service's
// process id: such a service must not wait for the watchdog that is waiting for it.
std::wstring watchdog_restart_event_name(unsigned long service_process_id);

}  // namespace veltrane
