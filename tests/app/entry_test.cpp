// The real Veltrane_Desktop.exe started as a process, checked by what the user sees: which
// message box appears, with which text and buttons, and that every path ends with code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "program_boxes.h"

using veltrane::win::UniqueHandle;
using namespace veltrane::testing;

namespace {

// Ends with exit code 0 within 15 s.
void expect_clean_end(const UniqueHandle& process) { EXPECT_TRUE(ended_cleanly(process)); }

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
    // It opens the settings window instead, and ends when that is closed.
    HWND window = nullptr;
    for (int i = 0; i < 150 && !window; ++i, Sleep(100)) {
        HWND w = FindWindowW(L"Veltrane_Desktop.Settings", nullptr);
        DWORD pid = 0;
        if (w) GetWindowThreadProcessId(w, &pid);
        if (pid == GetProcessId(process.get())) window = w;
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(box_of(process, kSettingsCaption, 500), nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
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

TEST(Entry, TheRemovalHelperOfNoInstallationSucceedsAndRemovesItsOwnCopy) {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path copy = std::filesystem::path(std::wstring(temp, n)) / L"Veltrane_Desktop-remove.exe";
    ASSERT_TRUE(CopyFileW(program_path().c_str(), copy.c_str(), FALSE));
    auto process = start(copy.wstring(), L"--uninstall-helper");
    ASSERT_TRUE(process);
    HWND box = box_of(process);
    ASSERT_NE(box, nullptr);
    // Nothing was installed: no records, no Run value, no folder; removal still succeeds.
    EXPECT_EQ(text_of(box), "삭제가 완료되었습니다.");
    EXPECT_EQ(buttons_of(box), "ok ");
    press(box, IDOK);
    expect_clean_end(process);
    // Deleted at once, or (a running image cannot always be deleted) left to the next restart.
    const bool kept = std::filesystem::exists(copy);
    std::printf("own copy: %s\n", kept ? "left for deletion at the next restart" : "deleted at once");
    EXPECT_TRUE(!kept || pending_deletion_names(L"Veltrane_Desktop-remove.exe"));
}
