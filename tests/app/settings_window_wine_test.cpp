// The settings window of the real installed program under Wine, driven by real clicks: its
// controls where the layout puts them at 96 DPI, "저장" following the choices, saves with
// and without a service, the sync and update buttons, restore, the service button and removal.
#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "composition/composition_fixture.h"
#include "ipc/ipc.h"
#include "program_boxes.h"
#include "settings_layout.h"
#include "sync/server_fixture.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using namespace settings_ui;

struct Found {
    DWORD pid;
    HWND window = nullptr;
};

HWND settings_window_of(DWORD pid, int ms = 60000) {
    for (int waited = 0; waited <= ms; waited += 100) {
        Found f{pid};
        EnumWindows(
            [](HWND w, LPARAM p) -> BOOL {
                auto* f = reinterpret_cast<Found*>(p);
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                wchar_t name[64] = {};
                GetClassNameW(w, name, 64);
                if (owner != f->pid || std::wstring(name) != L"Veltrane_Desktop.Settings" || !IsWindowVisible(w)) return TRUE;
                f->window = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&f));
        if (f.window) return f.window;
        Sleep(100);
    }
    return nullptr;
}

HWND child(HWND window, int id) {
    struct S {
        int id;
        HWND found = nullptr;
    } s{id};
    EnumChildWindows(
        window,
        [](HWND c, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<S*>(p);
            if (GetDlgCtrlID(c) != s->id) return TRUE;
            s->found = c;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// x, y, width, height in the main window's client coordinates.
std::string client_rect(HWND window, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    std::ostringstream out;
    out << r.left << "," << r.top << "," << r.right - r.left << "," << r.bottom - r.top;
    return out.str();
}

// A left click at a screen point, as the mouse gives it, and time for the window to take it.
void click_at(int x, int y, DWORD wait = 400) {
    SetCursorPos(x, y);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
    Sleep(wait);
}

void click(HWND control, DWORD wait = 400) {
    RECT r;
    GetWindowRect(control, &r);
    click_at((r.left + r.right) / 2, (r.top + r.bottom) / 2, wait);
}

void key(WORD vk) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = vk;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
    Sleep(300);
}

void delete_run_value() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key, L"Veltrane_Desktop");
        RegCloseKey(key);
    }
}

// The installed program with its font, no settings file and no Run value.
fs::path install_program() {
    const fs::path install = local_app_data() / "Veltrane_Desktop";
    fs::create_directories(install);
    EXPECT_TRUE(CopyFileW(program_path().c_str(), (install / "Veltrane_Desktop.exe").c_str(), FALSE));
    EXPECT_TRUE(CopyFileW(unix_file(VELTRANE_TEST_FONT).c_str(), (install / "Veltrane_Desktop.ttf").c_str(), FALSE));
    std::error_code ec;
    fs::remove(install / "Veltrane_Desktop.config", ec);
    delete_run_value();
    return install / "Veltrane_Desktop.exe";
}

constexpr const wchar_t* kUserWallpaper = L"C:\\windows\\user-wallpaper.bmp";

std::wstring desktop_value(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) {
        return L"(none)";
    }
    return value;
}

std::wstring window_text(HWND control) {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    return text;
}

bool wait_for_text(HWND control, const std::wstring& text, int ms = 70000) {
    for (int waited = 0; waited < ms; waited += 100) {
        if (window_text(control) == text) return true;
        Sleep(100);
    }
    return false;
}

// The static left of the service button on the first card.
HWND service_text(HWND window) {
    HWND button = child(window, kServiceId);
    RECT b;
    GetWindowRect(button, &b);
    for (HWND c = GetWindow(GetParent(button), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        if (c != button && r.top == b.top && r.right <= b.left && r.left > b.left - 400) return c;
    }
    return nullptr;
}

// The first child whose text starts with `prefix`.
HWND child_with_text(HWND window, const std::wstring& prefix) {
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (window_text(c).rfind(prefix, 0) == 0) return c;
        if (HWND inner = child_with_text(c, prefix)) return inner;
    }
    return nullptr;
}

std::size_t requests_for(const ContentServer& server, const std::string& path) {
    std::size_t n = 0;
    for (const auto& r : server.requests()) n += r.find(path) != std::string::npos;
    return n;
}

// Clicks the control and answers the window's message box with OK; its text, or "" when
// none opened.
std::string answer_to_click(const win::UniqueHandle& process, HWND control) {
    click(control);
    HWND box = box_of(process);
    if (!box) return "";
    const std::string text = text_of(box);
    press(box, IDOK);
    return text;
}

// The control with the keyboard focus in the window's thread.
HWND focused(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// What a screen reader hears of a control, through the system's accessibility client.
struct Heard {
    std::wstring name, description;
    long role = 0, state = 0;
};

Heard heard(HWND control) {
    // The import libraries' copy of this id is wrong in a static link.
    constexpr IID accessible_id{0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    IAccessible* object = nullptr;
    Heard h;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), accessible_id,
                                          reinterpret_cast<void**>(&object)))) {
        return h;
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    if (object->get_accName(self, &name) == S_OK && name) h.name = name;
    SysFreeString(name);
    BSTR description = nullptr;
    if (object->get_accDescription(self, &description) == S_OK && description) h.description = description;
    SysFreeString(description);
    VARIANT v{};
    if (object->get_accRole(self, &v) == S_OK && v.vt == VT_I4) h.role = v.lVal;
    if (object->get_accState(self, &v) == S_OK && v.vt == VT_I4) h.state = v.lVal;
    object->Release();
    return h;
}

bool checked(HWND control) { return (heard(control).state & STATE_SYSTEM_CHECKED) != 0; }

void pause_for_screenshot() {
    if (const char* shot = std::getenv("VELTRANE_SETTINGS_SHOT_PAUSE")) Sleep(static_cast<DWORD>(std::atoi(shot)));
}

void set_system_dpi(DWORD dpi) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    RegCloseKey(key);
}

// The installed program with no settings file, the user's own wallpaper set, and its
// settings window open; whatever a test leaves running is ended.
class SettingsWindow : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        exe = install_program();
        install = exe.parent_path();
        SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(kUserWallpaper), SPIF_UPDATEINIFILE);
        process = start(exe, L"");
        window = settings_window_of(GetProcessId(process.get()));
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        if (process && WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
        (void)ipc::stop_running_instances();
    }
    // The window again, reading the settings file as it is now.
    void reopen() {
        PostMessageW(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(ended_cleanly(process));
        process = start(exe, L"");
        window = settings_window_of(GetProcessId(process.get()));
        ASSERT_NE(window, nullptr);
    }
    fs::path exe, install;
    win::UniqueHandle process;
    HWND window = nullptr;
};

TEST_F(SettingsWindow, OpensLaidOutAndTellsAScreenReaderWhatEachControlIs) {
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 519);

    EXPECT_EQ(client_rect(window, child(window, kSaveId)), "532,479,100,32");
    EXPECT_EQ(client_rect(window, child(window, kAutostartId)), "356,479,160,32");
    EXPECT_EQ(client_rect(window, child(window, kRestoreId)), "8,479,120,32");
    EXPECT_EQ(client_rect(window, child(window, kRemoveId)), "136,479,64,32");
    EXPECT_EQ(client_rect(window, child(window, kUpdateId)), "504,44,112,24");
    EXPECT_EQ(client_rect(window, child(window, kTopLevelId)), "24,222,276,28");
    EXPECT_EQ(client_rect(window, child(window, kSpotlightId)), "340,242,276,24");
    EXPECT_EQ(client_rect(window, child(window, kFirstMonitorId)), "40,404,160,26");
    wchar_t service[32] = {};
    GetWindowTextW(child(window, kServiceId), service, 32);
    EXPECT_EQ(std::wstring(service), L"서비스 실행");

    pause_for_screenshot();

    // A screen reader hears each control's meaning, kind and state.
    const Heard option = heard(child(window, kSpotlightId));
    EXPECT_EQ(option.name, L"Windows Spotlight · 6시간마다 갱신");
    EXPECT_EQ(option.role, ROLE_SYSTEM_RADIOBUTTON);
    EXPECT_TRUE(option.state & STATE_SYSTEM_CHECKED);
    EXPECT_FALSE(checked(child(window, kBlackId)));
    const Heard monitor = heard(child(window, kFirstMonitorId));
    EXPECT_EQ(monitor.name, L"모니터 1 항생제표 표시");
    EXPECT_EQ(monitor.role, ROLE_SYSTEM_CHECKBUTTON);
    EXPECT_TRUE(monitor.state & STATE_SYSTEM_CHECKED);
    EXPECT_EQ(heard(child(window, kAutostartId)).role, ROLE_SYSTEM_CHECKBUTTON);
    EXPECT_FALSE(checked(child(window, kAutostartId)));
    const Heard save_button = heard(child(window, kSaveId));
    EXPECT_EQ(save_button.name, L"저장");
    EXPECT_EQ(save_button.role, ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_TRUE(save_button.state & STATE_SYSTEM_UNAVAILABLE);

    // Nothing to restore yet: the information text, and neither settings nor wallpaper change.
    EXPECT_EQ(answer_to_click(process, child(window, kRestoreId)), "되돌릴 바탕화면 기록이 없습니다.");
    EXPECT_FALSE(fs::exists(install / "Veltrane_Desktop.config"));
    EXPECT_EQ(desktop_value(L"Wallpaper"), kUserWallpaper);

    // Another process is checking for an update; the focus comes back from the box.
    {
        win::UniqueHandle other(CreateEventW(nullptr, TRUE, FALSE, ipc::kUpdateCheckName));
        EXPECT_EQ(answer_to_click(process, child(window, kUpdateId)), "다른 프로세스에서 이미 업데이트를 확인하고 있습니다.");
        EXPECT_EQ(focused(window), child(window, kUpdateId));
    }
}

TEST_F(SettingsWindow, KeysSyncChooseAndSaveAndTheFocusMovesOnFromWhatTheyDisable) {
    // "지금 동기화" against the content server, pressed twice while the server is slow.
    ContentServer server;
    write_png_file(install / "chart.png", 400, 300, kGreen);
    server.put("duty.txt", "당직: 내과 김의사");
    server.put("current.json", R"({"updatedAt": "2026-12-08T10:20:00+09:00", "imageEtag": "c1", "textEtag": "t1"})");
    server.put("images/c1.png", read_raw(install / "chart.png"));
    server.put("texts/t1.txt", "계열|약제|등급\n");
    server.set_faults(R"({"/api/veltrane/current": {"delay": 2}})");
    HWND sync = child(window, kSyncId);
    HWND last_sync = child_with_text(window, L"최근: ");
    ASSERT_NE(last_sync, nullptr);
    // From the keyboard: the focus moves on from the button it disables, and Tab still works.
    key(VK_TAB);
    ASSERT_EQ(focused(window), sync);
    key(VK_SPACE);
    EXPECT_FALSE(IsWindowEnabled(sync));
    EXPECT_EQ(window_text(last_sync), L"최근: 확인 중...");
    EXPECT_EQ(focused(window), child(window, kServiceId));
    key(VK_TAB);
    EXPECT_EQ(focused(window), child(window, kCompositeId));
    click(sync);
    ASSERT_TRUE(wait_until([&] { return IsWindowEnabled(sync) != FALSE; }));
    EXPECT_EQ(window_text(last_sync).rfind(L"최근: 20", 0), 0u) << win::from_wide(window_text(last_sync));
    EXPECT_EQ(requests_for(server, "/api/veltrane/current"), 1u);
    fs::remove(install / "chart.png");

    HWND save = child(window, kSaveId);
    EXPECT_FALSE(IsWindowEnabled(save));
    click(child(window, kBlackId));
    EXPECT_TRUE(IsWindowEnabled(save));
    click(child(window, kSpotlightId));  // back to the saved Spotlight
    EXPECT_FALSE(IsWindowEnabled(save));
    HWND toggle = child(window, kFirstMonitorId);
    click(toggle);  // the only monitor off ...
    EXPECT_FALSE(checked(toggle));
    EXPECT_TRUE(IsWindowEnabled(save));
    EXPECT_FALSE(heard(save).state & STATE_SYSTEM_UNAVAILABLE);
    key(VK_SPACE);  // ... and on again from the keyboard, the toggle keeping the focus
    EXPECT_TRUE(heard(toggle).state & STATE_SYSTEM_FOCUSED);
    EXPECT_TRUE(checked(toggle));
    EXPECT_FALSE(IsWindowEnabled(save));
    click(child(window, kTopLevelId));
    EXPECT_TRUE(IsWindowEnabled(save));
    click(child(window, kAutostartId));  // autostart on
    EXPECT_TRUE(checked(child(window, kAutostartId)));

    // Tab from the autostart toggle reaches "저장"; Enter saves.
    key(VK_TAB);
    EXPECT_EQ(box_of(process, kSettingsCaption, 100), nullptr);
    key(VK_RETURN);
    HWND box = box_of(process);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text_of(box), "설정을 저장했습니다.\n\nWindows Spotlight는 서비스를 실행하면 내려받아 적용합니다.");
    key(VK_RETURN);  // the box's OK
    ASSERT_TRUE(wait_until([&] { return !IsWindow(box); }, 5000));
    // "저장" is disabled and the keyboard is on the control after it, never on an old one.
    EXPECT_FALSE(IsWindowEnabled(save));
    EXPECT_TRUE(wait_until([&] { return focused(window) == child(window, kUpdateId); }, 2000));
    EXPECT_EQ(read_raw(install / "Veltrane_Desktop.config"),
              "method=top_level\nbackground=spotlight\nspotlight_wallpaper=on\n");
    EXPECT_EQ(run_value(), L"\"" + exe.wstring() + L"\" --run");
}

TEST_F(SettingsWindow, WithoutAServiceBackgroundsApplyHereAndRestoreGivesTheWallpaperBack) {
    // Black applied to the real wallpaper while no service runs, then put back by the restore,
    // which moves the content to overlay windows over the user's own wallpaper.
    HWND save = child(window, kSaveId);
    click(child(window, kAutostartId));
    click(child(window, kBlackId));
    EXPECT_EQ(answer_to_click(process, save), "설정을 저장하고 적용했습니다.");
    EXPECT_EQ(desktop_value(L"Wallpaper"), L"");
    EXPECT_EQ(run_value(), L"\"" + exe.wstring() + L"\" --run");
    {
        // The restore waits for the restore lock on a worker: the window keeps answering.
        const win::UniqueHandle held(CreateMutexW(nullptr, FALSE, ipc::kWallpaperRestoreName));
        ASSERT_EQ(WaitForSingleObject(held.get(), 0), WAIT_OBJECT_0);
        click(child(window, kRestoreId));
        DWORD_PTR answered = 0;
        EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answered), 0);
        EXPECT_FALSE(IsWindowEnabled(child(window, kRestoreId)));
        EXPECT_EQ(desktop_value(L"Wallpaper"), L"");
        ReleaseMutex(held.get());
    }
    HWND restored = box_of(process);
    EXPECT_EQ(text_of(restored), "이전 바탕화면으로 되돌렸습니다.");
    press(restored, IDOK);
    EXPECT_EQ(desktop_value(L"Wallpaper"), kUserWallpaper);
    EXPECT_EQ(read_raw(install / "Veltrane_Desktop.config"),
              "method=top_level\nbackground=original\nspotlight_wallpaper=off\n");
    EXPECT_FALSE(IsWindowEnabled(save));

    // A Spotlight picture already downloaded is applied here while no service runs: the
    // user's wallpaper is backed up first, then the picture is set, filling the screen.
    const fs::path picture = install / "Spotlight" / "spotlight-1765000000.jpg";
    fs::create_directories(picture.parent_path());
    write_jpeg_file(picture, 64, 36, kYellow);
    click(child(window, kSpotlightId));
    EXPECT_EQ(answer_to_click(process, save), "설정을 저장하고 적용했습니다.");
    EXPECT_EQ(desktop_value(L"Wallpaper"), picture.wstring());
    EXPECT_EQ(desktop_value(L"WallpaperStyle"), L"10");
    EXPECT_EQ(desktop_value(L"TileWallpaper"), L"0");
    EXPECT_EQ(read_raw(install / "Veltrane_Desktop.wallpaper-backup").rfind("path=C:\\windows\\user-wallpaper.bmp\n", 0), 0u);
    // ... and the user's own wallpaper is back with "기존 바탕화면 유지". Autostart is written
    // again on every save, changed or not.
    // The save's wallpapers wait for the restore lock on the worker: the window keeps answering.
    delete_run_value();
    click(child(window, kOriginalId));
    {
        const win::UniqueHandle held(CreateMutexW(nullptr, FALSE, ipc::kWallpaperRestoreName));
        ASSERT_EQ(WaitForSingleObject(held.get(), 0), WAIT_OBJECT_0);
        PostMessageW(save, BM_CLICK, 0, 0);
        Sleep(500);
        DWORD_PTR answered = 0;
        EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answered), 0);
        EXPECT_FALSE(IsWindowEnabled(child(window, kRestoreId)));
        EXPECT_EQ(desktop_value(L"Wallpaper"), picture.wstring());
        ReleaseMutex(held.get());
    }
    HWND saved = box_of(process);
    EXPECT_EQ(text_of(saved), "설정을 저장하고 적용했습니다.");
    press(saved, IDOK);
    EXPECT_EQ(desktop_value(L"Wallpaper"), kUserWallpaper);
    EXPECT_EQ(run_value(), L"\"" + exe.wstring() + L"\" --run");
}

TEST_F(SettingsWindow, TheServiceButtonStartsAndStopsAndAStopOutlivesTheClosedWindow) {
    write_raw(install / "Veltrane_Desktop.config", "method=top_level\nbackground=original\nspotlight_wallpaper=off\n");
    // A proxy that wanted a password at the last sync is named beside the service state.
    write_raw(install / "Veltrane_Desktop.sync-status", "2026.12.08/10:20 실패\n프록시 서버가 인증을 요구합니다: proxy.ward:8080");
    reopen();
    EXPECT_TRUE(wait_for_text(service_text(window), L"중지됨 · 프록시 서버가 인증을 요구합니다: proxy.ward:8080", 2000));
    fs::remove(install / "Veltrane_Desktop.sync-status");
    EXPECT_TRUE(wait_for_text(service_text(window), L"중지됨", 2000));
    // A work-done message no worker sent changes nothing.
    PostMessageW(window, WM_APP + 1, 0, 0);
    HWND save = child(window, kSaveId);
    // The service button starts the service (overlay windows appear) and stops it again.
    write_png_file(install / "Veltrane_Desktop.png", 400, 300, kGreen);
    write_raw(install / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
    // The start runs on a worker: the button is busy and the window keeps answering. The
    // restore lock, which the starting service waits for, holds the start there meanwhile.
    {
        const win::UniqueHandle held(CreateMutexW(nullptr, FALSE, ipc::kWallpaperRestoreName));
        ASSERT_EQ(WaitForSingleObject(held.get(), 0), WAIT_OBJECT_0);
        click(child(window, kServiceId), 0);
        EXPECT_TRUE(wait_for_text(child(window, kServiceId), L"시작 중…", 2000));
        EXPECT_FALSE(IsWindowEnabled(child(window, kServiceId)));
        DWORD_PTR answer = 0;
        EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer), 0);
        EXPECT_TRUE(heard(child(window, kServiceId)).state & STATE_SYSTEM_UNAVAILABLE);
        ReleaseMutex(held.get());
    }
    EXPECT_TRUE(wait_for_text(child(window, kServiceId), L"서비스 중지"));
    EXPECT_TRUE(IsWindowEnabled(child(window, kServiceId)));
    EXPECT_EQ(window_text(service_text(window)), L"실행중");
    EXPECT_NE(FindWindowW(ipc::kLayerClass, nullptr), nullptr);
    pause_for_screenshot();

    // Saved while the service runs: the service composes instead of showing windows.
    click(child(window, kCompositeId));
    EXPECT_EQ(answer_to_click(process, save), "설정을 저장하고 적용했습니다.");
    EXPECT_EQ(read_raw(install / "Veltrane_Desktop.config"),
              "method=wallpaper_composite\nbackground=original\nspotlight_wallpaper=off\n");
    EXPECT_TRUE(wait_until([] { return FindWindowW(ipc::kLayerClass, nullptr) == nullptr; }));
    EXPECT_TRUE(wait_until([&] {
        return path_is_inside(standin_wallpaper(standin_default_device_path(0)), composite_paths(install).content);
    }));
    // ... and back to overlay windows, which the service shows again.
    click(child(window, kTopLevelId));
    EXPECT_EQ(answer_to_click(process, save), "설정을 저장하고 적용했습니다.");
    EXPECT_TRUE(wait_until([] { return FindWindowW(ipc::kLayerClass, nullptr) != nullptr; }));
    // Closed during "중지 중…" (held there by the restore lock the stopping service waits for):
    // the window stays until the stop is done, and the stop stays.
    const win::UniqueHandle restore_lock(CreateMutexW(nullptr, FALSE, ipc::kWallpaperRestoreName));
    ASSERT_EQ(WaitForSingleObject(restore_lock.get(), 0), WAIT_OBJECT_0);
    click(child(window, kServiceId), 0);
    EXPECT_TRUE(wait_for_text(child(window, kServiceId), L"중지 중…", 10000));
    PostMessageW(window, WM_CLOSE, 0, 0);
    Sleep(1000);
    EXPECT_TRUE(IsWindow(window));
    ReleaseMutex(restore_lock.get());
    EXPECT_TRUE(ended_cleanly(process, 45000));
    const auto stopped = [] {
        return !ipc::is_service_running() && !watchdog_alive() && FindWindowW(ipc::kLayerClass, nullptr) == nullptr;
    };
    EXPECT_TRUE(stopped());
    EXPECT_FALSE(wait_until([&] { return !stopped(); }, 10000));  // a watchdog restarts at once
}

TEST_F(SettingsWindow, RemovalClosesEverySettingsWindowAndRemovesEverything) {
    // "삭제" confirmed: the removal helper closes every settings window and removes everything.
    win::UniqueHandle second = start(exe, L"");
    HWND second_window = settings_window_of(GetProcessId(second.get()));
    ASSERT_NE(second_window, nullptr);
    click(child(second_window, kRemoveId));  // it opened over the other one
    HWND confirm = box_of(second);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(text_of(confirm).rfind("정말로 삭제하시겠습니까?", 0), 0u);
    press(confirm, IDYES);
    EXPECT_TRUE(ended_cleanly(process));
    EXPECT_TRUE(ended_cleanly(second));
    HWND result = find_box(0, kSettingsCaption, 60000);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(text_of(result), "삭제가 완료되었습니다.");
    press(result, IDOK);
    EXPECT_FALSE(fs::exists(install));
    EXPECT_FALSE(run_value());
}

// Group Policy fixes the background and forbids the manual update check for this user: the
// window shows both, disabled, with the administrator's note, and a screen reader hears why.
struct BackgroundPolicy {
    BackgroundPolicy() {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Policies\\Veltrane\\Veltrane_Desktop", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr);
        const wchar_t black[] = L"black";
        RegSetValueExW(key, L"Background", 0, REG_SZ, reinterpret_cast<const BYTE*>(black), sizeof black);
        const DWORD off = 0;
        RegSetValueExW(key, L"ManualUpdateCheck", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
        RegCloseKey(key);
    }
    ~BackgroundPolicy() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Policies\\Veltrane"); }
};

// The system DPI a new process reads from the prefix; the whole layout scales with it.
TEST(SettingsWindowDpi, LayoutScalesAt144DpiMovesWithTheDpiAndShowsWhatPolicyFixes) {
    // Sizes of another process's windows as they are, not mapped to this process's DPI.
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const fs::path exe = install_program();
    const BackgroundPolicy policy;
    set_system_dpi(144);
    win::UniqueHandle process = start(exe, L"");
    HWND window = settings_window_of(GetProcessId(process.get()));
    set_system_dpi(96);
    ASSERT_NE(window, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const Heard fixed = heard(child(window, kBlackId));
    EXPECT_TRUE(fixed.state & STATE_SYSTEM_CHECKED);
    EXPECT_TRUE(fixed.state & STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(fixed.description, L"관리자가 설정함");
    EXPECT_FALSE(IsWindowEnabled(child(window, kSpotlightId)));
    EXPECT_EQ(heard(child(window, kUpdateId)).description, L"관리자가 설정함");
    EXPECT_FALSE(IsWindowEnabled(child(window, kUpdateId)));
    EXPECT_TRUE(IsWindowVisible(child(window, kPolicyNoteOffset + kOriginalId)));
    EXPECT_FALSE(IsWindowVisible(child(window, kPolicyNoteOffset + kCompositeId)));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 960);
    EXPECT_EQ(client.bottom, 778);
    EXPECT_EQ(client_rect(window, child(window, kSaveId)), "798,718,150,48");
    EXPECT_EQ(client_rect(window, child(window, kFirstMonitorId)), "60,606,240,39");
    pause_for_screenshot();

    // Moved to a 96-DPI monitor with an unsaved choice: the same controls move and keep the
    // choice and the keyboard focus. Wine never sends the message itself; the suggested
    // rectangle is placed in the window's process, where the window reads it.
    HWND top_level = child(window, kTopLevelId);
    click(top_level);
    ASSERT_TRUE(IsWindowEnabled(child(window, kSaveId)));
    ASSERT_EQ(focused(window), top_level);
    RECT suggested{20, 30, 0, 0};
    win::UniqueHandle target(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, GetProcessId(process.get())));
    void* remote = VirtualAllocEx(target.get(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(target.get(), remote, &suggested, sizeof suggested, nullptr));
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(remote));
    // The frame of a 640 × 519 client at 96 DPI; Wine keeps drawing the caption at the
    // process's DPI, so the client itself comes out a few pixels lower there.
    RECT frame{0, 0, 640, 519};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), 96);
    RECT placed;
    GetWindowRect(window, &placed);
    EXPECT_EQ(placed.left, 20);
    EXPECT_EQ(placed.top, 30);
    EXPECT_EQ(placed.right - placed.left, frame.right - frame.left);
    EXPECT_EQ(placed.bottom - placed.top, frame.bottom - frame.top);
    EXPECT_EQ(client_rect(window, child(window, kSaveId)), "532,479,100,32");
    EXPECT_TRUE(IsWindowEnabled(child(window, kSaveId)));
    EXPECT_EQ(child(window, kTopLevelId), top_level);
    EXPECT_EQ(focused(window), top_level);
    EXPECT_TRUE(checked(top_level));
    EXPECT_FALSE(checked(child(window, kCompositeId)));

    // At 250 % the 1297-pixel client is too tall for the 1080-pixel screen: the window keeps
    // to the work area, and its content scrolls by wheel, scroll bar and Tab.
    ASSERT_TRUE(WriteProcessMemory(target.get(), remote, &suggested, sizeof suggested, nullptr));
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(240, 240), reinterpret_cast<LPARAM>(remote));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    GetWindowRect(window, &placed);
    EXPECT_GE(placed.top, monitor.rcWork.top);
    EXPECT_LE(placed.bottom, monitor.rcWork.bottom);
    EXPECT_NE(GetWindowLongW(window, GWL_STYLE) & WS_VSCROLL, 0);
    GetClientRect(window, &client);
    EXPECT_GE(client.right, 1600);  // Wine draws the scroll bar narrower than asked for
    HWND save = child(window, kSaveId);
    const auto save_top = [&] {
        RECT r;
        GetWindowRect(save, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        return r.top;
    };
    EXPECT_GT(save_top(), client.bottom);  // below the fold
    click(top_level);  // selected already; Tab on to "저장", past the options policy fixes
    for (int i = 0; i < 5; ++i) key(VK_TAB);
    EXPECT_EQ(focused(window), save);
    const int in_view = save_top();
    EXPECT_LE(in_view + 80, client.bottom);
    EXPECT_GT(in_view + 80, client.bottom - 40);
    POINT centre{client.right / 2, client.bottom / 2};
    ClientToScreen(window, &centre);
    SetCursorPos(centre.x, centre.y);
    INPUT wheel{};
    wheel.type = INPUT_MOUSE;
    wheel.mi.dwFlags = MOUSEEVENTF_WHEEL;
    wheel.mi.mouseData = WHEEL_DELTA;
    SendInput(1, &wheel, sizeof wheel);
    Sleep(300);
    EXPECT_EQ(save_top(), 1197);  // one notch is 100 units, more than the overflow: back at the top
    POINT arrow{client.right + 4, client.bottom - 4};  // the scroll bar's down arrow
    ClientToScreen(window, &arrow);
    click_at(arrow.x, arrow.y);
    EXPECT_EQ(save_top(), 1197 - 250);  // one line down from the top
    pause_for_screenshot();

    // A save writes what policy leaves free and applies what it fixes: the file keeps its own
    // background, the desktop shows the policy's black.
    PostMessageW(save, BM_CLICK, 0, 0);
    HWND saved = box_of(process);
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(text_of(saved), "설정을 저장하고 적용했습니다.");
    press(saved, IDOK);
    EXPECT_EQ(read_raw(exe.parent_path() / "Veltrane_Desktop.config"),
              "method=top_level\nbackground=spotlight\nspotlight_wallpaper=on\n");
    EXPECT_EQ(desktop_value(L"Wallpaper"), L"");
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(ended_cleanly(process));
}

// In the four-monitor runtime: one card per monitor in a viewport that scrolls, and the badge
// on the primary monitor's card with its size text narrowed.
TEST(SettingsWindowMonitors, TheViewportScrollsOverFourMonitorsAndTheBadgeMarksThePrimary) {
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 4);
    const fs::path exe = install_program();
    win::UniqueHandle process = start(exe, L"");
    HWND window = settings_window_of(GetProcessId(process.get()));
    ASSERT_NE(window, nullptr);
    pause_for_screenshot();

    int badges = 0;
    for (int i = 0; i < 4; ++i) {
        HWND card = GetParent(child(window, kFirstMonitorId + i));
        ASSERT_NE(card, nullptr);
        HWND size = child_with_text(card, L"1");
        ASSERT_NE(size, nullptr);
        RECT r;
        GetWindowRect(size, &r);
        const bool primary = child_with_text(card, L"주 모니터") != nullptr;
        badges += primary;
        EXPECT_EQ(r.right - r.left, primary ? 96 : 160) << "card " << i;
        if (primary) {
            EXPECT_EQ(window_text(size), L"1920x1080\n위치 (0, 0)");
        }
    }
    EXPECT_EQ(badges, 1);

    // Scroll information stays in the window's own process under Wine; the cards' places
    // tell the range: steps of 100, and at the right end 4 × 200 − 8 units less a page of 592.
    HWND viewport = GetParent(GetParent(child(window, kFirstMonitorId)));
    RECT v;
    GetWindowRect(viewport, &v);
    const auto first_card_left = [&] {
        RECT card;
        GetWindowRect(GetParent(child(window, kFirstMonitorId)), &card);
        return card.left - v.left;
    };
    EXPECT_EQ(first_card_left(), 0);
    const auto click_right_arrow = [&] {
        click_at(v.right - GetSystemMetrics(SM_CXHSCROLL) / 2, v.bottom - GetSystemMetrics(SM_CYHSCROLL) / 2);
    };
    click_right_arrow();
    EXPECT_EQ(first_card_left(), -100);
    SendMessageW(viewport, WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_EQ(first_card_left(), -(4 * 200 - 8 - 592));
    click_right_arrow();
    EXPECT_EQ(first_card_left(), -(4 * 200 - 8 - 592));
    pause_for_screenshot();
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(ended_cleanly(process));
}

}  // namespace
}  // namespace veltrane
