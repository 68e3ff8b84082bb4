#include <windows.h>

#include <optional>

#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "service_win.h"
#include "settings/settings.h"
#include "watchdog.h"
#include "watchdog_win.h"

namespace veltrane {
namespace {

constexpr DWORD kServiceAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;  // 0x00101000

// A running service named by id and creation time; nothing when the id now belongs to
// another process or to none.
win::UniqueHandle open_service(const WatchdogTarget& target) {
    win::UniqueHandle process(OpenProcess(kServiceAccess, FALSE, target.process_id));
    if (!process) return {};
    const auto created = ipc::process_creation_time(process.get());
    if (!created || *created != target.creation_time) return {};
    return process;
}

// A restarted service holds on to the restart event we name after it, so it does not wait
// for this watchdog (which waits for it) to end. It runs only once the event exists.
struct Restarted {
    ipc::ChildProcess child;
    win::UniqueHandle restart_event;
};

std::optional<Restarted> start_service_again() {
    auto exe = executable_path();
    if (!exe) return std::nullopt;
    auto child = ipc::start_program(*exe, L"--run", ipc::kNoWindowFlag | CREATE_SUSPENDED);
    if (!child) return std::nullopt;
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, watchdog_restart_event_name(child->id).c_str()));
    if (!event || ResumeThread(child->thread.get()) == static_cast<DWORD>(-1)) {
        TerminateProcess(child->process.get(), 1);
        return std::nullopt;
    }
    return Restarted{std::move(*child), std::move(event)};
}

// The session's shutdown, or a user's stop from the settings window: either way the service
// was asked to end, even when it had to be terminated.
bool end_requested(const std::optional<win::UniqueHandle>& shutdown) {
    return (shutdown && WaitForSingleObject(shutdown->get(), 0) == WAIT_OBJECT_0) || ipc::stop_requested();
}

// Steps 4-5: returns when the service ended on request, kept failing, or could not start.
void watch(win::UniqueHandle service) {
    std::optional<win::UniqueHandle> shutdown;
    if (auto event = ipc::open_shutdown_event()) shutdown = std::move(*event);
    RestartBudget budget{std::chrono::steady_clock::now(), 0};
    std::optional<Restarted> restarted;
    for (;;) {
        WaitForSingleObject(service.get(), INFINITE);
        if (end_requested(shutdown)) return;
        if (!take_restart(budget, std::chrono::steady_clock::now())) return;
        restarted = start_service_again();
        if (!restarted) return;
        service = std::move(restarted->child.process);
    }
}

}  // namespace

void run_watchdog(const WatchdogTarget& target) {
    win::UniqueHandle lock(CreateMutexW(nullptr, TRUE, ipc::kWatchdogName));
    if (!lock || GetLastError() == ERROR_ALREADY_EXISTS) return;
    if (win::UniqueHandle service = open_service(target)) watch(std::move(service));
    (void)reset_desktop_background();
    ReleaseMutex(lock.get());
}

}  // namespace veltrane
