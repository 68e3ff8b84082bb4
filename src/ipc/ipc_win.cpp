#include "ipc/ipc.h"

#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

#include "settings/settings.h"

namespace veltrane::ipc {
namespace {

constexpr DWORD kAllInput = 0x04FF;  // QS_ALLINPUT
constexpr std::size_t kClassBuffer = 64;

std::string code_text(DWORD code) { return std::to_string(code); }

struct Match {
    HWND window;
    DWORD process_id;
};

struct Search {
    std::wstring_view class_name;
    std::vector<Match>* out;
};

// Exact length and units: a foreign class that merely begins with our name is not ours.
BOOL CALLBACK match_class(HWND window, LPARAM param) {
    const auto& search = *reinterpret_cast<Search*>(param);
    wchar_t buffer[kClassBuffer];
    const int n = GetClassNameW(window, buffer, static_cast<int>(kClassBuffer));
    if (n <= 0 || std::wstring_view(buffer, static_cast<std::size_t>(n)) != search.class_name) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != 0) search.out->push_back({window, pid});
    return TRUE;
}

void collect_windows(std::wstring_view class_name, std::vector<Match>& out) {
    Search search{class_name, &out};
    EnumWindows(match_class, reinterpret_cast<LPARAM>(&search));
}

constexpr DWORD kProcessAccess = SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION;

std::vector<DWORD> window_process_ids(const std::vector<Match>& windows) {
    std::vector<DWORD> ids;
    for (const auto& m : windows) ids.push_back(m.process_id);
    return ids;
}

bool same_text_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::optional<std::wstring> image_path(HANDLE process) {
    std::wstring buffer(32768, L'\0');
    DWORD n = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &n)) return std::nullopt;
    buffer.resize(n);
    return buffer;
}

DWORD session_of(DWORD process_id) {
    DWORD session = 0xFFFFFFFF;
    if (!ProcessIdToSessionId(process_id, &session)) return 0xFFFFFFFF;
    return session;
}

// The processes of this session running the installed executable, found among all processes
// by name and then by the image path read from the opened handle, so a reused id is never
// taken for one of ours.
void add_processes_of(const std::filesystem::path& file, std::vector<DWORD>& ids) {
    const std::wstring program = file.wstring();
    const std::wstring name = std::filesystem::path(program).filename().wstring();
    win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    const DWORD session = session_of(GetCurrentProcessId());
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (!same_text_ignoring_case(entry.szExeFile, name) || session_of(entry.th32ProcessID) != session) continue;
        win::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        const auto image = process ? image_path(process.get()) : std::nullopt;
        if (image && same_text_ignoring_case(*image, program)) ids.push_back(entry.th32ProcessID);
    }
}

void add_program_processes(std::vector<DWORD>& ids) {
    if (const auto folder = install_folder()) add_processes_of(*folder / kExecutableName, ids);
}

bool updater_runs(const std::filesystem::path& updater_program) {
    if (win::UniqueHandle running(OpenMutexW(SYNCHRONIZE, FALSE, kUpdaterRunningName)); running) return true;
    std::vector<DWORD> ids;
    add_processes_of(updater_program, ids);
    return !ids.empty();
}

// The caller's own process is never waited for or terminated: a settings window that stops
// the instances must not wait for itself and then kill itself.
std::vector<win::UniqueHandle> open_processes(std::vector<DWORD> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<win::UniqueHandle> processes;
    for (DWORD id : ids) {
        if (id == GetCurrentProcessId()) continue;
        win::UniqueHandle process(OpenProcess(kProcessAccess, FALSE, id));
        if (process) processes.push_back(std::move(process));
    }
    return processes;
}

// One deadline for all of them, so many slow instances never add up to more than it.
bool end_processes(const std::vector<win::UniqueHandle>& processes, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (const auto& process : processes) {
        const DWORD budget = wait_budget(until, std::chrono::steady_clock::now());
        if (WaitForSingleObject(process.get(), budget) == WAIT_OBJECT_0) continue;
        if (!TerminateProcess(process.get(), 1)) return false;
        if (WaitForSingleObject(process.get(), static_cast<DWORD>(kTerminateWait.count())) != WAIT_OBJECT_0) return false;
    }
    return true;
}

// The mutex, or why it could not be taken: the failing step and its code.
struct LockFailure {
    bool creating = false;
    DWORD code = 0;       // the system error code
    DWORD wait_result = 0;
};

std::variant<win::UniqueHandle, LockFailure> take_mutex(const wchar_t* name, DWORD timeout = INFINITE) {
    win::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name));
    if (!mutex) return LockFailure{true, GetLastError(), 0};
    const DWORD result = WaitForSingleObject(mutex.get(), timeout);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return LockFailure{false, result == WAIT_FAILED ? GetLastError() : result, result};
    return mutex;
}

}  // namespace

bool is_service_running() {
    win::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kSingletonName));
    return static_cast<bool>(mutex);
}

Result<win::UniqueHandle> open_shutdown_event() {
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, kShutdownEventName));
    if (!event) {
        const DWORD code = GetLastError();
        return win::win32_error("종료 신호를 만들지 못했습니다.", code);
    }
    return event;
}

Result<NamedLock> acquire_named_lock(const wchar_t* name, DWORD timeout) {
    auto taken = take_mutex(name, timeout);
    if (auto* mutex = std::get_if<win::UniqueHandle>(&taken)) return NamedLock(std::move(*mutex));
    const auto& f = std::get<LockFailure>(taken);
    if (f.creating) return Error{"복원 잠금 생성 실패: " + code_text(f.code), f.code};
    if (f.wait_result == WAIT_TIMEOUT) {
        return make_error("다른 벨트레인 프로세스가 바탕화면을 복원하고 있어 " +
                          std::to_string(timeout / 1000) + "초 안에 복원 잠금을 얻지 못했습니다.");
    }
    return Error{"복원 잠금 대기 실패: " + code_text(f.wait_result), f.wait_result == WAIT_FAILED ? f.code : 0};
}

Result<NamedLock> acquire_setup_lock(const std::filesystem::path& updater_program, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    auto taken = take_mutex(kSetupName, static_cast<DWORD>(wait.count()));
    if (auto* f = std::get_if<LockFailure>(&taken)) {
        if (!f->creating && f->wait_result == WAIT_TIMEOUT) return Error{kOtherSetupMessage, kSetupBusyCode};
        return win::win32_error("설치 잠금을 얻지 못했습니다.", f->code);
    }
    // Owned from here, so a failure below releases it instead of leaving it abandoned.
    NamedLock lock(std::move(std::get<win::UniqueHandle>(taken)));
    while (updater_runs(updater_program)) {
        const DWORD budget = wait_budget(until, std::chrono::steady_clock::now());
        if (budget == 0) return Error{kUpdatingMessage, kSetupBusyCode};
        Sleep(std::min<DWORD>(budget, 250));
    }
    return lock;
}

Result<NamedLock> acquire_content_lock(std::chrono::milliseconds wait) {
    auto taken = take_mutex(kContentSyncName, static_cast<DWORD>(wait.count()));
    if (auto* mutex = std::get_if<win::UniqueHandle>(&taken)) return NamedLock(std::move(*mutex));
    const auto& f = std::get<LockFailure>(taken);
    if (!f.creating && f.wait_result == WAIT_TIMEOUT) {
        return make_error("다른 동기화나 업데이트 확인이 끝나지 않아 " + std::to_string(wait.count() / 1000) +
                          "초 안에 콘텐츠 작업 잠금을 얻지 못했습니다. 나중에 다시 시도합니다.");
    }
    return win::win32_error(f.creating ? "콘텐츠 작업 잠금 생성 실패" : "콘텐츠 작업 잠금 대기 실패", f.code,
                            win::CodeText::AfterColon);
}

bool wait_for_watchdog_exit(std::chrono::milliseconds timeout) {
    // The watchdog owns its mutex for its whole life, so taking it means it has ended; the
    // lock is released again at once.
    auto taken = take_mutex(kWatchdogName, static_cast<DWORD>(timeout.count()));
    if (auto* mutex = std::get_if<win::UniqueHandle>(&taken)) {
        NamedLock released(std::move(*mutex));
        return true;
    }
    return std::get<LockFailure>(taken).wait_result != WAIT_TIMEOUT;
}

bool wait_for_no_service(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (is_service_running()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        Sleep(100);
    }
    return true;
}

bool stop_requested() {
    win::UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, kStopRequestName));
    return event && WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

LoopEnd run_message_loop(HANDLE shutdown_event) { return run_message_loop(shutdown_event, nullptr); }

LoopEnd run_message_loop(HANDLE shutdown_event, const std::function<bool(MSG&)>& take) {
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &shutdown_event, INFINITE, kAllInput, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) return {LoopEnd::Shutdown, 0};
        if (result == WAIT_FAILED) return {LoopEnd::WaitFailed, GetLastError()};
        if (result != WAIT_OBJECT_0 + 1) continue;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return {LoopEnd::Quit, 0};
            if (take && take(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

Status stop_running_instances(std::chrono::milliseconds deadline) {
    std::vector<Match> windows;
    collect_windows(kControllerClass, windows);
    collect_windows(kSettingsClass, windows);
    std::vector<DWORD> ids = window_process_ids(windows);
    add_program_processes(ids);
    const auto processes = open_processes(std::move(ids));

    auto event = open_shutdown_event();
    if (!event) return event.take_error();
    if (!SetEvent(event->get())) {
        const DWORD code = GetLastError();
        return win::win32_error("종료 신호를 보내지 못했습니다.", code);
    }
    // The signal goes first, so a service busy in a refresh still ends at its next wait.
    for (const auto& m : windows) PostMessageW(m.window, WM_CLOSE, 0, 0);
    if (!end_processes(processes, deadline)) return make_error("실행 중인 벨트레인을 종료하지 못했습니다.");
    event->reset();
    if (!wait_for_watchdog_exit(deadline)) return make_error("벨트레인 감시 프로세스가 제한 시간 안에 끝나지 않았습니다.");
    return {};
}

Status close_services(std::chrono::milliseconds deadline) {
    // Held, and so in existence, until the watchdog has ended.
    win::UniqueHandle stop(CreateEventW(nullptr, TRUE, TRUE, kStopRequestName));
    if (!stop) {
        const DWORD code = GetLastError();
        return win::win32_error("서비스 중지 신호를 만들지 못했습니다.", code);
    }
    SetEvent(stop.get());
    std::vector<Match> windows;
    collect_windows(kControllerClass, windows);
    const auto processes = open_processes(window_process_ids(windows));
    for (const auto& m : windows) PostMessageW(m.window, WM_CLOSE, 0, 0);
    if (!end_processes(processes, deadline)) return make_error("서비스를 종료하지 못했습니다.");
    if (!wait_for_watchdog_exit(deadline)) {
        return make_error("서비스는 종료했지만 바탕화면을 되돌리는 감시 프로세스가 제한 시간 안에 끝나지 않았습니다.");
    }
    return {};
}

bool post_refresh_request() {
    HWND controller = FindWindowW(kControllerClass, nullptr);
    if (!controller) return false;
    return PostMessageW(controller, kRefreshMessage, 0, 0) != 0;
}

}  // namespace veltrane::ipc
