// Starting the program's own processes (watchdog, restarted service, helper copies), finding
// the process that started this one, and reading a process's creation time, the half of a
// process identity that a reused process id cannot fake.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "file_util/result.h"
#include "file_util/win.h"

namespace veltrane::ipc {

inline constexpr DWORD kNoWindowFlag = 0x08000000;  // CREATE_NO_WINDOW

struct ChildProcess {
    win::UniqueHandle process;
    win::UniqueHandle thread;
    DWORD id = 0;
};

// Starts `program` with the arguments after its quoted path, in `working_folder` when given
// (else the caller's); the error is the system's text.
Result<ChildProcess> start_program(const std::filesystem::path& program, const std::wstring& arguments, DWORD flags,
                                   const std::optional<std::filesystem::path>& working_folder = std::nullopt);

// Copies the running program to the temporary folder as "Veltrane_Desktop-" + role + "-" +
// this process id + ".exe" and starts the copy there with `switch_text` and no window. None
// of the installed files is the copy's own, so it can replace or delete them all; it deletes
// itself when done. Copies of the role that ended helpers left go first. The errors begin
// with `name`, the helper's Korean name ("삭제 도우미").
Result<ChildProcess> start_helper_copy(std::string_view role, const std::wstring& switch_text, std::string_view name);

// The creation file time: 100-nanosecond units since 1601-01-01 UTC.
std::optional<std::uint64_t> process_creation_time(HANDLE process);

// The process that started this one, opened to wait for and end it; nothing when it has
// ended (a process with its id made later is not it).
std::optional<ChildProcess> open_parent_process();

}  // namespace veltrane::ipc
