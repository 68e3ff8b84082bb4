// Recording the user's wallpapers before the first composition (with backup copies) and
// giving them back. The rules are portable over DesktopWallpaper; the Windows side adds the
// restore lock and the real interface (original_wallpaper_win.h).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_util/result.h"
#include "settings/settings.h"
#include "wallpaper/desktop_wallpaper.h"
#include "wallpaper/original_state.h"

namespace veltrane {

inline constexpr const char* kStatePathMessage = "바탕화면 합성 상태 경로를 확인하지 못했습니다.";
inline constexpr const char* kBrokenStateMessage = "바탕화면 백업 상태가 손상되었습니다.";
inline constexpr const char* kRestoredMessage = "이전 바탕화면으로 되돌렸습니다.";
inline constexpr const char* kNothingToRestoreMessage = "되돌릴 바탕화면 기록이 없습니다.";
inline constexpr const char* kRestoreFailedMessage = "합성 이전 바탕화면으로 되돌리지 못했습니다.";
// Where a damaged record is moved aside, inside the folder a complete restore deletes.
inline constexpr const char* kDamagedStateFile = "original.state.damaged";

// The record in force after making sure every current monitor has an entry (and, in the
// original mode, that a wallpaper the user picked since is backed up). Written when changed.
Result<OriginalState> record_original_wallpapers(DesktopWallpaper& desktop,
                                                 std::span<const WallpaperMonitor> monitors,
                                                 BackgroundMode mode,
                                                 const std::filesystem::path& install_folder);

// The picture an entry stands for: the recorded file, else its backup copy, else an empty
// path when the monitor never had one; nothing when neither file is left.
std::optional<std::string> restorable_path(const OriginalEntry& entry);

// Sets every recorded wallpaper that can be set (the file, else its backup, else an empty
// path when there never was one), then position and colour. The device paths of the entries
// that could not be set (monitor not connected, files gone); empty when every one was.
Result<std::vector<std::string>> put_back_wallpapers(DesktopWallpaper& desktop, const OriginalState& state,
                                                     std::span<const WallpaperMonitor> monitors);

enum class RestoreOutcome { NothingToRestore, Restored, RestoredPartly };

struct RestoreReport {
    RestoreOutcome outcome = RestoreOutcome::NothingToRestore;
    std::vector<std::string> missed;  // device paths, when restored partly
};

// "연결되지 않은 모니터 " + the device path, one per monitor that kept the program's picture.
std::vector<std::string> missed_monitor_notes(const std::vector<std::string>& missed);

// Opens the interface only when there is a record to restore.
using OpenDesktopWallpaper = std::function<Result<std::unique_ptr<DesktopWallpaper>>()>;
using ListGdiMonitors = std::function<std::vector<MonitorEntry>()>;

// The restore without its lock: read the record, put it back, and remove WallpaperComposite
// when every monitor was restored. An invalid record fails and stays in place.
Result<RestoreReport> restore_from_record(const std::filesystem::path& install_folder,
                                           const OpenDesktopWallpaper& open, const ListGdiMonitors& gdi_monitors);

// The restore before the program's files are replaced or deleted (reinstall, update,
// removal), which a damaged record must not stop: a record that is too large, not UTF-8 or
// invalid is moved aside, so it never blocks again. A readable record is restored as above,
// and its failures stay errors. The notes name what could not be given back: the damaged
// record, and every monitor that was not connected.
Result<std::vector<std::string>> restore_over_damaged_record(const std::filesystem::path& install_folder,
                                                               const OpenDesktopWallpaper& open,
                                                               const ListGdiMonitors& gdi_monitors);

}  // namespace veltrane
