// The chart's text: table rows, cell markup and style lines, then the table layout at a wide
// and a narrow width with a measurer that counts bytes. No cell is ever without runs, every
// style value stays in its range, and the layout of whatever parses stays defined.
#include <algorithm>
#include <limits>

#include "fuzz_support.h"
#include "image/content_text.h"
#include "overlay/text_layout.h"

using namespace veltrane;

namespace {

std::optional<std::int32_t> measure(const std::string& text, bool small) {
    const std::uint64_t width = std::uint64_t{text.size()} * (small ? 7 : 10);
    return static_cast<std::int32_t>(std::min<std::uint64_t>(width, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    const TextRows rows = extract_rows(text);
    const std::vector<TextCell> cells = parse_cells(rows.rows);
    for (const TextCell& cell : cells) fuzz::check(!cell.runs.empty(), "a cell without runs");
    const TextStyle style = parse_text_style(rows.style_lines);
    fuzz::check(style.columns >= 1 && style.columns <= 20, "columns out of range");
    fuzz::check(style.font_size >= 1 && style.font_size <= 500, "font_size out of range");
    fuzz::check(style.row_height >= 1 && style.padding_x >= 0 && style.padding_y >= 0 && style.box_gap >= 0,
                "a size out of range");
    for (const std::int32_t width : {1920, 64}) {
        const auto geometry = table_geometry(cells.size(), width, style);
        if (!geometry) continue;
        fuzz::check(geometry->inner >= 1 && geometry->height >= 1, "an empty table geometry");
        (void)layout_text_table(cells, *geometry, style, measure);
    }
    return 0;
}
