// Updates of an installed program under Wine, released with the signing tool to the
// content-server stand-in: the real product updating itself; and the fault matrix, every
// process of the program (the updater among them) ended after each of its steps.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "composition/composition_fixture.h"
#include "image/png_image.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "program_boxes.h"
#include "update/apply_update_win.h"
#include "settings/settings.h"
#include "support/test_paths.h"
#include "sync/server_fixture.h"
#include "update_wine_support.h"
#include "update/apply_update.h"
#include "update/update_check.h"
#include "update/update_state.h"
#include "wallpaper/original_state.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using win::UniqueHandle;

const BuildVersion kOld{20261019, 230507};
const BuildVersion kNew{20261020, 101010};

UpdateState final_state(const fs::path& folder) {
    UpdateState record;
    wait_until(
        [&] {
            record = read_update_state(folder / kUpdateStateFile);
            return record.status == UpdateStatus::Updated || record.status == UpdateStatus::RolledBack ||
                   record.status == UpdateStatus::Failed;
        },
        180000);
    return record;
}

class InstalledProgram : public ::testing::Test {
protected:
    ScratchDir scratch{"product-update"};
    fs::path install = *install_folder();
    std::string monitor = standin_default_device_path(0);

    void SetUp() override {
        fs::remove_all(install);
        fs::create_directories(install);
        StandinState desktop;
        write_png_file(scratch / "user.png", 160, 90, kBlue);
        desktop.wallpapers = {{monitor, path_to_utf8(scratch / "user.png")}};
        write_standin_state(desktop);
    }
    void TearDown() override {
        (void)ipc::stop_running_instances();
        for (DWORD pid : processes_named([](std::wstring_view name) { return name == L"Veltrane_Desktop.exe"; })) {
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process) TerminateProcess(process.get(), 9);
            if (process) WaitForSingleObject(process.get(), 5000);
        }
        std::error_code ec;
        fs::remove_all(install, ec);
    }
    std::string file(const char* name) const { return read_raw(install / name); }
};

// The installed build's own service finds the newer release at its retry of a failed
// automatic check, stages it and hands over to the updater; the newer service comes up.
TEST_F(InstalledProgram, TheServiceUpdatesItselfToTheNewerRelease) {
    ContentServer server;
    const std::string old_exe = read_raw(program_path());
    const std::string new_exe = read_raw(unix_file(VELTRANE_NEW_PROGRAM));
    write_raw(install / kInstalledExecutableName, old_exe);
    ASSERT_TRUE(CopyFileW(unix_file(VELTRANE_TEST_FONT).c_str(), (install / kInstalledFontName).c_str(), FALSE));
    write_png_file(install / "Veltrane_Desktop.png", 400, 300, kGreen);
    write_raw(install / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
    Settings settings;
    settings.background = BackgroundMode::Original;
    ASSERT_TRUE(write_settings(settings, install / "Veltrane_Desktop.config").ok());
    // The check of this morning's slot failed more than half an hour ago.
    UpdateState record;
    record.last_automatic_slot = 2026120809;
    record.last_attempt = utc_seconds_now() - 2000;
    record.attempts = 1;
    record.status = UpdateStatus::Failed;
    ASSERT_TRUE(write_update_state(record, install / kUpdateStateFile).ok());
    write_raw(scratch / "new.ttf", "a newer font");
    ASSERT_EQ(publish_test_release(unix_file(VELTRANE_NEW_PROGRAM), scratch / "new.ttf"), "");

    ASSERT_TRUE(start_service_and_wait(install / kInstalledExecutableName, install).ok());
    const DWORD old_service = service_pid();
    record = final_state(install);

    EXPECT_EQ(record.status, UpdateStatus::Updated);
    EXPECT_EQ(record.staged_build, kNew);
    EXPECT_EQ(record.attempts, 2u);
    EXPECT_TRUE(file(kInstalledExecutableName) == new_exe);
    EXPECT_TRUE(file(kExecutableBackupName) == old_exe);
    EXPECT_EQ(file(kInstalledFontName), "a newer font");
    EXPECT_TRUE(fs::exists(install / kFontBackupName));
    EXPECT_FALSE(fs::exists(staging_folder(install)));
    EXPECT_NE(service_pid(), 0u);
    EXPECT_NE(service_pid(), old_service);
    EXPECT_TRUE(wait_until(watchdog_alive));
    EXPECT_TRUE(wait_until([&] { return path_is_inside(standin_wallpaper(monitor), composite_paths(install).content); }));
}

// An ended updater left the new build, which then started twice without becoming ready: its
// next start, before it reads the font, hands over to a helper copy that puts the previous
// build back, records the new one rolled back and starts the previous service.
TEST_F(InstalledProgram, ANewBuildThatNeverBecameReadyIsPutBackAtItsNextStart) {
    const std::string old_exe = read_raw(program_path());
    const std::string old_font = read_raw(unix_file(VELTRANE_TEST_FONT));
    write_raw(install / kInstalledExecutableName, read_raw(unix_file(VELTRANE_NEW_PROGRAM)));
    write_raw(install / kInstalledFontName, "a newer font");
    write_raw(install / kExecutableBackupName, old_exe);
    write_raw(install / kFontBackupName, old_font);
    write_png_file(install / "Veltrane_Desktop.png", 400, 300, kGreen);
    write_raw(install / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
    UpdateState record;
    record.status = UpdateStatus::Applying;
    record.staged_build = kNew;
    record.unready_starts = 2;
    ASSERT_TRUE(write_update_state(record, install / kUpdateStateFile).ok());
    UniqueHandle previous_ready(CreateEventW(nullptr, TRUE, FALSE, ipc::service_ready_event_name(kOld).c_str()));
    ResetEvent(previous_ready.get());

    ASSERT_TRUE(start(install / kInstalledExecutableName, L"--run"));
    ASSERT_EQ(WaitForSingleObject(previous_ready.get(), 120000), WAIT_OBJECT_0);

    record = read_update_state(install / kUpdateStateFile);
    EXPECT_EQ(record.status, UpdateStatus::RolledBack);
    EXPECT_EQ(record.rolled_back_build, kNew);
    EXPECT_TRUE(file(kInstalledExecutableName) == old_exe);
    EXPECT_TRUE(file(kInstalledFontName) == old_font);
    EXPECT_FALSE(fs::exists(install / kExecutableBackupName));
    EXPECT_FALSE(fs::exists(install / kFontBackupName));
}

// The fault matrix: each of the program's processes ended from outside (TerminateProcess)
// at each of its steps (the updater through its step callback, as only a test program can
// place it), then the same invariants every time: a whole program of one build, the settings
// file byte for byte, the user's wallpaper or a complete composition on the desktop, no
// temporary or staging entry that the next run leaves, no process that a stop does not end,
// and the next start succeeding. Prints process × step → held / not held.
bool is_program(std::wstring_view name) {
    return name.starts_with(L"Veltrane_Desktop") || name.starts_with(L"service_standin") || name == L"update_child.exe" ||
           name == L"sync_child.exe";
}

std::vector<DWORD> program_processes() { return processes_named(is_program); }

// Also nothing that a removal set aside before deleting it.
bool nothing_of_the_program_in(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (path_to_utf8(it->path().filename()).starts_with("Veltrane_Desktop")) return false;
    }
    return !ec;
}

std::string program_process_names() {
    std::string names;
    processes_named([&](std::wstring_view name) {
        if (is_program(name)) {
            names += ' ';
            names += win::from_wide(std::wstring(name));
        }
        return false;
    });
    return names;
}

void end_process(HANDLE process) {
    TerminateProcess(process, 9);
    WaitForSingleObject(process, 10000);
}

void end_process(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (process) end_process(process.get());
}

struct Row {
    std::string process, step;
    std::function<void()> end_at_step;  // set-up, the process brought to its step, ended
    std::function<bool()> next_start;
    bool may_be_removed = false;  // a removal: no program and no settings are whole too
    // An updater ended between its two replacements: the next start puts the font back
    // before anything reads it.
    bool mended_at_next_start = false;
};

class FaultMatrix : public InstalledProgram {
protected:
    ContentServer server;
    const std::string product_exe = read_raw(program_path());
    const std::string product_font = read_raw(unix_file(VELTRANE_TEST_FONT));
    // The build the installer rows install over the first, so that a mix of the two shows.
    const std::string newer_exe = read_raw(unix_file(VELTRANE_NEW_PROGRAM));
    const std::string newer_font = product_font + std::string("\0newer", 6);
    fs::path download = scratch / "download";
    fs::path helper = fs::temp_directory_path() / "Veltrane_Desktop-uninstall-1.exe";
    std::vector<std::pair<std::string, std::string>> builds;  // executable and font of each whole build
    std::string settings_bytes;
    bool released = false;

    void TearDown() override {
        InstalledProgram::TearDown();
        end_all();
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Veltrane_Desktop");
            RegCloseKey(key);
        }
    }
    static void end_all() {
        for (DWORD pid : program_processes()) end_process(pid);
    }
    bool user_wallpaper_back() const { return standin_wallpaper(monitor) == path_to_utf8(scratch / "user.png"); }
    bool composed() const { return path_is_inside(standin_wallpaper(monitor), composite_paths(install).content); }

    // A fresh desktop and an install folder with the product, its content and settings.
    void install_product(bool with_content = true) {
        (void)ipc::stop_running_instances();
        end_all();
        // Seen once on a loaded machine: the next row's service ended at once, as when
        // another still holds the singleton.
        ASSERT_TRUE(ipc::wait_for_no_service()) << "the singleton is still held after every process ended";
        // The files of a process ended a moment ago may still be held: the row starts only
        // from the product's own executable and font.
        ASSERT_TRUE(wait_until([this] {
            std::error_code ec;
            fs::remove_all(install, ec);
            fs::create_directories(install, ec);
            write_raw(install / kInstalledExecutableName, product_exe);
            write_raw(install / kInstalledFontName, product_font);
            return file(kInstalledExecutableName) == product_exe && file(kInstalledFontName) == product_font;
        }, 20000)) << "the install folder could not be emptied";
        StandinState desktop;
        desktop.wallpapers = {{monitor, path_to_utf8(scratch / "user.png")}};
        write_standin_state(desktop);
        server.set_faults("{}");
        if (with_content) {
            write_png_file(install / "Veltrane_Desktop.png", 400, 300, kGreen);
            write_raw(install / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
        }
        write_settings_file();
        builds = {{product_exe, product_font}};
    }
    void write_settings_file() {
        Settings settings;
        settings.method = DisplayMethod::Composite;
        settings.background = BackgroundMode::Original;
        ASSERT_TRUE(write_settings(settings, install / "Veltrane_Desktop.config").ok());
        settings_bytes = file("Veltrane_Desktop.config");
    }
    // Content on the stand-in whose image takes 60 s to come.
    void serve_slow_content() {
        const fs::path png = scratch / "served.png";
        write_png_file(png, 400, 300, kRed);
        server.put("duty.txt", "당직: 내과 김의사");
        server.put("current.json", R"({"updatedAt": "2026-12-07T10:20:00+09:00", "imageEtag": "c1", "textEtag": "t1"})");
        server.put("images/c1.png", read_raw(png));
        server.put("texts/t1.txt", "계열|약제|등급\n");
        server.set_faults(R"({"/api/veltrane/image": {"delay": 60}})");
    }
    bool image_requested() const {
        for (const auto& line : server.requests()) {
            if (line.find("/api/veltrane/image") != std::string::npos) return true;
        }
        return false;
    }
    bool start_service() { return start_service_and_wait(install / kInstalledExecutableName, install).ok(); }
    bool service_next_start() {
        server.set_faults("{}");
        return start_service();
    }

    void end_service_at(const std::function<bool()>& reached) {
        install_product();
        ASSERT_TRUE(start_service());
        ASSERT_TRUE(wait_until(reached, 60000));
        end_process(service_pid());
    }

    // The set-up copy in a download folder; reinstalling over the installed program.
    UniqueHandle start_installer(HWND& question) {
        fs::create_directories(download);
        write_raw(download / kInstalledExecutableName, newer_exe);
        write_raw(download / kInstalledFontName, newer_font);
        write_png_file(download / "Veltrane_Desktop.png", 400, 300, kGreen);
        write_raw(download / "Veltrane_Desktop.txt", "R항생제 관리팀\nP김지현팀장 2231\n");
        fs::create_directories(fs::path(_wgetenv(L"APPDATA")) / "Microsoft" / "Windows" / "Start Menu" / "Programs");
        UniqueHandle installer = start(download / kInstalledExecutableName, L"");
        question = box_of(installer);
        return installer;
    }
    // Steps: asking, copying (a file half-copied), installing, service started, reporting.
    void end_installer_at(int step) {
        install_product();
        builds.emplace_back(newer_exe, newer_font);
        ASSERT_TRUE(start_service());
        const DWORD old_service = service_pid();
        HWND question = nullptr;
        UniqueHandle installer = start_installer(question);
        ASSERT_TRUE(question);
        if (step == 1) {
            // Ended the moment a temporary copy appears: inside the copy of the files.
            PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
            const auto copying_now = [this] {
                std::error_code ec;
                for (const auto& entry : fs::directory_iterator(install, ec)) {
                    const std::string name = path_to_utf8(entry.path().filename());
                    if (name.starts_with(std::string(".") + kInstalledExecutableName + ".tmp-") ||
                        name.starts_with(std::string(".") + kInstalledFontName + ".tmp-")) {
                        return true;
                    }
                }
                return false;
            };
            bool copying = false;
            for (int i = 0; i < 30000 && !copying; ++i) {
                copying = copying_now();
                if (!copying) Sleep(3);
            }
            end_process(installer.get());
            ASSERT_TRUE(copying);
            return;
        }
        if (step >= 2) press(question, IDYES);
        if (step >= 3) {
            ASSERT_TRUE(wait_until([&] { return service_pid() != 0 && service_pid() != old_service; }, 90000));
        }
        if (step >= 4) {
            ASSERT_TRUE(box_of(installer, kSettingsCaption, 90000));
        }
        end_process(installer.get());
    }
    bool installer_next_start() {
        HWND question = nullptr;
        UniqueHandle installer = start_installer(question);
        if (!question) return false;
        press(question, IDYES);
        HWND result = box_of(installer, kSettingsCaption, 90000);
        const bool installed = result && text_of(result).rfind("설치가 완료되었고", 0) == 0;
        if (result) press(result, IDOK);
        return installed && ended_cleanly(installer);
    }

    UniqueHandle start_removal_helper() {
        CopyFileW(program_path().c_str(), helper.c_str(), FALSE);
        return start(helper, L"--uninstall-helper");
    }
    void end_removal_helper_at(const std::function<bool(const UniqueHandle&)>& reached) {
        install_product();
        ASSERT_TRUE(start_service());
        UniqueHandle removal = start_removal_helper();
        ASSERT_TRUE(wait_until([&] { return reached(removal); }, 90000));
        end_process(removal.get());
    }
    bool removal_next_start() {
        UniqueHandle removal = start_removal_helper();
        HWND result = box_of(removal, kSettingsCaption, 90000);
        const bool removed = result && text_of(result) == "삭제가 완료되었습니다.";
        if (result) press(result, IDOK);
        return removed && ended_cleanly(removal) && nothing_of_the_program_in(install.parent_path());
    }

    // The updater of an installed stand-in build, ended by its step callback after `step`.
    void end_updater_at(int step) {
        const std::string old_exe = read_raw(test_program("service_standin_old.exe"));
        const std::string new_exe = read_raw(test_program("service_standin_new.exe"));
        if (!released) {
            write_raw(scratch / "new.ttf", "new font");
            ASSERT_EQ(publish_test_release(test_program("service_standin_new.exe"), scratch / "new.ttf"), "");
            released = true;
        }
        install_product();
        write_raw(install / kInstalledExecutableName, old_exe);
        write_raw(install / kInstalledFontName, "old font");
        // An earlier update's backups, which no ended apply may take for its own.
        write_raw(install / kFontBackupName, "older font");
        write_raw(install / kExecutableBackupName, "older program");
        builds = {{old_exe, "old font"}, {new_exe, "new font"}};
        fs::copy_file(test_program("update_child.exe"), install / "update_child.exe");
        // Staged and recorded as the check does it before it starts the updater.
        const CheckOutcome staged = check_and_stage(install, real_check_inputs(kOld));
        ASSERT_EQ(staged.kind, CheckOutcome::Staged);
        ASSERT_TRUE(write_update_state(record_outcome(UpdateState{}, staged), install / kUpdateStateFile).ok());
        ASSERT_TRUE(start_service());
        UniqueHandle updater = start(install / "update_child.exe", L"apply-until " + std::to_wstring(step));
        ASSERT_EQ(WaitForSingleObject(updater.get(), 90000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(updater.get(), &code);
        EXPECT_EQ(code, 9u);
        // A service the updater started is left to come up, so that stopping it finds it.
        if (step >= 10) {
            EXPECT_TRUE(wait_until([] { return service_pid() != 0; }));
        }
    }
    bool updater_next_start() {
        const BuildVersion version = file(kInstalledExecutableName) == builds[1].first ? kNew : kOld;
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, ipc::service_ready_event_name(version).c_str()));
        ResetEvent(ready.get());
        auto service = ipc::start_program(install / kInstalledExecutableName, L"--run", 0, install);
        return service && wait_for_ready_event(service->process.get(), ready.get()) &&
               read_update_state(install / kUpdateStateFile).status != UpdateStatus::Applying;
    }

    bool desktop_whole() const {
        if (user_wallpaper_back()) return true;
        const std::string bytes = composed() ? read_raw(utf8_to_path(standin_wallpaper(monitor))) : "";
        return !bytes.empty() && png_decodes({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    }
    bool program_whole(bool may_be_removed) const {
        const bool exe = fs::exists(install / kInstalledExecutableName), font = fs::exists(install / kInstalledFontName);
        if (!exe && !font) return may_be_removed;
        for (const auto& [e, f] : builds) {
            if (file(kInstalledExecutableName) == e && file(kInstalledFontName) == f) return true;
        }
        return false;
    }
    // Which whole build each of the executable and the font comes from, for a failure.
    std::string program_builds() const {
        const auto build_of = [this](const char* name, bool exe) {
            if (!fs::exists(install / name)) return std::string("none");
            const std::string bytes = file(name);
            for (std::size_t i = 0; i < builds.size(); ++i) {
                if ((exe ? builds[i].first : builds[i].second) == bytes) return std::to_string(i);
            }
            return std::string("other");
        };
        return "executable " + build_of(kInstalledExecutableName, true) + ", font " + build_of(kInstalledFontName, false);
    }
    // A removal ended part-way may have deleted the settings already; the next one finishes.
    bool settings_kept(bool may_be_removed) const {
        if (!fs::exists(install / "Veltrane_Desktop.config")) return may_be_removed;
        return file("Veltrane_Desktop.config") == settings_bytes;
    }
    // Names only an ended process leaves: temporary copies, staging folders, an update's
    // staging once no staged update waits.
    std::string leftovers() const {
        std::string found;
        std::error_code ec;
        const bool staged = read_update_state(install / kUpdateStateFile).status == UpdateStatus::Staged;
        for (fs::recursive_directory_iterator it(install, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = path_to_utf8(it->path().filename());
            const bool update_staging = it->path() == staging_folder(install) && !staged;
            if (name.find(".tmp-") != std::string::npos || name.starts_with(".staging-") || update_staging) {
                found += " " + name;
            }
        }
        return found;
    }
    // Looked at before anything is stopped: what still runs must be a service that answers (a
    // watchdog's restart) or end on its own, not linger holding the singleton.
    std::string lingering() const {
        const auto serving = [] {
            HWND controller = FindWindowW(ipc::kControllerClass, nullptr);
            DWORD_PTR answer = 0;
            return controller && SendMessageTimeoutW(controller, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) != 0;
        };
        const bool settled = wait_until([&] { return program_processes().empty() || serving(); }, 20000);
        return settled ? "" : program_process_names();
    }
    // Empty when a stop ends every process of the program, else the names left.
    std::string left_after_stop() {
        (void)ipc::stop_running_instances();
        const std::string left = wait_until([] { return program_processes().empty(); }, 20000) ? "" : program_process_names();
        end_all();
        return left;
    }

    // The invariants that did not hold after the row's process was ended at its step.
    std::vector<std::string> run(const Row& row) {
        row.end_at_step();
        std::vector<std::string> broken;
        if (::testing::Test::HasFatalFailure()) return {"set-up"};
        if (std::string left = lingering(); !left.empty()) broken.push_back(left.insert(0, "lingering"));
        // The desktop once nothing runs: a service still giving it back is not a fault.
        if (std::string left = left_after_stop(); !left.empty()) broken.push_back(left.insert(0, "processes"));
        if (!desktop_whole()) broken.push_back("desktop " + standin_wallpaper(monitor));
        const bool whole_at_once = program_whole(row.may_be_removed);
        const std::string at_once = program_builds();
        if (!settings_kept(row.may_be_removed)) broken.push_back("settings");
        if (!row.next_start()) broken.push_back("next start");
        if (!program_whole(row.may_be_removed) || (!whole_at_once && !row.mended_at_next_start)) {
            broken.push_back("program (at once " + at_once + "; after the next start " + program_builds() + ")");
        }
        if (const std::string left = leftovers(); !left.empty()) broken.push_back("leftovers" + left);
        if (std::string left = left_after_stop(); !left.empty()) {
            broken.push_back(left.insert(0, "processes after the next start"));
        }
        return broken;
    }
};

TEST_F(FaultMatrix, EveryProcessEndedAtEveryStepLeavesAWholeProgramAndDesktop) {
    std::vector<Row> rows;
    const auto service = [this] { return service_next_start(); };
    rows.push_back({"service", "starting", [this] {
        install_product();
        end_process(start(install / kInstalledExecutableName, L"--run").get());
    }, service});
    rows.push_back({"service", "first sync", [this] {
        install_product(false);
        serve_slow_content();
        UniqueHandle s = start(install / kInstalledExecutableName, L"--run");
        ASSERT_TRUE(wait_until([&] { return image_requested(); }, 60000));
        end_process(s.get());
    }, service});
    rows.push_back({"service", "ready", [this] { end_service_at([] { return true; }); }, service});
    rows.push_back({"service", "composed", [this] { end_service_at([this] { return composed(); }); }, service});
    rows.push_back({"service", "recomposing", [this] {
        // Inside a recomposition after a display change: the new pictures are in place and
        // the desktop is being pointed at them, held there by the stand-in, when it is ended.
        install_product();
        ASSERT_TRUE(start_service());
        ASSERT_TRUE(wait_until([this] { return composed(); }, 60000));
        const fs::path content = composite_paths(install).content;
        const auto generations = [&] {
            std::set<fs::path> found;
            std::error_code ec;
            for (fs::directory_iterator it(content, ec), end; !ec && it != end; it.increment(ec)) {
                if (fs::exists(it->path() / "monitor-0.png")) found.insert(it->path());
            }
            return found;
        };
        const std::set<fs::path> before = generations();
        StandinState desktop = read_standin_state();
        desktop.extra_lines.push_back(standin_delay("SetWallpaper", 5000));
        write_standin_state(desktop);
        PostMessageW(FindWindowW(ipc::kControllerClass, nullptr), WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
        const bool inside = wait_until([&] { return generations() != before; }, 30000);
        end_process(service_pid());
        desktop.extra_lines.pop_back();
        write_standin_state(desktop);
        ASSERT_TRUE(inside) << "no recomposition after the display change";
    }, service});
    rows.push_back({"watchdog", "watching", [this] {
        install_product();
        ASSERT_TRUE(start_service());
        ASSERT_TRUE(wait_until(watchdog_alive));
        for (DWORD pid : processes_named([](std::wstring_view n) { return n == L"Veltrane_Desktop.exe"; })) {
            if (pid != service_pid()) end_process(pid);
        }
    }, service});
    rows.push_back({"watchdog", "restoring", [this] {
        install_product();
        ASSERT_TRUE(start_service());
        ASSERT_TRUE(wait_until([this] { return composed() && watchdog_alive(); }, 60000));
        // A stop the user asked for: the watchdog gives the desktop back instead of starting
        // the service again, and waits inside its restore for the lock held here.
        const UniqueHandle restore_lock(CreateMutexW(nullptr, FALSE, ipc::kWallpaperRestoreName));
        ASSERT_EQ(WaitForSingleObject(restore_lock.get(), 0), WAIT_OBJECT_0);
        bool restoring = false;
        {
            const UniqueHandle stop(CreateEventW(nullptr, TRUE, TRUE, ipc::kStopRequestName));
            end_process(service_pid());
            Sleep(1500);
            restoring = service_pid() == 0 && watchdog_alive();
            for (DWORD pid : program_processes()) end_process(pid);
        }
        ReleaseMutex(restore_lock.get());
        ASSERT_TRUE(restoring) << "the watchdog was not waiting inside its restore";
    }, service});
    rows.push_back({"sync run", "downloading", [this] {
        install_product(false);
        serve_slow_content();
        fs::copy_file(unix_file(VELTRANE_SYNC_CHILD), install / "sync_child.exe");
        UniqueHandle child = start(install / "sync_child.exe", L"run");
        ASSERT_TRUE(wait_until([&] { return image_requested(); }, 60000));
        end_process(child.get());
    }, service});
    const auto installer = [this] { return installer_next_start(); };
    const char* installer_steps[] = {"asking", "copying", "installing", "service started", "reporting"};
    for (int step = 0; step < 5; ++step) {
        // An installer ended between its moves leaves a record that the next start finishes by.
        rows.push_back({"installer", installer_steps[step], [this, step] { end_installer_at(step); }, installer, false,
                        step == 2});
    }
    const auto removal = [this] { return removal_next_start(); };
    rows.push_back({"removal helper", "starting", [this] {
        end_removal_helper_at([](const UniqueHandle&) { return true; });
    }, removal, true});
    rows.push_back({"removal helper", "service stopped", [this] {
        end_removal_helper_at([](const UniqueHandle&) { return service_pid() == 0; });
    }, removal, true});
    rows.push_back({"removal helper", "wallpaper back", [this] {
        end_removal_helper_at([this](const UniqueHandle&) { return user_wallpaper_back(); });
    }, removal, true});
    rows.push_back({"removal helper", "reporting", [this] {
        end_removal_helper_at([](const UniqueHandle& h) { return box_of(h, kSettingsCaption, 0) != nullptr; });
    }, removal, true});
    const auto updater = [this] { return updater_next_start(); };
    for (const ApplyStep step : kApplySteps) {
        const int n = static_cast<int>(step);
        rows.push_back({"updater", "step " + std::to_string(n), [this, n] { end_updater_at(n); }, updater, false, true});
    }

    std::string matrix = "\nfault matrix: process x step -> held / not held\n";
    for (const Row& row : rows) {
        const auto broken = run(row);
        const std::string cell = row.process + " x " + row.step;
        std::string verdict = broken.empty() ? "held" : "NOT HELD:";
        for (const auto& b : broken) verdict += " " + b + ";";
        const std::string line = "  " + cell + " -> " + verdict + "\n";
        std::printf("%s", line.c_str());
        std::fflush(stdout);
        matrix += line;
        EXPECT_TRUE(broken.empty()) << cell << ": " << verdict;
        if (::testing::Test::HasFatalFailure()) break;
    }
    std::printf("%s\n", matrix.c_str());
}

}  // namespace
}  // namespace veltrane
