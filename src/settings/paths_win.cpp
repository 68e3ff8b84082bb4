#include <windows.h>

#include <vector>

#include "file_util/win.h"
#include "settings/settings.h"

namespace veltrane {

Result<std::filesystem::path> install_folder() {
    const DWORD needed = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (needed == 0) return install_folder_from(std::nullopt);
    std::wstring value(needed, L'\0');
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), needed);
    if (n == 0 || n >= needed) return install_folder_from(std::nullopt);
    value.resize(n);
    return install_folder_from(std::filesystem::path(value));
}

Result<std::filesystem::path> executable_path() {
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            const DWORD code = GetLastError();
            return Error{win::system_message(code) + " (Win32 오류 " + std::to_string(code) + ")", code};
        }
        if (n < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), n));
        if (buffer.size() >= 32768) return Error{"실행 파일 경로가 너무 깁니다.", ERROR_INSUFFICIENT_BUFFER};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace veltrane
