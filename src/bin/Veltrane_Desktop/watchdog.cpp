#include "watchdog.h"

namespace veltrane {

bool take_restart(RestartBudget& budget, std::chrono::steady_clock::time_point now) {
    if (now - budget.window_start > kRestartWindow) budget = {now, 0};
    if (budget.restarts >= kMaxRestarts) return false;
    ++budget.restarts;
    return true;
}

}  // namespace veltrane
