#include "ipc/service_start_win.h"

#include "ipc/ipc.h"
#include "ipc/process_win.h"

namespace veltrane::ipc {

Status start_service_and_wait(const std::filesystem::path& executable, const std::filesystem::path& working_folder) {
    const std::wstring name = service_ready_event_name(current_build_version());
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    if (!event) return make_error("서비스 준비 확인 이벤트를 만들지 못했습니다.");
    auto child = start_program(executable, L"--run", 0, working_folder);
    if (!child) return make_error("서비스를 실행하지 못했습니다.\n\n" + child.error().message);
    if (wait_for_ready_event(child->process.get(), event.get())) return {};
    TerminateProcess(child->process.get(), 1);
    WaitForSingleObject(child->process.get(), INFINITE);
    return make_error("서비스가 제한 시간 안에 준비되지 않았습니다.");
}

bool wait_for_ready_event(HANDLE child, HANDLE event) {
    const auto deadline = std::chrono::steady_clock::now() + kServiceReadyTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (WaitForSingleObject(event, 200) == WAIT_OBJECT_0) return true;
        if (WaitForSingleObject(child, 0) != WAIT_TIMEOUT) return false;
    }
    return false;
}

}  // namespace veltrane::ipc
