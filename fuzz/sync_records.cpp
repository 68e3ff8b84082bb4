// The sync service's own files: the retry record (written stably), the status line and the
// current-generation pointer.
#include "file_util/generation.h"
#include "file_util/white_space.h"
#include "fuzz_support.h"
#include "sync/content_store.h"
#include "sync/schedule.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    fuzz::check_stable(text, parse_sync_retry, format_sync_retry);
    (void)parse_slot_id(text);
    (void)last_sync_line(text);
    (void)is_generation_name(trim_white_space(text));
    (void)is_entity_tag(text);
    return 0;
}
