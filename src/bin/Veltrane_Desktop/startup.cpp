#include "startup.h"

#include "file_util/text.h"
#include "settings/settings.h"

namespace veltrane {

std::string unrestored_text(const Unrestored& unrestored) {
    std::string text;
    if (!unrestored.empty()) text = "\n\n복원하지 못한 바탕화면 설정:";
    for (const auto& item : unrestored) text += "\n" + item;
    return text;
}

namespace {

std::string install_question(const std::string& folder) {
    return "벨트레인을 다음 위치에 설치합니다.\n\n" + folder + "\n\n계속하시겠습니까?";
}

std::string reinstall_question(const std::string& folder) {
    return "벨트레인이 이미 설치되어 있습니다.\n\n위치: " + folder +
           "\n\n예 = 재설치(파일을 새로 덮어씁니다)\n아니오 = 삭제(설치를 제거합니다)\n취소 = 아무 것도 하지 않습니다";
}

std::string removal_question(const std::string& folder) {
    return "정말로 삭제하시겠습니까?\n\n" + folder +
           "\n\n실행 중인 벨트레인이 종료되고, 자동 시작 등록도 지워지며, 이 폴더의 모든 파일이 삭제됩니다.";
}

void report_removal(const Platform& p, const Result<Unrestored>& result) {
    if (!result) {
        p.message_box("삭제에 실패했습니다.\n\n" + result.error().message, kErrorIcon);
        return;
    }
    p.message_box("삭제가 완료되었습니다." + unrestored_text(*result), result->empty() ? kInfoIcon : kWarningIcon);
}

void remove_after_confirmation(const Platform& p, const std::filesystem::path& install) {
    if (p.message_box(removal_question(path_to_utf8(install)), kAskRemove) != kYes) return;
    report_removal(p, p.remove_installation(install));
}

void ask_setup(const Platform& p, const std::filesystem::path& source, const std::filesystem::path& install) {
    const std::string folder = path_to_utf8(install);
    if (!p.file_exists(install / kExecutableName)) {
        if (p.message_box(install_question(folder), kAskInstall) == kYes) p.install_program(source, install);
        return;
    }
    const int answer = p.message_box(reinstall_question(folder), kAskReinstall);
    if (answer == kYes) p.install_program(source, install);
    else if (answer == kNo) remove_after_confirmation(p, install);
}

}  // namespace

bool is_installed_copy(const std::filesystem::path& executable_folder, const std::filesystem::path& install_folder) {
    return equals_ignoring_ascii_case(path_to_utf8(executable_folder), path_to_utf8(install_folder));
}

void run_setup_dialogue(const Platform& p) {
    auto exe = p.executable_path();
    if (!exe) {
        p.message_box("실행 파일 경로를 확인하지 못했습니다.\n\n" + exe.error().message, kErrorIcon);
        return;
    }
    const auto folder = parent_folder(*exe);
    if (!folder) {
        p.message_box("실행 파일 폴더를 확인하지 못했습니다.", kErrorIcon);
        return;
    }
    auto install = p.install_folder();
    if (!install) {
        p.message_box(install.error().message, kErrorIcon);
        return;
    }
    if (is_installed_copy(*folder, *install)) p.settings_window();
    else ask_setup(p, *folder, *install);
}

void run_uninstall_helper(const Platform& p) {
    auto install = p.install_folder();
    const Result<Unrestored> result = install ? p.remove_installation(*install) : Result<Unrestored>(install.error());
    report_removal(p, result);
    if (auto exe = p.executable_path()) p.delete_self(*exe);
}

void run_program(const std::vector<std::u16string>& args, const Platform& p) {
    switch (mode_of(args)) {
    case Mode::UninstallHelper:
        run_uninstall_helper(p);
        return;
    case Mode::Service:
        if (Status started = p.service(); !started) p.service_error_box(started.error().message);
        return;
    case Mode::Watchdog:
        if (auto target = watchdog_target(args)) p.watchdog(*target);
        return;
    case Mode::ApplyUpdate:
        p.apply_update();
        return;
    case Mode::RollbackHelper:
        p.rollback_helper();
        if (auto exe = p.executable_path()) p.delete_self(*exe);
        return;
    case Mode::Setup:
        run_setup_dialogue(p);
        return;
    }
}

}  // namespace veltrane
