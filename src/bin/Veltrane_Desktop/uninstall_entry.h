// The per-user entry that Apps & Features and deployment inventories read: what it holds is
// decided here, portably; uninstall_entry_win.h writes it to the registry.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "build_info/build_version.h"

namespace veltrane {

inline constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veltrane_Desktop";

struct UninstallValue {
    std::string name;
    std::variant<std::string, std::uint32_t> value;  // REG_SZ or REG_DWORD
    friend bool operator==(const UninstallValue&, const UninstallValue&) = default;
};

// Every value of the entry for the installed executable in `install_folder`.
std::vector<UninstallValue> uninstall_entry_values(const std::filesystem::path& install_folder,
                                                   const BuildVersion& version, std::uint32_t size_kib);

// The two values a new build changes.
std::vector<UninstallValue> uninstall_refresh_values(const BuildVersion& version, std::uint32_t size_kib);

// The folder's regular files in KiB, rounded up; unreadable entries count nothing.
std::uint32_t folder_size_kib(const std::filesystem::path& folder);

}  // namespace veltrane
