#include <ctime>

#include "image/content_text.h"

namespace veltrane {

LocalTime local_time_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalTime{local.tm_year + 1900LL, static_cast<std::uint32_t>(local.tm_mon + 1),
                     static_cast<std::uint32_t>(local.tm_mday), static_cast<std::uint32_t>(local.tm_hour)};
}

}  // namespace veltrane
