#include "file_util/win.h"

#include <cstdio>

#include "file_util/text.h"

namespace veltrane::win {

std::wstring to_wide(std::string_view utf8) {
    const std::u16string u = utf8_to_utf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string from_wide(std::wstring_view wide) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n != 0 && buffer) text.assign(buffer, n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) return "Win32 error " + std::to_string(code);
    return from_wide(text);
}

Error win32_error(std::string_view what, DWORD code, CodeText at) {
    const std::string number = std::to_string(code);
    std::string text(what);
    text += at == CodeText::AfterColon ? ": Win32 오류 " + number : " (Win32 오류 " + number + ")";
    return Error{std::move(text), static_cast<std::uint32_t>(code)};
}

Error last_win32_error(std::string_view what, CodeText at) { return win32_error(what, GetLastError(), at); }

std::string hresult_text(HRESULT hr) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
    const std::string description = system_message(static_cast<DWORD>(hr));
    // The system has texts for Win32-based codes only; others come back as the fallback.
    if (description.rfind("Win32 error ", 0) == 0) return std::string("HRESULT ") + hex;
    return description + " (HRESULT " + hex + ")";
}

Error hresult_error(std::string_view what, HRESULT hr) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "HRESULT(0x%08lX)", static_cast<unsigned long>(hr));
    return Error{std::string(what) + ": " + hex, static_cast<std::uint32_t>(hr)};
}

bool is_reparse_point(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool retry_while_held(const std::function<bool()>& call, DWORD also_held) {
    constexpr int kAttempts = 40;
    constexpr DWORD kPauseMs = 50;
    for (int attempt = 1;; ++attempt) {
        if (call()) return true;
        const DWORD code = GetLastError();
        const bool held = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
                          (also_held != ERROR_SUCCESS && code == also_held);
        if (!held || attempt == kAttempts) {
            SetLastError(code);
            return false;
        }
        Sleep(kPauseMs);
    }
}

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring value(needed, L'\0');
    const DWORD n = GetEnvironmentVariableW(name, value.data(), needed);
    if (n == 0 || n >= needed) return std::nullopt;
    value.resize(n);
    return value;
}

}  // namespace veltrane::win
