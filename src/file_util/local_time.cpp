#include "file_util/local_time.h"

#include <chrono>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

namespace veltrane {

LocalTime local_time_now() {
#ifdef _WIN32
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
#else
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return LocalTime{tm.tm_year + 1900, static_cast<std::uint32_t>(tm.tm_mon + 1), static_cast<std::uint32_t>(tm.tm_mday),
                     static_cast<std::uint32_t>(tm.tm_hour), static_cast<std::uint32_t>(tm.tm_min),
                     static_cast<std::uint32_t>(tm.tm_sec)};
#endif
}

std::uint64_t utc_seconds_now() {
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return s > 0 ? static_cast<std::uint64_t>(s) : 0;
}

}  // namespace veltrane
