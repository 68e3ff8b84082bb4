// Windows PowerShell stand-in for the Wine test prefix. It accepts only the one command line
// the program uses to write its Start-menu shortcut, word for word, so a changed script or
// argument fails the tests, and does what that script's shell object does: writes the shortcut
// from the three environment variables through IShellLinkW.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

const wchar_t* const kExpected[] = {
    L"-NoProfile", L"-NonInteractive", L"-Command",
    L"$shell = New-Object -ComObject WScript.Shell; $shortcut = $shell.CreateShortcut($env:VELTRANE_SHORTCUT); "
    L"$shortcut.TargetPath = $env:VELTRANE_TARGET; $shortcut.WorkingDirectory = $env:VELTRANE_WORKDIR; "
    L"$shortcut.IconLocation = $env:VELTRANE_TARGET + ',0'; $shortcut.Save()"};

struct Release {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <class T>
using ComPtr = std::unique_ptr<T, Release>;

struct LocalFreeArgs {
    void operator()(wchar_t** p) const { LocalFree(p); }
};

bool variable(const wchar_t* name, std::wstring& value) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    if (n == 0 || n >= 32768) return false;
    value.assign(buffer, n);
    return true;
}

bool arguments_are_expected() {
    int count = 0;
    std::unique_ptr<wchar_t*, LocalFreeArgs> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv || count != 1 + static_cast<int>(std::size(kExpected))) return false;
    for (std::size_t i = 0; i < std::size(kExpected); ++i) {
        if (std::wstring(argv.get()[i + 1]) != kExpected[i]) return false;
    }
    return true;
}

HRESULT save_shortcut(const std::wstring& link, const std::wstring& target, const std::wstring& workdir) {
    IShellLinkW* raw = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&raw));
    if (FAILED(hr)) return hr;
    ComPtr<IShellLinkW> shell_link(raw);
    if (FAILED(hr = shell_link->SetPath(target.c_str()))) return hr;
    if (FAILED(hr = shell_link->SetWorkingDirectory(workdir.c_str()))) return hr;
    if (FAILED(hr = shell_link->SetIconLocation(target.c_str(), 0))) return hr;
    IPersistFile* file_raw = nullptr;
    if (FAILED(hr = shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file_raw)))) return hr;
    ComPtr<IPersistFile> file(file_raw);
    return file->Save(link.c_str(), TRUE);
}

}  // namespace

int wmain() {
    if (!arguments_are_expected()) {
        std::fputws(L"powershell stand-in: not the shortcut command\n", stderr);
        return 2;
    }
    std::wstring link, target, workdir;
    if (!variable(L"VELTRANE_SHORTCUT", link) || !variable(L"VELTRANE_TARGET", target) ||
        !variable(L"VELTRANE_WORKDIR", workdir)) {
        std::fputws(L"powershell stand-in: a VELTRANE_ variable is missing\n", stderr);
        return 3;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const HRESULT hr = save_shortcut(link, target, workdir);
    CoUninitialize();
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"powershell stand-in: saving the shortcut failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    return 0;
}
