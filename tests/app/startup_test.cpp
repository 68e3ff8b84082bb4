#include "startup.h"

#include <gtest/gtest.h>

#include "file_util/text.h"
#include "ipc/ipc.h"

using namespace veltrane;

namespace {

struct Box {
    std::string text;
    unsigned flags;
};

// A Platform that records every effect and answers message boxes from a script.
struct Fake {
    std::filesystem::path exe = "C:/Downloads/Veltrane_Desktop.exe";
    Result<std::filesystem::path> install = std::filesystem::path("C:/Users/u/AppData/Local/Veltrane_Desktop");
    bool installed_exe_exists = false;
    std::vector<int> answers;
    Result<Unrestored> removal = Unrestored{};
    Status service_result;
    bool exe_known = true;
    SetupOutcome install_outcome;  // nothing to say unless a test gives a text
    bool system = false;
    Result<std::filesystem::path> moved = std::filesystem::path("C:/Temp/moved.exe");
    std::string record;

    std::vector<Box> boxes;
    std::vector<std::string> calls;
    std::string service_error;

    Platform platform() {
        Platform p;
        p.message_box = [this](const std::string& text, unsigned flags) {
            boxes.push_back({text, flags});
            if (answers.empty()) return kCancel;
            const int a = answers.front();
            answers.erase(answers.begin());
            return a;
        };
        p.service_error_box = [this](const std::string& text) { service_error = text; };
        p.executable_path = [this]() -> Result<std::filesystem::path> {
            if (!exe_known) return make_error("access denied (os error 5)");
            return exe;
        };
        p.install_folder = [this] { return install; };
        p.file_exists = [this](const std::filesystem::path& path) {
            calls.push_back("exists " + path.generic_string());
            return installed_exe_exists;
        };
        p.delete_self = [this](const std::filesystem::path& path) { calls.push_back("delete " + path.generic_string()); };
        p.service = [this] {
            calls.push_back("service");
            return service_result;
        };
        p.watchdog = [this](const WatchdogTarget& t) {
            calls.push_back("watchdog " + std::to_string(t.process_id) + " " + std::to_string(t.creation_time));
        };
        p.apply_update = [this] { calls.push_back("apply-update"); };
        p.rollback_helper = [this] { calls.push_back("rollback-helper"); };
        p.settings_window = [this] { calls.push_back("settings"); };
        p.install_program = [this](const std::filesystem::path& s, const std::filesystem::path& t, bool quiet) {
            calls.push_back("install " + s.generic_string() + " -> " + t.generic_string() + (quiet ? " quiet" : ""));
            return install_outcome;
        };
        p.remove_installation = [this](const std::filesystem::path& f, bool quiet) {
            calls.push_back("remove " + f.generic_string() + (quiet ? " quiet" : ""));
            return removal;
        };
        p.move_out_of_folder = [this](const std::filesystem::path& path) {
            calls.push_back("move " + path.generic_string());
            return moved;
        };
        p.move_back = [this](const std::filesystem::path& from, const std::filesystem::path& to) {
            calls.push_back("back " + from.generic_string() + " -> " + to.generic_string());
        };
        p.runs_as_system = [this] { return system; };
        p.write_result_record = [this](const std::string& text) { record = text; };
        return p;
    }

    int run(std::vector<std::u16string> args = {u"C:\\Downloads\\Veltrane_Desktop.exe"}) { return run_program(args, platform()); }
};

const std::string kInstall = "C:/Users/u/AppData/Local/Veltrane_Desktop";
const std::string kInstallCall = "install C:/Downloads -> " + kInstall;

}  // namespace

TEST(SetupDialogue, TheInstalledCopyOpensSettingsWhateverTheLetterCase) {
    Fake f;
    f.exe = "c:/users/U/APPDATA/local/veltrane_desktop/Veltrane_Desktop.exe";
    f.run();
    EXPECT_EQ(f.calls, (std::vector<std::string>{"settings"}));
    EXPECT_TRUE(f.boxes.empty());
    EXPECT_TRUE(is_installed_copy("C:/A/Veltrane_Desktop", "c:/a/veltrane_desktop"));
    // No normalisation: another separator, a trailing one or a non-ASCII case differs.
    EXPECT_FALSE(is_installed_copy("C:/A/Veltrane_Desktop/", "C:/A/Veltrane_Desktop"));
    EXPECT_FALSE(is_installed_copy("C:/A/../A/Veltrane_Desktop", "C:/A/Veltrane_Desktop"));
    EXPECT_FALSE(is_installed_copy(utf8_to_path("C:/Ä/Veltrane_Desktop"), utf8_to_path("C:/ä/Veltrane_Desktop")));
}

TEST(SetupDialogue, AFreshCopyAsksToInstallAndInstallsOnlyOnYes) {
    for (int answer : {kYes, kNo}) {
        Fake f;
        f.answers = {answer};
        f.run({u"p", u"--RUN"});
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].text, "벨트레인을 다음 위치에 설치합니다.\n\n" + kInstall + "\n\n계속하시겠습니까?");
        EXPECT_EQ(f.boxes[0].flags, 0x144u);
        std::vector<std::string> expected = {"exists " + kInstall + "/Veltrane_Desktop.exe"};
        if (answer == kYes) expected.push_back(kInstallCall);
        EXPECT_EQ(f.calls, expected);
    }
}

TEST(SetupDialogue, AnExistingInstallationOffersReinstallRemoveOrNothing) {
    const std::string three_way = "벨트레인이 이미 설치되어 있습니다.\n\n위치: " + kInstall +
                                  "\n\n예 = 재설치(파일을 새로 덮어씁니다)\n아니오 = 삭제(설치를 제거합니다)\n취소 = 아무 것도 하지 않습니다";
    const std::string confirm = "정말로 삭제하시겠습니까?\n\n" + kInstall +
                                "\n\n실행 중인 벨트레인이 종료되고, 자동 시작 등록도 지워지며, 이 폴더의 모든 파일이 삭제됩니다.";
    Fake reinstall;
    reinstall.installed_exe_exists = true;
    reinstall.answers = {kYes};
    reinstall.run();
    ASSERT_EQ(reinstall.boxes.size(), 1u);
    EXPECT_EQ(reinstall.boxes[0].text, three_way);
    EXPECT_EQ(reinstall.boxes[0].flags, 0x223u);
    EXPECT_EQ(reinstall.calls.back(), kInstallCall);

    for (int second : {kNo, kCancel}) {
        Fake keep;
        keep.installed_exe_exists = true;
        keep.answers = {kNo, second};
        keep.run();
        ASSERT_EQ(keep.boxes.size(), 2u);
        EXPECT_EQ(keep.boxes[1].text, confirm);
        EXPECT_EQ(keep.boxes[1].flags, 0x134u);
        EXPECT_EQ(keep.calls.size(), 1u);  // only the existence test
    }

    Fake cancel;
    cancel.installed_exe_exists = true;
    cancel.answers = {kCancel};
    cancel.run();
    EXPECT_EQ(cancel.boxes.size(), 1u);
    EXPECT_EQ(cancel.calls.size(), 1u);
}

TEST(SetupDialogue, RemovalReportsItsResult) {
    Fake ok;
    ok.installed_exe_exists = true;
    ok.answers = {kNo, kYes};
    ok.run();
    EXPECT_EQ(ok.calls.back(), "remove " + kInstall);
    ASSERT_EQ(ok.boxes.size(), 3u);
    EXPECT_EQ(ok.boxes[2].text, "삭제가 완료되었습니다.");
    EXPECT_EQ(ok.boxes[2].flags, 0x40u);

    Fake failed;
    failed.installed_exe_exists = true;
    failed.answers = {kNo, kYes};
    failed.removal = make_error("파일을 지우지 못했습니다.");
    failed.run();
    ASSERT_EQ(failed.boxes.size(), 3u);
    EXPECT_EQ(failed.boxes[2].text, "삭제에 실패했습니다.\n\n파일을 지우지 못했습니다.");
    EXPECT_EQ(failed.boxes[2].flags, 0x10u);

    Fake damaged;
    damaged.installed_exe_exists = true;
    damaged.answers = {kNo, kYes};
    damaged.removal = Unrestored{"바탕화면 백업 상태가 손상되었습니다.", "바탕화면 백업 읽기 실패: x"};
    damaged.run();
    ASSERT_EQ(damaged.boxes.size(), 3u);
    EXPECT_EQ(damaged.boxes[2].text, "삭제가 완료되었습니다.\n\n복원하지 못한 바탕화면 설정:\n"
                                     "바탕화면 백업 상태가 손상되었습니다.\n바탕화면 백업 읽기 실패: x");
    EXPECT_EQ(damaged.boxes[2].flags, 0x30u);
}

TEST(SetupDialogue, StopsWithAnErrorWhenAFolderIsUnknown) {
    Fake no_exe;
    no_exe.exe_known = false;
    no_exe.run();
    ASSERT_EQ(no_exe.boxes.size(), 1u);
    EXPECT_EQ(no_exe.boxes[0].text, "실행 파일 경로를 확인하지 못했습니다.\n\naccess denied (os error 5)");
    EXPECT_EQ(no_exe.boxes[0].flags, 0x10u);

    Fake no_parent;
    no_parent.exe = "Veltrane_Desktop.exe";
    no_parent.run();
    ASSERT_EQ(no_parent.boxes.size(), 1u);
    EXPECT_EQ(no_parent.boxes[0].text, "실행 파일 폴더를 확인하지 못했습니다.");

    Fake no_local;
    no_local.install = make_error("LOCALAPPDATA 경로를 찾지 못했습니다.");
    no_local.run();
    ASSERT_EQ(no_local.boxes.size(), 1u);
    EXPECT_EQ(no_local.boxes[0].text, "LOCALAPPDATA 경로를 찾지 못했습니다.");
    EXPECT_EQ(no_local.boxes[0].flags, 0x10u);
    for (const Fake* f : {&no_exe, &no_parent, &no_local}) EXPECT_TRUE(f->calls.empty());
}

TEST(Roles, EachSwitchHandsOverOnce) {
    Fake f;
    f.run({u"p", u"--run"});
    f.run({u"p", u"--watchdog", u"4242", u"+99"});
    f.run({u"p", u"--watchdog", u"4242"});
    f.run({u"p", u"--watchdog", u"4242", u"-1"});
    f.run({u"p", u"--apply-update", u"ignored"});
    f.run({u"p", u"--rollback-helper"});
    EXPECT_EQ(f.calls, (std::vector<std::string>{"service", "watchdog 4242 99", "apply-update", "rollback-helper",
                                                 "delete C:/Downloads/Veltrane_Desktop.exe"}));
    EXPECT_TRUE(f.boxes.empty());
    EXPECT_TRUE(f.service_error.empty());
}

TEST(Roles, AServiceThatCannotStartIsReportedUnderItsOwnCaption) {
    Fake f;
    f.service_result = make_error("단일 실행 잠금을 만들 수 없습니다 (Win32 오류 5)");
    f.run({u"p", u"--run"});
    EXPECT_EQ(f.service_error, "단일 실행 잠금을 만들 수 없습니다 (Win32 오류 5)");
    EXPECT_TRUE(f.boxes.empty());
}

TEST(UninstallHelper, RemovesReportsAndDeletesItselfEvenAfterAFailure) {
    Fake ok;
    ok.exe = "C:/Temp/Veltrane_Desktop-remove.exe";
    ok.run({u"p", u"--uninstall-helper"});
    EXPECT_EQ(ok.calls, (std::vector<std::string>{"remove " + kInstall, "delete C:/Temp/Veltrane_Desktop-remove.exe"}));
    ASSERT_EQ(ok.boxes.size(), 1u);
    EXPECT_EQ(ok.boxes[0].text, "삭제가 완료되었습니다.");

    Fake no_local;
    no_local.install = make_error("LOCALAPPDATA 경로를 찾지 못했습니다.");
    no_local.run({u"p", u"--uninstall-helper"});
    EXPECT_EQ(no_local.calls, (std::vector<std::string>{"delete C:/Downloads/Veltrane_Desktop.exe"}));
    ASSERT_EQ(no_local.boxes.size(), 1u);
    EXPECT_EQ(no_local.boxes[0].text, "삭제에 실패했습니다.\n\nLOCALAPPDATA 경로를 찾지 못했습니다.");
    EXPECT_EQ(no_local.boxes[0].flags, 0x10u);
}

TEST(SetupSwitches, QuietInstallAsksNothingAndAnswersByExitCodeAndRecord) {
    Fake ok;
    ok.install_outcome = succeeded("설치가 완료되었습니다.");
    EXPECT_EQ(ok.run({u"p", u"--install", u"--quiet"}), 0);
    EXPECT_EQ(ok.calls, (std::vector<std::string>{kInstallCall + " quiet"}));
    EXPECT_TRUE(ok.boxes.empty());
    EXPECT_EQ(ok.record, "Veltrane_Desktop.exe --install --quiet\n종료 코드: 0\n\n설치가 완료되었습니다.\n");

    Fake busy;
    busy.install_outcome = failed("설치에 실패했습니다.\n\n다른 설치", Error{"다른 설치", ipc::kSetupBusyCode});
    EXPECT_EQ(busy.run({u"p", u"--install", u"--quiet"}), 1618);
    EXPECT_NE(busy.record.find("종료 코드: 1618"), std::string::npos);

    Fake broken;
    broken.install_outcome = failed("설치에 실패했습니다.", Error{"x", 5});
    EXPECT_EQ(broken.run({u"p", u"--install", u"--quiet"}), 1603);

    Fake system;
    system.system = true;
    EXPECT_EQ(system.run({u"p", u"--remove", u"--quiet"}), 1603);
    EXPECT_TRUE(system.calls.empty());
    EXPECT_NE(system.record.find(kRunAsUserText), std::string::npos);
    EXPECT_TRUE(system.boxes.empty());
}

TEST(SetupSwitches, WithoutQuietTheOutcomeIsABoxAndTheExitCodeZero) {
    Fake f;
    f.installed_exe_exists = true;
    f.install_outcome = failed("설치에 실패했습니다.");
    EXPECT_EQ(f.run({u"p", u"--install", u"ignored"}), 0);
    EXPECT_EQ(f.calls, (std::vector<std::string>{kInstallCall}));  // no question, no existence test
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].flags, 0x10u);
    EXPECT_TRUE(f.record.empty());

    for (int answer : {kNo, kYes}) {
        Fake removal;
        removal.answers = {answer};
        EXPECT_EQ(removal.run({u"p", u"--remove"}), 0);
        EXPECT_EQ(removal.boxes[0].flags, kAskRemove);
        EXPECT_EQ(removal.boxes.size(), answer == kYes ? 2u : 1u);
        EXPECT_EQ(removal.calls.size(), answer == kYes ? 1u : 0u);
    }
}

TEST(SetupSwitches, TheInstalledCopyLeavesItsFolderBeforeRemovingIt) {
    Fake installed;
    installed.exe = kInstall + "/Veltrane_Desktop.exe";
    EXPECT_EQ(installed.run({u"p", u"--remove", u"--quiet"}), 0);
    EXPECT_EQ(installed.calls, (std::vector<std::string>{"move " + kInstall + "/Veltrane_Desktop.exe",
                                                         "remove " + kInstall + " quiet", "delete C:/Temp/moved.exe"}));
    EXPECT_TRUE(installed.boxes.empty());

    Fake stuck;
    stuck.exe = installed.exe;
    stuck.moved = make_error("옮기지 못했습니다.");
    EXPECT_EQ(stuck.run({u"p", u"--remove", u"--quiet"}), 1603);
    EXPECT_EQ(stuck.calls.size(), 1u);

    Fake busy;
    busy.exe = installed.exe;
    busy.removal = Error{"다른 벨트레인 설치 또는 삭제가 진행 중입니다.", ipc::kSetupBusyCode};
    EXPECT_EQ(busy.run({u"p", u"--remove", u"--quiet"}), 1618);
    EXPECT_EQ(busy.calls.back(), "back C:/Temp/moved.exe -> " + installed.exe.generic_string());

    Fake elsewhere;  // a copy outside the folder removes in place
    EXPECT_EQ(elsewhere.run({u"p", u"--remove", u"--quiet"}), 0);
    EXPECT_EQ(elsewhere.calls, (std::vector<std::string>{"remove " + kInstall + " quiet"}));
}
