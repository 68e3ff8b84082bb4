// The fleet report's reading of access-log lines in the site's format: every line is read or
// counted as skipped, a read line holds what the report relies on, and the report takes it.
#include "fleet.h"
#include "fuzz_support.h"

using namespace veltrane;
using namespace veltrane::publish;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    Fleet fleet;
    std::uint64_t lines = 0;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (const auto parsed = parse_access_line(line)) {
            fuzz::check(!parsed->address.empty() && parsed->address.find(' ') == std::string::npos,
                        "an empty address or one with a space", line);
            fuzz::check(parsed->path.find_first_of("? ") == std::string::npos, "a path with a query or a space",
                        parsed->path);
            fuzz::check(parsed->user_agent.find('"') == std::string::npos, "a user agent with a quote", line);
        }
        add_access_line(fleet, line, "fuzz.log:1");
        if (line != "" && line != "\r") ++lines;
    }
    fuzz::check(fleet.read_lines + fleet.skipped_lines == lines, "a line neither read nor skipped");
    fuzz::check(fleet.skipped_examples.size() <= kSkippedExamples, "too many examples");
    for (const std::string& example : fleet.skipped_examples) {
        for (const char c : example) {
            fuzz::check(c >= 0x20 && c <= 0x7e, "an example with a control character", example);
        }
    }
    (void)fleet_report(fleet, 1796688000, 12);
    return 0;
}
