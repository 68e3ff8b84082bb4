// The real Veltrane_Desktop.exe started as a process, checked by what the user sees: which
// message box appears, with which text and buttons, and that every path ends with code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "file_util/win.h"

using veltrane::win::UniqueHandle;

namespace {

std::wstring program_path() {
    std::wstring unix_path = veltrane::win::to_wide(VELTRANE_PROGRAM);
    for (auto& c : unix_path) if (c == L'/') c = L'\\';
    return L"Z:" + unix_path;
}

std::filesystem::path local_app_data() {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value, 32768);
    return std::filesystem::path(std::wstring(value, n));
}

UniqueHandle start(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    CloseHandle(pi.hThread);
    return UniqueHandle(pi.hProcess);
}

struct Found {
    DWORD pid;
    HWND box;
    const wchar_t* caption;
};

BOOL CALLBACK find_box(HWND window, LPARAM param) {
    auto& f = *reinterpret_cast<Found*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    if (pid == f.pid && std::wstring(caption) == f.caption && IsWindowVisible(window)) {
        f.box = window;
        return FALSE;
    }
    return TRUE;
}

// The message box of one process, waiting up to 15 s for it to appear.
HWND box_of(const UniqueHandle& process, const wchar_t* caption = L"벨트레인 설정") {
    Found f{GetProcessId(process.get()), nullptr, caption};
    for (int i = 0; i < 300 && !f.box; ++i) {
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&f));
        if (!f.box) Sleep(50);
    }
    return f.box;
}

BOOL CALLBACK longest_static(HWND child, LPARAM param) {
    auto& text = *reinterpret_cast<std::wstring*>(param);
    wchar_t class_name[16] = {};
    GetClassNameW(child, class_name, 16);
    if (_wcsicmp(class_name, L"Static") != 0) return TRUE;
    wchar_t buffer[1024] = {};
    GetWindowTextW(child, buffer, 1024);
    if (wcslen(buffer) > text.size()) text = buffer;
    return TRUE;
}

std::string text_of(HWND box) {
    std::wstring text;
    EnumChildWindows(box, longest_static, reinterpret_cast<LPARAM>(&text));
    return veltrane::win::from_wide(text);
}

std::string buttons_of(HWND box) {
    std::string b;
    if (GetDlgItem(box, IDOK)) b += "ok ";
    if (GetDlgItem(box, IDYES)) b += "yes ";
    if (GetDlgItem(box, IDNO)) b += "no ";
    if (GetDlgItem(box, IDCANCEL)) b += "cancel ";
    return b;
}

// The button that Enter presses: the one holding the keyboard focus when the box opens.
int default_button_of(HWND box) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) || !info.hwndFocus) return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

void press(HWND box, int button) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }

// Ends with exit code 0 within 15 s.
void expect_clean_end(const UniqueHandle& process) {
    ASSERT_EQ(WaitForSingleObject(process.get(), 15000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
}

std::string install_text() { return veltrane::win::from_wide((local_app_data() / L"Veltrane_Desktop").wstring()); }

}  // namespace

TEST(Entry, ADownloadedCopyAsksToInstallAlsoForAMisspelledSwitch) {
    for (const wchar_t* args : {L"", L"--RUN", L"/run"}) {
        auto process = start(program_path(), args);
        ASSERT_TRUE(process);
        HWND box = box_of(process);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(text_of(box), "벨트레인을 다음 위치에 설치합니다.\n\n" + install_text() + "\n\n계속하시겠습니까?");
        EXPECT_EQ(buttons_of(box), "yes no ");
        EXPECT_EQ(default_button_of(box), IDNO);
        press(box, IDNO);
        expect_clean_end(process);
    }
}

TEST(Entry, AnExistingInstallationGivesTheThreeWayQuestionAndTheRemovalConfirmation) {
    const auto folder = local_app_data() / L"Veltrane_Desktop";
    std::filesystem::create_directories(folder);
    { UniqueHandle f(CreateFileW((folder / L"Veltrane_Desktop.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)); }

    auto cancelled = start(program_path(), L"");
    HWND three_way = box_of(cancelled);
    ASSERT_NE(three_way, nullptr);
    EXPECT_EQ(text_of(three_way).rfind("벨트레인이 이미 설치되어 있습니다.\n\n위치: " + install_text() + "\n\n예 = 재설치", 0), 0u);
    EXPECT_EQ(buttons_of(three_way), "yes no cancel ");
    EXPECT_EQ(default_button_of(three_way), IDCANCEL);
    press(three_way, IDCANCEL);
    expect_clean_end(cancelled);

    auto removal = start(program_path(), L"");
    HWND first = box_of(removal);
    ASSERT_NE(first, nullptr);
    press(first, IDNO);
    // The confirmation replaces the first box; wait until the first one is gone.
    for (int i = 0; i < 100 && IsWindow(first); ++i) Sleep(50);
    HWND confirm = box_of(removal);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(text_of(confirm).rfind("정말로 삭제하시겠습니까?\n\n" + install_text(), 0), 0u);
    EXPECT_EQ(default_button_of(confirm), IDNO);
    press(confirm, IDNO);
    expect_clean_end(removal);
    EXPECT_TRUE(std::filesystem::exists(folder / L"Veltrane_Desktop.exe"));
}

TEST(Entry, TheInstalledCopyUnderAnotherLetterCaseOpensNoQuestion) {
    const auto folder = local_app_data() / L"VELTRANE_DESKTOP";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(CopyFileW(program_path().c_str(), (folder / L"Veltrane_Desktop.exe").c_str(), FALSE));
    auto process = start((folder / L"Veltrane_Desktop.exe").wstring(), L"");
    ASSERT_TRUE(process);
    expect_clean_end(process);
}

TEST(Entry, AServiceThatCannotStartSaysWhyUnderItsOwnCaption) {
    // The build folder holds no content, so the service has nothing to render.
    auto process = start(program_path(), L"--run");
    ASSERT_TRUE(process);
    HWND box = box_of(process, L"벨트레인");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text_of(box).rfind("PNG 파일을 열 수 없습니다:", 0), 0u) << text_of(box);
    EXPECT_EQ(buttons_of(box), "ok ");
    press(box, IDOK);
    expect_clean_end(process);
}

TEST(Entry, WatchdogAndUpdateSwitchesEndSilently) {
    for (const wchar_t* args : {L"--watchdog 42", L"--watchdog x 1", L"--watchdog 42 -1", L"--watchdog 42 7",
                                L"--apply-update"}) {
        auto process = start(program_path(), args);
        ASSERT_TRUE(process);
        expect_clean_end(process);
    }
}

namespace {

bool pending_deletion_names(const std::wstring& file_name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    std::wstring value;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        value.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size);
    }
    RegCloseKey(key);
    for (auto& c : value) c = static_cast<wchar_t>(towlower(c));
    std::wstring wanted = file_name;
    for (auto& c : wanted) c = static_cast<wchar_t>(towlower(c));
    return value.find(wanted) != std::wstring::npos;
}

}  // namespace

TEST(Entry, TheRemovalHelperReportsTheResultAndRemovesItsOwnCopy) {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path copy = std::filesystem::path(std::wstring(temp, n)) / L"Veltrane_Desktop-remove.exe";
    ASSERT_TRUE(CopyFileW(program_path().c_str(), copy.c_str(), FALSE));
    auto process = start(copy.wstring(), L"--uninstall-helper");
    ASSERT_TRUE(process);
    HWND box = box_of(process);
    ASSERT_NE(box, nullptr);
    // Removal itself is not part of this build, and it says so rather than claim success.
    EXPECT_EQ(text_of(box).rfind("삭제에 실패했습니다.\n\n", 0), 0u) << text_of(box);
    EXPECT_EQ(buttons_of(box), "ok ");
    press(box, IDOK);
    expect_clean_end(process);
    // Deleted at once, or (a running image cannot always be deleted) left to the next restart.
    const bool kept = std::filesystem::exists(copy);
    std::printf("own copy: %s\n", kept ? "left for deletion at the next restart" : "deleted at once");
    EXPECT_TRUE(!kept || pending_deletion_names(L"Veltrane_Desktop-remove.exe"));
}
