#include "ipc/process_win.h"

#include <optional>

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

}  // namespace veltrane::ipc
