#include <gtest/gtest.h>

#include <cstring>

#include "../update/test_signing_key.h"
#include "key_file.h"
#include "release.h"
#include "support/test_paths.h"
#include "build_info/build_constants.h"

using namespace veltrane;
using namespace veltrane::publish;
namespace vt = veltrane::testing;
using vt::ScratchDir;

namespace {

SecretSeed seed_of(const char* text) {
    SecretSeed seed{};
    std::memcpy(seed.data(), text, seed.size());
    return seed;
}

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// An "executable" that carries the test build's marker, the way the linker lays it out.
std::string fake_executable(const std::string& marker) {
    return std::string("MZ\x90\0\x03", 5) + std::string(300, '\x7f') + marker + std::string(1, '\0') + "tail";
}

}  // namespace

TEST(Publish, LaysOutASignedReleaseOfTheBuildsOwnVersion) {
    ScratchDir dir("publish");
    const std::string exe = fake_executable(build::kReleaseMarker);
    vt::write_raw(dir / "Veltrane_Desktop.exe", exe);
    vt::write_raw(dir / "font.ttf", "font bytes");
    ReleaseOptions options{dir / "site", dir / "Veltrane_Desktop.exe", dir / "font.ttf", 19045};

    const auto published = publish_release(options, seed_of(vt::kTestSigningSeed));
    ASSERT_TRUE(published) << published.error().message;
    EXPECT_EQ(format_build_version(published->identity.version), "20261019.230507.0");
    const auto folder = dir / "site" / "api" / "static" / "veltrane";
    const std::string manifest = vt::read_raw(folder / "update.json");
    EXPECT_TRUE(verify_manifest_signature(bytes_of(manifest), bytes_of(vt::read_raw(folder / "update.json.sig"))));
    const auto parsed = parse_update_manifest(bytes_of(manifest));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->minimum_windows_build, 19045u);
    EXPECT_EQ(parsed->executable.size, exe.size());
    EXPECT_EQ(parsed->executable.sha256, sha256(bytes_of(exe)));
    EXPECT_EQ(vt::read_raw(folder / "releases" / "20261019.230507.0" / "Veltrane_Desktop.exe"), exe);
    EXPECT_EQ(vt::read_raw(folder / "releases" / "20261019.230507.0" / "Veltrane_Desktop.ttf"), "font bytes");

    // The same version again is not newer than the site's.
    const auto again = publish_release(options, seed_of(vt::kTestSigningSeed));
    ASSERT_FALSE(again);
    EXPECT_NE(again.error().message.find("not newer"), std::string::npos);
    EXPECT_EQ(vt::read_raw(folder / "update.json"), manifest);
}

TEST(Publish, RefusesWhatTheBuildWouldNotAccept) {
    ScratchDir dir("publish_refusals");
    vt::write_raw(dir / "font.ttf", "font bytes");
    const auto attempt = [&](const std::string& exe, const char* seed) {
        vt::write_raw(dir / "exe", exe);
        return publish_release(ReleaseOptions{dir / "site", dir / "exe", dir / "font.ttf"}, seed_of(seed));
    };
    EXPECT_NE(attempt(fake_executable(build::kReleaseMarker), vt::kOtherSigningSeed).error().message.find("accepts only"),
              std::string::npos);
    EXPECT_FALSE(attempt("MZ no marker", vt::kTestSigningSeed));
    EXPECT_FALSE(attempt(fake_executable(build::kReleaseMarker) + build::kReleaseMarker, vt::kTestSigningSeed));
    std::string torn = build::kReleaseMarker;
    torn.resize(torn.size() - 5);
    EXPECT_FALSE(attempt(fake_executable(torn), vt::kTestSigningSeed));
    EXPECT_FALSE(std::filesystem::exists(dir / "site"));
}

TEST(Publish, TheSecretKeyFileIsNewAndPrivate) {
    ScratchDir dir("publish_key");
    ASSERT_TRUE(create_private_file(dir / "release.key", "secret\n"));
    EXPECT_EQ(vt::read_raw(dir / "release.key"), "secret\n");
    EXPECT_FALSE(create_private_file(dir / "release.key", "other\n"));
    EXPECT_EQ(vt::read_raw(dir / "release.key"), "secret\n");
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(dir / "release.key").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}
