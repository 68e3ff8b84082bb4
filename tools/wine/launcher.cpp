// Test launcher: Wine sets LOCALAPPDATA, APPDATA and TEMP from its own profile, so the
// harness passes each test's folders as VELTRANE_TEST_* variables and this program puts them
// in place on the Windows side before it starts the real program and waits for it.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void copy_variable(const wchar_t* from, const wchar_t* to) {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(from, value, 32768);
    if (n > 0 && n < 32768) SetEnvironmentVariableW(to, value);
}

// The launcher's own command line minus its first token.
const wchar_t* rest_of_command_line(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

}  // namespace

int wmain() {
    copy_variable(L"VELTRANE_TEST_LOCALAPPDATA", L"LOCALAPPDATA");
    copy_variable(L"VELTRANE_TEST_APPDATA", L"APPDATA");
    copy_variable(L"VELTRANE_TEST_TEMP", L"TEMP");
    copy_variable(L"VELTRANE_TEST_TEMP", L"TMP");

    std::wstring command = rest_of_command_line(GetCommandLineW());
    if (command.empty()) {
        std::fputws(L"usage: veltrane_launcher PROGRAM [ARGUMENTS]\n", stderr);
        return 2;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        std::fwprintf(stderr, L"launcher: cannot start %ls (Win32 error %lu)\n", command.c_str(), GetLastError());
        return 2;
    }
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
