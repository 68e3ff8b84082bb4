#include "ipc/process_win.h"

#include <optional>

#include <tlhelp32.h>

namespace veltrane::ipc {

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
