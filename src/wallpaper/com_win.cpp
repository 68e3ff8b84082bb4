#include "wallpaper/com_win.h"

#include <cstdio>

#include "file_util/win.h"

namespace veltrane::win {

ComScope::ComScope() {
    // S_FALSE (already initialised on this thread) also needs its matching uninitialise;
    // RPC_E_CHANGED_MODE leaves the thread's own apartment in place.
    initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

ComScope::~ComScope() {
    if (initialised_) CoUninitialize();
}

std::string hresult_text(HRESULT hr) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
    const std::string description = system_message(static_cast<DWORD>(hr));
    // The system has texts for Win32-based codes only; others come back as the fallback.
    if (description.rfind("Win32 error ", 0) == 0) return std::string("HRESULT ") + hex;
    return description + " (HRESULT " + hex + ")";
}

}  // namespace veltrane::win
