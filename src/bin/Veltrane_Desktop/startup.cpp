#include "startup.h"

#include <optional>

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

SetupOutcome removal_outcome(const Result<Unrestored>& result) {
    if (!result) return failed("삭제에 실패했습니다.\n\n" + result.error().message, result.error());
    return succeeded("삭제가 완료되었습니다." + unrestored_text(*result), result->empty() ? kInfoIcon : kWarningIcon);
}

void show(const Platform& p, const SetupOutcome& outcome) {
    if (!outcome.text.empty()) p.message_box(outcome.text, outcome.icon);
}

void remove_after_confirmation(const Platform& p, const std::filesystem::path& install) {
    if (p.message_box(removal_question(path_to_utf8(install)), kAskRemove) != kYes) return;
    show(p, removal_outcome(p.remove_installation(install, false)));
}

void ask_setup(const Platform& p, const std::filesystem::path& source, const std::filesystem::path& install) {
    const std::string folder = path_to_utf8(install);
    if (!p.file_exists(install / kExecutableName)) {
        if (p.message_box(install_question(folder), kAskInstall) == kYes) show(p, p.install_program(source, install, false));
        return;
    }
    const int answer = p.message_box(reinstall_question(folder), kAskReinstall);
    if (answer == kYes) show(p, p.install_program(source, install, false));
    else if (answer == kNo) remove_after_confirmation(p, install);
}

struct Locations {
    std::filesystem::path exe;
    std::filesystem::path folder;
    std::filesystem::path install;
};

Result<Locations> locate(const Platform& p) {
    auto exe = p.executable_path();
    if (!exe) return make_error("실행 파일 경로를 확인하지 못했습니다.\n\n" + exe.error().message);
    auto folder = parent_folder(*exe);
    if (!folder) return make_error("실행 파일 폴더를 확인하지 못했습니다.");
    auto install = p.install_folder();
    if (!install) return install.take_error();
    return Locations{*exe, *folder, *install};
}

SetupOutcome install_switch(const Platform& p, const Locations& at, bool quiet) {
    return p.install_program(at.folder, at.install, quiet);
}

// The installed copy first leaves its folder, so the folder can go while this process, which
// the caller waits for, still runs.
SetupOutcome remove_switch(const Platform& p, const Locations& at, bool quiet) {
    if (!quiet && p.message_box(removal_question(path_to_utf8(at.install)), kAskRemove) != kYes) return {};
    std::optional<std::filesystem::path> moved;
    if (is_installed_copy(at.folder, at.install)) {
        auto out = p.move_out_of_folder(at.exe);
        if (!out) return failed("삭제에 실패했습니다.\n\n" + out.error().message);
        moved = *out;
    }
    SetupOutcome outcome = removal_outcome(p.remove_installation(at.install, quiet));
    if (moved && outcome.exit_code == kExitSuccess) p.delete_self(*moved);
    else if (moved) p.move_back(*moved, at.exe);  // a removal that never began leaves a whole program
    return outcome;
}

SetupOutcome setup_switch_outcome(Mode mode, const Platform& p, bool quiet) {
    if (p.runs_as_system()) return failed(kRunAsUserText);
    auto at = locate(p);
    if (!at) return failed(at.error().message);
    return mode == Mode::Install ? install_switch(p, *at, quiet) : remove_switch(p, *at, quiet);
}

}  // namespace

bool is_installed_copy(const std::filesystem::path& executable_folder, const std::filesystem::path& install_folder) {
    return equals_ignoring_ascii_case(path_to_utf8(executable_folder), path_to_utf8(install_folder));
}

void run_setup_dialogue(const Platform& p) {
    auto at = locate(p);
    if (!at) p.message_box(at.error().message, kErrorIcon);
    else if (is_installed_copy(at->folder, at->install)) p.settings_window();
    else ask_setup(p, at->folder, at->install);
}

int run_setup_switch(const std::vector<std::u16string>& args, const Platform& p) {
    const Mode mode = mode_of(args);
    const bool quiet = is_quiet(args);
    const SetupOutcome outcome = setup_switch_outcome(mode, p, quiet);
    if (!quiet) {
        show(p, outcome);
        return kExitSuccess;
    }
    p.write_result_record(result_record(mode == Mode::Install ? "--install --quiet" : "--remove --quiet", outcome));
    return outcome.exit_code;
}

void run_uninstall_helper(const Platform& p) {
    auto install = p.install_folder();
    const Result<Unrestored> result = install ? p.remove_installation(*install, false) : Result<Unrestored>(install.error());
    show(p, removal_outcome(result));
    if (auto exe = p.executable_path()) p.delete_self(*exe);
}

int run_program(const std::vector<std::u16string>& args, const Platform& p) {
    switch (mode_of(args)) {
    case Mode::UninstallHelper:
        run_uninstall_helper(p);
        break;
    case Mode::Service:
        if (Status started = p.service(); !started) p.service_error_box(started.error().message);
        break;
    case Mode::Watchdog:
        if (auto target = watchdog_target(args)) p.watchdog(*target);
        break;
    case Mode::ApplyUpdate:
        p.apply_update();
        break;
    case Mode::RollbackHelper:
        p.rollback_helper();
        if (auto exe = p.executable_path()) p.delete_self(*exe);
        break;
    case Mode::Install:
    case Mode::Remove:
        return run_setup_switch(args, p);
    case Mode::Setup:
        run_setup_dialogue(p);
        break;
    }
    return kExitSuccess;
}

}  // namespace veltrane
