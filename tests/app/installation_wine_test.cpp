// Installing, reinstalling and removing with the real program under Wine, answered through
// its message boxes and checked by what the user has afterwards: the install folder, the Run
// value, the Start-menu shortcut, the running service and watchdog, and the wallpaper the
// desktop-wallpaper stand-in shows.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "composition/composition_fixture.h"
#include "file_util/text.h"
#include "ipc/ipc.h"
#include "ipc/ipc_win.h"
#include "program_boxes.h"
#include "settings/settings.h"
#include "update/apply_update.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using win::UniqueHandle;

std::vector<DWORD> program_processes() {
    return processes_named([](std::wstring_view name) {
        return _wcsicmp(std::wstring(name).c_str(), L"Veltrane_Desktop.exe") == 0 ||
               name.starts_with(L"Veltrane_Desktop-uninstall-") || _wcsicmp(std::wstring(name).c_str(), L"setup.exe") == 0;
    });
}

std::wstring environment(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(name, value, 32768);
    return std::wstring(value, n);
}

std::wstring quoted_run(const fs::path& exe) { return L"\"" + exe.wstring() + L"\" --run"; }

const wchar_t* const kUninstallEntryKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veltrane_Desktop";

class Installation : public ::testing::Test {
protected:
    ScratchDir scratch{"installation"};
    fs::path download = scratch / "download";
    fs::path user_wallpaper = scratch / "user.png";
    std::string monitor = standin_default_device_path(0);
    std::wstring saved_local = environment(L"LOCALAPPDATA");
    std::wstring saved_roaming = environment(L"APPDATA");
    fs::path install;

    void SetUp() override {
        ASSERT_TRUE(disable_run_value());
        fill_download(download, kGreen);
        write_png_file(user_wallpaper, 160, 90, kBlue);
        StandinState state;
        state.wallpapers = {{monitor, path_to_utf8(user_wallpaper)}};
        write_standin_state(state);
        use_profile(std::nullopt);
    }
    void TearDown() override {
        (void)ipc::stop_running_instances();
        for (DWORD pid : program_processes()) {
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process) TerminateProcess(process.get(), 9), WaitForSingleObject(process.get(), 5000);
        }
        std::error_code ec;
        fs::remove_all(install, ec);
        SetEnvironmentVariableW(L"LOCALAPPDATA", saved_local.c_str());
        SetEnvironmentVariableW(L"APPDATA", saved_roaming.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallEntryKey);
    }

    static bool disable_run_value() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS) {
            return true;
        }
        const LSTATUS s = RegDeleteValueW(key, L"Veltrane_Desktop");
        RegCloseKey(key);
        return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND;
    }
    // A profile folder of its own (children inherit it), with the Start menu's Programs folder.
    void use_profile(const std::optional<fs::path>& root) {
        if (root) {
            SetEnvironmentVariableW(L"LOCALAPPDATA", (*root / "AppData" / "Local").c_str());
            SetEnvironmentVariableW(L"APPDATA", (*root / "AppData" / "Roaming").c_str());
        }
        fs::create_directories(local_app_data());
        fs::create_directories(shortcut().parent_path());
        install = local_app_data() / "Veltrane_Desktop";
    }
    fs::path shortcut() const { return fs::path(environment(L"APPDATA")) / "Microsoft" / "Windows" / "Start Menu" / "Programs" / L"벨트레인.lnk"; }
    fs::path installed_exe() const { return install / "Veltrane_Desktop.exe"; }

    static void fill_download(const fs::path& folder, Rgb picture) {
        fs::create_directories(folder);
        ASSERT_TRUE(CopyFileW(program_path().c_str(), (folder / "Veltrane_Desktop.exe").c_str(), FALSE));
        write_png_file(folder / "Veltrane_Desktop.png", 400, 300, picture);
        write_raw(folder / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
        ASSERT_TRUE(CopyFileW(unix_file(VELTRANE_TEST_FONT).c_str(), (folder / "Veltrane_Desktop.ttf").c_str(), FALSE));
    }

    std::string wallpaper() const { return standin_wallpaper(monitor); }
    bool composed() const { return path_is_inside(wallpaper(), composite_paths(install).content); }
    bool user_wallpaper_back() const { return wallpaper() == path_to_utf8(user_wallpaper); }

    // Starts the set-up copy, answers its first question and returns the box that follows.
    HWND answer_first_question(UniqueHandle& process, const fs::path& exe, int answer, const std::string& question_start) {
        process = start(exe, L"");
        // A fresh copy's first start under Wine can be slow on a loaded machine.
        HWND question = box_of(process, kSettingsCaption, 60000);
        if (!question) {
            ADD_FAILURE() << "no first question; the set-up copy "
                          << (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT ? "still runs" : "has ended");
            return nullptr;
        }
        EXPECT_EQ(text_of(question).rfind(question_start, 0), 0u) << text_of(question);
        press(question, answer);
        return box_of(process, kSettingsCaption, 90000);
    }
    // The three-way question answered "아니오 = 삭제", then the confirmation; the result text.
    std::string remove_through_setup_question(const fs::path& exe) {
        UniqueHandle process;
        HWND confirm = answer_first_question(process, exe, IDNO, "벨트레인이 이미 설치되어 있습니다.");
        if (!confirm) return "no confirmation";
        EXPECT_EQ(text_of(confirm).rfind("정말로 삭제하시겠습니까?\n\n" + path_to_utf8(install), 0), 0u);
        press(confirm, IDYES);
        HWND result = box_of(process, kSettingsCaption, 60000);
        if (!result) return "no result";
        std::string text = text_of(result);
        press(result, IDOK);
        EXPECT_TRUE(ended_cleanly(process));
        return text;
    }
    void expect_removed() {
        EXPECT_EQ(service_pid(), 0u);
        EXPECT_FALSE(watchdog_alive());
        EXPECT_FALSE(run_value());
        EXPECT_FALSE(fs::exists(shortcut()));
        EXPECT_FALSE(fs::exists(install));
        EXPECT_FALSE(fs::exists(fs::path(install) += ".removing"));
        EXPECT_TRUE(user_wallpaper_back()) << wallpaper();
        HKEY entry = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallEntryKey, 0, KEY_READ, &entry), ERROR_FILE_NOT_FOUND);
        const win::UniqueKey opened(entry);
    }
};

std::string success_text(const fs::path& install, const std::string& files) {
    return "설치가 완료되었고 서비스 실행을 확인했습니다.\n\n위치: " + path_to_utf8(install) + "\n\n복사된 파일:\n" + files +
           "\n\n로그인 자동 시작이 등록되었습니다.";
}
const std::string kAllFiles = "Veltrane_Desktop.exe\nVeltrane_Desktop.png\nVeltrane_Desktop.txt\nVeltrane_Desktop.ttf";

TEST_F(Installation, FirstInstallInAProfileWithABlankAndHangulThenRemovalFromTheSetupQuestion) {
    use_profile(scratch / "Users" / "홍 길동");
    // The product's own Spotlight origin is the public service: the installed service must
    // not reach out from a test, so it runs on the user's own background. A settings file
    // alone is not an installation, and the installer keeps it.
    Settings settings;
    settings.background = BackgroundMode::Original;
    fs::create_directories(install);
    ASSERT_TRUE(write_settings(settings, install / kSettingsFileName).ok());
    UniqueHandle installer;
    HWND done = answer_first_question(installer, download / "Veltrane_Desktop.exe", IDYES, "벨트레인을 다음 위치에 설치합니다.");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(text_of(done), success_text(install, kAllFiles));
    EXPECT_EQ(buttons_of(done), "ok ");
    std::printf("install box:\n%s\n", text_of(done).c_str());

    for (const char* name : {"Veltrane_Desktop.exe", "Veltrane_Desktop.png", "Veltrane_Desktop.txt", "Veltrane_Desktop.ttf"}) {
        EXPECT_EQ(read_raw(install / name), read_raw(download / name)) << name;
    }
    EXPECT_EQ(read_settings(install / kSettingsFileName), settings);
    EXPECT_EQ(run_value(), quoted_run(installed_exe()));
    const auto link = read_shortcut(shortcut());
    ASSERT_TRUE(link);
    EXPECT_EQ(link->target, installed_exe().wstring());
    EXPECT_EQ(link->working_folder, install.wstring());
    EXPECT_EQ(link->icon, installed_exe().wstring());
    EXPECT_EQ(link->icon_index, 0);
    EXPECT_NE(service_pid(), 0u);
    EXPECT_TRUE(wait_until([&] { return composed() && watchdog_alive(); }));
    press(done, IDOK);
    EXPECT_TRUE(ended_cleanly(installer));

    // A restore that fails fails the removal and keeps the whole installation with its
    // records (a held restore lock ends the same way after its 30 s, tested at the lock);
    // the next removal names what no retry can give back: a monitor that is not connected
    // and a damaged record.
    ASSERT_TRUE(ipc::stop_running_instances().ok());
    const OriginalState recorded{4, 0, {{monitor, path_to_utf8(user_wallpaper), "", std::nullopt},
                                        {"\\\\?\\DISPLAY#GONE#1", "", "", std::nullopt}}};
    fs::create_directories(composite_paths(install).folder);
    ASSERT_TRUE(write_original_state(composite_paths(install).state, recorded).ok());
    StandinState composed_state;
    composed_state.wallpapers = {{monitor, path_to_utf8(download / "Veltrane_Desktop.png")}};
    composed_state.extra_lines = {standin_fail("SetWallpaper", 0x80004005, monitor)};
    write_standin_state(composed_state);
    const std::string failed = remove_through_setup_question(download / "Veltrane_Desktop.exe");
    EXPECT_EQ(failed.rfind("삭제에 실패했습니다.\n\n", 0), 0u) << failed;
    EXPECT_EQ(read_raw(installed_exe()), read_raw(download / "Veltrane_Desktop.exe"));
    EXPECT_EQ(read_original_state(composite_paths(install).state), recorded);
    EXPECT_EQ(run_value(), quoted_run(installed_exe()));
    EXPECT_TRUE(fs::exists(shortcut()));
    composed_state.extra_lines.clear();
    write_standin_state(composed_state);
    write_raw(install / "Veltrane_Desktop.wallpaper-backup", "path=\xff\n");
    const std::string removed = remove_through_setup_question(download / "Veltrane_Desktop.exe");
    EXPECT_EQ(removed.rfind("삭제가 완료되었습니다.\n\n복원하지 못한 바탕화면 설정:\n연결되지 않은 모니터 \\\\?\\DISPLAY#GONE#1\n"
                            "바탕화면 백업 읽기 실패: ", 0), 0u) << removed;
    std::printf("removal box: %s\n", removed.c_str());
    expect_removed();
}

TEST_F(Installation, ReinstallKeepsSettingsAndTheWallpaperBackupThenTheSettingsWindowRemovesEverything) {
    // An older installation with content, records, an update and a composed wallpaper.
    fs::create_directories(install / "Content" / "generation-1-1");
    write_raw(install / "Content" / "generation-1-1" / "Veltrane_Desktop.txt", "old");
    write_raw(install / "Veltrane_Desktop.current", "generation-1-1\n");
    fs::create_directories(install / "Update" / "staging");
    write_raw(install / "Update" / "staging" / "ready", "20260101.120000.0");
    write_raw(install / "Veltrane_Desktop.exe", "old program");
    write_raw(install / "Veltrane_Desktop.previous.exe", "older program");
    write_raw(install / "VELTRANE_DESKTOP.WALLPAPER-BACKUP", "path=C:\\w.jpg\n");
    Settings settings;
    settings.background = BackgroundMode::Original;
    settings.disabled_monitors = {"\\\\.\\DISPLAY7"};
    ASSERT_TRUE(write_settings(settings, install / kSettingsFileName).ok());
    const std::string settings_bytes = read_raw(install / kSettingsFileName);
    const auto paths = composite_paths(install);
    fs::create_directories(paths.content / "old");
    write_png_file(paths.content / "old" / "monitor-0.png", 160, 90, kRed);
    OriginalState record;
    record.position = 4;
    record.monitors = {{monitor, path_to_utf8(user_wallpaper), path_to_utf8(paths.backup / "monitor-0.png"),
                        path_to_utf8(paths.content / "old" / "monitor-0.png")}};
    ASSERT_TRUE(write_original_state(paths.state, record).ok());
    StandinState state;
    state.wallpapers = {{monitor, path_to_utf8(paths.content / "old" / "monitor-0.png")}};
    write_standin_state(state);

    UniqueHandle installer;
    HWND done = answer_first_question(installer, download / "Veltrane_Desktop.exe", IDYES, "벨트레인이 이미 설치되어 있습니다.");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(text_of(done), success_text(install, kAllFiles));
    // The installer itself gave the user's wallpaper back before it emptied the folder.
    const std::string restore = std::to_string(GetProcessId(installer.get())) + " SetWallpaper " + monitor + "|" +
                                path_to_utf8(user_wallpaper) + " ";
    const auto calls = standin_calls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [&](const std::string& l) { return l.rfind(restore, 0) == 0; }));
    press(done, IDOK);
    EXPECT_TRUE(ended_cleanly(installer));

    EXPECT_EQ(read_raw(install / kSettingsFileName), settings_bytes);
    // The backup outlived the emptying: the new service, on the user's own background, put it
    // back and retired it.
    EXPECT_TRUE(wait_until([&] { return !fs::exists(install / "VELTRANE_DESKTOP.WALLPAPER-BACKUP"); }));
    EXPECT_EQ(user_registry_text(kDesktopKey, L"Wallpaper"), "C:\\w.jpg");
    EXPECT_EQ(read_raw(installed_exe()), read_raw(download / "Veltrane_Desktop.exe"));
    for (const char* gone : {"Content", "Veltrane_Desktop.current", "Update", "Veltrane_Desktop.previous.exe"}) {
        EXPECT_FALSE(fs::exists(install / gone)) << gone;
    }
    ASSERT_TRUE(wait_until([&] { return composed() && watchdog_alive(); }));

    // Removal from the settings window: a helper copy in TEMP does the work and reports.
    UniqueHandle window_process = start(unix_file(VELTRANE_REMOVAL_CHILD), L"--settings-window-removal");
    HWND confirm = box_of(window_process);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(text_of(confirm), "정말로 삭제하시겠습니까?\n\n" + path_to_utf8(install) +
                                    "\n\n서비스를 종료하고 원래 바탕화면을 복원한 뒤, 자동 시작과 설치 파일을 모두 삭제합니다.");
    EXPECT_EQ(default_button_of(confirm), IDNO);
    const DWORD window_pid = GetProcessId(window_process.get());
    // A copy that an ended helper could not delete goes with this removal.
    const fs::path old_copy = fs::path(environment(L"TEMP")) / "Veltrane_Desktop-uninstall-4242.exe";
    write_raw(old_copy, "MZ");
    press(confirm, IDYES);
    EXPECT_TRUE(ended_cleanly(window_process));  // its window was destroyed
    HWND result = find_box(0, kSettingsCaption, 60000);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(text_of(result), "삭제가 완료되었습니다.");
    DWORD helper_pid = 0;
    GetWindowThreadProcessId(result, &helper_pid);
    UniqueHandle helper(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, helper_pid));
    press(result, IDOK);
    EXPECT_TRUE(ended_cleanly(helper));
    expect_removed();
    EXPECT_FALSE(fs::exists(old_copy));
    const fs::path copy = fs::path(environment(L"TEMP")) / ("Veltrane_Desktop-uninstall-" + std::to_string(window_pid) + ".exe");
    std::printf("helper copy: %s\n", fs::exists(copy) ? "left for deletion at the next restart" : "deleted at once");
}

TEST_F(Installation, AMissingExecutableStopsNothingAFailedCopyKeepsSettingsAndAServiceThatNeverGetsReadyIsReported) {
    fs::create_directories(install);
    for (const char* name : {"Veltrane_Desktop.exe", "Veltrane_Desktop.png", "Veltrane_Desktop.txt", "Veltrane_Desktop.ttf"}) {
        ASSERT_TRUE(CopyFileW((download / name).c_str(), (install / name).c_str(), FALSE));
    }
    ASSERT_TRUE(start_service_and_wait(installed_exe(), install).ok());
    const DWORD running = service_pid();
    ASSERT_NE(running, 0u);

    const fs::path no_program = scratch / "no-program";
    fs::create_directories(no_program);
    ASSERT_TRUE(CopyFileW(program_path().c_str(), (no_program / "setup.exe").c_str(), FALSE));
    UniqueHandle installer;
    HWND failed = answer_first_question(installer, no_program / "setup.exe", IDYES, "벨트레인이 이미 설치되어 있습니다.");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(text_of(failed), "설치에 실패했습니다.\n\n필수 파일이 없습니다.\n\n" + path_to_utf8(no_program / "Veltrane_Desktop.exe"));
    press(failed, IDOK);
    EXPECT_TRUE(ended_cleanly(installer));
    EXPECT_EQ(service_pid(), running);

    // A copy that fails after the folder was emptied leaves the user's settings in place.
    Settings settings;
    settings.method = DisplayMethod::TopLevel;
    ASSERT_TRUE(write_settings(settings, install / kSettingsFileName).ok());
    const std::string settings_bytes = read_raw(install / kSettingsFileName);
    // A damaged wallpaper record does not stop the reinstall; its last box names it.
    ASSERT_TRUE(ipc::stop_running_instances().ok());
    fs::create_directories(composite_paths(install).folder);
    write_raw(composite_paths(install).state, "monitor=zz|\n");
    {
        UniqueHandle locked(CreateFileW((download / "Veltrane_Desktop.png").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(locked);
        failed = answer_first_question(installer, download / "Veltrane_Desktop.exe", IDYES, "벨트레인이 이미 설치되어 있습니다.");
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ(text_of(failed).rfind("설치에 실패했습니다.", 0), 0u) << text_of(failed);
        EXPECT_TRUE(text_of(failed).ends_with("\n\n복원하지 못한 바탕화면 설정:\n바탕화면 백업 상태가 손상되었습니다."))
            << text_of(failed);
        press(failed, IDOK);
        EXPECT_TRUE(ended_cleanly(installer));
    }
    EXPECT_EQ(read_raw(install / kSettingsFileName), settings_bytes);

    // A picture that does not render: the new service reports it and never becomes ready.
    write_raw(download / "Veltrane_Desktop.png", "not a picture");
    installer = start(download / "Veltrane_Desktop.exe", L"");
    HWND question = box_of(installer);
    ASSERT_NE(question, nullptr);
    press(question, IDYES);
    HWND service_box = find_box(0, L"벨트레인", 60000);
    ASSERT_NE(service_box, nullptr);
    press(service_box, IDOK);
    HWND unconfirmed = box_of(installer, kSettingsCaption, 60000);
    ASSERT_NE(unconfirmed, nullptr);
    EXPECT_EQ(text_of(unconfirmed), "설치는 완료했지만 서비스 재실행을 확인하지 못했습니다.\n\n서비스가 제한 시간 안에 준비되지 않았습니다.");
    std::printf("not ready box:\n%s\n", text_of(unconfirmed).c_str());
    press(unconfirmed, IDOK);
    EXPECT_TRUE(ended_cleanly(installer));
    EXPECT_EQ(service_pid(), 0u);
}

TEST_F(Installation, WithoutAppDataInstallStopsAtTheShortcutAndRemovalSkipsIt) {
    SetEnvironmentVariableW(L"APPDATA", nullptr);
    UniqueHandle installer;
    HWND failed = answer_first_question(installer, download / "Veltrane_Desktop.exe", IDYES, "벨트레인을 다음 위치에 설치합니다.");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(text_of(failed), "설치에 실패했습니다.\n\n시작 메뉴 폴더 경로를 확인하지 못했습니다.");
    press(failed, IDOK);
    EXPECT_TRUE(ended_cleanly(installer));
    EXPECT_TRUE(fs::exists(installed_exe()));
    EXPECT_EQ(run_value(), quoted_run(installed_exe()));
    EXPECT_EQ(service_pid(), 0u);

    EXPECT_EQ(remove_through_setup_question(download / "Veltrane_Desktop.exe"), "삭제가 완료되었습니다.");
    EXPECT_FALSE(run_value());
    EXPECT_FALSE(fs::exists(install));
}

}  // namespace
}  // namespace veltrane

namespace veltrane {
namespace {

std::optional<std::wstring> entry_text(const wchar_t* name) {
    wchar_t value[2048];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallEntryKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

DWORD entry_number(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, kUninstallEntryKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// The quiet forms' exit code, failing the test if any box or settings window shows meanwhile.
DWORD run_quietly(const fs::path& exe, const std::wstring& arguments) {
    const UniqueHandle process = start(exe, arguments);
    bool window = false;
    const bool ended = wait_until([&] {
        window = window || FindWindowW(L"#32770", kSettingsCaption) || FindWindowW(ipc::kSettingsClass, nullptr);
        return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
    }, 180000);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(window) << "a window showed during " << path_to_utf8(exe) << " " << win::from_wide(arguments);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

std::string result_record() {
    wchar_t temp[MAX_PATH + 1];
    return read_raw(fs::path(std::wstring(temp, GetTempPathW(MAX_PATH + 1, temp))) / "Veltrane_Desktop-result.txt");
}

TEST_F(Installation, QuietInstallTwiceFromAHangulShareWithABlankThenQuietRemovalByTheEntrysCommand) {
    const fs::path share = scratch.path() / L"배포 폴더";
    fill_download(share, kGreen);
    Settings settings;  // no Spotlight: the installed service must not reach the public service
    settings.background = BackgroundMode::Original;
    fs::create_directories(install);
    ASSERT_TRUE(write_settings(settings, install / kSettingsFileName).ok());
    // Beside an updater, and beside another set-up: 1618 at once, and nothing installed.
    for (const wchar_t* other : {ipc::kUpdaterRunningName, ipc::kSetupName}) {
        const UniqueHandle held(CreateMutexW(nullptr, TRUE, other));
        EXPECT_EQ(run_quietly(share / "Veltrane_Desktop.exe", L"--install --quiet"), 1618u);
        EXPECT_FALSE(fs::exists(installed_exe()));
        EXPECT_NE(result_record().find("종료 코드: 1618"), std::string::npos) << result_record();
        const char* why = other == ipc::kSetupName ? ipc::kOtherSetupMessage : ipc::kUpdatingMessage;
        EXPECT_NE(result_record().find(why), std::string::npos) << result_record();
        ReleaseMutex(held.get());
    }
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(run_quietly(share / "Veltrane_Desktop.exe", L"--install --quiet"), 0u) << result_record();
        EXPECT_EQ(run_value(), quoted_run(installed_exe()));
        EXPECT_TRUE(fs::exists(shortcut()));
        EXPECT_NE(service_pid(), 0u);
        EXPECT_EQ(entry_text(L"DisplayName"), L"벨트레인");
        EXPECT_EQ(entry_text(L"InstallLocation"), install.wstring());
        EXPECT_EQ(entry_text(L"QuietUninstallString"), L"\"" + installed_exe().wstring() + L"\" --remove --quiet");
        EXPECT_FALSE(entry_text(L"DisplayVersion").value_or(L"").empty());
        EXPECT_GT(entry_number(L"EstimatedSize"), 0u);
        EXPECT_EQ(entry_number(L"NoModify"), 1u);
    }
    EXPECT_EQ(read_settings(install / kSettingsFileName), settings);
    EXPECT_TRUE(wait_until([&] { return composed(); }));

    // What a deployment tool runs: the entry's own command, from the installed copy.
    EXPECT_EQ(run_quietly(installed_exe(), L"--remove --quiet"), 0u) << result_record();
    expect_removed();
    EXPECT_EQ(run_quietly(share / "Veltrane_Desktop.exe", L"--remove --quiet"), 0u) << result_record();
}

}  // namespace
}  // namespace veltrane
