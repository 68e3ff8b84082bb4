// Stand-in for the program's processes in the ipc tests.
//   ipc_helper window CLASS cooperative   a window that ends when the shutdown event is set
//   ipc_helper window CLASS stubborn      a window that ignores the event and close requests
//   ipc_helper lock NAME                  takes the named lock and dies without releasing it
//   ipc_helper hold NAME                  takes the named lock and holds it for a minute
//   ipc_helper watchdog                   holds the watchdog mutex until the shutdown event
//   ipc_helper starting                   holds the singleton a minute with no window, deaf to all
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "ipc/ipc.h"

namespace {

LRESULT CALLBACK stubborn_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, w, l);
}

HWND make_window(const std::wstring& class_name, WNDPROC proc) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = class_name.c_str();
    if (!RegisterClassW(&wc)) return nullptr;
    return CreateWindowExW(0, class_name.c_str(), L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

int window_mode(const std::wstring& class_name, bool cooperative) {
    if (!cooperative) {
        if (!make_window(class_name, stubborn_proc)) return 20;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        return 21;
    }
    auto event = veltrane::ipc::open_shutdown_event();
    if (!event) return 22;
    if (!make_window(class_name, DefWindowProcW)) return 23;
    const auto end = veltrane::ipc::run_message_loop(event->get());
    return end.kind == veltrane::ipc::LoopEnd::Shutdown ? 0 : 24;
}

int lock_mode(const std::wstring& name) {
    auto lock = veltrane::ipc::acquire_named_lock(name.c_str());
    if (!lock) return 30;
    // Dies while it owns the mutex: no destructor runs, the mutex is abandoned.
    ExitProcess(7);
}

int watchdog_mode() {
    auto event = veltrane::ipc::open_shutdown_event();
    if (!event) return 40;
    veltrane::win::UniqueHandle mutex(CreateMutexW(nullptr, TRUE, veltrane::ipc::kWatchdogName));
    if (!mutex) return 41;
    WaitForSingleObject(event->get(), 30000);
    // Ends a little after the signal, so a caller that does not wait for it would notice.
    Sleep(700);
    ReleaseMutex(mutex.get());
    return 0;
}

int hold_mode(const std::wstring& name) {
    auto lock = veltrane::ipc::acquire_named_lock(name.c_str());
    if (!lock) return 50;
    Sleep(60000);
    return 0;
}

int starting_mode() {
    veltrane::win::UniqueHandle singleton(CreateMutexW(nullptr, FALSE, veltrane::ipc::kSingletonName));
    Sleep(60000);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 10;
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const std::wstring a = argc > 2 ? argv[2] : L"";
    const std::wstring b = argc > 3 ? argv[3] : L"";
    LocalFree(argv);
    if (mode == L"window") return window_mode(a, b == L"cooperative");
    if (mode == L"lock") return lock_mode(a);
    if (mode == L"watchdog") return watchdog_mode();
    if (mode == L"starting") return starting_mode();
    if (mode == L"hold") return hold_mode(a);
    return 11;
}
