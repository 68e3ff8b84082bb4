// The watchdog (--watchdog): watches one service process, starts it again after an
// unexpected end (three times per ten minutes at most), and gives the desktop back on
// every way it ends by itself.
#pragma once

#include "command_line.h"

namespace veltrane {

void run_watchdog(const WatchdogTarget& target);

}  // namespace veltrane
