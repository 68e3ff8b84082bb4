#include "overlay/text_layout.h"

#include <algorithm>
#include <limits>
#include <string>

namespace veltrane {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

const char kNoCells[] = "표시할 텍스트 항목이 없습니다.";
const char kTooNarrow[] = "텍스트 박스를 표시하려면 PNG 너비가 padding_x*2보다 커야 합니다.";
const char kTooTall[] = "텍스트 표가 너무 큽니다.";
const char kTooLarge[] = "텍스트 크기가 너무 큽니다.";

// Text widths come from the system; clamping keeps hostile widths from wrapping coordinates.
std::int32_t clamp32(std::int64_t v) { return static_cast<std::int32_t>(std::clamp(v, kInt32Min, kInt32Max)); }

// A style built in code (not parsed) may hold a zero column count; it must not divide by zero.
std::uint32_t usable_columns(const TextStyle& style) { return std::max<std::uint32_t>(style.columns, 1); }

bool starts_small(const TextCell& cell) { return cell.runs.size() >= 2 && cell.runs.front().small; }

struct Gutter {
    bool roster = false;
    std::int32_t width = 0;
    std::int32_t space = 0;
};

Gutter find_gutter(const std::vector<TextCell>& cells, const MeasureText& measure) {
    Gutter gutter;
    std::int64_t widest = 0;
    for (const TextCell& cell : cells) {
        if (!starts_small(cell)) continue;
        gutter.roster = true;
        if (const auto w = measure(cell.runs.front().text, true)) widest = std::max<std::int64_t>(widest, *w);
    }
    if (!gutter.roster) return gutter;
    gutter.space = measure(" ", false).value_or(0);
    gutter.width = clamp32(widest + gutter.space);
    return gutter;
}

TextRect shifted(TextRect r, std::int32_t dy) {
    r.top = clamp32(std::int64_t{r.top} + dy);
    r.bottom = clamp32(std::int64_t{r.bottom} + dy);
    return r;
}

// The last run carries the name; a small first run sits in the gutter left of it.
bool plan_roster_cell(const TextCell& cell, const TextRect& box, const Gutter& gutter, const TextStyle& style,
                      const MeasureText& measure, std::vector<PlacedRun>& out) {
    const TextRun& last = cell.runs.back();
    const auto w = measure(last.text, false);
    if (!w) return false;
    std::int64_t x = std::int64_t{box.left} + gutter.width;
    if (style.text_align == TextAlign::Center) x += (box.right - (x + *w)) / 2;
    if (style.text_align == TextAlign::Right) x = std::int64_t{box.right} - *w;
    if (starts_small(cell)) {
        const TextRun& first = cell.runs.front();
        const auto w1 = measure(first.text, true);
        if (!w1) return false;
        const std::int64_t right = x - gutter.space;
        const TextRect r{clamp32(right - *w1), box.top, clamp32(right), box.bottom};
        out.push_back({first.text, true, first.dim, shifted(r, small_run_shift(style.font_size)), kRunFormat});
    }
    out.push_back({last.text, false, last.dim, {clamp32(x), box.top, clamp32(x + *w), box.bottom}, kRunFormat});
    return true;
}

bool plan_runs_in_line(const TextCell& cell, const TextRect& box, const TextStyle& style, const MeasureText& measure,
                       std::vector<PlacedRun>& out) {
    std::vector<std::int32_t> widths;
    std::int64_t total = 0;
    for (const TextRun& run : cell.runs) {
        const auto w = measure(run.text, run.small);
        if (!w) return false;
        widths.push_back(*w);
        total += *w;
    }
    std::int64_t x = box.left;
    if (style.text_align == TextAlign::Center) x += (std::int64_t{box.right} - box.left - total) / 2;
    if (style.text_align == TextAlign::Right) x = std::int64_t{box.right} - total;
    const std::int32_t shift = small_run_shift(style.font_size);
    for (std::size_t i = 0; i < cell.runs.size(); ++i) {
        const TextRun& run = cell.runs[i];
        const TextRect r{clamp32(x), box.top, clamp32(x + widths[i]), box.bottom};
        out.push_back({run.text, run.small, run.dim, run.small ? shifted(r, shift) : r, kRunFormat});
        x += widths[i];
    }
    return true;
}

bool plan_general_cell(const TextCell& cell, const TextRect& box, const TextStyle& style, const MeasureText& measure,
                       std::vector<PlacedRun>& out) {
    if (cell.runs.size() >= 2) return plan_runs_in_line(cell, box, style, measure, out);
    const TextRun& run = cell.runs.front();
    out.push_back({run.text, run.small, run.dim, box, kFitFormat + static_cast<std::uint32_t>(style.text_align)});
    return true;
}

}  // namespace

std::int32_t small_font_height(std::int32_t font_size) { return std::max(font_size * 5 / 7, 1); }

std::int32_t small_run_shift(std::int32_t font_size) { return (font_size - small_font_height(font_size)) / 2; }

std::uint32_t dim_color(std::uint32_t text_color, std::uint32_t box_color) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t a = (text_color >> shift) & 0xFF;
        const std::uint32_t b = (box_color >> shift) & 0xFF;
        out |= ((a + b) / 2) << shift;
    }
    return out;
}

Result<TableGeometry> table_geometry(std::size_t cell_count, std::int32_t width, const TextStyle& style) {
    if (cell_count == 0) return make_error(kNoCells);
    const std::int64_t inner = std::int64_t{width} - 2 * std::int64_t{style.padding_x};
    if (inner < 1 || inner > kInt32Max) return make_error(kTooNarrow);
    const std::uint32_t columns = usable_columns(style);
    const std::uint64_t rows = (static_cast<std::uint64_t>(cell_count) + columns - 1) / columns;
    if (rows > static_cast<std::uint64_t>(kInt32Max)) return make_error(kTooTall);
    // Both factors fit 31 bits, so the 64-bit products and sums cannot wrap.
    const std::int64_t height = static_cast<std::int64_t>(rows) * style.row_height + 2 * std::int64_t{style.padding_y};
    if (height > kInt32Max || height < 1) return make_error(kTooTall);
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 > kMaxLayerBytes) {
        return make_error("텍스트 박스가 너무 큽니다(" + std::to_string(width) + "×" + std::to_string(height) +
                          " 픽셀). 박스 하나는 256MiB를 넘을 수 없습니다.");
    }
    return TableGeometry{width, static_cast<std::int32_t>(inner), static_cast<std::int32_t>(rows),
                         static_cast<std::int32_t>(height), columns};
}

Status check_bitmap_size(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1) return make_error(kTooLarge);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels >= (std::uint64_t{1} << 62)) return make_error(kTooLarge);
    return {};
}

CellPlace place_cell(std::size_t index, std::size_t cell_count, std::uint32_t columns) {
    columns = std::max<std::uint32_t>(columns, 1);
    const std::size_t base = cell_count / columns;
    const std::size_t extra = cell_count % columns;
    std::size_t before = 0;
    for (std::uint32_t c = 0; c < columns; ++c) {
        const std::size_t held = base + (c < extra ? 1 : 0);
        if (index < before + held) return {c, static_cast<std::int32_t>(index - before)};
        before += held;
    }
    return {columns - 1, static_cast<std::int32_t>(index - before)};
}

TextRect cell_rect(const CellPlace& place, const TableGeometry& geometry, const TextStyle& style) {
    const std::int64_t inner = geometry.inner;
    const std::int64_t columns = geometry.columns;
    const std::int64_t top = std::int64_t{style.padding_y} + std::int64_t{style.row_height} * place.row;
    return {clamp32(style.padding_x + inner * place.column / columns),
            clamp32(top),
            clamp32(style.padding_x + inner * (place.column + 1) / columns),
            clamp32(top + style.row_height)};
}

TablePlan layout_text_table(const std::vector<TextCell>& cells, const TableGeometry& geometry,
                            const TextStyle& style, const MeasureText& measure) {
    TablePlan plan;
    const Gutter gutter = find_gutter(cells, measure);
    for (std::size_t k = 0; k < cells.size(); ++k) {
        const TextCell& cell = cells[k];
        if (cell.runs.empty()) continue;
        const TextRect box = cell_rect(place_cell(k, cells.size(), geometry.columns), geometry, style);
        const bool ok = gutter.roster ? plan_roster_cell(cell, box, gutter, style, measure, plan.runs)
                                      : plan_general_cell(cell, box, style, measure, plan.runs);
        if (!ok) {
            plan.complete = false;
            break;
        }
    }
    return plan;
}

}  // namespace veltrane
