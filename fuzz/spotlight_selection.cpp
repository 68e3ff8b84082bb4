// The Spotlight service's selection document: the picture URLs in the service's order, and
// the order that puts the last picture at the end.
#include <algorithm>

#include "fuzz_support.h"
#include "spotlight/spotlight.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto candidates = spotlight_candidates(fuzz::as_text(data, size));
    if (candidates.empty()) return 0;
    const auto ordered = order_candidates(candidates, candidates.front());
    fuzz::check(ordered.size() == candidates.size(), "ordering lost a candidate");
    fuzz::check(std::is_permutation(ordered.begin(), ordered.end(), candidates.begin()), "ordering changed a candidate");
    fuzz::check(ordered.back() == candidates.front(), "the last picture is not put last");
    return 0;
}
