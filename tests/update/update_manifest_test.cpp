#include "update/update_manifest.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <map>

#include "test_signing_key.h"
#include "build_info/build_constants.h"

using namespace veltrane;
using namespace veltrane::testing;

namespace {

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

bool verifies(std::string_view manifest, std::string_view signature) {
    return verify_manifest_signature(bytes_of(manifest), bytes_of(signature));
}

const std::string kDigest(64, 'a');

// Appends rather than operator+ on a literal, which GCC 12 at -O3 warns about wrongly.
std::string json_string(std::string_view text) {
    std::string out = "\"";
    out.append(text);
    out.push_back('"');
    return out;
}
const BuildVersion kVersion{20261020, 101010};

// Members of a manifest as raw JSON; a test changes one and renders the document.
std::map<std::string, std::string> good_members() {
    const auto url = [](const char* name) { return json_string(release_url(kVersion, name)); };
    return {{"schema", "1"},
            {"version", "\"20261020.101010.0\""},
            {"minimumWindowsBuild", "17763"},
            {"exe.url", url(kReleaseExecutableName)},
            {"exe.size", "1000"},
            {"exe.sha256", json_string(kDigest)},
            {"font.url", url(kReleaseFontName)},
            {"font.size", "2000"},
            {"font.sha256", json_string(kDigest)}};
}

std::string render(const std::map<std::string, std::string>& m) {
    std::string top, exe, font;
    for (const auto& [key, value] : m) {
        auto add = [&](std::string& out, const std::string& name) {
            if (!out.empty()) out += ",";
            out += json_string(name);
            out += ":";
            out += value;
        };
        if (key.rfind("exe.", 0) == 0) add(exe, key.substr(4));
        else if (key.rfind("font.", 0) == 0) add(font, key.substr(5));
        else add(top, key);
    }
    return "{" + top + ",\"executable\":{" + exe + "},\"font\":{" + font + "}}";
}

std::optional<UpdateManifest> parse_with(const std::string& key, const std::string& value) {
    auto m = good_members();
    if (value.empty()) m.erase(key);
    else m[key] = value;
    return parse_update_manifest(bytes_of(render(m)));
}

}  // namespace

TEST(ManifestSignature, SignatureFileRules) {
    const std::string manifest = "{\"schema\":1}\n";
    const std::string hex = encode_hex(sign_bytes(manifest));
    EXPECT_TRUE(verifies(manifest, hex));
    EXPECT_TRUE(verifies(manifest, hex + "\r\n"));
    EXPECT_TRUE(verifies(manifest, "\xE3\x80\x80 " + hex + "\t"));  // U+3000 is white space too
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(verifies(manifest, upper));

    EXPECT_FALSE(verifies(manifest, hex.substr(0, 127)));
    EXPECT_FALSE(verifies(manifest, hex + "0"));
    std::string non_hex = hex;
    non_hex[0] = 'g';
    EXPECT_FALSE(verifies(manifest, non_hex));
    EXPECT_FALSE(verifies(manifest, hex.substr(0, 64) + " " + hex.substr(64)));
    EXPECT_FALSE(verifies(manifest, hex + "\xFF"));
    EXPECT_FALSE(verifies(manifest, ""));
}

TEST(ManifestSignature, OnlyTheEmbeddedKeyOverTheExactBytes) {
    const std::string manifest = "{\"schema\":1}\n";
    EXPECT_FALSE(verifies(manifest, signature_file(manifest, kOtherSigningSeed)));
    const std::string sig = signature_file(manifest);
    EXPECT_FALSE(verifies(manifest + "\n", sig));
    EXPECT_FALSE(verifies(manifest.substr(0, manifest.size() - 1), sig));
    std::string changed = manifest;
    changed[2] ^= 0x20;
    EXPECT_FALSE(verifies(changed, sig));
    // The tool verifies with a key it is given; the same key in hand verifies, another does not.
    EXPECT_TRUE(verify_manifest_signature_with_key(test_key_pair().public_key, bytes_of(manifest), bytes_of(sig)));
    EXPECT_FALSE(verify_manifest_signature_with_key(test_key_pair(kOtherSigningSeed).public_key, bytes_of(manifest),
                                                    bytes_of(sig)));
}

// Signatures that a plain (non-strict) Ed25519 verifier would accept.
TEST(ManifestSignature, StrictModeRejectsMalleableAndSmallOrderSignatures) {
    ASSERT_GE(sodium_init(), 0);
    const std::string manifest = "{\"schema\":1}";
    const auto pair = test_key_pair();
    auto sig = sign_bytes(manifest);

    // S + l: the same point equation, a non-canonical scalar.
    static const std::uint8_t l[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                       0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
    auto malleable = sig;
    sodium_add(malleable.data() + 32, l, 32);
    EXPECT_FALSE(verifies(manifest, encode_hex(malleable)));

    // A and R the identity, S = 0: [0]B - [k]O = O for every message.
    std::array<std::uint8_t, 32> identity{1};
    std::array<std::uint8_t, 64> zero_sig{1};
    EXPECT_FALSE(verify_manifest_signature_with_key(identity, bytes_of(manifest), bytes_of(encode_hex(zero_sig))));
    // The same with the sign bit of both encodings set (non-canonical identity).
    identity[31] = 0x80;
    zero_sig[31] = 0x80;
    EXPECT_FALSE(verify_manifest_signature_with_key(identity, bytes_of(manifest), bytes_of(encode_hex(zero_sig))));

    // R the identity with the real key: S = k * a makes [S]B - [k]A = O = R.
    std::array<std::uint8_t, 64> forged{1};
    std::array<std::uint8_t, 64> hash{};
    crypto_hash_sha512_state state;
    crypto_hash_sha512_init(&state);
    crypto_hash_sha512_update(&state, forged.data(), 32);
    crypto_hash_sha512_update(&state, pair.public_key.data(), 32);
    crypto_hash_sha512_update(&state, bytes_of(manifest).data(), manifest.size());
    crypto_hash_sha512_final(&state, hash.data());
    std::array<std::uint8_t, 32> k{}, a{};
    crypto_core_ed25519_scalar_reduce(k.data(), hash.data());
    std::array<std::uint8_t, 64> a_wide{};
    ASSERT_EQ(crypto_sign_ed25519_sk_to_curve25519(a_wide.data(), pair.secret_key.data()), 0);
    crypto_core_ed25519_scalar_reduce(a.data(), a_wide.data());
    crypto_core_ed25519_scalar_mul(forged.data() + 32, k.data(), a.data());
    EXPECT_FALSE(verifies(manifest, encode_hex(forged)));
}

TEST(ManifestSignature, TheProductsKeyIsTheTestKeyInTests) {
    EXPECT_EQ(build::kUpdateSigningKey, test_key_pair().public_key);
}

TEST(UpdateManifest, ReadsAGoodManifest) {
    const auto m = parse_update_manifest(bytes_of(render(good_members())));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->version, kVersion);
    EXPECT_EQ(m->minimum_windows_build, 17763u);
    EXPECT_EQ(m->executable.url, std::string(build::kContentServerOrigin) + "/api/static/veltrane/releases/20261020.101010.0/Veltrane_Desktop.exe");
    EXPECT_EQ(m->executable.size, 1000u);
    EXPECT_EQ(m->font.size, 2000u);
    EXPECT_EQ(m->font.sha256[0], 0xaa);
}

TEST(UpdateManifest, NumberRules) {
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"schema", "1.0"}, {"schema", "1e0"}, {"minimumWindowsBuild", "4294967295"},
             {"minimumWindowsBuild", "1.7763e4"}, {"exe.size", "33554432"}, {"font.size", "67108864"},
             {"exe.sha256", json_string(std::string(64, 'F'))}, {"unknown", "[1,2]"}}) {
        EXPECT_TRUE(parse_with(key, value)) << key << "=" << value;
    }
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"schema", "2"}, {"schema", "\"1\""}, {"schema", ""}, {"schema", "1.5"}, {"schema", "true"},
             {"minimumWindowsBuild", "17762"}, {"minimumWindowsBuild", "4294967296"},
             {"minimumWindowsBuild", "17763.5"}, {"minimumWindowsBuild", "-17763"},
             {"minimumWindowsBuild", "\"17763\""}, {"minimumWindowsBuild", "1e400"},
             {"exe.size", "0"}, {"exe.size", "-0.0"}, {"exe.size", "33554433"}, {"exe.size", "-1"},
             {"font.size", "67108865"}, {"exe.size", "18446744073709551617"}}) {
        EXPECT_FALSE(parse_with(key, value)) << key << "=" << value;
    }
}

TEST(UpdateManifest, UrlsAndDigestsAreExact) {
    const std::string origin = build::kContentServerOrigin;
    const std::string base = origin + "/api/static/veltrane/releases/";
    std::string upper_host = base;
    upper_host.replace(upper_host.find("localhost"), 9, "LOCALHOST");
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"exe.url", json_string(base + "20261019.230507.0/Veltrane_Desktop.exe")},
             {"exe.url", json_string(base + "20261020.101010.0/Veltrane_Desktop.ttf")},
             {"exe.url", json_string(base + "20261020.101010.0/veltrane_desktop.exe")},
             {"exe.url", json_string(base + "20261020.101010.0/Veltrane_Desktop.exe?x=1")},
             {"exe.url", json_string(upper_host + "20261020.101010.0/Veltrane_Desktop.exe")},
             {"font.url", "\"https://evil.example/api/static/veltrane/releases/20261020.101010.0/Veltrane_Desktop.ttf\""},
             {"font.url", json_string(base + "20261020.101010.0/Veltrane_Desktop.ttf/")},
             {"exe.sha256", json_string(std::string(63, 'a'))}, {"exe.sha256", json_string(std::string(65, 'a'))},
             {"font.sha256", json_string(std::string(63, 'a') + "g")}, {"font.sha256", ""},
             {"version", "\"20261020.101010\""}, {"version", "20261020"}}) {
        EXPECT_FALSE(parse_with(key, value)) << key << "=" << value;
    }
}

TEST(UpdateManifest, DocumentRules) {
    EXPECT_FALSE(parse_update_manifest(bytes_of("[]")));
    EXPECT_FALSE(parse_update_manifest(bytes_of("")));
    EXPECT_FALSE(parse_update_manifest(bytes_of(render(good_members()) + "x")));
    std::string bad_utf8 = render(good_members());
    bad_utf8.insert(1, "\"\xC3\":0,");
    EXPECT_FALSE(parse_update_manifest(bytes_of(bad_utf8)));
    const std::string doc = "{\"schema\":1,\"version\":\"20261020.101010.0\",\"minimumWindowsBuild\":17763,"
                      "\"executable\":1,\"font\":{}}";
    EXPECT_FALSE(parse_update_manifest(bytes_of(doc)));
}
