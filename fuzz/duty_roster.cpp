// The duty roster in schedule form, reduced to a duty day and period and then read as a
// table: on a day before and a day inside the seeds' schedules and on the earliest day.
#include <limits>

#include "fuzz_support.h"
#include "image/content_text.h"

using namespace veltrane;

namespace {

void read_table(const std::string& text) {
    const TextRows rows = extract_rows(text);
    for (const TextCell& cell : parse_cells(rows.rows)) fuzz::check(!cell.runs.empty(), "a cell without runs");
    const TextStyle style = parse_text_style(rows.style_lines);
    fuzz::check(style.columns >= 1 && style.columns <= 20, "columns out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    const std::int64_t start = day_number(2026, 12, 1);
    const std::int64_t days[] = {start - 1, start + 1, std::numeric_limits<std::int64_t>::min()};
    bool daytime = false;
    for (const std::int64_t day : days) {
        daytime = !daytime;
        if (auto expanded = expand_roster_schedule(text, day, daytime)) read_table(*expanded);
        if (auto selected = select_duty_day(text, day)) read_table(*selected);
    }
    if (size >= 10) (void)parse_day_number(text.substr(0, 10));
    return 0;
}
