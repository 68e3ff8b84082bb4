// Background modes and Windows Spotlight, the portable half: the Spotlight folder and its
// images, the status record, the wallpaper backup record, and the decisions of the download
// (when it is due, which candidates in which order, what counts as a JPEG). The Windows
// effects (registry, wallpaper, worker) are in spotlight_win.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/result.h"

namespace veltrane {

inline constexpr const char* kSpotlightFolder = "Spotlight";
inline constexpr const char* kSpotlightTempFile = ".spotlight-download.tmp";
inline constexpr const char* kSpotlightStatusFile = "Veltrane_Desktop.spotlight-status";
inline constexpr const char* kWallpaperBackupFile = "Veltrane_Desktop.wallpaper-backup";
inline constexpr std::uint64_t kSpotlightStatusLimit = 4096;
inline constexpr std::uint64_t kWallpaperBackupLimit = 65536;
inline constexpr std::uint64_t kSelectionLimit = 1048576;
inline constexpr std::uint64_t kSpotlightImageLimit = 33554432;
inline constexpr const char* kSelectionPath =
    "/v4/api/selection?placement=88000820&bcnt=4&country=US&locale=en-US&fmt=json";
inline constexpr std::chrono::seconds kSpotlightRefreshAge{21600};
inline constexpr std::chrono::seconds kSpotlightRestartGap{300};
inline constexpr std::size_t kSpotlightImagesKept = 3;
inline constexpr std::size_t kSpotlightFolderFull = 4;

inline constexpr const char* kNoBackupFolderMessage = "바탕화면 백업 경로를 확인하지 못했습니다.";
inline constexpr const char* kReadWallpaperMessage = "현재 바탕화면 경로 확인 실패";
inline constexpr const char* kSaveBackupMessage = "기존 바탕화면 백업 저장 실패: ";
inline constexpr const char* kOwnPictureMessage =
    "지금 바탕화면은 벨트레인이 합성한 그림이라 사용자 바탕화면으로 백업하지 않았습니다. 먼저 이전 바탕화면으로 되돌려 주세요.";
inline constexpr const char* kBackgroundColorMessage = "배경색 레지스트리 값을 기록하지 못했습니다: ";
inline constexpr const char* kBlackMessage = "검정 배경 적용 실패";
inline constexpr const char* kChangeLockMessage = "바탕화면 변경 잠금이 손상되었습니다.";
inline constexpr const char* kSpotlightApplyMessage = "Spotlight 배경 적용 실패: ";
inline constexpr const char* kReadBackupMessage = "바탕화면 백업 읽기 실패: ";
inline constexpr const char* kRestoreStyleMessage = "바탕화면 스타일 복원 실패: ";
inline constexpr const char* kRestoreTileMessage = "바탕화면 타일 설정 복원 실패: ";
inline constexpr const char* kRestoreColorMessage = "바탕화면 색상 복원 실패: ";
inline constexpr const char* kRestoreWallpaperMessage = "기존 바탕화면 복원 실패";
inline constexpr const char* kRetireBackupMessage = "복원한 바탕화면 백업 기록을 지우지 못했습니다: ";
inline constexpr const char* kRegistryStringTooLarge = "registry string is too large";

// "spotlight-" + Unix seconds + ".jpg"; recognition is by name and by being a plain file.
std::string spotlight_image_name(std::uint64_t unix_seconds);
bool is_spotlight_image_name(std::string_view name);

// A download is due unless the status record was modified less than six hours ago; a
// modification time in the future does not hold it back.
bool spotlight_refresh_due(const std::optional<std::filesystem::file_time_type>& status_modified,
                           std::filesystem::file_time_type now);

// At most one worker start per five minutes, except on the tick that switched to Spotlight.
bool spotlight_start_allowed(const std::optional<std::chrono::steady_clock::time_point>& last_start,
                             std::chrono::steady_clock::time_point now, bool just_became_spotlight);

// The landscape image URLs of a selection document, in the service's order; elements that
// are not in the expected shape or not https:// are skipped, and a broken document gives none.
std::vector<std::string> spotlight_candidates(std::string_view selection_document);

// The previous asset moves to the end, so a new picture is preferred; the rest keep order.
std::vector<std::string> order_candidates(std::vector<std::string> candidates,
                                          const std::optional<std::string>& previous);

// More than three bytes, FF D8 FF at the start and FF D9 at the end.
bool is_jpeg_envelope(std::span<const std::uint8_t> bytes);

struct JpegSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};
// The frame size of the first start-of-frame segment, read from the header without decoding;
// nothing when the segments before it are broken or a scan comes first.
std::optional<JpegSize> jpeg_frame_size(std::span<const std::uint8_t> bytes);
// A picture the renderer's pixel cap allows, judged before anything decodes it.
bool spotlight_picture_fits(std::span<const std::uint8_t> bytes);

std::string format_spotlight_status(std::uint64_t applied_at, std::string_view asset_url,
                                    const std::filesystem::path& image);
// The remainder of the first line that starts with "asset_url=".
std::optional<std::string> status_asset_url(std::string_view record);

// The user's wallpaper settings as first replaced by black or a Spotlight picture.
struct WallpaperBackup {
    std::string path;                  // empty when the record has none
    std::optional<std::string> style;  // only when non-empty
    std::optional<std::string> tile;
    std::optional<std::string> color;
    friend bool operator==(const WallpaperBackup&, const WallpaperBackup&) = default;
};
WallpaperBackup parse_wallpaper_backup(std::string_view record);
// Registry values that do not exist are written as empty text.
std::string format_wallpaper_backup(std::string_view path, const std::optional<std::string>& style,
                                    const std::optional<std::string>& tile, const std::optional<std::string>& color);

struct SpotlightImage {
    std::filesystem::path path;
    std::filesystem::file_time_type modified;  // the Unix epoch when unreadable
};

// The recognised images of a folder, in listing order; an error when it cannot be read.
Result<std::vector<SpotlightImage>> list_spotlight_images(const std::filesystem::path& folder);
// Oldest first (ties by path): the images beyond the newest `keep`.
std::vector<SpotlightImage> images_to_prune(std::vector<SpotlightImage> images, std::size_t keep);
// Greatest modification time; on equal times the one listed later.
std::optional<std::filesystem::path> newest_image(const std::vector<SpotlightImage>& images);

// Removes the temporary download and all but the newest three images; the count left.
std::size_t prune_spotlight_folder(const std::filesystem::path& spotlight_folder);
std::optional<std::filesystem::path> latest_spotlight_image(const std::filesystem::path& exe_folder);
std::optional<std::filesystem::path> latest_spotlight_image();

// Deletes every recognised image and the temporary download, then the folder if empty.
void remove_spotlight_files(const std::filesystem::path& exe_folder);

}  // namespace veltrane
