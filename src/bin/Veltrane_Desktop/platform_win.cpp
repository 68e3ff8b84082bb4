#include <windows.h>

#include "file_util/win.h"
#include "platform_win.h"
#include "roles.h"
#include "settings/settings.h"

namespace veltrane {
namespace {

int show_box(const std::string& text, const wchar_t* caption, unsigned flags) {
    return MessageBoxW(nullptr, win::to_wide(text).c_str(), caption, flags);
}

bool file_exists(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A running program's file is usually still mapped; then it goes at the next restart.
void delete_self(const std::filesystem::path& exe) {
    if (!DeleteFileW(exe.c_str())) MoveFileExW(exe.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

int message_box(const std::string& text, unsigned flags) { return show_box(text, L"벨트레인 설정", flags); }

void service_error_box(const std::string& text) { show_box(text, L"벨트레인", MB_ICONERROR); }

std::vector<std::u16string> process_arguments() {
    const std::wstring line = GetCommandLineW();
    auto exe = executable_path();
    const std::wstring program = exe ? exe->wstring() : std::wstring();
    return split_command_line(std::u16string(line.begin(), line.end()), std::u16string(program.begin(), program.end()));
}

Platform windows_platform() {
    Platform p;
    p.message_box = message_box;
    p.service_error_box = service_error_box;
    p.executable_path = [] { return executable_path(); };
    p.install_folder = [] { return install_folder(); };
    p.file_exists = file_exists;
    p.delete_self = delete_self;
    p.service = roles::service;
    p.watchdog = roles::watchdog;
    p.apply_update = roles::apply_update;
    p.rollback_helper = roles::rollback_helper;
    p.settings_window = roles::settings_window;
    p.install_program = roles::install_program;
    p.remove_installation = roles::remove_installation;
    return p;
}

}  // namespace veltrane
