// A whole sync run against a network that serves the input: the duty roster, the `current`
// document, the image and the text, in that order, apart by kPartSeparator; a part that is
// not there is a missing file. The image is judged by the real PNG check, the text by the
// real table check. Whatever the run does, the content store stays whole: a failed run leaves
// only the fetched duty roster, a published one holds exactly the bytes served.
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>

#include "fuzz_support.h"
#include "sync/sync_run.h"

using namespace veltrane;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartSeparator = "\n=====\n";
constexpr std::string_view kOrigin = "https://content.invalid";

// Cleared before every run; in memory where there is a RAM disk, since a run syncs its writes.
const fs::path& scratch_folder() {
    static const fs::path folder = [] {
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        return base / ("veltrane-fuzz-sync-" + std::to_string(getpid()));
    }();
    static const bool removed_at_exit = [] { return std::atexit([] { (void)remove_tree(folder); }) == 0; }();
    (void)removed_at_exit;
    return folder;
}

std::array<std::optional<Bytes>, 4> split_parts(std::string_view input) {
    std::array<std::optional<Bytes>, 4> parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t end = i + 1 < parts.size() ? input.find(kPartSeparator) : std::string_view::npos;
        const std::string_view part = input.substr(0, end);
        parts[i] = Bytes(part.begin(), part.end());
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + kPartSeparator.size());
    }
    return parts;
}

std::optional<Bytes> file_bytes(const fs::path& path) {
    auto bytes = read_limited(path, kImageLimit);
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& folder = scratch_folder();
    std::error_code ec;
    fuzz::check(remove_tree(folder).ok() && fs::create_directory(folder, ec), "the scratch folder could not be made");
    const auto parts = split_parts(fuzz::as_text(data, size));
    const std::optional<Bytes>& duty = parts[0];
    const std::optional<Bytes>& current = parts[1];
    const std::optional<Bytes>& image = parts[2];
    const std::optional<Bytes>& text = parts[3];

    SyncInputs inputs;
    inputs.origin = kOrigin;
    inputs.fetch = [&](const std::string& url, std::uint64_t limit) -> std::optional<Bytes> {
        fuzz::check(url.starts_with(kOrigin), "a request to another server", url);
        const std::string_view path = std::string_view(url).substr(kOrigin.size());
        std::string_view tag;
        const std::optional<Bytes>* body = nullptr;
        if (path == kDutyPath) {
            body = &duty;
        } else if (path == kCurrentPath) {
            body = &current;
        } else if (path.starts_with(kImagePathPrefix)) {
            tag = path.substr(std::string_view(kImagePathPrefix).size());
            body = &image;
        } else if (path.starts_with(kTextPathPrefix) && path.ends_with(kTextPathSuffix)) {
            tag = path.substr(std::string_view(kTextPathPrefix).size());
            tag.remove_suffix(std::string_view(kTextPathSuffix).size());
            body = &text;
        } else {
            fuzz::fail("a request for a path the server does not serve", url);
        }
        if (body != &duty && body != &current) fuzz::check(is_entity_tag(tag), "a tag that is not safe in a URL", tag);
        // The download refuses a body over its limit.
        if (!*body || (*body)->size() > limit) return std::nullopt;
        return **body;
    };
    inputs.image_size = [](std::span<const std::uint8_t> bytes) { return png_decoded_size(bytes); };
    inputs.process_id = 4242;
    inputs.utc_nanoseconds = Uint128{1796292000} * 1000000000u;
    // Inside the seeds' roster schedules, in the daytime.
    inputs.local_clock = [] { return LocalTime{2026, 12, 2, 10, 0, 0}; };
    const bool published = sync_content_into(folder, inputs);

    const bool duty_kept = duty && duty->size() <= kDutyLimit && utf8_text(*duty).ok();
    fuzz::check(file_bytes(folder / kDutyFile) == (duty_kept ? duty : std::nullopt), "the duty roster is not as served");
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder)) entries += entry.path().filename() != kDutyFile;
    if (!published) {
        fuzz::check(entries == 0, "a failed run changed the content store");
        return 0;
    }
    const auto generation = read_current_generation(folder);
    fuzz::check(generation.has_value(), "a published run left no current generation");
    const auto candidates = content_candidates(folder);
    fuzz::check(!candidates.empty() && candidates.front().image.parent_path().filename() == *generation,
                "the current generation is not the first content set");
    fuzz::check(file_bytes(candidates.front().image) == image, "the published image is not as served");
    fuzz::check(file_bytes(candidates.front().text) == text, "the published text is not as served");
    fuzz::check(fs::exists(folder / kSyncStatusFile), "a published run wrote no sync status");
    return 0;
}
