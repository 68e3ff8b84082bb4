#include "uninstall_entry_win.h"

#include <windows.h>

#include "file_util/win.h"
#include "uninstall_entry.h"

namespace veltrane {
namespace {

Error entry_error(LONG code) {
    return win::win32_error("제거 정보를 등록하지 못했습니다.", code);
}

LONG set_value(HKEY key, const UninstallValue& v) {
    const std::wstring name = win::to_wide(v.name);
    if (const auto* number = std::get_if<std::uint32_t>(&v.value)) {
        const DWORD dword = *number;
        return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
    }
    const std::wstring text = win::to_wide(std::get<std::string>(v.value));
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

Status set_values(HKEY key, const std::vector<UninstallValue>& values) {
    for (const auto& v : values) {
        if (const LONG code = set_value(key, v); code != ERROR_SUCCESS) return entry_error(code);
    }
    return {};
}

}  // namespace

Status write_uninstall_entry(const std::filesystem::path& install_folder) {
    HKEY raw = nullptr;
    const LONG code = RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
    if (code != ERROR_SUCCESS) return entry_error(code);
    const win::UniqueKey key(raw);
    return set_values(key.get(), uninstall_entry_values(install_folder, current_build_version(),
                                                        folder_size_kib(install_folder)));
}

void refresh_uninstall_entry(const std::filesystem::path& install_folder) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return;
    const win::UniqueKey key(raw);
    (void)set_values(key.get(), uninstall_refresh_values(current_build_version(), folder_size_kib(install_folder)));
}

Status delete_uninstall_entry() {
    const LONG code = RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
    if (code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND) return {};
    return win::win32_error("제거 정보를 지우지 못했습니다.", code);
}

}  // namespace veltrane
