#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <map>

#include "../image/png_writer.h"
#include "content.h"
#include "support/test_paths.h"

using namespace veltrane;
using namespace veltrane::publish;
namespace vt = veltrane::testing;
namespace fs = std::filesystem;

namespace {

std::string rgba_png(std::uint32_t width, std::uint32_t height) {
    vt::PngPicture p;
    p.width = width;
    p.height = height;
    p.color_type = PNG_COLOR_TYPE_RGBA;
    return vt::encode_png(p);
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        files[entry.path().string()] = entry.is_regular_file() ? vt::read_raw(entry.path()) : "<dir>";
    }
    return files;
}

}  // namespace

TEST(PublishContent, WritesTaggedFilesThenCurrentAndKeepsTheEarlierSet) {
    vt::ScratchDir dir("publish-content");
    const fs::path site = dir / "site";
    vt::write_raw(dir / "a.png", rgba_png(400, 300));
    vt::write_raw(dir / "a.txt", "\nA\nB\n---\ncolumns=2\npadding_x=10\n");
    vt::write_raw(dir / "duty.txt", "Dr. Kim\n---\nrow_height=40\n");
    ASSERT_TRUE(publish_duty(site, dir / "duty.txt"));

    const auto first = publish_content(site, dir / "a.png", dir / "a.txt", "2026-12-08T08:00:00Z");
    ASSERT_TRUE(first) << first.error().message;
    // Image 300, text box 60 + 2 * 20 after a gap of 10, duty box 40 + 2 * 20 after a gap of 10.
    EXPECT_EQ(first->block_width, 400);
    EXPECT_EQ(first->block_height, 300 + 10 + 100 + 10 + 80);
    EXPECT_EQ(first->image_tag.size(), 64u);
    EXPECT_EQ(vt::read_raw(site / "images" / (first->image_tag + ".png")), vt::read_raw(dir / "a.png"));
    EXPECT_EQ(vt::read_raw(site / "texts" / (first->text_tag + ".txt")), vt::read_raw(dir / "a.txt"));
    EXPECT_EQ(vt::read_raw(site / "duty.txt"), "Dr. Kim\n---\nrow_height=40\n");

    vt::write_raw(dir / "b.txt", "C\n");
    const auto second = publish_content(site, dir / "a.png", dir / "b.txt", "2026-12-08T09:00:00Z");
    ASSERT_TRUE(second) << second.error().message;
    EXPECT_EQ(vt::read_raw(site / "current.json"), "{\"updatedAt\": \"2026-12-08T09:00:00Z\", \"imageEtag\": \"" +
                                                       second->image_tag + "\", \"textEtag\": \"" + second->text_tag +
                                                       "\"}\n");
    EXPECT_TRUE(fs::exists(site / "texts" / (first->text_tag + ".txt")));
}

TEST(PublishContent, RefusesWhatAWorkstationWouldRefuseAndLeavesTheSiteAsItWas) {
    vt::ScratchDir dir("publish-refuse");
    const fs::path site = dir / "site";
    const std::string png = rgba_png(200, 100);
    vt::write_raw(dir / "ok.png", png);
    vt::write_raw(dir / "ok.txt", "A\n");
    ASSERT_TRUE(publish_content(site, dir / "ok.png", dir / "ok.txt", "2026-12-08T08:00:00Z"));
    const auto before = snapshot(site);

    vt::write_raw(dir / "appended.png", png + "x");
    vt::write_raw(dir / "broken.png", vt::png_signature() +
                                          vt::png_chunk("IHDR", vt::be32_bytes(4) + vt::be32_bytes(4) +
                                                                    std::string("\x08\x06\0\0\0", 5)) +
                                          vt::png_chunk("IDAT", "not deflate") + vt::png_chunk("IEND", ""));
    vt::PngPicture huge;  // decodes within the sync's memory limit, but over the renderer's pixel cap
    huge.width = 8192;
    huge.height = 4097;
    huge.color_type = PNG_COLOR_TYPE_GRAY;
    huge.bit_depth = 1;
    huge.compression = 1;
    vt::write_raw(dir / "huge.png", vt::encode_png(huge));
    vt::write_raw(dir / "blank.txt", " \r\n\t\n");
    vt::write_raw(dir / "latin1.txt", "Caf\xE9\n");
    vt::write_raw(dir / "rules.txt", "---\ncolumns=2\n");
    vt::write_raw(dir / "narrow.txt", "A\n---\npadding_x=100\n");

    const std::pair<const char*, const char*> cases[] = {
        {"appended.png", "IEND"},          {"broken.png", "PNG 전체를"},
        {"huge.png", "픽셀 한도(33554432픽셀)"},        {"blank.txt", "공백"},
        {"latin1.txt", "UTF-8"},           {"rules.txt", "표시할 텍스트 항목이 없습니다."},
        {"narrow.txt", "padding_x"},
    };
    for (const auto& [file, rule] : cases) {
        const bool image = std::string(file).ends_with(".png");
        const auto refused = publish_content(site, dir / (image ? file : "ok.png"), dir / (image ? "ok.txt" : file),
                                             "2026-12-08T09:00:00Z");
        ASSERT_FALSE(refused) << file;
        EXPECT_NE(refused.error().message.find(file), std::string::npos) << refused.error().message;
        EXPECT_NE(refused.error().message.find(rule), std::string::npos) << refused.error().message;
        EXPECT_EQ(snapshot(site), before) << file;
    }
    EXPECT_FALSE(publish_duty(site, dir / "blank.txt"));
    EXPECT_EQ(snapshot(site), before);
}

TEST(PublishContent, ChecksTheRosterTogetherWithTheSitesImageAndText) {
    vt::ScratchDir dir("publish-together");
    const fs::path site = dir / "site";
    vt::write_raw(dir / "narrow.png", rgba_png(200, 100));
    vt::write_raw(dir / "wide.png", rgba_png(5000, 1));
    vt::write_raw(dir / "ok.txt", "A\n");
    vt::write_raw(dir / "tall.txt", "A\n---\nrow_height=100000\n");
    vt::write_raw(dir / "off.txt", "김\n---\nbox_gap=100000\n");
    vt::write_raw(dir / "padded.txt", "김\n---\npadding_x=100\n");
    const auto refusal = [](const auto& s) { return s ? std::string("published") : s.error().message; };

    // Before any content only the roster's own rules apply.
    EXPECT_NE(refusal(publish_duty(site, dir / "off.txt")).find("box_gap 값이 너무 큽니다(100000)"), std::string::npos);
    ASSERT_TRUE(publish_duty(site, dir / "padded.txt"));
    // Its paddings do not fit a 200-pixel picture: the chart goes out all the same, as
    // workstations drop only the duty box, and the roster is named.
    const auto content = publish_content(site, dir / "narrow.png", dir / "ok.txt", "2026-12-08T08:00:00Z");
    ASSERT_TRUE(content);
    EXPECT_NE(content->roster_warning.value_or("").find((site / "duty.txt").string() + ": 텍스트 박스를 표시하려면"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(site / "current.json"));
    vt::write_raw(site / "duty.txt", "김\n");
    ASSERT_TRUE(publish_content(site, dir / "narrow.png", dir / "ok.txt", "2026-12-08T08:00:00Z"));
    const std::string padded = refusal(publish_duty(site, dir / "padded.txt"));
    EXPECT_NE(padded.find((dir / "padded.txt").string() + ": 텍스트 박스를 표시하려면 PNG 너비가 padding_x*2보다"),
              std::string::npos) << padded;
    EXPECT_EQ(vt::read_raw(site / "duty.txt"), "김\n");

    // A box above the layer cap, for the text and for the roster.
    const auto tall = publish_content(site, dir / "wide.png", dir / "tall.txt", "2026-12-08T09:00:00Z");
    ASSERT_FALSE(tall);
    EXPECT_NE(tall.error().message.find("tall.txt: 텍스트 박스가 너무 큽니다(5000×100040 픽셀)"), std::string::npos);
    ASSERT_TRUE(publish_content(site, dir / "wide.png", dir / "ok.txt", "2026-12-08T09:00:00Z"));
    EXPECT_NE(refusal(publish_duty(site, dir / "tall.txt")).find("256MiB"), std::string::npos);
}

TEST(PublishContent, WarnsAboutAGapThatPushesTheBlockOffACommonMonitorAndPublishes) {
    vt::ScratchDir dir("publish-gap");
    const fs::path site = dir / "site";
    vt::write_raw(dir / "a.png", rgba_png(400, 300));
    vt::write_raw(dir / "a.txt", "A\n");
    vt::write_raw(dir / "far.txt", "A\n---\nbox_gap=1500\n");
    vt::write_raw(dir / "duty.txt", "김\n---\nbox_gap=1500\n");
    ASSERT_TRUE(publish_content(site, dir / "a.png", dir / "a.txt", "2026-12-08T08:00:00Z"));

    // 300 + 10 + 100 + 1500 + 100: the duty box goes where it does not fit.
    const auto duty = publish_duty(site, dir / "duty.txt");
    ASSERT_TRUE(duty) << duty.error().message;
    EXPECT_EQ(*duty, std::vector<std::string>{(dir / "duty.txt").string() +
                                              ": box_gap 값이 너무 큽니다(1500). 이 간격 때문에 표시 블록이 높이 1080, "
                                              "1440픽셀인 모니터를 벗어납니다. 그 모니터에서는 당직 박스 없이 표시됩니다."});
    EXPECT_EQ(vt::read_raw(site / "duty.txt"), vt::read_raw(dir / "duty.txt"));

    const auto content = publish_content(site, dir / "a.png", dir / "far.txt", "2026-12-08T09:00:00Z");
    ASSERT_TRUE(content) << content.error().message;
    // Where the roster's box stays, the text's own gap still pushes the block off.
    ASSERT_EQ(content->gap_warnings.size(), 2u);
    EXPECT_EQ(content->gap_warnings[0].rfind((site / "duty.txt").string() + ": box_gap 값이 너무 큽니다(1500).", 0), 0u);
    EXPECT_EQ(content->gap_warnings[1].rfind((dir / "far.txt").string() + ": box_gap 값이 너무 큽니다(1500).", 0), 0u);
    EXPECT_NE(content->gap_warnings[1].find("높이 1080, 1440, 2160픽셀"), std::string::npos);
}
