#include "release.h"

#include <sodium.h>

#include <nlohmann/json.hpp>

#include "file_util/text.h"
#include "file_util/white_space.h"
#include "rings.h"

namespace veltrane::publish {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kMarkerPrefix = "Veltrane_Desktop release marker v1 version=";
constexpr std::size_t kMarkerMaxLength = 1024;
constexpr std::uint64_t kSecretKeyFileLimit = 1024;

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

Error error_with(std::string prefix, const Error& e) { return make_error(std::move(prefix) + e.message); }

Result<ReleaseIdentity> parse_marker(std::string_view marker) {
    // "<timestamp> origin=<origin> key=<hex> end"
    const auto bad = [] { return make_error("the executable's release marker is malformed"); };
    const std::size_t origin_at = marker.find(" origin=");
    const std::size_t key_at = marker.find(" key=");
    if (origin_at == std::string_view::npos || key_at == std::string_view::npos || key_at < origin_at) return bad();
    const std::string_view timestamp = marker.substr(0, origin_at);
    const std::string_view origin = marker.substr(origin_at + 8, key_at - origin_at - 8);
    const std::string_view rest = marker.substr(key_at + 5);
    if (rest.size() != 64 + 4 || rest.substr(64) != " end") return bad();
    ReleaseIdentity identity;
    const auto version = parse_build_timestamp(timestamp);
    if (!version || !decode_hex_into(rest.substr(0, 64), identity.key)) return bad();
    if (origin.rfind("https://", 0) != 0 || origin.size() <= 8 || origin.find_first_of("/ ", 8) != std::string_view::npos) {
        return bad();
    }
    identity.version = *version;
    identity.origin = std::string(origin);
    return identity;
}

Result<Bytes> read_release_input(const fs::path& path, std::uint64_t limit, const char* what) {
    auto bytes = read_limited(path, limit);
    if (!bytes) return make_error(std::string(what) + " " + path_to_utf8(path) + ": " + bytes.error().message);
    if (bytes->empty()) return make_error(std::string(what) + " " + path_to_utf8(path) + " is empty");
    return bytes;
}

nlohmann::ordered_json release_file_json(const ReleaseIdentity& identity, const char* name,
                                         std::span<const std::uint8_t> bytes) {
    nlohmann::ordered_json file;
    file["url"] = release_url_for(identity.origin, identity.version, name);
    file["size"] = bytes.size();
    file["sha256"] = encode_hex(sha256(bytes));
    return file;
}

}  // namespace

fs::path static_folder(const fs::path& site) { return site / "api" / "static" / "veltrane"; }

Result<std::optional<BuildVersion>> manifest_version(const fs::path& manifest_path) {
    std::error_code ec;
    if (!fs::exists(manifest_path, ec) && !ec) return std::optional<BuildVersion>{};
    auto text = read_text_limited(manifest_path, kManifestLimit);
    if (!text) return error_with("cannot read the site's manifest " + path_to_utf8(manifest_path) + ": ", text.error());
    const auto doc = nlohmann::json::parse(*text, nullptr, false);
    std::optional<BuildVersion> version;
    if (doc.is_object() && doc.contains("version") && doc["version"].is_string()) {
        version = parse_build_version(doc["version"].get<std::string>());
    }
    if (!version) return make_error("the site's manifest " + path_to_utf8(manifest_path) + " names no valid version");
    return std::optional<BuildVersion>{*version};
}

// A folder without a signature before loses its new one again.
Status replace_signed_pair(const fs::path& folder, const std::string& manifest, const std::string& signature) {
    const fs::path manifest_path = folder / "update.json";
    const fs::path signature_path = folder / "update.json.sig";
    std::error_code ec;
    const bool had_signature = fs::exists(signature_path, ec);
    auto old_signature = had_signature ? read_limited(signature_path, kSignatureLimit) : Result<Bytes>(Bytes());
    if (!old_signature) return error_with("cannot read " + path_to_utf8(signature_path) + ": ", old_signature.error());
    if (auto written = write_file_atomic(signature_path, bytes_of(signature)); !written) {
        return error_with("cannot write " + path_to_utf8(signature_path) + ": ", written.error());
    }
    auto written = write_file_atomic(manifest_path, bytes_of(manifest));
    if (written) return {};
    Error failure = error_with("cannot write " + path_to_utf8(manifest_path) + ": ", written.error());
    bool restored = false;
    if (had_signature) restored = write_file_atomic(signature_path, *old_signature).ok();
    else restored = fs::remove(signature_path, ec) || !ec;
    if (!restored) {
        failure.message += "; the old signature could not be put back, so " + path_to_utf8(signature_path) +
                           " no longer matches the manifest: publish again";
    }
    return failure;
}


Result<ReleaseIdentity> find_release_identity(std::span<const std::uint8_t> executable) {
    const std::string_view text(reinterpret_cast<const char*>(executable.data()), executable.size());
    const std::size_t first = text.find(kMarkerPrefix);
    if (first == std::string_view::npos) {
        return make_error("the executable carries no release marker: is it a Veltrane_Desktop.exe of this project?");
    }
    if (text.find(kMarkerPrefix, first + 1) != std::string_view::npos) {
        return make_error("the executable carries more than one release marker");
    }
    const std::string_view tail = text.substr(first + kMarkerPrefix.size(), kMarkerMaxLength);
    return parse_marker(tail.substr(0, tail.find('\0')));
}

Ed25519PublicKey public_key_of(const SecretSeed& seed) {
    Ed25519PublicKey pk{};
    std::array<std::uint8_t, 64> sk{};
    crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data());
    sodium_memzero(sk.data(), sk.size());
    return pk;
}

std::string format_secret_key(const SecretSeed& seed) { return encode_hex(seed) + "\n"; }

Result<SecretSeed> read_secret_key(const fs::path& path) {
    auto text = read_text_limited(path, kSecretKeyFileLimit);
    if (!text) return error_with("cannot read the secret key " + path_to_utf8(path) + ": ", text.error());
    auto seed = decode_hex<32>(trim_white_space(*text));
    sodium_memzero(text->data(), text->size());
    if (!seed) return make_error("the secret key file " + path_to_utf8(path) + " does not hold 64 hex digits");
    return *seed;
}

std::string make_manifest(const ReleaseIdentity& identity, std::span<const std::uint8_t> executable,
                          std::span<const std::uint8_t> font, std::uint32_t minimum_windows_build) {
    nlohmann::ordered_json doc;
    doc["schema"] = 1;
    doc["version"] = format_build_version(identity.version);
    doc["minimumWindowsBuild"] = minimum_windows_build;
    doc["executable"] = release_file_json(identity, kReleaseExecutableName, executable);
    doc["font"] = release_file_json(identity, kReleaseFontName, font);
    return doc.dump(2) + "\n";
}

Result<PublishedRelease> publish_release(const ReleaseOptions& options, const SecretSeed& seed) {
    if (sodium_init() < 0) return make_error("libsodium failed to initialise");
    if (options.minimum_windows_build < kMinimumWindowsBuildFloor) {
        return make_error("the minimum Windows build must be at least " + std::to_string(kMinimumWindowsBuildFloor));
    }
    auto executable = read_release_input(options.executable, kExecutableSizeLimit, "executable");
    if (!executable) return executable.take_error();
    auto font = read_release_input(options.font, kFontSizeLimit, "font");
    if (!font) return font.take_error();
    auto identity = find_release_identity(*executable);
    if (!identity) return identity.take_error();

    const Ed25519PublicKey signer = public_key_of(seed);
    if (signer != identity->key) {
        return make_error("the executable accepts only updates signed by key " + encode_hex(identity->key) +
                          ", but the secret key belongs to " + encode_hex(signer) +
                          "; build it with -DVELTRANE_UPDATE_SIGNING_KEY=" + encode_hex(signer));
    }

    PublishedRelease release;
    release.identity = *identity;
    release.folder = static_folder(options.site);
    const auto current = ring_release(options.site, options.ring);
    if (!current) return error_with("", current.error());
    if (current->served && *current->served >= identity->version) {
        return make_error("release " + format_build_version(identity->version) + " is not newer than " +
                          format_build_version(*current->served) + ", which ring " + options.ring + " serves");
    }

    if (options.authenticode) {
        auto signed_executable = sign_executable(*executable, *options.authenticode);
        if (!signed_executable) return error_with("cannot sign the executable with Authenticode: ", signed_executable.error());
        const auto signed_identity = find_release_identity(signed_executable->bytes);
        if (!signed_identity || signed_identity->version != identity->version || signed_identity->key != identity->key) {
            return make_error("internal error: signing changed the executable's release marker");
        }
        *executable = std::move(signed_executable->bytes);
        release.authenticode = signed_executable->signer;
        release.warnings = std::move(signed_executable->warnings);
    }

    release.manifest = make_manifest(*identity, *executable, *font, options.minimum_windows_build);
    if (!parse_update_manifest_for(identity->origin, bytes_of(release.manifest))) {
        return make_error("internal error: the written manifest breaks the manifest rules");
    }
    std::array<std::uint8_t, 64> secret{};
    std::array<std::uint8_t, 32> unused_pk{};
    crypto_sign_seed_keypair(unused_pk.data(), secret.data(), seed.data());
    std::array<std::uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, bytes_of(release.manifest).data(), release.manifest.size(),
                         secret.data());
    sodium_memzero(secret.data(), secret.size());
    release.signature = encode_hex(signature) + "\n";
    if (!verify_manifest_signature_with_key(identity->key, bytes_of(release.manifest), bytes_of(release.signature))) {
        return make_error("internal error: the signature does not verify");
    }

    // Release files first, so that every manifest the server hands out names files it has;
    // the signature before the manifest, so that a failure between them leaves the site's
    // version as it was and publishing again is not refused. A release already in the site
    // (released to another ring) is shared: it must be these very bytes.
    const fs::path folder = release.folder / "releases" / format_build_version(identity->version);
    const std::pair<fs::path, std::span<const std::uint8_t>> files[] = {{folder / kReleaseExecutableName, *executable},
                                                                        {folder / kReleaseFontName, *font}};
    std::vector<bool> present;
    for (const auto& [path, bytes] : files) {
        std::error_code ec;
        present.push_back(fs::exists(path, ec));
        const auto same = present.back() ? file_matches_digest(path, {bytes.size(), sha256(bytes)}) : Result<bool>(true);
        if (!same || !*same) {
            return make_error(path_to_utf8(path) + " is already in the site with other bytes, and release files never "
                              "change: promote the ring that has this release instead");
        }
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return error_with("cannot create " + path_to_utf8(folder) + ": ", file_system_error(ec));
    for (std::size_t i = 0; i < std::size(files); ++i) {
        if (present[i]) continue;
        if (auto written = write_file_atomic(files[i].first, files[i].second); !written) {
            return error_with("cannot write " + path_to_utf8(files[i].first) + ": ", written.error());
        }
    }
    if (auto kept = keep_ring_history(options.site, options.ring); !kept) return kept.take_error();
    if (auto pair = replace_signed_pair(ring_folder(options.site, options.ring), release.manifest, release.signature); !pair) {
        return pair.take_error();
    }
    return release;
}

}  // namespace veltrane::publish
