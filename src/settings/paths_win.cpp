#include <windows.h>

#include <vector>

#include "file_util/win.h"
#include "settings/settings.h"

namespace veltrane {

Result<std::filesystem::path> install_folder() {
    const auto value = win::environment_variable(L"LOCALAPPDATA");
    if (!value) return install_folder_from(std::nullopt);
    return install_folder_from(std::filesystem::path(*value));
}

Result<std::filesystem::path> executable_path() {
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            const DWORD code = GetLastError();
            return win::win32_error(win::system_message(code), code);
        }
        if (n < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), n));
        if (buffer.size() >= 32768) return Error{"실행 파일 경로가 너무 깁니다.", ERROR_INSUFFICIENT_BUFFER};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace veltrane
