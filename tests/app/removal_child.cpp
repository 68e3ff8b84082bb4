// The program's own entry point plus one way in that the product reaches only from its
// settings window: "--settings-window-removal" makes a hidden settings-class window and runs
// the removal helper's launch from it. Every other command line runs the program, so the
// helper copy this launches behaves as the program's "--uninstall-helper".
#include <windows.h>

#include "ipc/ipc.h"
#include "platform_win.h"
#include "uninstaller_win.h"

int wmain() {
    const auto args = veltrane::process_arguments();
    if (args.size() < 2 || args[1] != u"--settings-window-removal") {
        veltrane::run_program(args, veltrane::windows_platform());
        return 0;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = veltrane::ipc::kSettingsClass;
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(0, veltrane::ipc::kSettingsClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    veltrane::launch_removal_helper(window);
    return IsWindow(window) ? 1 : 0;
}
