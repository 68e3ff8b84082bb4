#include "update/update_manifest.h"

#include <sodium.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "file_util/text.h"
#include "file_util/white_space.h"
#include "build_info/build_constants.h"

namespace veltrane {
namespace {

using nlohmann::json;

constexpr std::uint64_t kMaxExactInteger = 9007199254740991ull;  // 2^53 - 1

// The group order l, little-endian, as the signature's S is encoded.
constexpr std::array<std::uint8_t, 32> kGroupOrder = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view as_text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// libsodium's verification checks S as well; checking here keeps the rule independent of
// how the library was configured.
bool scalar_is_canonical(std::span<const std::uint8_t, 32> s) {
    return sodium_compare(s.data(), kGroupOrder.data(), kGroupOrder.size()) < 0;
}

// A JSON number with an exact non-negative integer value up to 2^53 - 1.
std::optional<std::uint64_t> exact_integer(const json& value) {
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v > kMaxExactInteger) return std::nullopt;
        return v;
    }
    if (value.is_number_integer()) {
        const auto v = value.get<std::int64_t>();
        if (v < 0 || static_cast<std::uint64_t>(v) > kMaxExactInteger) return std::nullopt;
        return static_cast<std::uint64_t>(v);
    }
    if (value.is_number_float()) {
        const double v = value.get<double>();
        // -0.0 passes as 0; NaN fails every comparison.
        if (!std::isfinite(v) || !(v >= 0.0) || std::floor(v) != v || v > static_cast<double>(kMaxExactInteger)) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(v);
    }
    return std::nullopt;
}

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::uint64_t> integer_member(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    return exact_integer(*value);
}

std::optional<ReleaseFile> read_release_file(const json& object, std::string_view origin, const BuildVersion& version,
                                             const char* file_name, std::uint64_t limit) {
    if (!object.is_object()) return std::nullopt;
    const json* url = member(object, "url");
    const json* sha = member(object, "sha256");
    const auto size = integer_member(object, "size");
    if (!url || !url->is_string() || !sha || !sha->is_string() || !size) return std::nullopt;
    ReleaseFile file;
    file.url = url->get<std::string>();
    if (file.url != release_url_for(origin, version, file_name)) return std::nullopt;
    if (*size < 1 || *size > limit) return std::nullopt;
    file.size = *size;
    if (!decode_hex_into(sha->get<std::string>(), file.sha256)) return std::nullopt;
    return file;
}

}  // namespace

bool decode_hex_into(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() != out.size() * 2) return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

std::string encode_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

std::optional<Ed25519Signature> parse_signature_file(std::span<const std::uint8_t> signature_file) {
    const std::string_view text = as_text(signature_file);
    if (utf8_error(text)) return std::nullopt;
    return decode_hex<64>(trim_white_space(text));
}

bool verify_manifest_signature_with_key(const Ed25519PublicKey& key, std::span<const std::uint8_t> manifest,
                                        std::span<const std::uint8_t> signature_file) {
    const auto signature = parse_signature_file(signature_file);
    if (!signature) return false;
    if (sodium_init() < 0) return false;
    if (!scalar_is_canonical(std::span<const std::uint8_t, 32>(signature->data() + 32, 32))) return false;
    // Strict verification: A and R canonical and not of small order, S canonical, and
    // encode([S]B - [k]A) equal to R byte for byte.
    static const std::uint8_t kEmpty = 0;
    const std::uint8_t* message = manifest.empty() ? &kEmpty : manifest.data();
    return crypto_sign_ed25519_verify_detached(signature->data(), message, manifest.size(), key.data()) == 0;
}

bool verify_manifest_signature(std::span<const std::uint8_t> manifest, std::span<const std::uint8_t> signature_file) {
    return verify_manifest_signature_with_key(build::kUpdateSigningKey, manifest, signature_file);
}

std::optional<UpdateManifest> parse_update_manifest(std::span<const std::uint8_t> manifest) {
    return parse_update_manifest_for(build::kContentServerOrigin, manifest);
}

std::optional<UpdateManifest> parse_update_manifest_for(std::string_view origin, std::span<const std::uint8_t> manifest) {
    const std::string_view text = as_text(manifest);
    if (utf8_error(text)) return std::nullopt;
    const json doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!doc.is_object()) return std::nullopt;

    const auto schema = integer_member(doc, "schema");
    if (!schema || *schema != 1) return std::nullopt;

    const json* version_text = member(doc, "version");
    if (!version_text || !version_text->is_string()) return std::nullopt;
    const auto version = parse_build_version(version_text->get<std::string>());
    if (!version) return std::nullopt;

    const auto minimum_build = integer_member(doc, "minimumWindowsBuild");
    if (!minimum_build || *minimum_build > 0xFFFFFFFFull || *minimum_build < kMinimumWindowsBuildFloor) {
        return std::nullopt;
    }

    const json* executable = member(doc, "executable");
    const json* font = member(doc, "font");
    if (!executable || !font) return std::nullopt;
    auto executable_file = read_release_file(*executable, origin, *version, kReleaseExecutableName, kExecutableSizeLimit);
    auto font_file = read_release_file(*font, origin, *version, kReleaseFontName, kFontSizeLimit);
    if (!executable_file || !font_file) return std::nullopt;

    UpdateManifest result;
    result.executable = std::move(*executable_file);
    result.font = std::move(*font_file);
    result.version = *version;
    result.minimum_windows_build = static_cast<std::uint32_t>(*minimum_build);
    return result;
}

std::string release_url_for(std::string_view origin, const BuildVersion& version, std::string_view file_name) {
    std::string url(origin);
    url += kReleasesPath;
    url += "/";
    url += format_build_version(version);
    url += "/";
    url += file_name;
    return url;
}

std::string release_url(const BuildVersion& version, std::string_view file_name) {
    return release_url_for(build::kContentServerOrigin, version, file_name);
}

}  // namespace veltrane
