#include "autostart_win.h"

#include <vector>

#include "autostart.h"
#include "file_util/win.h"
#include "ipc/process_win.h"
#include "settings/settings.h"

namespace veltrane {
namespace {

constexpr DWORD kMaxRunValueBytes = 65536;
constexpr DWORD kShellWaitMs = 60000;

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::vector<std::u16string> own_environment() {
    std::vector<std::u16string> entries;
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return entries;
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) entries.push_back(utf16(entry));
    FreeEnvironmentStringsW(block);
    return entries;
}

// Starts the program with its standard handles inherited and waits without time-out; true
// only when it ran and ended with code 0.
// The shell runs in a job that ends with this process, and for a minute at most: an installer
// ended part-way leaves no shell behind, and a shell that hangs does not hold the installer.
win::UniqueHandle job_ending_with_this_process() {
    win::UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) job.reset();
    return job;
}

bool run_to_success(const std::filesystem::path& program, std::u16string command, std::u16string environment) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    std::wstring line = wide(command);
    std::wstring env = wide(environment);
    const win::UniqueHandle job = job_ending_with_this_process();
    if (!job) return false;
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        ipc::kNoWindowFlag | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, env.data(), nullptr, &startup,
                        &info)) {
        return false;
    }
    win::UniqueHandle process(info.hProcess);
    win::UniqueHandle thread(info.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get())) {
        TerminateProcess(process.get(), 1);
        return false;
    }
    ResumeThread(thread.get());
    DWORD code = 1;
    if (WaitForSingleObject(process.get(), kShellWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return false;
    }
    return GetExitCodeProcess(process.get(), &code) && code == 0;
}

std::u16string path_text(const std::filesystem::path& path) { return utf16(path.wstring()); }

// The Run key with set-value access, created when missing.
Result<win::UniqueKey> open_run_key() {
    HKEY key = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return Error{"자동 시작 키를 열지 못했습니다. (오류 " + std::to_string(status) + ")", static_cast<std::uint32_t>(status)};
    }
    return win::UniqueKey(key);
}

}  // namespace

Status enable_autostart(const std::filesystem::path& executable) {
    const std::wstring command = wide(autostart_command(executable));
    const std::size_t units = command.size() + 1;
    if (autostart_command_too_long(units)) return make_error("자동 시작 명령이 너무 깁니다.");
    auto key = open_run_key();
    if (!key) return key.take_error();
    const LSTATUS status = RegSetValueExW(key->get(), kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                          static_cast<DWORD>(units * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        return Error{"자동 시작 값을 기록하지 못했습니다. (오류 " + std::to_string(status) + ")", static_cast<std::uint32_t>(status)};
    }
    return {};
}

Status disable_autostart() {
    auto key = open_run_key();
    if (!key) return key.take_error();
    const LSTATUS status = RegDeleteValueW(key->get(), kRunValueName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return Error{"자동 시작 값을 지우지 못했습니다. (오류 " + std::to_string(status) + ")", static_cast<std::uint32_t>(status)};
    }
    return {};
}

bool is_autostart_enabled() {
    const auto exe = executable_path();
    if (!exe) return false;
    const std::u16string expected = autostart_command(*exe);
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < 1 || bytes > kMaxRunValueBytes) {
        return false;
    }
    std::wstring value((bytes + 1) / 2, L'\0');
    DWORD read = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, value.data(), &read) !=
        ERROR_SUCCESS) {
        return false;
    }
    value.resize(std::min<std::size_t>(value.size(), read / sizeof(wchar_t)));
    return run_value_matches(utf16(value), expected);
}

std::optional<std::filesystem::path> start_menu_shortcut_path() {
    const auto app_data = win::environment_variable(L"APPDATA");
    return shortcut_path_from(app_data ? std::optional<std::filesystem::path>(*app_data) : std::nullopt);
}

Status create_start_menu_shortcut(const std::filesystem::path& executable, const std::filesystem::path& working_folder) {
    const auto link = start_menu_shortcut_path();
    if (!link) return make_error("시작 메뉴 폴더 경로를 확인하지 못했습니다.");
    const auto system_root = win::environment_variable(L"SystemRoot");
    if (!system_root) return make_error("Windows 경로를 찾지 못했습니다.");
    const std::filesystem::path program = powershell_path(*system_root);
    const std::u16string environment =
        environment_block(own_environment(), {{u"VELTRANE_SHORTCUT", path_text(*link)},
                                              {u"VELTRANE_TARGET", path_text(executable)},
                                              {u"VELTRANE_WORKDIR", path_text(working_folder)}});
    if (!run_to_success(program, command_line(program, powershell_arguments()), environment)) {
        return make_error("시작 메뉴 바로 가기를 만들지 못했습니다.");
    }
    return {};
}

}  // namespace veltrane
