#include "state_io_win.h"

#include <memory>
#include <type_traits>

namespace veltrane::standin {
namespace {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using File = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

File open_file(const std::wstring& path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return File(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

DWORD write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 1u << 20 ? 1u << 20 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return GetLastError();
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

}  // namespace

StateLock::StateLock() : mutex_(CreateMutexW(nullptr, FALSE, kMutexName)) {
    if (mutex_ == nullptr) {
        error_ = GetLastError();
        return;
    }
    const DWORD wait = WaitForSingleObject(mutex_, INFINITE);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (!held_) error_ = wait == WAIT_FAILED ? GetLastError() : ERROR_TIMEOUT;
}

StateLock::~StateLock() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
}

std::string to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring to_wide(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring temp_folder() {
    std::wstring buffer(32768, L'\0');
    DWORD n = GetEnvironmentVariableW(L"TEMP", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    buffer.resize(n < buffer.size() ? n : 0);
    if (!buffer.empty() && buffer.back() != L'\\' && buffer.back() != L'/') buffer += L'\\';
    return buffer;
}

std::wstring state_file_path() { return temp_folder() + L"desktop-wallpaper.state"; }
std::wstring log_file_path() { return temp_folder() + L"desktop-wallpaper.log"; }

DWORD read_whole_file(const std::wstring& path, std::string& contents) {
    contents.clear();
    File file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return GetLastError();
        if (got == 0) return ERROR_SUCCESS;
        contents.append(buffer, got);
    }
}

DWORD replace_file_contents(const std::wstring& path, std::string_view contents) {
    const std::wstring temp = path + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetCurrentThreadId());
    {
        File file = open_file(temp, GENERIC_WRITE, CREATE_ALWAYS);
        if (!file) return GetLastError();
        DWORD error = write_all(file.get(), contents);
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
        if (error != ERROR_SUCCESS) {
            file.reset();
            DeleteFileW(temp.c_str());
            return error;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD append_to_file(const std::wstring& path, std::string_view text) {
    File file = open_file(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (!file) return GetLastError();
    return write_all(file.get(), text);
}

}  // namespace veltrane::standin
