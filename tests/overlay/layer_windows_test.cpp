// Overlay windows under Wine and Xvfb: where they sit, how they look on screen, and that
// input passes through them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ipc/ipc.h"
#include "overlay/layer_windows_win.h"

namespace veltrane {
namespace {

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// Premultiplied BGRA filled with one colour; columns from `clear_from` on stay transparent.
TextLayer layer(std::int32_t w, std::int32_t h, COLORREF rgb, std::int32_t clear_from = -1) {
    TextLayer l{Bytes(std::size_t(w) * h * 4), w, h};
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            if (clear_from >= 0 && x >= clear_from) continue;
            std::uint8_t* p = &l.pixels[(std::size_t(y) * w + x) * 4];
            p[0] = GetBValue(rgb), p[1] = GetGValue(rgb), p[2] = GetRValue(rgb), p[3] = 255;
        }
    return l;
}

RenderedContent full_content() {
    RenderedContent c;
    c.image = layer(200, 100, RGB(255, 0, 0));
    c.text = layer(200, 40, RGB(255, 255, 255));
    c.duty = layer(200, 30, RGB(0, 255, 0));
    c.text_gap = 10;
    c.duty_gap = 12;
    c.total_height = 100 + 10 + 40 + 12 + 30;
    return c;
}

RECT rect_of(const win::UniqueWindow& w) {
    RECT r{};
    EXPECT_TRUE(GetWindowRect(w.get(), &r));
    return r;
}

void expect_rect(const win::UniqueWindow& w, LONG left, LONG top, LONG width, LONG height) {
    const RECT r = rect_of(w);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
}

int layer_windows_of_thread() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t name[64];
            if (GetClassNameW(w, name, 64) && std::wstring(name) == ipc::kLayerClass) ++*reinterpret_cast<int*>(p);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

void pump(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class LayerWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = layer_window_procedure;
        wc.hInstance = instance();
        wc.lpszClassName = ipc::kLayerClass;
        ASSERT_TRUE(RegisterClassW(&wc));
    }
    static void TearDownTestSuite() { UnregisterClassW(ipc::kLayerClass, instance()); }
};

TEST_F(LayerWindows, StacksAndCentresTheLayersOnEveryMonitor) {
    const RenderedContent content = full_content();
    // The second monitor is smaller than the block, whatever its gaps: offsets truncate toward
    // zero (-99/2 is -49, -103/2 is -51).
    auto shown = show_overlays(content, {{0, 0, 1920, 1080}, {1920, -100, 2021, -11}}, instance());
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    ASSERT_EQ(shown->size(), 2u);

    const MonitorWindows& first = (*shown)[0];
    expect_rect(first.duty, 860, 444, 200, 30);
    expect_rect(first.image, 860, 444 + 30 + 12, 200, 100);
    expect_rect(first.text, 860, 444 + 30 + 12 + 100 + 10, 200, 40);
    const MonitorWindows& second = (*shown)[1];
    expect_rect(second.duty, 1920 - 49, -151, 200, 30);
    expect_rect(second.image, 1920 - 49, -151 + 42, 200, 100);
    expect_rect(second.text, 1920 - 49, -151 + 152, 200, 40);

    for (const MonitorWindows& m : *shown)
        for (HWND w : {m.image.get(), m.text.get(), m.duty.get()}) {
            EXPECT_EQ(GetWindowLongPtrW(w, GWL_EXSTYLE), 0x080800A0);
            EXPECT_EQ(GetWindowLongPtrW(w, GWL_STYLE) & ~WS_CLIPSIBLINGS, 0x80000000 | WS_VISIBLE);
            EXPECT_NE(GetForegroundWindow(), w);
            EXPECT_NE(GetActiveWindow(), w);
        }

    // A window the caller lost already is skipped; the rest go.
    HWND lost = first.text.get();
    DestroyWindow(lost);
    destroy_overlays(*shown);
    EXPECT_TRUE(shown->empty());
    EXPECT_EQ(layer_windows_of_thread(), 0);
}

TEST_F(LayerWindows, MakesOnlyTheWindowsOfExistingLayers) {
    RenderedContent content = full_content();
    content.text.reset();
    content.duty.reset();
    content.total_height = 100;
    auto shown = show_overlays(content, {{0, 0, 640, 480}, {640, 0, 1280, 480}}, instance());
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    ASSERT_EQ(shown->size(), 2u);
    for (const MonitorWindows& m : *shown) {
        EXPECT_TRUE(m.image);
        EXPECT_FALSE(m.text);
        EXPECT_FALSE(m.duty);
    }
    expect_rect((*shown)[1].image, 640 + 220, 190, 200, 100);
    EXPECT_EQ(layer_windows_of_thread(), 2);
    shown->clear();

    auto none = show_overlays(content, {}, instance());
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(layer_windows_of_thread(), 0);
}

TEST_F(LayerWindows, NoDutyWindowOnAMonitorItsGapPushesTheBlockOff) {
    RenderedContent content = full_content();
    content.duty_gap = 1000;  // a block of 1180 pixels
    auto shown = show_overlays(content, {{0, 0, 1920, 1080}, {1920, 0, 3840, 1200}}, instance());
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    const MonitorWindows& small = (*shown)[0];
    EXPECT_FALSE(small.duty);
    expect_rect(small.image, 860, 465, 200, 100);
    expect_rect(small.text, 860, 465 + 110, 200, 40);
    const MonitorWindows& tall = (*shown)[1];
    expect_rect(tall.duty, 1920 + 860, 10, 200, 30);
    expect_rect(tall.image, 1920 + 860, 10 + 1030, 200, 100);
    EXPECT_EQ(layer_windows_of_thread(), 5);
}

// Lets this many layer windows be made, then refuses the next ones.
int creations_left = 0;
LRESULT CALLBACK refuse_creation(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        const wchar_t* name = reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs->lpszClass;
        const bool layer = !IS_INTRESOURCE(name) && std::wstring(name) == ipc::kLayerClass;
        if (layer && --creations_left < 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(LayerWindows, AFailureLeavesNoWindowBehind) {
    RenderedContent broken = full_content();
    broken.duty->pixels.pop_back();  // one byte short of its size
    auto bad_duty = show_overlays(broken, {{0, 0, 640, 480}}, instance());
    ASSERT_FALSE(bad_duty.ok());
    EXPECT_EQ(bad_duty.error().message, kDutySurfaceMessage);
    broken.image.width = 0;
    auto bad_image = show_overlays(broken, {{0, 0, 640, 480}}, instance());
    ASSERT_FALSE(bad_image.ok());
    EXPECT_EQ(bad_image.error().message, kImageSurfaceMessage);

    // The second monitor's text window is the fifth window made.
    creations_left = 4;
    HHOOK hook = SetWindowsHookExW(WH_CBT, refuse_creation, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    auto refused = show_overlays(full_content(), {{0, 0, 640, 480}, {640, 0, 1280, 480}}, instance());
    UnhookWindowsHookEx(hook);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, kTextWindowMessage);
    EXPECT_EQ(layer_windows_of_thread(), 0);
}

int clicks = 0;
LRESULT CALLBACK below_procedure(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LBUTTONDOWN) ++clicks;
    return DefWindowProcW(w, message, wparam, lparam);
}

bool is_below(HWND upper, HWND lower) {
    for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == lower) return true;
    return false;
}

void click(POINT at) {
    SetCursorPos(at.x, at.y);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
}

COLORREF screen_pixel(POINT at) {
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return c;
}

TEST_F(LayerWindows, SitAtTheBottomBlendWithWhatIsBehindAndLetClicksThrough) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    WNDCLASSW wc{};
    wc.lpfnWndProc = below_procedure;
    wc.hInstance = instance();
    wc.hbrBackground = CreateSolidBrush(RGB(0, 0, 255));
    wc.lpszClassName = L"LayerWindowsTest.Below";
    ASSERT_TRUE(RegisterClassW(&wc));
    win::UniqueWindow below(CreateWindowExW(0, wc.lpszClassName, L"below", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                            height, nullptr, nullptr, instance(), nullptr));
    ASSERT_TRUE(below);
    pump(std::chrono::milliseconds(300));

    // Left half of the image opaque red, right half fully transparent.
    RenderedContent content;
    content.image = layer(200, 100, RGB(255, 0, 0), 100);
    content.total_height = 100;
    content.image_alpha = 230;
    auto shown = show_overlays(content, {{0, 0, width, height}}, instance());
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    HWND overlay = (*shown)[0].image.get();
    EXPECT_TRUE(is_below(below.get(), overlay)) << "the overlay goes to the bottom of the stack";

    SetWindowPos(below.get(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(is_below(overlay, below.get()));
    pump(std::chrono::milliseconds(500));
    const POINT origin{(width - 200) / 2, (height - 100) / 2};
    const POINT opaque{origin.x + 50, origin.y + 50}, clear{origin.x + 150, origin.y + 50};

    // Windows shows 230/255 of the red over the blue behind it (blue near 25). Xvfb has no
    // compositing manager, so Wine's window shows the faded red over black: only the layer
    // alpha and the invisible transparent half can be checked here.
    const COLORREF faded = screen_pixel(opaque), behind = screen_pixel(clear);
    EXPECT_NEAR(GetRValue(faded), 230, 3);
    EXPECT_LE(GetGValue(faded), 3);
    EXPECT_EQ(behind, RGB(0, 0, 255));

    EXPECT_EQ(WindowFromPoint(opaque), below.get());
    click(opaque);
    for (int i = 0; i < 100 && clicks == 0; ++i) pump(std::chrono::milliseconds(20));
    EXPECT_EQ(clicks, 1);
    EXPECT_NE(GetForegroundWindow(), overlay);
    EXPECT_NE(GetActiveWindow(), overlay);

    // The click raised the window below; the overlay goes back under it.
    SetWindowPos(below.get(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(is_below(below.get(), overlay));
    SetWindowPos(overlay, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(is_below(overlay, below.get()));
    raise_overlays(*shown);
    EXPECT_TRUE(is_below(below.get(), overlay));

    destroy_overlays(*shown);
    below.reset();
    UnregisterClassW(wc.lpszClassName, instance());
    DeleteObject(wc.hbrBackground);
}

}  // namespace
}  // namespace veltrane
