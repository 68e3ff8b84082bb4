// Holds a runtime's desktop for the runtime's whole life; prefix.sh starts it detached from
// every pipe. Wine's desktop process (explorer.exe) is started by the first program that
// uses the desktop and inherits that program's output: started by a test, it would hold
// ctest's pipe for as long as any other test used the desktop, and the test would seem to
// hang after it ended. Creates the file named by its argument once the desktop is up.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR ready_file, int) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window || !GetDesktopWindow()) return 1;
    std::wstring path = ready_file;  // quoted by Wine when it holds a blank
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    HANDLE ready = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
