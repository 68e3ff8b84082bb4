#include "file_util/generation.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "file_util/file_util.h"
#include "file_util/text.h"

namespace veltrane {
namespace fs = std::filesystem;

bool is_generation_name(std::string_view name) {
    constexpr std::string_view prefix = "generation-";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

std::string make_generation_name(std::uint32_t process_id, Uint128 nanoseconds) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(nanoseconds % 10)));
        nanoseconds /= 10;
    } while (nanoseconds != 0);
    return "generation-" + std::to_string(process_id) + "-" + digits;
}

std::string staging_name(std::string_view generation) { return ".staging-" + std::string(generation); }

void remove_staging_folders(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (path_to_utf8(it->path().filename()).rfind(".staging-", 0) == 0) stale.push_back(it->path());
    }
    for (const auto& p : stale) (void)remove_tree(p);
}

}  // namespace veltrane
