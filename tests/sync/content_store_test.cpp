#include "sync/content_store.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/test_paths.h"

using namespace veltrane;
using veltrane::testing::ScratchDir;
using veltrane::testing::write_raw;
namespace fs = std::filesystem;

namespace {

// A generation folder with its two files and a chosen age, so ordering is deterministic.
fs::path make_generation(const ScratchDir& dir, const std::string& name, int age_seconds, bool complete = true) {
    const fs::path g = dir.path() / kContentFolder / name;
    fs::create_directories(g);
    write_raw(g / kContentImageFile, "png");
    if (complete) write_raw(g / kContentTextFile, "txt");
    veltrane::testing::set_age(g, age_seconds);
    return g;
}

std::vector<std::string> remaining(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path() / kContentFolder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ContentStore, NamesAndTags) {
    EXPECT_TRUE(is_generation_name("generation-4242-1765069545123456789"));
    EXPECT_TRUE(is_generation_name("generation--"));
    EXPECT_FALSE(is_generation_name("generation-"));
    EXPECT_FALSE(is_generation_name("generation-12ab"));
    EXPECT_FALSE(is_generation_name(".staging-generation-1"));
    EXPECT_EQ(make_generation_name(4242, Uint128{1765069545123456789ull} * 1000 + 7),
              "generation-4242-1765069545123456789007");
    EXPECT_EQ(make_generation_name(1, 0), "generation-1-0");
    EXPECT_EQ(staging_name("generation-1-2"), ".staging-generation-1-2");

    EXPECT_TRUE(is_entity_tag("a"));
    EXPECT_TRUE(is_entity_tag(std::string(128, 'Z')));
    EXPECT_TRUE(is_entity_tag("v2_chart-2026"));
    for (const std::string& bad : {std::string(), std::string(129, 'a'), std::string("a.b"), std::string("a/b"),
                                  std::string("a b"), std::string("태그"), std::string("a%2F")}) {
        EXPECT_FALSE(is_entity_tag(bad)) << bad;
    }
}

TEST(ContentStore, PointerIsTrimmedAndMustNameAGeneration) {
    ScratchDir dir("pointer");
    EXPECT_FALSE(read_current_generation(dir.path()));
    write_raw(dir / kCurrentPointerFile, "  generation-1-2\r\n");
    EXPECT_EQ(read_current_generation(dir.path()), "generation-1-2");
    write_raw(dir / kCurrentPointerFile, "generation-12ab");
    EXPECT_FALSE(read_current_generation(dir.path()));
    write_raw(dir / kCurrentPointerFile, "generation-" + std::string(250, '1'));
    EXPECT_FALSE(read_current_generation(dir.path()));  // over the 256-byte limit
    write_raw(dir / kCurrentPointerFile, "generation-1\xFF");
    EXPECT_FALSE(read_current_generation(dir.path()));
}

TEST(ContentStore, PruningKeepsTheCurrentAndTheNewest) {
    ScratchDir dir("prune");
    make_generation(dir, "generation-1-1", 300);  // G1: current and oldest
    make_generation(dir, "generation-1-2", 200);
    make_generation(dir, "generation-1-3", 100);
    fs::create_directories(dir.path() / kContentFolder / "unrelated");
    write_raw(dir / kCurrentPointerFile, "generation-1-1");

    EXPECT_EQ(prune_generations(dir.path()), 2u);
    EXPECT_EQ(remaining(dir), (std::vector<std::string>{"generation-1-1", "generation-1-3", "unrelated"}));

    make_generation(dir, "generation-1-4", 0);
    write_raw(dir / kCurrentPointerFile, "generation-1-4");
    EXPECT_EQ(prune_generations(dir.path()), 2u);
    EXPECT_EQ(remaining(dir), (std::vector<std::string>{"generation-1-3", "generation-1-4", "unrelated"}));
}

TEST(ContentStore, PruningKeepsTheGenerationTheServiceLastShowed) {
    ScratchDir dir("prune-shown");
    const fs::path shown = make_generation(dir, "generation-1-1", 300);  // rendered; the two after it do not
    make_generation(dir, "generation-1-2", 200);
    make_generation(dir, "generation-1-3", 100);
    write_raw(dir / kCurrentPointerFile, "generation-1-3");
    record_shown_generation(dir.path(), dir / kContentImageFile);  // the legacy pair records nothing
    EXPECT_FALSE(read_shown_generation(dir.path()));
    record_shown_generation(dir.path(), shown / kContentImageFile);
    EXPECT_EQ(read_shown_generation(dir.path()), "generation-1-1");

    EXPECT_EQ(prune_generations(dir.path()), 2u);
    EXPECT_EQ(remaining(dir), (std::vector<std::string>{"generation-1-1", "generation-1-3"}));
}

TEST(ContentStore, PruningWithoutContentFolderFindsNothing) {
    ScratchDir dir("empty");
    EXPECT_EQ(prune_generations(dir.path()), 0u);
    EXPECT_TRUE(content_candidates(dir.path()).empty());
}

TEST(ContentStore, CandidatesPutTheCurrentFirstThenNewestThenLegacy) {
    ScratchDir dir("candidates");
    const auto old_gen = make_generation(dir, "generation-1-1", 300);
    const auto current = make_generation(dir, "generation-1-2", 200);
    const auto newest = make_generation(dir, "generation-1-3", 100);
    make_generation(dir, "generation-1-4", 0, /*complete=*/false);
    fs::create_directories(dir.path() / kContentFolder / ".staging-generation-1-5");
    write_raw(dir / kCurrentPointerFile, "generation-1-2");
    write_raw(dir / kContentImageFile, "legacy");
    write_raw(dir / kContentTextFile, "legacy");

    const auto c = content_candidates(dir.path());
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].image, current / kContentImageFile);
    EXPECT_EQ(c[0].text, current / kContentTextFile);
    EXPECT_EQ(c[1].image, newest / kContentImageFile);
    EXPECT_EQ(c[2].image, old_gen / kContentImageFile);
    EXPECT_EQ(c[3].image, dir.path() / kContentImageFile);
}

TEST(ContentStore, DownloadChecks) {
    EXPECT_TRUE(is_blank_text(""));
    EXPECT_TRUE(is_blank_text(" \r\n\t\xE3\x80\x80\xC2\xA0"));  // ideographic and no-break spaces
    EXPECT_FALSE(is_blank_text("\n항생제표"));
    EXPECT_FALSE(is_blank_text("\xE2\x80\x8B"));  // zero-width space is not white space

    const Bytes minimal = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    EXPECT_TRUE(has_png_envelope(minimal));
    Bytes extra = minimal;
    extra.push_back(0);
    EXPECT_FALSE(has_png_envelope(extra));
    Bytes bad_signature = minimal;
    bad_signature[1] = 'Q';
    EXPECT_FALSE(has_png_envelope(bad_signature));
    EXPECT_FALSE(has_png_envelope(Bytes(minimal.begin(), minimal.begin() + 19)));
}
