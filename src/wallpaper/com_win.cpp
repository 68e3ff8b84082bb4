#include "wallpaper/com_win.h"

#include <cstdio>

#include "file_util/win.h"

namespace veltrane::win {

ComScope::ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
    // S_FALSE (already initialised on this thread) also needs its matching uninitialise;
    // RPC_E_CHANGED_MODE leaves the thread's own apartment in place.
    initialised_ = SUCCEEDED(result_);
}

Status ComScope::status() const {
    if (SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE) return {};
    return hresult_error("COM 초기화 실패", result_);
}

ComScope::~ComScope() {
    if (initialised_) CoUninitialize();
}

}  // namespace veltrane::win
