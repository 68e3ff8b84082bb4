#include <windows.h>

#include <string>
#include <vector>

#include "file_util/native_file.h"
#include "file_util/text.h"
#include "file_util/win.h"

namespace veltrane {

bool is_not_found(const Error& error) {
    return error.os_code == ERROR_FILE_NOT_FOUND || error.os_code == ERROR_PATH_NOT_FOUND;
}

namespace native {

Error os_error(std::uint32_t code) { return Error{win::system_message(code) + " (os error " + std::to_string(code) + ")", code}; }

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Error last_error() { return os_error(GetLastError()); }

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

Result<File> File::open_read(const std::filesystem::path& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    return File(reinterpret_cast<std::intptr_t>(h));
}

Result<File> File::create(const std::filesystem::path& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    return File(reinterpret_cast<std::intptr_t>(h));
}

File::File(File&& other) noexcept : handle_(other.handle_) {
    other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (as_handle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(as_handle(handle_));
        handle_ = other.handle_;
        other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    }
    return *this;
}

File::~File() {
    if (as_handle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(as_handle(handle_));
}

Result<std::size_t> File::read(std::span<std::uint8_t> buffer) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 0x40000000));
    DWORD got = 0;
    for (;;) {
        if (ReadFile(as_handle(handle_), buffer.data(), want, &got, nullptr)) return static_cast<std::size_t>(got);
        const DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return std::size_t{0};
        if (code != ERROR_OPERATION_ABORTED) return os_error(code);
    }
}

Status File::write_all(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000));
        DWORD wrote = 0;
        if (!WriteFile(as_handle(handle_), bytes.data(), want, &wrote, nullptr)) {
            if (GetLastError() == ERROR_OPERATION_ABORTED) continue;
            return last_error();
        }
        if (wrote == 0) return make_error("failed to write whole buffer");
        bytes = bytes.subspan(wrote);
    }
    return {};
}

Status File::flush() {
    if (!FlushFileBuffers(as_handle(handle_))) return last_error();
    return {};
}

Result<std::uint64_t> File::size_from_metadata() {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(as_handle(handle_), &info)) return last_error();
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

Status move_replacing(const std::filesystem::path& source, const std::filesystem::path& target) {
    const bool moved = win::retry_while_held([&] {
        return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
    if (!moved) return last_error();
    return {};
}

void remove_quietly(const std::filesystem::path& path) { DeleteFileW(path.c_str()); }

namespace {

struct Entry {
    std::wstring path;
    DWORD attributes;
};

// The whole listing first, so no deletion runs under an open enumeration.
Result<std::vector<Entry>> list_folder(const std::wstring& folder) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW data;
    win::UniqueFind find{FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0)};
    if (!find) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return entries;
        return os_error(code);
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") entries.push_back({folder + L"\\" + name, data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    if (const DWORD code = GetLastError(); code != ERROR_NO_MORE_FILES) return os_error(code);
    return entries;
}

void keep_first(Status& first, Status next) {
    if (first && !next) first = std::move(next);
}

// A link to a folder goes with RemoveDirectoryW, which deletes the link and not its target.
Status remove_entry(const std::wstring& path, DWORD attributes) {
    Status result;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (folder && !link) {
        auto entries = list_folder(path);
        if (!entries) return entries.take_error();
        for (const auto& e : *entries) keep_first(result, remove_entry(e.path, e.attributes));
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool removed = folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    if (!removed) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) keep_first(result, os_error(code));
    }
    return result;
}

}  // namespace

Status remove_tree(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {};
        return os_error(code);
    }
    return remove_entry(path.wstring(), attributes);
}

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace native
}  // namespace veltrane
