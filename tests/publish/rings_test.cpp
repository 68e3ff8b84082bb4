#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "../update/test_signing_key.h"
#include "build_info/build_constants.h"
#include "release.h"
#include "rings.h"
#include "support/test_paths.h"

using namespace veltrane;
using namespace veltrane::publish;
namespace vt = veltrane::testing;
namespace fs = std::filesystem;

namespace {

// The ring nginx's share map gives an identity: its patterns applied in order, as nginx does.
std::string ring_by_share(const std::string& ring_file, const std::string& identity) {
    const std::string block = ring_file.substr(ring_file.find("map $http_x_veltrane_install"));
    const std::regex entry("\n    \"~([^\"]+)\" ([a-z-]+);");
    for (std::sregex_iterator it(block.begin(), block.begin() + block.find("\n}"), entry), end; it != end; ++it) {
        if (std::regex_search(identity, std::regex((*it)[1].str()))) return (*it)[2];
    }
    return "";
}

std::string served(const std::filesystem::path& site, std::string_view ring) {
    const auto release = ring_release(site, ring);
    return release && release->served ? format_build_version(*release->served) : "none";
}

}  // namespace

TEST(RingFile, SharesAreBandsOfWellFormedIdentitiesAndTheFileReadsBack) {
    const std::vector<RingDefinition> rings{{"pilot", {"10.20.0.0/16", "10.21.4.7"}, 5}, {"wards", {"fd00::/8"}, 0},
                                            {"early", {}, 20}};
    const auto text = format_ring_file(rings);
    ASSERT_TRUE(text) << text.error().message;
    EXPECT_NE(text->find("    10.20.0.0/16 pilot;\n    10.21.4.7 pilot;\n    fd00::/8 wards;\n"), std::string::npos);
    // 5 % of 256 first-byte values is 13 (0x00-0x0c), the next 20 % up to 64 (0x0d-0x3f).
    EXPECT_EQ(ring_by_share(*text, "0c" + std::string(30, 'f')), "pilot");
    EXPECT_EQ(ring_by_share(*text, "0d" + std::string(30, '0')), "early");
    EXPECT_EQ(ring_by_share(*text, "3f" + std::string(30, 'a')), "early");
    EXPECT_EQ(ring_by_share(*text, "40" + std::string(30, '0')), "");
    for (const std::string& malformed : std::vector<std::string>{"", "-", "0C" + std::string(30, 'f'), "00" + std::string(31, '0'), std::string("00 x")}) {
        EXPECT_EQ(ring_by_share(*text, malformed), "") << malformed;
    }
    const auto back = parse_ring_file(*text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 3u);
    EXPECT_EQ((*back)[0].addresses, rings[0].addresses);
    EXPECT_EQ((*back)[2].share, 20u);

    // Nothing reaches nginx's configuration that is not a ring name or an address range.
    EXPECT_FALSE(format_ring_file({{"pilot", {"10.0.0.0/8; } server { listen 80"}, 0}}));
    EXPECT_FALSE(format_ring_file({{"all", {}, 5}}));
    EXPECT_FALSE(format_ring_file({{"a", {}, 60}, {"b", {}, 41}}));
    EXPECT_FALSE(parse_ring_file("# ring pilot share=5 $x\n"));
}

TEST(Rings, ReleasePromoteAndHaltMoveOnlyTheSignedPair) {
    vt::ScratchDir dir("rings");
    const fs::path site = dir / "site";
    std::string newer = build::kReleaseMarker;
    newer.replace(newer.find("version=20261019230507"), 22, "version=20261020101010");
    vt::write_raw(dir / "v1.exe", std::string("MZ") + build::kReleaseMarker + std::string(1, '\0'));
    vt::write_raw(dir / "v2.exe", "MZ" + newer + std::string(1, '\0'));
    vt::write_raw(dir / "v2-other.exe", "MZ" + newer + std::string(1, '\0') + "resigned");
    vt::write_raw(dir / "font.ttf", "font");
    SecretSeed seed{};
    std::memcpy(seed.data(), vt::kTestSigningSeed, seed.size());
    const auto release = [&](const char* exe, const char* ring) {
        ReleaseOptions options{site, dir / exe, dir / "font.ttf"};
        options.ring = ring;
        const auto published = publish_release(options, seed);
        return published ? std::string() : published.error().message;
    };

    ASSERT_TRUE(add_ring_folder(site, "pilot"));
    EXPECT_EQ(release("v1.exe", "all"), "");
    EXPECT_EQ(served(site, "pilot"), "20261019.230507.0");  // follows all
    EXPECT_EQ(release("v2.exe", "pilot"), "");
    EXPECT_EQ(served(site, "pilot"), "20261020.101010.0");
    EXPECT_EQ(served(site, "all"), "20261019.230507.0");
    // One release folder for both rings, whose files never change.
    EXPECT_NE(release("v2-other.exe", "all").find("other bytes"), std::string::npos);
    EXPECT_NE(release("v1.exe", "nowhere").find("no ring"), std::string::npos);

    ASSERT_TRUE(promote_ring(site, "pilot", "all"));
    EXPECT_EQ(served(site, "all"), "20261020.101010.0");
    EXPECT_FALSE(promote_ring(site, "pilot", "all"));
    const std::string pair = vt::read_raw(ring_folder(site, "all") / "update.json") +
                             vt::read_raw(ring_folder(site, "all") / "update.json.sig");
    EXPECT_EQ(vt::read_raw(ring_folder(site, "pilot") / "update.json") + vt::read_raw(ring_folder(site, "pilot") / "update.json.sig"),
              pair);

    // A halt puts back what the ring served before its last release: here what all served then.
    ASSERT_TRUE(halt_ring(site, "pilot"));
    EXPECT_EQ(served(site, "pilot"), "20261019.230507.0");
    const std::string manifest = vt::read_raw(ring_folder(site, "pilot") / "update.json");
    const std::string signature = vt::read_raw(ring_folder(site, "pilot") / "update.json.sig");
    EXPECT_TRUE(verify_manifest_signature({reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()},
                                          {reinterpret_cast<const std::uint8_t*>(signature.data()), signature.size()}));
    EXPECT_FALSE(halt_ring(site, "pilot"));
    ASSERT_TRUE(halt_ring(site, "all"));
    EXPECT_EQ(served(site, "all"), "20261019.230507.0");
}
