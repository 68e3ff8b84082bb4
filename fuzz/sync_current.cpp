// The server's `current` document, read by a sync run whose network serves the input as the
// document and nothing else: the run ends before it touches the content store.
#include <unistd.h>

#include <filesystem>

#include "fuzz_support.h"
#include "sync/sync_run.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("veltrane-fuzz-sync-" + std::to_string(getpid()));
    const Bytes document(data, data + size);
    std::string image_url;
    SyncInputs inputs;
    inputs.origin = "https://content.invalid";
    inputs.fetch = [&](const std::string& url, std::uint64_t) -> std::optional<Bytes> {
        if (url == inputs.origin + kCurrentPath) return document;
        if (url.starts_with(inputs.origin + kImagePathPrefix)) image_url = url;
        return std::nullopt;
    };
    inputs.image_size = [](std::span<const std::uint8_t>) -> std::optional<PngSize> { return std::nullopt; };
    inputs.local_clock = [] { return LocalTime{}; };
    fuzz::check(!sync_content_into(folder, inputs), "a sync without an image succeeded");
    if (!image_url.empty()) {
        const std::string tag = image_url.substr((inputs.origin + kImagePathPrefix).size());
        fuzz::check(is_entity_tag(tag), "an image tag that is not safe in a URL", tag);
    }
    fuzz::check(!std::filesystem::exists(folder), "the run wrote into the content store");
    return 0;
}
