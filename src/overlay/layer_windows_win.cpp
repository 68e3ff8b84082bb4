#include "overlay/layer_windows_win.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "file_util/win.h"
#include "image/content_block.h"
#include "ipc/ipc.h"

namespace veltrane {
namespace {

using win::Selection;
using win::UniqueDC;
using win::UniqueWindow;

// No-activate, layered, tool window, transparent; popup.
constexpr DWORD kLayerExStyle = 0x080800A0;
constexpr DWORD kLayerStyle = 0x80000000;
constexpr UINT kShowFlags = 0x57;   // no size, no move, no z-order, no activate, show
constexpr UINT kRaiseFlags = 0x13;  // no size, no move, no activate

// The pixels of one layer in a memory DC, ready for UpdateLayeredWindow.
class LayerSurface {
public:
    bool create(const TextLayer& layer) {
        if (!pixels_fit(layer)) return false;
        dc_.emplace(CreateCompatibleDC(nullptr));
        if (!*dc_) return false;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = layer.width;
        info.bmiHeader.biHeight = -layer.height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_.emplace(CreateDIBSection(dc_->get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!*bitmap_ || !bits) return false;
        std::memcpy(bits, layer.pixels.data(), layer.pixels.size());
        selection_.emplace(dc_->get(), bitmap_->get());
        return selection_->ok();
    }
    HDC dc() const { return dc_->get(); }

private:
    // A layer whose byte count disagrees with its size would be read past its end.
    static bool pixels_fit(const TextLayer& layer) {
        if (layer.width < 1 || layer.height < 1) return false;
        const std::uint64_t pixels = std::uint64_t(layer.width) * std::uint64_t(layer.height);
        return pixels <= std::numeric_limits<std::size_t>::max() / 4 && layer.pixels.size() == pixels * 4;
    }

    // Declared so that the selection is undone first, then the DC and last the bitmap go.
    std::optional<win::UniqueBitmap> bitmap_;
    std::optional<UniqueDC> dc_;
    std::optional<Selection> selection_;
};

enum LayerIndex { kImage, kText, kDuty };

struct Layer {
    const TextLayer* pixels = nullptr;  // null: the content has no such layer
    std::uint8_t alpha = 255;
    const char* surface_message = nullptr;
    const char* window_message = nullptr;
    LayerSurface surface;
};

using Layers = std::array<Layer, 3>;

UniqueWindow& window_of(MonitorWindows& windows, int index) {
    return index == kImage ? windows.image : index == kText ? windows.text : windows.duty;
}

HWND bottom_of_stack() {
    HWND shell = GetShellWindow();
    return shell ? shell : HWND_BOTTOM;
}

int clamp_int(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// The duty box gets no window on a monitor its gap pushes the block off.
Result<MonitorWindows> create_windows(const Layers& layers, const BlockPlacement& block, HINSTANCE instance) {
    MonitorWindows windows;
    for (int i : {kImage, kText, kDuty}) {
        if (!layers[i].pixels || (i == kDuty && !block.duty_top)) continue;
        HWND window = CreateWindowExW(kLayerExStyle, ipc::kLayerClass, nullptr, kLayerStyle, 0, 0, 0, 0, nullptr,
                                      nullptr, instance, nullptr);
        if (!window) return make_error(layers[i].window_message);
        window_of(windows, i).reset(window);
    }
    return windows;
}

bool place(const UniqueWindow& window, const TextLayer& layer, std::int64_t x, std::int64_t y) {
    return SetWindowPos(window.get(), bottom_of_stack(), clamp_int(x), clamp_int(y), layer.width, layer.height,
                        SWP_NOACTIVATE);
}

bool place_windows(MonitorWindows& windows, const RenderedContent& content, const BlockPlacement& block,
                   const MonitorRect& monitor) {
    const std::int64_t x = monitor.left + block.left;
    if (windows.duty && !place(windows.duty, *content.duty, x, monitor.top + *block.duty_top)) return false;
    if (!place(windows.image, content.image, x, monitor.top + block.image_top)) return false;
    return !windows.text || place(windows.text, *content.text, x, monitor.top + *block.text_top);
}

bool update_windows(MonitorWindows& windows, const Layers& layers) {
    for (int i : {kImage, kText, kDuty}) {
        const Layer& layer = layers[i];
        if (!layer.pixels || !window_of(windows, i)) continue;
        SIZE size{layer.pixels->width, layer.pixels->height};
        POINT source{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, layer.alpha, AC_SRC_ALPHA};
        if (!UpdateLayeredWindow(window_of(windows, i).get(), nullptr, nullptr, &size, layer.surface.dc(), &source,
                                 0, &blend, ULW_ALPHA))
            return false;
    }
    return true;
}

bool show_windows(MonitorWindows& windows) {
    for (int i : {kImage, kText, kDuty}) {
        const UniqueWindow& window = window_of(windows, i);
        if (window && !SetWindowPos(window.get(), nullptr, 0, 0, 0, 0, kShowFlags)) return false;
    }
    return true;
}

}  // namespace

LRESULT CALLBACK layer_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

Result<std::vector<MonitorWindows>> show_overlays(const RenderedContent& content,
                                                  const std::vector<MonitorRect>& monitors, HINSTANCE instance) {
    Layers layers{{
        {&content.image, content.image_alpha, kImageSurfaceMessage, kImageWindowMessage, {}},
        {content.text ? &*content.text : nullptr, content.text_alpha, kTextSurfaceMessage, kTextWindowMessage, {}},
        {content.duty ? &*content.duty : nullptr, content.duty_alpha, kDutySurfaceMessage, kDutyWindowMessage, {}},
    }};
    for (Layer& layer : layers)
        if (layer.pixels && !layer.surface.create(*layer.pixels)) return make_error(layer.surface_message);

    // Every early return below destroys the windows of all monitors made so far.
    std::vector<MonitorWindows> shown;
    shown.reserve(monitors.size());
    const BlockStack block = block_stack(content);
    for (const MonitorRect& monitor : monitors) {
        const BlockPlacement placement = place_block(block, clamp_int(std::int64_t{monitor.right} - monitor.left),
                                                     clamp_int(std::int64_t{monitor.bottom} - monitor.top));
        auto windows = create_windows(layers, placement, instance);
        if (!windows) return windows.take_error();
        if (!place_windows(*windows, content, placement, monitor)) return make_error(kPlaceMessage);
        if (!update_windows(*windows, layers)) return make_error(kShowMessage);
        shown.push_back(std::move(*windows));
        if (!show_windows(shown.back())) return make_error(kShowMessage);
    }
    return shown;
}

void raise_overlays(const std::vector<MonitorWindows>& windows) {
    for (const MonitorWindows& monitor : windows)
        for (HWND window : {monitor.image.get(), monitor.text.get(), monitor.duty.get()})
            if (window) SetWindowPos(window, bottom_of_stack(), 0, 0, 0, 0, kRaiseFlags);
}

void destroy_overlays(std::vector<MonitorWindows>& windows) { windows.clear(); }

}  // namespace veltrane
