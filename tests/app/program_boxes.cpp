#include "program_boxes.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <memory>

namespace veltrane::testing {
namespace {

struct Search {
    DWORD pid;
    const wchar_t* caption;
    HWND box;
};

BOOL CALLBACK match_box(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    if ((s.pid == 0 || pid == s.pid) && std::wstring(caption) == s.caption && std::wstring(class_name) == L"#32770" &&
        IsWindowVisible(window)) {
        s.box = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK longest_static(HWND child, LPARAM param) {
    auto& text = *reinterpret_cast<std::wstring*>(param);
    wchar_t class_name[16] = {};
    GetClassNameW(child, class_name, 16);
    if (_wcsicmp(class_name, L"Static") != 0) return TRUE;
    wchar_t buffer[4096] = {};
    GetWindowTextW(child, buffer, 4096);
    if (wcslen(buffer) > text.size()) text = buffer;
    return TRUE;
}

}  // namespace

std::filesystem::path unix_file(const char* path) {
    std::wstring p = win::to_wide(path);
    for (auto& c : p) if (c == L'/') c = L'\\';
    return std::filesystem::path(L"Z:" + p);
}

bool wait_until(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms; waited += 100) {
        if (done()) return true;
        Sleep(100);
    }
    return done();
}

std::vector<DWORD> processes_named(const std::function<bool(std::wstring_view)>& match) {
    std::vector<DWORD> ids;
    win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (match(entry.szExeFile)) ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

DWORD service_pid() {
    HWND controller = FindWindowW(L"Veltrane_Desktop.Controller", nullptr);
    DWORD pid = 0;
    if (controller) GetWindowThreadProcessId(controller, &pid);
    return pid;
}

bool watchdog_alive() {
    return static_cast<bool>(win::UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\Veltrane_Desktop.Watchdog")));
}

std::filesystem::path local_app_data() {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value, 32768);
    return std::filesystem::path(std::wstring(value, n));
}

win::UniqueHandle start(const std::filesystem::path& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe.wstring() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    CloseHandle(pi.hThread);
    return win::UniqueHandle(pi.hProcess);
}

HWND find_box(DWORD process_id, const wchar_t* caption, int ms) {
    Search s{process_id, caption, nullptr};
    for (int waited = 0; !s.box; waited += 50) {
        EnumWindows(match_box, reinterpret_cast<LPARAM>(&s));
        if (s.box || waited >= ms) break;
        Sleep(50);
    }
    return s.box;
}

HWND box_of(const win::UniqueHandle& process, const wchar_t* caption, int ms) {
    return find_box(GetProcessId(process.get()), caption, ms);
}

std::string text_of(HWND box) {
    std::wstring text;
    EnumChildWindows(box, longest_static, reinterpret_cast<LPARAM>(&text));
    return win::from_wide(text);
}

std::string buttons_of(HWND box) {
    std::string b;
    if (GetDlgItem(box, IDOK)) b += "ok ";
    if (GetDlgItem(box, IDYES)) b += "yes ";
    if (GetDlgItem(box, IDNO)) b += "no ";
    if (GetDlgItem(box, IDCANCEL)) b += "cancel ";
    return b;
}

int default_button_of(HWND box) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) || !info.hwndFocus) return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

void press(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(50);
}

bool ended_cleanly(const win::UniqueHandle& process, DWORD ms) {
    if (WaitForSingleObject(process.get(), ms) != WAIT_OBJECT_0) return false;
    DWORD code = 99;
    return GetExitCodeProcess(process.get(), &code) && code == 0;
}

std::optional<std::wstring> run_value() {
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"Veltrane_Desktop", RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"Veltrane_Desktop", RRF_RT_REG_SZ, nullptr, value.data(), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(wcslen(value.c_str()));
    return value;
}

namespace {
struct Release {
    void operator()(IUnknown* p) const { p->Release(); }
};
}  // namespace

std::optional<Shortcut> read_shortcut(const std::filesystem::path& link) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::optional<Shortcut> out;
    {
        IShellLinkW* raw = nullptr;
        IPersistFile* file_raw = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&raw)))) {
            std::unique_ptr<IShellLinkW, Release> shell_link(raw);
            if (SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file_raw)))) {
                std::unique_ptr<IPersistFile, Release> file(file_raw);
                wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {};
                Shortcut s;
                // Wine keeps the target's path text in the ANSI code page (a Hangul name comes
                // back with "?"), but its item id list in full; Windows gives both in full.
                PIDLIST_ABSOLUTE items = nullptr;
                if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shell_link->GetIDList(&items)) &&
                    SHGetPathFromIDListW(items, target) &&
                    SUCCEEDED(shell_link->GetWorkingDirectory(folder, MAX_PATH)) &&
                    SUCCEEDED(shell_link->GetIconLocation(icon, MAX_PATH, &s.icon_index))) {
                    s.target = target;
                    s.working_folder = folder;
                    s.icon = icon;
                    out = s;
                }
                CoTaskMemFree(items);
            }
        }
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return out;
}

}  // namespace veltrane::testing
