// The release-signing tool's work, apart from its command line: reading a build's identity
// from its executable, writing update.json with exact sizes and digests, signing it, and
// laying out the release folder of the site the content server serves.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "authenticode.h"
#include "file_util/file_util.h"
#include "update/update_manifest.h"

namespace veltrane::publish {

using SecretSeed = std::array<std::uint8_t, 32>;

// What a build embeds about itself (the release marker of its build constants).
struct ReleaseIdentity {
    BuildVersion version;
    std::string origin;
    Ed25519PublicKey key{};
};

// The one release marker in an executable's bytes; an error when there is none, more than
// one, or a malformed one.
Result<ReleaseIdentity> find_release_identity(std::span<const std::uint8_t> executable);

Ed25519PublicKey public_key_of(const SecretSeed& seed);

// The secret key file: the 32-byte seed as 64 hex digits and a line break.
std::string format_secret_key(const SecretSeed& seed);
Result<SecretSeed> read_secret_key(const std::filesystem::path& path);

// The manifest text for these files (pretty-printed JSON ending in a line break).
std::string make_manifest(const ReleaseIdentity& identity, std::span<const std::uint8_t> executable,
                          std::span<const std::uint8_t> font, std::uint32_t minimum_windows_build);

struct ReleaseOptions {
    std::filesystem::path site;  // the folder whose "api/static/veltrane" the server serves
    std::filesystem::path executable;
    std::filesystem::path font;
    std::uint32_t minimum_windows_build = kMinimumWindowsBuildFloor;
    std::optional<SigningCredentials> authenticode{};  // none: the executable is published as it is
    std::string ring = "all";  // rings.h: "all" is the site's own update.json
};

struct PublishedRelease {
    ReleaseIdentity identity;
    std::filesystem::path folder;  // site/api/static/veltrane
    std::string manifest;
    std::string signature;  // the signature file's text
    std::optional<AuthenticodeSigner> authenticode;
    std::vector<std::string> warnings;
};

// Checks everything first (sizes, the marker, the key the build trusts against the
// signing key, a version newer than what the ring serves, release files already in the site
// that differ: they never change), signs the executable with Authenticode
// when asked (so the manifest names the signed file), then writes the release files, then
// update.json and update.json.sig, each replaced atomically.
Result<PublishedRelease> publish_release(const ReleaseOptions& options, const SecretSeed& seed);

// The folder of the manifest, signature and releases inside a site.
std::filesystem::path static_folder(const std::filesystem::path& site);

// The version a manifest names; nothing when there is no file. An unreadable one is an
// error, since nothing could then tell whether a release is newer.
Result<std::optional<BuildVersion>> manifest_version(const std::filesystem::path& manifest_path);

// Writes update.json.sig, then update.json, into the folder; when the manifest cannot be
// written the old signature goes back, so the folder keeps a pair that verifies.
Status replace_signed_pair(const std::filesystem::path& folder, const std::string& manifest, const std::string& signature);

}  // namespace veltrane::publish
