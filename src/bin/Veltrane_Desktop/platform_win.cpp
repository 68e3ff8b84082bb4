#include <windows.h>

#include "file_util/file_util.h"
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

std::optional<std::filesystem::path> temp_folder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return std::nullopt;
    return std::filesystem::path(std::wstring(buffer, length));
}

// Named like a removal helper, so the next helper start clears a copy a restart never took.
Result<std::filesystem::path> move_out_of_folder(const std::filesystem::path& exe) {
    const auto temp = temp_folder();
    const DWORD code = GetLastError();
    if (!temp) return win::win32_error("임시 폴더를 찾지 못했습니다.", code);
    const auto moved = *temp / ("Veltrane_Desktop-uninstall-" + std::to_string(GetCurrentProcessId()) + ".exe");
    if (!MoveFileExW(exe.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD failed = GetLastError();
        return win::win32_error("실행 파일을 설치 폴더 밖으로 옮기지 못했습니다.", failed);
    }
    // A caller may have started it in its folder; a current directory there keeps it open.
    SetCurrentDirectoryW(temp->c_str());
    return moved;
}

void move_back(const std::filesystem::path& moved, const std::filesystem::path& exe) {
    if (!MoveFileExW(moved.c_str(), exe.c_str(), 0)) delete_self(moved);
}

bool runs_as_system() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const win::UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return false;
    return IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, WinLocalSystemSid);
}

void write_result_record(const std::string& record) {
    if (const auto temp = temp_folder()) (void)write_file_atomic(*temp / kResultRecordName, record);
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
    p.move_out_of_folder = move_out_of_folder;
    p.move_back = move_back;
    p.runs_as_system = runs_as_system;
    p.write_result_record = write_result_record;
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
