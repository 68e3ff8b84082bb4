// The table check that the sync run and the publisher make before content goes out, as a
// chart text and as a duty roster, at a wide and a narrow picture, inside and outside the
// seeds' schedules. A passing box is one the renderer can allocate; the verdict is the same
// for the text saved with CR LF line ends or a byte-order mark, and a text that is not in
// schedule form gets the same verdict on every day.
#include <limits>

#include "fuzz_support.h"
#include "overlay/content_check.h"
#include "overlay/text_layout.h"

using namespace veltrane;

namespace {

std::string with_crlf(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool same(const Result<BoxCheck>& a, const Result<BoxCheck>& b) {
    if (a.ok() != b.ok()) return false;
    if (!a.ok()) return a.error().message == b.error().message;
    return a->gap == b->gap && a->height == b->height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    const bool has_cr = text.find('\r') != std::string_view::npos;
    const std::string crlf = has_cr ? std::string() : with_crlf(text);
    // A second mark would be text; only a text without one gets one added.
    const bool has_bom = text.starts_with("\xEF\xBB\xBF");
    const std::string bom = "\xEF\xBB\xBF" + std::string(text);
    const std::int64_t start = day_number(2026, 12, 1);
    const DutyPeriod periods[] = {{start + 1, true}, {start - 1, false}, {std::numeric_limits<std::int64_t>::min(), true}};
    for (const bool duty : {false, true}) {
        for (const std::int32_t width : {1920, 200}) {
            std::optional<Result<BoxCheck>> first;
            for (const DutyPeriod& period : periods) {
                const auto box = check_table_text(text, width, duty, period);
                if (box) {
                    fuzz::check(box->gap >= 0 && box->gap <= kMaxBoxSpacing, "a passing box with a gap out of range");
                    fuzz::check(box->height >= 1 && check_bitmap_size(width, box->height).ok() &&
                                    std::uint64_t(width) * std::uint64_t(box->height) * 4 <= kMaxLayerBytes,
                                "a passing box the renderer cannot allocate");
                }
                if (!has_bom)
                    fuzz::check(same(box, check_table_text(bom, width, duty, period)), "a byte-order mark changes the verdict");
                if (!has_cr)
                    fuzz::check(same(box, check_table_text(crlf, width, duty, period)), "CR LF line ends change the verdict");
                const std::string_view body = has_bom ? text.substr(3) : text;
                const bool schedule = duty ? select_duty_day(body, period.duty_day).has_value()
                                           : expand_roster_schedule(body, period.duty_day, period.daytime).has_value();
                if (schedule) continue;
                if (first) fuzz::check(same(*first, box), "a text that is not in schedule form depends on the day");
                else first = box;
            }
        }
    }
    return 0;
}
