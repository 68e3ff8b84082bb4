#include "ipc/ipc.h"

namespace veltrane::ipc {

std::wstring service_ready_event_name(const BuildVersion& version) {
    const std::string text = format_build_version(version);
    return L"Local\\Veltrane_Desktop.UpdateReady." + std::wstring(text.begin(), text.end());
}

std::uint32_t wait_budget(std::chrono::steady_clock::time_point deadline, std::chrono::steady_clock::time_point now) {
    if (now >= deadline) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    // INFINITE (0xFFFFFFFF) must never come out of a finite deadline.
    return left >= 0xFFFFFFFE ? 0xFFFFFFFEu : static_cast<std::uint32_t>(left);
}

}  // namespace veltrane::ipc
