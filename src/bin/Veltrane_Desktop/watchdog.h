// The watchdog's restart budget: at most three restarts of the service within a window of
// 600 seconds; a window older than that starts afresh. The clock is an input, so the rule
// is tested without waiting ten minutes.
#pragma once

#include <chrono>
#include <cstdint>

namespace veltrane {

inline constexpr std::chrono::seconds kRestartWindow{600};
inline constexpr std::uint32_t kMaxRestarts = 3;

struct RestartBudget {
    std::chrono::steady_clock::time_point window_start;
    std::uint32_t restarts = 0;
};

// Called when the service ended unexpectedly; true when it may be started again, and then
// the restart is counted.
bool take_restart(RestartBudget& budget, std::chrono::steady_clock::time_point now);

}  // namespace veltrane
