// A test's child process (Windows only): started with a command line of the program's
// quoted path and the arguments, waited for with a generous limit, its exit code read back.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <filesystem>
#include <string>

namespace veltrane::testing {

struct Child {
    PROCESS_INFORMATION pi{};
    Child(const std::filesystem::path& exe, const std::wstring& args) {
        std::wstring line = L"\"" + exe.wstring() + L"\" " + args;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) pi = {};
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pi.hProcess) CloseHandle(pi.hProcess);
        if (pi.hThread) CloseHandle(pi.hThread);
    }
    // The exit code, or 99 when it did not end within two minutes.
    DWORD wait() const {
        WaitForSingleObject(pi.hProcess, 120000);
        DWORD code = 99;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
};

}  // namespace veltrane::testing

#endif
