#include <windows.h>

#include "image/content_text.h"

namespace veltrane {

LocalTime local_time_now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour};
}

}  // namespace veltrane
