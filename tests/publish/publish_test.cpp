#include <gtest/gtest.h>

#include <cstring>

#ifndef _WIN32
#include <sodium.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

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

#ifndef _WIN32
// The site's manifest cannot be written (the file-size limit lets the release files and the
// signature through, not the manifest): the site keeps a pair that verifies.
TEST(Publish, AManifestThatCannotBeWrittenLeavesTheSitesPairAsItWas) {
    ScratchDir dir("publish_unwritable");
    const std::string exe = fake_executable(build::kReleaseMarker);
    vt::write_raw(dir / "Veltrane_Desktop.exe", exe);
    vt::write_raw(dir / "font.ttf", "font bytes");
    const auto new_release = publish_release({dir / "new", dir / "Veltrane_Desktop.exe", dir / "font.ttf"},
                                             seed_of(vt::kTestSigningSeed));
    ASSERT_TRUE(new_release) << new_release.error().message;
    ASSERT_LT(exe.size(), new_release->manifest.size());

    // An older release on the site, signed with the same key.
    std::string old_manifest = new_release->manifest;
    old_manifest.replace(old_manifest.find("20261019.230507.0"), 17, "20261019.230506.0");
    std::array<std::uint8_t, 64> secret{}, signature{};
    std::array<std::uint8_t, 32> public_key{};
    crypto_sign_seed_keypair(public_key.data(), secret.data(), seed_of(vt::kTestSigningSeed).data());
    crypto_sign_detached(signature.data(), nullptr, bytes_of(old_manifest).data(), old_manifest.size(), secret.data());
    const std::string old_signature = encode_hex(signature) + "\n";
    const auto folder = dir / "site" / "api" / "static" / "veltrane";
    std::filesystem::create_directories(folder);
    vt::write_raw(folder / "update.json", old_manifest);
    vt::write_raw(folder / "update.json.sig", old_signature);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = new_release->manifest.size() - 1;
        const rlimit r{limit, limit};
        setrlimit(RLIMIT_FSIZE, &r);
        const auto published = publish_release({dir / "site", dir / "Veltrane_Desktop.exe", dir / "font.ttf"},
                                               seed_of(vt::kTestSigningSeed));
        _exit(published ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);  // the release was refused
    EXPECT_EQ(vt::read_raw(folder / "update.json"), old_manifest);
    EXPECT_TRUE(verify_manifest_signature(bytes_of(vt::read_raw(folder / "update.json")),
                                          bytes_of(vt::read_raw(folder / "update.json.sig"))));
}
#endif

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
