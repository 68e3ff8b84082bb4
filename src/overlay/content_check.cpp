#include "overlay/content_check.h"

#include <string>

#include "overlay/text_layout.h"

namespace veltrane {

Result<BoxCheck> check_table_text(std::string_view text, std::int32_t width, bool duty, const DutyPeriod& period) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string source(text);
    if (auto reduced = duty ? select_duty_day(source, period.duty_day)
                            : expand_roster_schedule(source, period.duty_day, period.daytime)) {
        source = std::move(*reduced);
    }
    const TextRows rows = extract_rows(source);
    if (auto spacing = check_text_style(rows.style_lines); !spacing) return spacing.take_error();
    const TextStyle style = parse_text_style(rows.style_lines);
    auto geometry = table_geometry(rows.rows.size(), width, style);
    if (!geometry) return geometry.take_error();
    return BoxCheck{style.box_gap, geometry->height};
}

}  // namespace veltrane
