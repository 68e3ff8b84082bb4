// The per-user proxy bypass list: the first line of the input is the host, the rest the list.
// A list is its entries: joining two lists bypasses what either bypasses. Case never matters,
// and a single wildcard entry matches as a plain dynamic-programming matcher says.
#include <vector>

#include "download/proxy.h"
#include "fuzz_support.h"

using namespace veltrane;

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return out;
}

// matched[j]: the pattern read so far matches the first j characters of the text.
bool reference_glob(std::string_view pattern, std::string_view text) {
    std::vector<char> matched(text.size() + 1, 0);
    matched[0] = 1;
    for (const char p : pattern) {
        std::vector<char> next(text.size() + 1, 0);
        for (std::size_t j = 0; j <= text.size(); ++j) {
            if (p == '*') next[j] = matched[j] || (j > 0 && next[j - 1]);
            else next[j] = j > 0 && matched[j - 1] && lower(p) == lower(text[j - 1]);
        }
        matched.swap(next);
    }
    return matched[text.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::as_text(data, size);
    const std::size_t line_end = input.find('\n');
    if (line_end == std::string_view::npos) return 0;
    const std::string_view host = input.substr(0, line_end);
    const std::string_view list = input.substr(line_end + 1);
    const bool bypassed = proxy_bypassed(list, host, 443);

    fuzz::check(proxy_bypassed(upper(list), host, 443) == bypassed && proxy_bypassed(list, upper(host), 443) == bypassed,
                "case changes the verdict");
    const std::string_view a = list.substr(0, list.size() / 2), b = list.substr(list.size() / 2);
    const std::string joined = std::string(a) + ";" + std::string(b);
    fuzz::check(proxy_bypassed(joined, host, 443) == (proxy_bypassed(a, host, 443) || proxy_bypassed(b, host, 443)),
                "a joined list is not its two halves");

    const bool one_entry = !list.empty() && list.find_first_of("; \t\r\n") == std::string_view::npos &&
                           list.find_first_of(":") == std::string_view::npos && upper(list) != "<LOCAL>";
    if (one_entry && list.size() * host.size() <= 1000000)
        fuzz::check(bypassed == reference_glob(list, host), "the wildcard match differs from the reference");
    return 0;
}
