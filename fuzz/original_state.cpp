// original.state: a record that parses is written stably, and the hex fields decode what
// they encode.
#include "fuzz_support.h"
#include "wallpaper/original_state.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    if (const auto state = parse_original_state(text)) {
        const std::string once = format_original_state(*state);
        const auto again = parse_original_state(once);
        fuzz::check(again.has_value(), "the written record does not parse", once);
        fuzz::check(*again == *state, "the written record reads back differently", once);
        fuzz::check(format_original_state(*again) == once, "the written record changes on a second round", once);
    }
    if (const auto bytes = hex_decode(text)) {
        fuzz::check(hex_decode(hex_encode(*bytes)) == bytes, "hex does not round-trip");
    }
    (void)backup_copy_name(size, text);
    return 0;
}
