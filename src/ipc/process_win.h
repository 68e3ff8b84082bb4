// Starting the program's own processes (watchdog, restarted service), finding the process
// that started this one, and reading a process's creation time, the half of a process
// identity that a reused process id cannot fake.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

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

// The creation file time: 100-nanosecond units since 1601-01-01 UTC.
std::optional<std::uint64_t> process_creation_time(HANDLE process);

// The process that started this one, opened to wait for and end it; nothing when it has
// ended (a process with its id made later is not it).
std::optional<ChildProcess> open_parent_process();

}  // namespace veltrane::ipc
