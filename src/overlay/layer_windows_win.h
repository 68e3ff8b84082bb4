// The overlay presentation: the rendered layers shown in borderless, click-through,
// per-pixel-alpha windows at the bottom of the window stack, one window per layer and
// monitor, stacked and centred as the composed wallpaper would show them. Owns those
// windows and the layers' temporary GDI surfaces; the caller registers the window class
// with layer_window_procedure and keeps the returned records on its window thread.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <utility>
#include <vector>

#include "file_util/result.h"
#include "image/content_render.h"
#include "settings/monitors.h"

namespace veltrane {

namespace win {

// A window destroyed with its owner if it still exists; empty when the layer has none.
class UniqueWindow {
public:
    explicit UniqueWindow(HWND window = nullptr) : window_(window) {}
    UniqueWindow(UniqueWindow&& o) noexcept : window_(std::exchange(o.window_, nullptr)) {}
    UniqueWindow& operator=(UniqueWindow&& o) noexcept {
        if (this != &o) reset(std::exchange(o.window_, nullptr));
        return *this;
    }
    UniqueWindow(const UniqueWindow&) = delete;
    UniqueWindow& operator=(const UniqueWindow&) = delete;
    ~UniqueWindow() { reset(); }

    HWND get() const { return window_; }
    explicit operator bool() const { return window_ != nullptr; }
    void reset(HWND window = nullptr) {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        window_ = window;
    }

private:
    HWND window_;
};

}  // namespace win

// One monitor's windows; text and duty are empty when the content has no such layer, duty
// also where its gap would push the block off the monitor.
struct MonitorWindows {
    win::UniqueWindow image;
    win::UniqueWindow text;
    win::UniqueWindow duty;
};

inline constexpr const char* kImageSurfaceMessage = "이미지 레이어 비트맵을 만들지 못했습니다.";
inline constexpr const char* kTextSurfaceMessage = "텍스트 레이어 비트맵을 만들지 못했습니다.";
inline constexpr const char* kDutySurfaceMessage = "당직 레이어 비트맵을 만들지 못했습니다.";
inline constexpr const char* kImageWindowMessage = "이미지 레이어 창을 만들지 못했습니다.";
inline constexpr const char* kTextWindowMessage = "텍스트 레이어 창을 만들지 못했습니다.";
inline constexpr const char* kDutyWindowMessage = "당직 레이어 창을 만들지 못했습니다.";
inline constexpr const char* kPlaceMessage = "레이어 창을 모니터에 배치하지 못했습니다.";
inline constexpr const char* kShowMessage = "레이어 창을 화면에 표시하지 못했습니다.";

// The layer window class's procedure: paints nothing, never activates, hit-tests transparent.
LRESULT CALLBACK layer_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The windows for every monitor rectangle, in the given order, shown and filled. On any
// failure every window made so far is destroyed and one of the messages above returned.
Result<std::vector<MonitorWindows>> show_overlays(const RenderedContent& content,
                                                  const std::vector<MonitorRect>& monitors, HINSTANCE instance);

// Puts every window back at the bottom of the stack, next to the shell's desktop window.
void raise_overlays(const std::vector<MonitorWindows>& windows);

// Destroys every window that still exists and empties the list.
void destroy_overlays(std::vector<MonitorWindows>& windows);

}  // namespace veltrane

#endif
