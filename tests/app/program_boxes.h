// The real program as a process under Wine, driven as a user drives it: start it, find its
// owner-less message boxes, read their text and buttons, press one, see it end; and what it
// leaves for the user: the Run value and the Start-menu shortcut.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

#include "file_util/win.h"

namespace veltrane::testing {

// The program of this build (VELTRANE_PROGRAM) as a Z: path.
std::filesystem::path program_path();
std::filesystem::path local_app_data();

win::UniqueHandle start(const std::filesystem::path& exe, const std::wstring& arguments);

inline constexpr const wchar_t* kSettingsCaption = L"벨트레인 설정";
// The visible message box of that caption, of one process (0: of any process), waiting up to
// `ms` for it to appear; nullptr when none did.
HWND find_box(DWORD process_id, const wchar_t* caption = kSettingsCaption, int ms = 15000);
HWND box_of(const win::UniqueHandle& process, const wchar_t* caption = kSettingsCaption, int ms = 15000);

std::string text_of(HWND box);
std::string buttons_of(HWND box);
// The button that Enter presses: the one holding the keyboard focus when the box opens.
int default_button_of(HWND box);
// Presses the button and waits until the box is gone.
void press(HWND box, int button);

// True when the process ends with exit code 0 within `ms`.
bool ended_cleanly(const win::UniqueHandle& process, DWORD ms = 15000);

// The Run value "Veltrane_Desktop" of the current user, when it exists.
std::optional<std::wstring> run_value();

struct Shortcut {
    std::wstring target, working_folder, icon;
    int icon_index = -1;
};
// Read back through IShellLinkW; nothing when the file does not load.
std::optional<Shortcut> read_shortcut(const std::filesystem::path& link);

}  // namespace veltrane::testing
