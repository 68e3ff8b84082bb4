// The signed update manifest: its detached signature file (128 hex digits of an Ed25519
// signature), strict verification against the one embedded signing key, the manifest's
// rules, and the release URLs on the content server. Every function is pure; a failure is
// a plain "no" and the caller words it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "build_info/build_version.h"

namespace veltrane {

inline constexpr const char* kManifestPath = "/api/static/veltrane/update.json";
inline constexpr const char* kSignaturePath = "/api/static/veltrane/update.json.sig";
inline constexpr const char* kReleasesPath = "/api/static/veltrane/releases";
inline constexpr std::uint64_t kManifestLimit = 65536;
inline constexpr std::uint64_t kSignatureLimit = 1024;
inline constexpr const char* kReleaseExecutableName = "Veltrane_Desktop.exe";
inline constexpr const char* kReleaseFontName = "Veltrane_Desktop.ttf";
inline constexpr std::uint64_t kExecutableSizeLimit = 33554432;
inline constexpr std::uint64_t kFontSizeLimit = 67108864;
inline constexpr std::uint32_t kMinimumWindowsBuildFloor = 17763;

using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519Signature = std::array<std::uint8_t, 64>;

struct ReleaseFile {
    std::string url;
    std::uint64_t size = 0;
    std::array<std::uint8_t, 32> sha256{};
};

struct UpdateManifest {
    ReleaseFile executable;
    ReleaseFile font;
    BuildVersion version;
    std::uint32_t minimum_windows_build = 0;
};

// Against the embedded signing key. The manifest bytes are verified exactly as received.
bool verify_manifest_signature(std::span<const std::uint8_t> manifest, std::span<const std::uint8_t> signature_file);

// The same verification against a given key, for the release-signing tool; the program
// itself only ever uses the embedded key.
bool verify_manifest_signature_with_key(const Ed25519PublicKey& key, std::span<const std::uint8_t> manifest,
                                        std::span<const std::uint8_t> signature_file);

// The signature file: strict UTF-8, surrounding Unicode white space removed, exactly 128
// hex digits in either case.
std::optional<Ed25519Signature> parse_signature_file(std::span<const std::uint8_t> signature_file);

std::optional<UpdateManifest> parse_update_manifest(std::span<const std::uint8_t> manifest);
// The same rules with the release URLs of a given origin, for the release-signing tool.
std::optional<UpdateManifest> parse_update_manifest_for(std::string_view origin, std::span<const std::uint8_t> manifest);

// Origin + "/api/static/veltrane/releases/" + version text + "/" + file name.
std::string release_url(const BuildVersion& version, std::string_view file_name);
// The same for a given origin, for the release-signing tool.
std::string release_url_for(std::string_view origin, const BuildVersion& version, std::string_view file_name);

// Exactly 2 * out.size() hex digits in either case, high nibble first.
bool decode_hex_into(std::string_view text, std::span<std::uint8_t> out);
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> decode_hex(std::string_view text) {
    std::array<std::uint8_t, N> out{};
    if (!decode_hex_into(text, out)) return std::nullopt;
    return out;
}
// Lower-case hex digits.
std::string encode_hex(std::span<const std::uint8_t> bytes);

}  // namespace veltrane
