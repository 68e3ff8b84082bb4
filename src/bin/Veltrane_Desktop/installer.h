// The installer's portable half: which files a set-up folder installs, the records that
// survive a reinstall, emptying and filling the install folder, and the texts the user sees.
// The whole sequence with its message boxes is in installer_win.h.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/result.h"
#include "settings/install_identity.h"
#include "settings/settings.h"
#include "spotlight/spotlight.h"

namespace veltrane {

// In copy order; only the first is required.
inline constexpr const char* kInstallFiles[] = {"Veltrane_Desktop.exe", "Veltrane_Desktop.png", "Veltrane_Desktop.txt",
                                                "Veltrane_Desktop.ttf"};
// The user's settings and the black and Spotlight modes' record of the user's wallpaper
// outlive a reinstall: they stay in place, so no moment exists where only memory holds them.
// So does the installation's identity, so that the server's report and rings keep knowing it.
inline constexpr const char* kKeptFileNames[] = {kSettingsFileName, kWallpaperBackupFile, kInstallIdentityFile};

// The required file (or the "필수 파일이 없습니다." error), then the optional ones that are
// regular files in the source.
Result<std::vector<std::string>> install_copy_list(const std::filesystem::path& source);

bool is_kept_file(std::string_view file_name);

// Deletes everything in the folder but the kept files and the files about to be copied over:
// those are replaced one by one, so a set-up ended part-way still leaves a program that runs.
// A folder whose metadata cannot be read counts as missing.
Status empty_install_folder(const std::filesystem::path& folder, const std::vector<std::string>& copied_names);

// Creates the folder, then copies each listed file atomically, skipping a file onto itself.
// While the copies are moved into place, kPendingInstallFile names them (temporary, tab,
// target, one per line): the executable's move commits the new build.
Status copy_install_files(const std::filesystem::path& source, const std::filesystem::path& target,
                          const std::vector<std::string>& names);

inline constexpr const char* kPendingInstallFile = "Veltrane_Desktop.install-pending";

// What an installer ended between its moves left: before the executable's move, the copies
// are deleted and the old build stays; after it, the remaining moves are made. Run before
// anything reads the font. A record that names anything else is deleted and nothing moved.
Status finish_interrupted_install(const std::filesystem::path& folder);

std::string install_failure_text(std::string_view error);
std::string service_unconfirmed_text(std::string_view error);
std::string install_success_text(const std::filesystem::path& target, const std::vector<std::string>& names);

}  // namespace veltrane
