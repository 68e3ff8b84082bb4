#include "ipc/process_win.h"

#include <optional>
#include <vector>

#include <tlhelp32.h>

#include "file_util/file_util.h"
#include "settings/settings.h"

namespace veltrane::ipc {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> temp_folder() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    const DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return std::nullopt;
    return fs::path(std::wstring(buffer.data(), n));
}

// Copies left by helpers that were ended before they could delete themselves; one still
// running cannot be deleted and stays.
void delete_old_helper_copies(const fs::path& temp, const std::string& prefix) {
    WIN32_FIND_DATAW found;
    std::vector<fs::path> copies;
    {
        const win::UniqueFind find{FindFirstFileW((temp / (prefix + "*.exe")).c_str(), &found)};
        if (!find) return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) copies.push_back(temp / found.cFileName);
        } while (FindNextFileW(find.get(), &found));
    }
    // Deleted once the search is closed, as every delete here runs outside an enumeration.
    for (const auto& copy : copies) DeleteFileW(copy.c_str());
}

}  // namespace

Result<ChildProcess> start_program(const std::filesystem::path& program, const std::wstring& arguments, DWORD flags,
                                   const std::optional<std::filesystem::path>& working_folder) {
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    std::wstring command = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        working_folder ? working_folder->c_str() : nullptr, &startup,
                        &info)) {
        const DWORD code = GetLastError();
        return Error{win::system_message(code) + " (os error " + std::to_string(code) + ")", code};
    }
    return ChildProcess{win::UniqueHandle(info.hProcess), win::UniqueHandle(info.hThread), info.dwProcessId};
}

Result<ChildProcess> start_helper_copy(std::string_view role, const std::wstring& switch_text, std::string_view name) {
    const std::string helper_name(name);
    const auto exe = executable_path();
    if (!exe) return make_error(helper_name + "를 준비하지 못했습니다.\n\n" + exe.error().message);
    const auto temp = temp_folder();
    if (!temp) return make_error(helper_name + "를 준비하지 못했습니다.\n\n" + win::system_message(GetLastError()));
    const std::string prefix = "Veltrane_Desktop-" + std::string(role) + "-";
    delete_old_helper_copies(*temp, prefix);
    const fs::path helper = *temp / (prefix + std::to_string(GetCurrentProcessId()) + ".exe");
    if (auto copied = copy_file_atomic(*exe, helper); !copied) {
        return make_error(helper_name + " 복사 실패: " + copied.error().message);
    }
    auto child = start_program(helper, switch_text, kNoWindowFlag, *temp);
    if (!child) {
        DeleteFileW(helper.c_str());
        return make_error(helper_name + " 실행 실패: " + child.error().message);
    }
    return child;
}

std::optional<std::uint64_t> process_creation_time(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return std::nullopt;
    return (std::uint64_t(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

std::optional<ChildProcess> open_parent_process() {
    win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID != self) continue;
        ChildProcess parent;
        parent.id = entry.th32ParentProcessID;
        parent.process.reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent.id));
        if (!parent.process) return std::nullopt;
        const auto born = process_creation_time(parent.process.get());
        const auto self_born = process_creation_time(GetCurrentProcess());
        if (!born || !self_born || *born > *self_born) return std::nullopt;
        return parent;
    }
    return std::nullopt;
}

}  // namespace veltrane::ipc
