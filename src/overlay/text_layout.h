// Where the text and duty boxes put their words: box size checks, the grid of equal columns,
// the roster gutter, alignment and the position of every run. It works from text widths
// supplied by a measurer, so the same layout runs on the host with a fixed-width measurer
// and on Windows with GDI, which then only measures and draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_util/result.h"
#include "image/content_text.h"

namespace veltrane {

// DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, and that plus DT_END_ELLIPSIS.
inline constexpr std::uint32_t kRunFormat = 0x824;
inline constexpr std::uint32_t kFitFormat = 0x8824;

// One box's pixels: far above a 4K monitor's 33 MiB, far below what a window thread may allocate.
inline constexpr std::uint64_t kMaxLayerBytes = 268435456;

struct TextRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const TextRect&) const = default;
};

struct TableGeometry {
    std::int32_t width = 0;
    std::int32_t inner = 0;  // width without the two horizontal paddings, >= 1
    std::int32_t rows = 0;
    std::int32_t height = 0;
    std::uint32_t columns = 1;
};

struct CellPlace {
    std::uint32_t column = 0;
    std::int32_t row = 0;

    bool operator==(const CellPlace&) const = default;
};

// One DrawTextW call: which text, with which font and colour, into which rectangle.
struct PlacedRun {
    std::string text;
    bool small = false;
    bool dim = false;
    TextRect rect;
    std::uint32_t format = kRunFormat;

    bool operator==(const PlacedRun&) const = default;
};

struct TablePlan {
    std::vector<PlacedRun> runs;
    // False when a width the layout needed could not be measured; the runs before it stand.
    bool complete = true;
};

// Width in pixels of a text in the main font (small = false) or the small font.
using MeasureText = std::function<std::optional<std::int32_t>(const std::string& text, bool small)>;

std::int32_t small_font_height(std::int32_t font_size);
std::int32_t small_run_shift(std::int32_t font_size);
// Per channel mean of two Win32 colour references.
std::uint32_t dim_color(std::uint32_t text_color, std::uint32_t box_color);

// The size checks made before any drawing object exists, the layer cap among them.
Result<TableGeometry> table_geometry(std::size_t cell_count, std::int32_t width, const TextStyle& style);
// The bitmap size check, made once the fonts exist.
Status check_bitmap_size(std::int32_t width, std::int32_t height);

CellPlace place_cell(std::size_t index, std::size_t cell_count, std::uint32_t columns);
TextRect cell_rect(const CellPlace& place, const TableGeometry& geometry, const TextStyle& style);

TablePlan layout_text_table(const std::vector<TextCell>& cells, const TableGeometry& geometry,
                            const TextStyle& style, const MeasureText& measure);

}  // namespace veltrane
