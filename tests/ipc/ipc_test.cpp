#include "ipc/ipc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <thread>

#include "settings/settings.h"

using namespace veltrane;
using namespace std::chrono_literals;

TEST(Names, ServiceReadyEventNamesTheBuild) {
    EXPECT_EQ(ipc::service_ready_event_name(BuildVersion{20261019, 90507}),
              L"Local\\Veltrane_Desktop.UpdateReady.20261019.90507.0");
}

TEST(Deadline, EachWaitGetsWhatIsLeftAndNothingOncePassed) {
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(ipc::wait_budget(now + 15s, now), 15000u);
    EXPECT_EQ(ipc::wait_budget(now + 1500us, now), 2u);
    EXPECT_EQ(ipc::wait_budget(now, now), 0u);
    EXPECT_EQ(ipc::wait_budget(now - 1s, now), 0u);
    EXPECT_EQ(ipc::wait_budget(now + std::chrono::hours(24 * 60), now), 0xFFFFFFFEu);
}

#ifdef _WIN32

namespace {

std::wstring helper_path() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"ipc_helper.exe";
}

win::UniqueHandle start_helper(const std::wstring& arguments, const std::wstring& program = helper_path()) {
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    CloseHandle(pi.hThread);
    return win::UniqueHandle(pi.hProcess);
}

// Polls until the helper shows its readiness, or fails the test after 15 s.
template <class Ready>
bool wait_until(Ready ready) {
    for (int i = 0; i < 300; ++i) {
        if (ready()) return true;
        Sleep(50);
    }
    return false;
}

bool window_exists(const wchar_t* class_name) { return FindWindowW(class_name, nullptr) != nullptr; }

DWORD exit_code(const win::UniqueHandle& process) {
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

bool has_ended(const win::UniqueHandle& process, DWORD ms = 0) {
    return WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0;
}

long long elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

bool shutdown_event_is_fresh() {
    auto event = ipc::open_shutdown_event();
    return event && WaitForSingleObject(event->get(), 0) == WAIT_TIMEOUT;
}

// An in-process window that counts what it is sent.
struct CountingWindow {
    static inline int app_messages = 0;
    static inline int refresh_requests = 0;
    static inline int close_requests = 0;
    HWND window = nullptr;

    explicit CountingWindow(const wchar_t* class_name) {
        app_messages = refresh_requests = close_requests = 0;
        WNDCLASSW wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = class_name;
        RegisterClassW(&wc);
        window = CreateWindowExW(0, class_name, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~CountingWindow() {
        if (IsWindow(window)) DestroyWindow(window);
    }

    static LRESULT CALLBACK proc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_APP) {
            if (++app_messages == 3) PostQuitMessage(0);
            return 0;
        }
        if (message == ipc::kRefreshMessage && wp == 0 && lp == 0) ++refresh_requests;
        if (message == WM_CLOSE) {
            ++close_requests;
            return 0;
        }
        return DefWindowProcW(w, message, wp, lp);
    }
};

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

}  // namespace

TEST(Singleton, RunningExactlyWhileTheMutexExists) {
    EXPECT_FALSE(ipc::is_service_running());
    {
        win::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, ipc::kSingletonName));
        ASSERT_TRUE(mutex);
        EXPECT_TRUE(ipc::is_service_running());
    }
    EXPECT_FALSE(ipc::is_service_running());
}

TEST(ShutdownEvent, IsManualResetAndKeepsItsStateWhenOpenedAgain) {
    auto first = ipc::open_shutdown_event();
    ASSERT_TRUE(first.ok()) << first.error().message;
    EXPECT_EQ(WaitForSingleObject(first->get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(first->get());
    auto second = ipc::open_shutdown_event();
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(WaitForSingleObject(second->get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second->get(), 0), WAIT_OBJECT_0);  // not consumed by a wait
    first->reset();
    second->reset();
    EXPECT_TRUE(shutdown_event_is_fresh());
}

TEST(MessageLoop, EndsOnTheEventOnAQuitAndDispatchesWhatComesBetween) {
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread setter([&] {
        Sleep(100);
        SetEvent(event.get());
    });
    const auto shutdown = ipc::run_message_loop(event.get());
    setter.join();
    EXPECT_EQ(shutdown.kind, ipc::LoopEnd::Shutdown);

    ResetEvent(event.get());
    PostQuitMessage(0);
    EXPECT_EQ(ipc::run_message_loop(event.get()).kind, ipc::LoopEnd::Quit);

    CountingWindow w(L"Veltrane_Test.Counting");
    ASSERT_NE(w.window, nullptr);
    for (int i = 0; i < 3; ++i) PostMessageW(w.window, WM_APP, 0, 0);
    EXPECT_EQ(ipc::run_message_loop(event.get()).kind, ipc::LoopEnd::Quit);
    EXPECT_EQ(CountingWindow::app_messages, 3);
}

TEST(MessageLoop, MessagesAlreadySeenInTheQueueStillEndTheWait) {
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CountingWindow w(L"Veltrane_Test.Seen");
    for (int i = 0; i < 3; ++i) PostMessageW(w.window, WM_APP, 0, 0);
    MSG peeked;
    ASSERT_TRUE(PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    std::thread late_setter([&] {
        Sleep(3000);
        SetEvent(event.get());
    });
    const auto start = std::chrono::steady_clock::now();
    const auto end = ipc::run_message_loop(event.get());
    const auto took = elapsed_ms(start);
    late_setter.join();
    EXPECT_EQ(end.kind, ipc::LoopEnd::Quit);
    EXPECT_LT(took, 2500);
}

TEST(MessageLoop, AFailedWaitEndsWithItsCode) {
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closed);
    const auto end = ipc::run_message_loop(closed);
    EXPECT_EQ(end.kind, ipc::LoopEnd::WaitFailed);
    EXPECT_EQ(end.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(RefreshRequest, GoesToTheControllerWindowOnly) {
    EXPECT_FALSE(ipc::post_refresh_request());
    CountingWindow w(ipc::kControllerClass);
    ASSERT_NE(w.window, nullptr);
    EXPECT_TRUE(ipc::post_refresh_request());
    pump();
    EXPECT_EQ(CountingWindow::refresh_requests, 1);
}

TEST(Errors, ANameTakenByAnotherKindOfObjectGivesTheTexts) {
    {
        // A mutex squatting on the event's name: nothing can be signalled.
        win::UniqueHandle squatter(CreateMutexW(nullptr, FALSE, ipc::kShutdownEventName));
        ASSERT_TRUE(squatter);
        auto event = ipc::open_shutdown_event();
        ASSERT_FALSE(event.ok());
        EXPECT_EQ(event.error().message, "종료 신호를 만들지 못했습니다. (Win32 오류 6)");
        auto stopped = ipc::stop_running_instances();
        ASSERT_FALSE(stopped.ok());
        EXPECT_EQ(stopped.error().message, "종료 신호를 만들지 못했습니다. (Win32 오류 6)");
    }
    const wchar_t* name = L"Local\\Veltrane_Desktop.Test.EventNotMutex";
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, name));
    ASSERT_TRUE(event);
    auto lock = ipc::acquire_named_lock(name);
    ASSERT_FALSE(lock.ok());
    EXPECT_EQ(lock.error().message, "복원 잠금 생성 실패: 6");

    win::UniqueHandle content_squatter(CreateEventW(nullptr, TRUE, FALSE, ipc::kContentSyncName));
    ASSERT_TRUE(content_squatter);
    auto content = ipc::acquire_content_lock();
    ASSERT_FALSE(content.ok());
    EXPECT_EQ(content.error().message, "콘텐츠 작업 잠금 생성 실패: Win32 오류 6");
}

TEST(NamedLock, TheContentLockIsWaitedForWithinItsBoundAndSaysSo) {
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        auto lock = ipc::acquire_content_lock();
        held = lock.ok();
        while (!release) Sleep(10);
    });
    while (!held) Sleep(10);
    const auto waited = ipc::acquire_content_lock(std::chrono::milliseconds(1000));
    release = true;
    holder.join();
    ASSERT_FALSE(waited.ok());
    EXPECT_EQ(waited.error().message, "다른 동기화나 업데이트 확인이 끝나지 않아 1초 안에 콘텐츠 작업 잠금을 얻지 못했습니다. "
                                      "나중에 다시 시도합니다.");
}

TEST(NamedLock, AnAbandonedLockIsAcquiredAndReleasedForTheNext) {
    const wchar_t* name = L"Local\\Veltrane_Desktop.Test.Abandoned";
    auto holder = start_helper(std::wstring(L"lock ") + name);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(has_ended(holder, 15000));
    ASSERT_EQ(exit_code(holder), 7u);  // it did take the lock before it died
    {
        auto lock = ipc::acquire_named_lock(name);
        ASSERT_TRUE(lock.ok()) << lock.error().message;
        EXPECT_TRUE(lock->held());
    }
    // Released on scope exit: another thread gets it at once.
    bool taken = false;
    std::thread other([&] { taken = ipc::acquire_named_lock(name).ok(); });
    other.join();
    EXPECT_TRUE(taken);
}

// Waits of a window thread or a start-up end at their bound while another holds the object.
TEST(BoundedWaits, ALockOrAWatchdogHeldElsewhereEndsTheWaitInTime) {
    const wchar_t* name = L"Local\\Veltrane_Desktop.Test.Held";
    auto holder = start_helper(std::wstring(L"hold ") + name);
    auto watchdog = start_helper(L"watchdog");
    ASSERT_TRUE(holder && watchdog);
    ASSERT_TRUE(wait_until([] { return win::UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, ipc::kWatchdogName)).get() != nullptr; }));
    Sleep(300);  // the holder has its lock by now too
    auto start = std::chrono::steady_clock::now();
    auto lock = ipc::acquire_named_lock(name, 1000);
    ASSERT_FALSE(lock.ok());
    EXPECT_EQ(lock.error().message, "다른 벨트레인 프로세스가 바탕화면을 복원하고 있어 1초 안에 복원 잠금을 얻지 못했습니다.");
    EXPECT_LT(elapsed_ms(start), 3000);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ipc::wait_for_watchdog_exit(1000ms));
    EXPECT_LT(elapsed_ms(start), 3000);
    TerminateProcess(holder.get(), 9);
    TerminateProcess(watchdog.get(), 9);
    has_ended(holder, 5000);
    has_ended(watchdog, 5000);
    EXPECT_TRUE(ipc::wait_for_watchdog_exit(1000ms));
}

TEST(StopRunningInstances, WithNothingRunningReturnsAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ipc::stop_running_instances().ok());
    EXPECT_LT(elapsed_ms(start), 1000);
    EXPECT_TRUE(shutdown_event_is_fresh());
}

TEST(StopRunningInstances, ACooperativeServiceAndSettingsWindowEndBeforeTheDeadline) {
    auto service = start_helper(std::wstring(L"window ") + ipc::kControllerClass + L" cooperative");
    auto settings = start_helper(std::wstring(L"window ") + ipc::kSettingsClass + L" cooperative");
    ASSERT_TRUE(service && settings);
    ASSERT_TRUE(wait_until([] { return window_exists(ipc::kControllerClass) && window_exists(ipc::kSettingsClass); }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ipc::stop_running_instances().ok());
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_TRUE(has_ended(service));
    EXPECT_TRUE(has_ended(settings));
    EXPECT_EQ(exit_code(service), 0u);
    EXPECT_EQ(exit_code(settings), 0u);
    // Every holder of the event is gone, so the next service starts with a fresh one.
    EXPECT_TRUE(shutdown_event_is_fresh());
}

TEST(StopRunningInstances, TerminatesWhatIgnoresItAfterOneSharedDeadline) {
    auto service = start_helper(std::wstring(L"window ") + ipc::kControllerClass + L" stubborn");
    auto settings = start_helper(std::wstring(L"window ") + ipc::kSettingsClass + L" stubborn");
    ASSERT_TRUE(service && settings);
    ASSERT_TRUE(wait_until([] { return window_exists(ipc::kControllerClass) && window_exists(ipc::kSettingsClass); }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ipc::stop_running_instances(2000ms).ok());
    const auto took = elapsed_ms(start);
    EXPECT_GE(took, 1900);
    EXPECT_LT(took, 3800);  // one deadline for both, not one each
    ASSERT_TRUE(has_ended(service));
    ASSERT_TRUE(has_ended(settings));
    EXPECT_EQ(exit_code(service), 1u);
    EXPECT_EQ(exit_code(settings), 1u);
}

TEST(StopRunningInstances, IgnoresAClassThatOnlyBeginsWithTheControllersName) {
    const std::wstring longer = std::wstring(ipc::kControllerClass) + L"X";
    auto other = start_helper(L"window " + longer + L" stubborn");
    ASSERT_TRUE(other);
    ASSERT_TRUE(wait_until([&] { return window_exists(longer.c_str()); }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ipc::stop_running_instances(5000ms).ok());
    EXPECT_LT(elapsed_ms(start), 2500);  // far below the deadline it would have waited
    EXPECT_FALSE(has_ended(other, 200));
    TerminateProcess(other.get(), 9);
    has_ended(other, 5000);
}

TEST(StopRunningInstances, WaitsForTheWatchdogToEnd) {
    auto watchdog = start_helper(L"watchdog");
    ASSERT_TRUE(watchdog);
    ASSERT_TRUE(wait_until([] { return win::UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, ipc::kWatchdogName)).get() != nullptr; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ipc::stop_running_instances().ok());
    // The helper lingers 700 ms after the signal and releases its mutex as its last step.
    EXPECT_GE(elapsed_ms(start), 600);
    EXPECT_TRUE(has_ended(watchdog, 2000));
    EXPECT_EQ(exit_code(watchdog), 0u);
}

// A service in its start-up has no window yet: it is found as a process of the installed
// executable. The same program started from elsewhere is not ours to end.
TEST(StopRunningInstances, EndsTheInstalledExecutableBeforeItHasAWindow) {
    const auto install = install_folder();
    ASSERT_TRUE(install.ok());
    std::filesystem::create_directories(*install);
    const std::filesystem::path installed = *install / kExecutableName;
    ASSERT_TRUE(CopyFileW(helper_path().c_str(), installed.c_str(), FALSE));
    auto starting = start_helper(L"starting", installed.wstring());
    auto elsewhere = start_helper(L"starting");
    ASSERT_TRUE(starting && elsewhere);
    ASSERT_TRUE(wait_until([] { return ipc::is_service_running(); }));
    EXPECT_TRUE(ipc::stop_running_instances(2000ms).ok());
    EXPECT_TRUE(has_ended(starting, 1000));
    EXPECT_FALSE(has_ended(elsewhere, 200));
    TerminateProcess(elsewhere.get(), 9);
    has_ended(elsewhere, 5000);
    EXPECT_FALSE(ipc::is_service_running());
    std::error_code ec;
    std::filesystem::remove_all(*install, ec);
}

TEST(StopRunningInstances, NeverWaitsForOrTerminatesItsOwnProcess) {
    CountingWindow own(ipc::kSettingsClass);
    ASSERT_NE(own.window, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ipc::stop_running_instances(5000ms).ok());
    EXPECT_LT(elapsed_ms(start), 2500);  // far below the deadline it would have waited
    pump();
    EXPECT_EQ(CountingWindow::close_requests, 1);  // the close request still arrives
}

#endif
