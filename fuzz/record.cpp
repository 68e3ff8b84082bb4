// The key=value line syntax of every record, with and without the settings file's
// trimming: the written text is stable, and the last line of a key is its value.
#include "fuzz_support.h"
#include "settings/record.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    for (const RecordTrim trim : {RecordTrim::None, RecordTrim::Whitespace}) {
        const auto fields = parse_record(text, trim);
        for (const RecordField& field : fields) {
            fuzz::check(field.key.find('=') == std::string::npos, "a key with '='", field.key);
            fuzz::check(field.value.find('\n') == std::string::npos, "a value with a line feed", field.value);
        }
        if (!fields.empty()) {
            fuzz::check(last_value(fields, fields.back().key) == fields.back().value, "the last line does not win");
        }
        fuzz::check_stable(text, [trim](std::string_view t) { return parse_record(t, trim); }, format_record);
    }
    return 0;
}
