// Windows-only glue shared by every module's *_win.cpp: wide strings at system calls,
// system error texts, environment variables, and RAII owners for kernel handles and
// registry keys. Include after <windows.h>.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace veltrane::win {

std::wstring to_wide(std::string_view utf8);
std::string from_wide(std::wstring_view wide);

// FormatMessageW text for a Win32 code, without the trailing line break.
std::string system_message(DWORD code);

// A file that a process held a moment ago (an ended program's image, a virus scanner, the
// search indexer) refuses a rename with ERROR_ACCESS_DENIED or ERROR_SHARING_VIOLATION for a
// short while. `call` (a Win32 call that reports through GetLastError) is repeated with short
// sleeps for up to about 2 s while it fails with one of those or with `also_held`; any other
// failure returns at once. The last error is the last call's.
bool retry_while_held(const std::function<bool()>& call, DWORD also_held = ERROR_SUCCESS);

// The variable's value; nothing when it is not set.
std::optional<std::wstring> environment_variable(const wchar_t* name);

// Owns a kernel handle (file, mutex, event, process, thread); closed exactly once.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (h_) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// Owns a FindFirstFile search; INVALID_HANDLE_VALUE when the search found nothing or failed.
struct UniqueFind {
    HANDLE h;
    explicit UniqueFind(HANDLE handle) : h(handle) {}
    UniqueFind(const UniqueFind&) = delete;
    UniqueFind& operator=(const UniqueFind&) = delete;
    ~UniqueFind() {
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
    }
};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
// Owns an open registry key; closed exactly once.
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace veltrane::win

#endif
