// Black and Spotlight backgrounds on the real desktop wallpaper, and the backup that gives
// the user's settings back.
#include <windows.h>

#include <memory>
#include <type_traits>
#include <system_error>
#include <vector>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "spotlight/spotlight.h"
#include "spotlight/spotlight_state.h"
#include "spotlight/spotlight_win.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";
constexpr const wchar_t* kColorsKey = L"Control Panel\\Colors";
constexpr const wchar_t* kStyleValue = L"WallpaperStyle";
constexpr const wchar_t* kTileValue = L"TileWallpaper";
constexpr const wchar_t* kBackgroundValue = L"Background";
constexpr const char* kBlackColor = "0 0 0";
constexpr UINT kWallpaperPathUnits = 32768;
constexpr UINT kUpdateAndBroadcast = SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE;
constexpr std::size_t kMaxRegistryUnits = std::size_t{1} << 31;
constexpr UINT kAnnounceWait = 1000;  // per window that does not answer

using win::UniqueKey;

Error system_error_of(DWORD code) { return file_system_error(std::error_code(static_cast<int>(code), std::system_category())); }

Error prefixed(const char* prefix, const Error& error) { return Error{prefix + error.message, error.os_code}; }

Status write_registry_string(const wchar_t* subkey, const wchar_t* name, std::string_view value) {
    const std::wstring wide = win::to_wide(value);
    if (wide.size() + 1 >= kMaxRegistryUnits) return make_error(kRegistryStringTooLarge);
    HKEY raw = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return system_error_of(static_cast<DWORD>(status));
    UniqueKey key(raw);
    const auto bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
    if (status != ERROR_SUCCESS) return system_error_of(static_cast<DWORD>(status));
    return {};
}

// REG_SZ only; a missing value, or one of another type, reads as absent.
std::optional<std::string> read_registry_string(const wchar_t* subkey, const wchar_t* name) {
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return win::from_wide(buffer.data());
}

// The path cut at the first zero, or the Win32 code of the failure.
Result<std::wstring> current_wallpaper() {
    std::vector<wchar_t> buffer(kWallpaperPathUnits, L'\0');
    if (!SystemParametersInfoW(SPI_GETDESKWALLPAPER, kWallpaperPathUnits, buffer.data(), 0)) {
        const DWORD code = GetLastError();
        return Error{std::to_string(code), code};
    }
    return std::wstring(buffer.data());
}

// Setting the wallpaper: the Win32 code of a failure, never 0, which callers read as a
// damaged record rather than a failure a retry can mend.
std::optional<DWORD> set_wallpaper(const std::wstring& path, UINT flags = kUpdateAndBroadcast) {
    if (SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(path.c_str()), flags)) return std::nullopt;
    const DWORD code = GetLastError();
    return code ? code : ERROR_GEN_FAILURE;
}

bool is_record_file(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace

Status set_wallpaper_image(const fs::path& image, bool announce) {
    if (auto s = write_registry_string(kDesktopKey, kStyleValue, "10"); !s) return s;
    if (auto s = write_registry_string(kDesktopKey, kTileValue, "0"); !s) return s;
    if (auto code = set_wallpaper(image.wstring(), announce ? kUpdateAndBroadcast : SPIF_UPDATEINIFILE)) {
        return system_error_of(*code);
    }
    return {};
}

void announce_wallpaper_change() {
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, 0, SMTO_ABORTIFHUNG, kAnnounceWait,
                        nullptr);
}

Status save_wallpaper_backup(const std::optional<fs::path>& exe_folder) {
    if (!exe_folder) return make_error(kNoBackupFolderMessage);
    const fs::path record = *exe_folder / kWallpaperBackupFile;
    if (is_record_file(record)) return {};
    auto path = current_wallpaper();
    if (!path) return win::win32_error(kReadWallpaperMessage, path.error().os_code, win::CodeText::AfterColon);
    // The program's own picture is gone once a restore finishes; recorded as the user's, it
    // would be put back as a missing file.
    if (path_is_inside(win::from_wide(*path), *exe_folder)) return make_error(kOwnPictureMessage);
    const std::string text = format_wallpaper_backup(win::from_wide(*path), read_registry_string(kDesktopKey, kStyleValue),
                                                     read_registry_string(kDesktopKey, kTileValue),
                                                     read_registry_string(kColorsKey, kBackgroundValue));
    if (auto written = write_file_atomic(record, std::string_view(text)); !written) {
        return prefixed(kSaveBackupMessage, written.error());
    }
    return {};
}

Status apply_black_background(const std::optional<fs::path>& exe_folder) {
    auto path = current_wallpaper();
    if (path && path->empty() && read_registry_string(kColorsKey, kBackgroundValue) == kBlackColor) return {};
    if (auto saved = save_wallpaper_backup(exe_folder); !saved) return saved;
    if (auto s = write_registry_string(kColorsKey, kBackgroundValue, kBlackColor); !s) {
        return prefixed(kBackgroundColorMessage, s.error());
    }
    if (auto code = set_wallpaper(L"")) return win::win32_error(kBlackMessage, *code, win::CodeText::AfterColon);
    return {};
}

Status apply_spotlight_background(const std::optional<fs::path>& exe_folder) {
    const auto image = exe_folder ? latest_spotlight_image(*exe_folder) : std::nullopt;
    if (!image) return {};
    auto path = current_wallpaper();
    if (path && equals_ignoring_ascii_case(win::from_wide(*path), path_to_utf8(*image))) return {};
    {
        auto lock = take_wallpaper_change_lock();
        if (!lock) return make_error(kChangeLockMessage);
        if (auto saved = save_wallpaper_backup(exe_folder); !saved) return saved;
        if (auto set = set_wallpaper_image(*image, false); !set) return prefixed(kSpotlightApplyMessage, set.error());
    }
    announce_wallpaper_change();
    return {};
}

Status restore_wallpaper_backup(const fs::path& exe_folder) {
    auto text = read_text_limited(exe_folder / kWallpaperBackupFile, kWallpaperBackupLimit);
    if (!text) {
        if (is_not_found(text.error())) return {};
        return prefixed(kReadBackupMessage, text.error());
    }
    const WallpaperBackup backup = parse_wallpaper_backup(*text);
    if (backup.style) {
        if (auto s = write_registry_string(kDesktopKey, kStyleValue, *backup.style); !s) {
            return prefixed(kRestoreStyleMessage, s.error());
        }
    }
    if (backup.tile) {
        if (auto s = write_registry_string(kDesktopKey, kTileValue, *backup.tile); !s) {
            return prefixed(kRestoreTileMessage, s.error());
        }
    }
    if (backup.color) {
        if (auto s = write_registry_string(kColorsKey, kBackgroundValue, *backup.color); !s) {
            return prefixed(kRestoreColorMessage, s.error());
        }
    }
    if (auto code = set_wallpaper(win::to_wide(backup.path))) return win::win32_error(kRestoreWallpaperMessage, *code, win::CodeText::AfterColon);
    // Put back: retired, so a wallpaper the user sets later is never replaced by this one, and
    // the next switch to black or Spotlight records the wallpaper of that moment.
    std::error_code ec;
    fs::remove(exe_folder / kWallpaperBackupFile, ec);
    if (ec) return prefixed(kRetireBackupMessage, file_system_error(ec));
    return {};
}

}  // namespace veltrane
