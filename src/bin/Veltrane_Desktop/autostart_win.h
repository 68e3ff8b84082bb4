// Logon autostart through the user's Run value and the Start-menu shortcut written by
// Windows PowerShell. Everything is per user: HKEY_CURRENT_USER and the user's APPDATA.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <utility>

#include "file_util/result.h"

namespace veltrane {

// Owns an open registry key; closed exactly once.
class UniqueKey {
public:
    UniqueKey() = default;
    explicit UniqueKey(HKEY key) : key_(key) {}
    UniqueKey(UniqueKey&& o) noexcept : key_(std::exchange(o.key_, nullptr)) {}
    UniqueKey& operator=(UniqueKey&& o) noexcept {
        if (this != &o) {
            reset();
            key_ = std::exchange(o.key_, nullptr);
        }
        return *this;
    }
    ~UniqueKey() { reset(); }
    HKEY get() const { return key_; }
    void reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// The Run key with set-value access, created when missing.
Result<UniqueKey> open_run_key();
Status enable_autostart(const std::filesystem::path& executable);
// A missing value is no failure.
Status disable_autostart();
// Whether the Run value starts exactly this running copy with "--run"; any problem reads as false.
bool is_autostart_enabled();

std::optional<std::filesystem::path> start_menu_shortcut_path();
// The Programs folder is not created: without it the save fails.
Status create_start_menu_shortcut(const std::filesystem::path& executable, const std::filesystem::path& working_folder);

}  // namespace veltrane
