#include "startup.h"

#include <gtest/gtest.h>

#include "file_util/text.h"

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
        p.install_program = [this](const std::filesystem::path& s, const std::filesystem::path& t) {
            calls.push_back("install " + s.generic_string() + " -> " + t.generic_string());
        };
        p.remove_installation = [this](const std::filesystem::path& f) {
            calls.push_back("remove " + f.generic_string());
            return removal;
        };
        return p;
    }

    void run(std::vector<std::u16string> args = {u"C:\\Downloads\\Veltrane_Desktop.exe"}) { run_program(args, platform()); }
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
