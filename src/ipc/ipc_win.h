// The Windows side of the named objects; included by ipc.h on Windows.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "file_util/result.h"
#include "file_util/win.h"

namespace veltrane::ipc {

// True while a service holds the singleton mutex; the mutex dies with the service process,
// also after a crash, so a dead service is never reported as running.
bool is_service_running();

// Creates or opens the manual-reset shutdown event; an existing event keeps its state.
Result<win::UniqueHandle> open_shutdown_event();

// A held named mutex: released and closed when it goes away, on the thread that took it.
class NamedLock {
public:
    NamedLock() = default;
    explicit NamedLock(win::UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    NamedLock(NamedLock&&) noexcept = default;
    NamedLock& operator=(NamedLock&& other) noexcept {
        if (this != &other) {
            release();
            mutex_ = std::move(other.mutex_);
        }
        return *this;
    }
    ~NamedLock() { release(); }
    void release() {
        if (mutex_) ReleaseMutex(mutex_.get());
        mutex_.reset();
    }
    bool held() const { return static_cast<bool>(mutex_); }

private:
    win::UniqueHandle mutex_;
};

// Waits up to `timeout` (none by default); a mutex abandoned by an owner that died counts as
// acquired. Its texts are the restore lock's.
Result<NamedLock> acquire_named_lock(const wchar_t* name, DWORD timeout = INFINITE);

inline constexpr const char* kOtherSetupMessage =
    "다른 벨트레인 설치 또는 삭제가 진행 중입니다. 끝난 뒤 다시 시도해 주세요.";
inline constexpr const char* kUpdatingMessage = "벨트레인 업데이트를 적용하는 중입니다. 잠시 후 다시 시도해 주세요.";

// The set-up lock, once no updater runs: an updater is never ended mid-apply (that tears the
// program), so a set-up or removal waits for it. `updater_program` is the installed
// updater's file, which runs before its own mutex exists. Up to `wait` for both.
Result<NamedLock> acquire_setup_lock(const std::filesystem::path& updater_program,
                                     std::chrono::milliseconds wait = kSetupWait);

// The content work lock that content sync and the update check share, taken the same way
// up to `wait`, with texts of its own that carry the system error code.
Result<NamedLock> acquire_content_lock(std::chrono::milliseconds wait = kContentLockWait);

// True once no watchdog holds its mutex, false when one still does after `timeout`; an error
// counts as ended, the caller proceeds.
bool wait_for_watchdog_exit(std::chrono::milliseconds timeout = kStopDeadline);

// True once no service holds the singleton, false when one still does after `timeout`.
bool wait_for_no_service(std::chrono::milliseconds timeout = kStopDeadline);

// Whether a user's stop of the service (close_services) is under way.
bool stop_requested();

struct LoopEnd {
    enum Kind { Quit, Shutdown, WaitFailed } kind = Quit;
    DWORD error = 0;  // the failed wait's code
};

// Dispatches the thread's messages until the event is set, a quit message arrives or the
// wait fails.
LoopEnd run_message_loop(HANDLE shutdown_event);
// The same loop; `take` sees each message first and returns true for one it handled itself
// (a window's own keyboard navigation).
LoopEnd run_message_loop(HANDLE shutdown_event, const std::function<bool(MSG&)>& take);

// Signals shutdown, asks every service and settings window of the session to close, waits
// for them and every other process of the installed executable (a service still starting
// has no window yet, the watchdog has none) together up to `deadline`, terminates what is
// left, then waits for the watchdog up to `deadline` again.
Status stop_running_instances(std::chrono::milliseconds deadline = kStopDeadline);

// Only the services, as a user's stop: closes every controller window and waits for their
// processes together up to `deadline`, terminating the rest, then waits for the watchdog up
// to `deadline`, which meanwhile knows the stop was asked and starts nothing again. No
// shutdown signal, so settings windows stay open. The error says which wait ran out.
Status close_services(std::chrono::milliseconds deadline = kStopDeadline);

// Posts the refresh request to the first controller window; false when none exists.
bool post_refresh_request();

}  // namespace veltrane::ipc
