// The update manifest and its signature file; the first line of the input is the signature
// file, the rest the manifest. A signature that parses is written back as the same digits;
// a manifest that parses names only release URLs of its own version and sizes in limits.
#include "fuzz_support.h"
#include "update/update_manifest.h"

using namespace veltrane;

namespace {

void check_release_file(const ReleaseFile& file, const BuildVersion& version, const char* name, std::uint64_t limit) {
    fuzz::check(file.url == release_url(version, name), "a release URL of another version", file.url);
    fuzz::check(file.size >= 1 && file.size <= limit, "a release size out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::as_text(data, size);
    const std::size_t line_end = std::min(input.find('\n'), input.size());
    const auto signature_file = fuzz::as_bytes(input.substr(0, line_end));
    const auto manifest = fuzz::as_bytes(input.substr(std::min(line_end + 1, input.size())));

    if (const auto signature = parse_signature_file(signature_file)) {
        const std::string written = encode_hex(*signature);
        fuzz::check(parse_signature_file(fuzz::as_bytes(written)) == signature, "a signature reads back differently",
                    written);
    }
    (void)verify_manifest_signature(manifest, signature_file);

    if (const auto parsed = parse_update_manifest(manifest)) {
        fuzz::check(is_valid_build_version(parsed->version), "an invalid version");
        fuzz::check(parsed->minimum_windows_build >= kMinimumWindowsBuildFloor, "a minimum build below the floor");
        check_release_file(parsed->executable, parsed->version, kReleaseExecutableName, kExecutableSizeLimit);
        check_release_file(parsed->font, parsed->version, kReleaseFontName, kFontSizeLimit);
    }
    return 0;
}
