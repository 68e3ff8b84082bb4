#include <windows.h>

#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>

#include "file_util/win.h"
#include "overlay/text_layout.h"
#include "overlay/text_table.h"

namespace veltrane {
namespace {

using win::Selection;
using win::UniqueDC;
using win::UniqueBitmap;
using win::UniqueFont;

UniqueFont create_font(std::int32_t height, bool bold, const std::wstring& family) {
    return UniqueFont(CreateFontW(-height, 0, 0, 0, bold ? 700 : 400, FALSE, FALSE, FALSE, 1, 0, 0, 5, 0,
                                  family.c_str()));
}

struct Fonts {
    UniqueFont main;
    UniqueFont small;
};

struct Bitmap {
    UniqueBitmap handle;
    std::uint8_t* bits = nullptr;
};

Result<Bitmap> create_bitmap(HDC dc, std::int32_t width, std::int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return win::last_win32_error("텍스트 bitmap 생성 실패");
    return Bitmap{std::move(bitmap), static_cast<std::uint8_t*>(bits)};
}

void fill(std::uint8_t* bits, std::size_t pixels, std::uint32_t color, std::uint8_t alpha) {
    const std::uint8_t bgra[4] = {static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                                  static_cast<std::uint8_t>(color), alpha};
    for (std::size_t i = 0; i < pixels; ++i) std::memcpy(bits + i * 4, bgra, 4);
}

HFONT font_for(const Fonts& fonts, bool small) { return small ? fonts.small.get() : fonts.main.get(); }

std::optional<std::int32_t> measure(HDC dc, HFONT font, const std::string& text) {
    const std::wstring wide = win::to_wide(text);
    Selection selected(dc, font);
    if (!selected.ok()) return std::nullopt;
    SIZE size{};
    if (!GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size)) return std::nullopt;
    return size.cx;
}

bool draw(HDC dc, const Fonts& fonts, const PlacedRun& run, const TextStyle& style) {
    const std::wstring wide = win::to_wide(run.text);
    // An empty run draws nothing, and DrawTextW may return 0 (its failure value) for it.
    if (wide.empty()) return true;
    Selection selected(dc, font_for(fonts, run.small));
    if (!selected.ok()) return false;
    SetTextColor(dc, run.dim ? dim_color(style.text_color, style.box_color) : style.text_color);
    RECT rect{run.rect.left, run.rect.top, run.rect.right, run.rect.bottom};
    return DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, run.format) != 0;
}

bool draw_table(HDC dc, const Fonts& fonts, const std::vector<TextCell>& cells, const TableGeometry& geometry,
                const TextStyle& style) {
    const MeasureText measurer = [&](const std::string& text, bool small) {
        return measure(dc, font_for(fonts, small), text);
    };
    const TablePlan plan = layout_text_table(cells, geometry, style, measurer);
    for (const PlacedRun& run : plan.runs)
        if (!draw(dc, fonts, run, style)) return false;
    return plan.complete;
}

Result<Bytes> allocate(std::size_t size) {
    try {
        return Bytes(size);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return make_error("텍스트를 표시할 메모리가 부족합니다.");
}

Result<TextLayer> copy_opaque(const std::uint8_t* bits, const TableGeometry& geometry, bool drawn) {
    const std::size_t pixels = static_cast<std::size_t>(geometry.width) * static_cast<std::size_t>(geometry.height);
    auto buffer = allocate(pixels * 4);
    if (!buffer) return buffer.take_error();
    if (!drawn) return win::last_win32_error("텍스트 렌더링 실패");
    std::memcpy(buffer->data(), bits, pixels * 4);
    // GDI leaves the alpha byte undefined where it drew text; the box is opaque before rounding.
    for (std::size_t i = 0; i < pixels; ++i) (*buffer)[i * 4 + 3] = 255;
    return TextLayer{std::move(*buffer), geometry.width, geometry.height};
}

Result<TextLayer> draw_into_bitmap(HDC dc, const Fonts& fonts, const std::vector<TextCell>& cells,
                                   const TableGeometry& geometry, const TextStyle& style) {
    if (auto size = check_bitmap_size(geometry.width, geometry.height); !size) return size.take_error();
    auto bitmap = create_bitmap(dc, geometry.width, geometry.height);
    if (!bitmap) return bitmap.take_error();
    const std::size_t pixels = static_cast<std::size_t>(geometry.width) * static_cast<std::size_t>(geometry.height);
    fill(bitmap->bits, pixels, style.box_color, 255);
    Selection selected(dc, bitmap->handle.get());
    if (!selected.ok()) return win::last_win32_error("텍스트 bitmap 선택 실패");
    SetBkMode(dc, TRANSPARENT);
    const bool drawn = draw_table(dc, fonts, cells, geometry, style);
    GdiFlush();
    return copy_opaque(bitmap->bits, geometry, drawn);
}

}  // namespace

Result<TextLayer> render_text_table(const std::vector<TextCell>& cells, std::int32_t width, const std::string& family,
                                    const TextStyle& style) {
    auto geometry = table_geometry(cells.size(), width, style);
    if (!geometry) return geometry.take_error();
    const UniqueDC dc(CreateCompatibleDC(nullptr));
    if (!dc) return win::last_win32_error("텍스트 DC 생성 실패");
    const std::wstring wide_family = win::to_wide(family);
    UniqueFont main_font = create_font(style.font_size, style.bold, wide_family);
    if (!main_font) return win::last_win32_error("텍스트 글꼴 생성 실패");
    UniqueFont small_font = create_font(small_font_height(style.font_size), style.bold, wide_family);
    if (!small_font) return win::last_win32_error("텍스트 글꼴 생성 실패");
    const Fonts fonts{std::move(main_font), std::move(small_font)};
    auto layer = draw_into_bitmap(dc.get(), fonts, cells, *geometry, style);
    if (!layer) return layer;
    round_corners(layer->pixels, layer->width, layer->height);
    return layer;
}

}  // namespace veltrane
