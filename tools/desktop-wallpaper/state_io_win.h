// The desktop-wallpaper stand-in's files on Windows: the named mutex every process takes
// around them, the state file under %TEMP% (read whole, replaced atomically) and the call log
// (appended). Shared by the stand-in DLL and the tests' control library.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace veltrane::standin {

inline constexpr const wchar_t* kMutexName = L"Local\\VeltraneTest.DesktopWallpaper";

// Holds the stand-in's mutex for its lifetime; an abandoned mutex counts as acquired.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    bool held() const { return held_; }
    DWORD error() const { return error_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
    DWORD error_ = ERROR_SUCCESS;
};

std::string to_utf8(std::wstring_view text);
std::wstring to_wide(std::string_view text);

// %TEMP% as this process sees it (GetTempPathW when unset), with a trailing backslash.
std::wstring temp_folder();
std::wstring state_file_path();
std::wstring log_file_path();

// The whole file; a missing file reads as empty. Returns a Win32 error code.
DWORD read_whole_file(const std::wstring& path, std::string& contents);
// A temporary sibling, flushed, then MoveFileExW over the target.
DWORD replace_file_contents(const std::wstring& path, std::string_view contents);
DWORD append_to_file(const std::wstring& path, std::string_view text);

}  // namespace veltrane::standin
