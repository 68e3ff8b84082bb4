// The local wall-clock time, as the schedules (sync slots, duty periods) read it. Decisions
// take a LocalTime as input so tests can stand at any moment; local_time_now() reads the
// system clock.
#pragma once

#include <cstdint>

namespace veltrane {

struct LocalTime {
    std::int64_t year = 1970;
    std::uint32_t month = 1;  // 1-12
    std::uint32_t day = 1;    // 1-31
    std::uint32_t hour = 0;
    std::uint32_t minute = 0;
    std::uint32_t second = 0;
};

LocalTime local_time_now();

// Whole seconds since 1970-01-01 UTC, 0 when the clock is earlier.
std::uint64_t utc_seconds_now();

}  // namespace veltrane
