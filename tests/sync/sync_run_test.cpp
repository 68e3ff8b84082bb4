#include "sync/sync_run.h"

#include <gtest/gtest.h>

#include <map>

#include "support/test_paths.h"

using namespace veltrane;
using veltrane::testing::read_raw;
using veltrane::testing::ScratchDir;
using veltrane::testing::write_raw;
namespace fs = std::filesystem;

namespace {

const std::string kOrigin = "https://content.test";
const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "IHDR-and-pixels" + std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12);

// A content server in memory: answers by URL, records what was asked.
struct FakeServer {
    std::map<std::string, std::string> bodies = {
        {kOrigin + kDutyPath, "당직표"},
        {kOrigin + kCurrentPath, R"({"updatedAt": "2026-12-07T10:20:00", "imageEtag": "img-1", "textEtag": "txt_1"})"},
        {kOrigin + kImagePathPrefix + "img-1", kPng},
        {kOrigin + kTextPathPrefix + "txt_1" + kTextPathSuffix, "\n항생제|등급\n"},
    };
    std::vector<std::string> asked;
    bool decodes = true;
    std::int32_t image_width = 800;
    LocalTime now{2026, 12, 7, 10, 20, 50};

    SyncInputs inputs(Uint128 ns = 1765069545123456789ull) {
        SyncInputs in;
        in.origin = kOrigin;
        in.fetch = [this](const std::string& url, std::uint64_t limit) -> std::optional<Bytes> {
            asked.push_back(url);
            // Each request takes 20 seconds, so a run that starts at 10:20:50 ends after 10:22.
            now.second += 20;
            now.minute += now.second / 60;
            now.second %= 60;
            const auto it = bodies.find(url);
            if (it == bodies.end() || it->second.size() > limit) return std::nullopt;
            return Bytes(it->second.begin(), it->second.end());
        };
        in.image_size = [this](std::span<const std::uint8_t>) -> std::optional<PngSize> {
            if (!decodes) return std::nullopt;
            return PngSize{image_width, 600};
        };
        in.process_id = 4242;
        in.utc_nanoseconds = ns;
        in.local_clock = [this] { return now; };
        return in;
    }
};

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(SyncRun, PublishesAGenerationAndSwitchesThePointer) {
    ScratchDir dir("sync-ok");
    write_raw(dir / kContentImageFile, "legacy");
    write_raw(dir / kContentTextFile, "legacy");
    FakeServer server;
    ASSERT_TRUE(sync_content_into(dir.path(), server.inputs()));

    const std::string gen = "generation-4242-1765069545123456789";
    EXPECT_EQ(read_raw(dir / kCurrentPointerFile), gen);
    EXPECT_EQ(read_raw(dir.path() / kContentFolder / gen / kContentImageFile), kPng);
    EXPECT_EQ(read_raw(dir.path() / kContentFolder / gen / kContentTextFile), "\n항생제|등급\n");  // untrimmed
    EXPECT_EQ(read_raw(dir / kDutyFile), "당직표");
    EXPECT_EQ(read_raw(dir / kSyncStatusFile), "2026.12/07 10:22");
    EXPECT_FALSE(fs::exists(dir / kContentImageFile));
    EXPECT_FALSE(fs::exists(dir / kContentTextFile));
    EXPECT_EQ(entries(dir.path() / kContentFolder), std::vector<std::string>{gen});
    EXPECT_EQ(server.asked, (std::vector<std::string>{kOrigin + kDutyPath, kOrigin + kCurrentPath,
                                                       kOrigin + kImagePathPrefix + "img-1",
                                                       kOrigin + kTextPathPrefix + "txt_1" + kTextPathSuffix}));
}

TEST(SyncRun, EveryBadAnswerLeavesTheStoreAsItWas) {
    const std::string current_url = kOrigin + kCurrentPath;
    const std::string image_url = kOrigin + kImagePathPrefix + "img-1";
    const std::string text_url = kOrigin + kTextPathPrefix + "txt_1" + kTextPathSuffix;
    struct Case {
        const char* what;
        std::function<void(FakeServer&)> spoil;
        std::size_t requests;  // how many were made before the run gave up
    };
    const std::vector<Case> cases = {
        {"no current", [&](FakeServer& s) { s.bodies.erase(current_url); }, 2},
        {"oversized current", [&](FakeServer& s) { s.bodies[current_url] = std::string(kCurrentLimit + 1, ' '); }, 2},
        {"invalid json", [&](FakeServer& s) { s.bodies[current_url] = "{\"updatedAt\": "; }, 2},
        {"not an object", [&](FakeServer& s) { s.bodies[current_url] = "[1, 2]"; }, 2},
        {"empty updatedAt", [&](FakeServer& s) { s.bodies[current_url] = R"({"updatedAt": "", "imageEtag": "img-1", "textEtag": "txt_1"})"; }, 2},
        {"numeric tag", [&](FakeServer& s) { s.bodies[current_url] = R"({"updatedAt": "x", "imageEtag": 1, "textEtag": "txt_1"})"; }, 2},
        {"tag with a dot", [&](FakeServer& s) { s.bodies[current_url] = R"({"updatedAt": "x", "imageEtag": "a.b", "textEtag": "txt_1"})"; }, 2},
        {"tag of 129", [&](FakeServer& s) { s.bodies[current_url] = R"({"updatedAt": "x", "imageEtag": ")" + std::string(129, 'a') + R"(", "textEtag": "t"})"; }, 2},
        {"no image", [&](FakeServer& s) { s.bodies.erase(image_url); }, 3},
        {"no text", [&](FakeServer& s) { s.bodies.erase(text_url); }, 4},
        {"blank text", [&](FakeServer& s) { s.bodies[text_url] = " \r\n \n"; }, 4},
        {"text not utf-8", [&](FakeServer& s) { s.bodies[text_url] = "a\xFF"; }, 4},
        {"png with one extra byte", [&](FakeServer& s) { s.bodies[image_url] = kPng + "x"; }, 4},
        {"png that does not decode", [&](FakeServer& s) { s.decodes = false; }, 4},
        // What the renderer would refuse: no row to show, a picture too narrow for the
        // paddings, a gap off any monitor, a box above the layer cap.
        {"separator only", [&](FakeServer& s) { s.bodies[text_url] = "---\n"; }, 4},
        {"too narrow", [&](FakeServer& s) { s.image_width = 160; }, 4},
        {"gap off the monitor", [&](FakeServer& s) { s.bodies[text_url] = "A\n---\nbox_gap=100000\n"; }, 4},
        {"box above the cap", [&](FakeServer& s) { s.bodies[text_url] = "A\n---\nrow_height=100000\n"; s.image_width = 5000; }, 4},
    };
    for (const auto& c : cases) {
        ScratchDir dir("sync-bad");
        FakeServer first;
        ASSERT_TRUE(sync_content_into(dir.path(), first.inputs(1000)));
        const auto before = entries(dir.path() / kContentFolder);

        FakeServer server;
        c.spoil(server);
        EXPECT_FALSE(sync_content_into(dir.path(), server.inputs(2000))) << c.what;
        EXPECT_EQ(server.asked.size(), c.requests) << c.what;
        EXPECT_EQ(read_raw(dir / kCurrentPointerFile), "generation-4242-1000") << c.what;
        EXPECT_EQ(entries(dir.path() / kContentFolder), before) << c.what;
        EXPECT_EQ(read_raw(dir / kSyncStatusFile), "2026.12/07 10:22") << c.what;
    }
}

TEST(SyncRun, AFailingDutyRequestDoesNotStopTheRun) {
    ScratchDir dir("sync-duty");
    write_raw(dir / kDutyFile, "old roster");
    FakeServer server;
    server.bodies.erase(kOrigin + kDutyPath);
    EXPECT_TRUE(sync_content_into(dir.path(), server.inputs()));
    EXPECT_EQ(read_raw(dir / kDutyFile), "old roster");

    FakeServer failing;
    failing.bodies.erase(kOrigin + kCurrentPath);
    EXPECT_FALSE(sync_content_into(dir.path(), failing.inputs()));
    EXPECT_EQ(read_raw(dir / kDutyFile), "당직표");  // the fresh roster stays
}

TEST(SyncRun, CleansStagingAndKeepsTwoGenerations) {
    ScratchDir dir("sync-prune");
    FakeServer server;
    ASSERT_TRUE(sync_content_into(dir.path(), server.inputs(1000)));
    fs::create_directories(dir.path() / kContentFolder / ".staging-generation-9-9" / "half");
    ASSERT_TRUE(sync_content_into(dir.path(), server.inputs(2000)));
    ASSERT_TRUE(sync_content_into(dir.path(), server.inputs(3000)));
    EXPECT_EQ(entries(dir.path() / kContentFolder),
              (std::vector<std::string>{"generation-4242-2000", "generation-4242-3000"}));
    EXPECT_EQ(read_raw(dir / kCurrentPointerFile), "generation-4242-3000");
}

TEST(SyncRun, AClockBefore1970PublishesNothing) {
    ScratchDir dir("sync-clock");
    FakeServer server;
    SyncInputs in = server.inputs();
    in.utc_nanoseconds.reset();
    EXPECT_FALSE(sync_content_into(dir.path(), in));
    EXPECT_FALSE(fs::exists(dir / kCurrentPointerFile));
    EXPECT_TRUE(entries(dir.path() / kContentFolder).empty());
}
