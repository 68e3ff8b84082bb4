// Wallpaper composition: one picture per monitor (background by mode, then the content
// block centred), saved as PNG files in a fresh output folder under WallpaperComposite,
// published by rename and set as each monitor's wallpaper, with the user's wallpapers
// recorded first and put back when setting fails. The caller starts GDI+ around it.
#pragma once

#include <filesystem>
#include <optional>

#include "file_util/result.h"
#include "image/content_render.h"
#include "settings/monitors.h"
#include "settings/settings.h"
#include "wallpaper/gdiplus_win.h"

namespace veltrane {

inline constexpr const char* kMonitorSizeMessage = "지원하지 않는 모니터 해상도입니다.";
inline constexpr const char* kBitmapMessage = "바탕화면 합성 버퍼 생성에 실패했습니다.";
inline constexpr const char* kGraphicsMessage = "바탕화면 그래픽 생성에 실패했습니다.";
inline constexpr const char* kDutyDrawMessage = "당직 박스 합성에 실패했습니다.";
inline constexpr const char* kImageDrawMessage = "항생제표 이미지 합성에 실패했습니다.";
inline constexpr const char* kTextDrawMessage = "항생제표 텍스트 합성에 실패했습니다.";
inline constexpr const char* kSaveMessage = "합성 바탕화면 저장 실패: ";
inline constexpr const char* kMonitorsChangedMessage = "합성 중 모니터 구성이 변경되었습니다.";
inline constexpr const char* kOutputPathMessage = "바탕화면 합성 출력 경로를 확인하지 못했습니다.";

// Draws one wallpaper file with a position value (0 centre, 1 tile, 2 stretch, 3 fit,
// 4 fill, 5 span) onto the bitmap of `monitor`, in monitor coordinates; `bounds` are the
// virtual bounds. A file that is missing or does not load leaves the bitmap as it is, and
// the answer is false.
bool draw_wallpaper_file(Gdiplus::GpGraphics* graphics, const std::filesystem::path& path, std::int32_t position,
                         const MonitorRect& monitor, const MonitorRect& bounds);

// `spotlight_image` is used in the Spotlight mode; without it that mode paints the user's
// wallpaper. Needs a running GDI+ session on this thread. The backgrounds it keeps for the
// next composition may still be being written when it returns (finish_background_writes).
Status compose_wallpapers(const std::filesystem::path& install_folder, const RenderedContent& content,
                          const Settings& settings, BackgroundMode mode,
                          const std::optional<std::filesystem::path>& spotlight_image);

}  // namespace veltrane
