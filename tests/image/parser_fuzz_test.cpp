// Random and mutated inputs for the three parsers of server content, for a bounded time.
// Under the host's sanitizers any out-of-bounds access, overflow or leak fails the test.
#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <random>

#include "font_builder.h"
#include "image/content_font.h"
#include "image/content_text.h"
#include "image/png_image.h"
#include "png_writer.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBudget = std::chrono::milliseconds(1500);

std::string mutate(std::string s, std::mt19937& rng) {
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !s.empty(); ++e) {
        const std::size_t at = rng() % s.size();
        switch (rng() % 5) {
            case 0: s[at] = static_cast<char>(rng()); break;
            case 1: s[at] = static_cast<char>(s[at] ^ (1 << (rng() % 8))); break;
            case 2: s.erase(at, 1 + rng() % 8); break;
            case 3: s.insert(at, std::string(1 + rng() % 4, static_cast<char>(rng()))); break;
            default: s.resize(at); break;
        }
    }
    return s;
}

std::string random_text(std::mt19937& rng) {
    static const char* const pieces[] = {"\x1F", "\x1E", "\n", "\r\n", "---", "=", " ", "H", "M", "D", "N", "P", "R",
                                         "T", "0", "1", "10", "2025-03-0", "2025-03-01", "columns", "font_size", "#",
                                         "ff", "당직", "\xE3\x80\x80", "-9223372036854775808", "99999999999", "+"};
    std::string s;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    return s;
}

void exercise_text(const std::string& text, std::int64_t day, bool daytime) {
    for (std::optional<std::string> replaced : {std::optional<std::string>(text), expand_roster_schedule(text, day, daytime),
                                                select_duty_day(text, day)}) {
        if (!replaced) continue;
        const TextRows rows = extract_rows(*replaced);
        for (const TextCell& cell : parse_cells(rows.rows)) ASSERT_FALSE(cell.runs.empty()) << *replaced;
        const TextStyle style = parse_text_style(rows.style_lines);
        ASSERT_GE(style.columns, 1u);
        ASSERT_LE(style.columns, 20u);
        ASSERT_GE(style.font_size, 1);
        ASSERT_LE(style.font_size, 500);
        ASSERT_GE(style.row_height, 1);
        ASSERT_GE(style.padding_x, 0);
    }
}

TEST(ParserFuzz, TextFormat) {
    std::mt19937 rng(1);
    const std::string seed = "H\x1F" "2025-03-01\x1F" "5\x1F" "00100\nM\x1F" "a\x1E" "b\x1E" "c\x1F" "0110\x1F" "x\n"
                             "D\x1F" "2025-03-02\x1F" "3\nP\x1F" "a\x1F" "b\x1E" "c\n---\ncolumns=3\nbold=on\n";
    const std::int64_t start = day_number(2025, 3, 1);
    const auto deadline = Clock::now() + kBudget;
    int runs = 0;
    while (Clock::now() < deadline) {
        const std::string text = rng() % 2 ? random_text(rng) : mutate(seed, rng);
        const std::int64_t day = rng() % 16 == 0 ? static_cast<std::int64_t>(rng()) << 32 : start + rng() % 8;
        exercise_text(text, day, rng() % 2);
        if (HasFatalFailure()) return;
        ++runs;
    }
    EXPECT_GT(runs, 100);
}

TEST(ParserFuzz, FontNamingTable) {
    std::mt19937 rng(2);
    const std::string seed = testing::make_font({testing::NameRecord{0, 3, 0, 1, testing::utf16be(u"Uni")},
                                                 testing::NameRecord{3, 1, 0x0409, 16, testing::utf16be(u"Typo")},
                                                 testing::NameRecord{1, 0, 0, 1, "Mac"}});
    const auto deadline = Clock::now() + kBudget;
    int runs = 0;
    while (Clock::now() < deadline) {
        const std::string font = mutate(seed, rng);
        auto family = find_font_family({reinterpret_cast<const std::uint8_t*>(font.data()), font.size()});
        if (family.ok()) {
            ASSERT_FALSE(family->empty());
        }
        ++runs;
    }
    EXPECT_GT(runs, 100);
}

TEST(ParserFuzz, PngFiles) {
    std::mt19937 rng(3);
    std::vector<std::string> seeds;
    for (auto [type, depth, interlaced] : {std::tuple{PNG_COLOR_TYPE_RGB_ALPHA, 8, false}, {PNG_COLOR_TYPE_PALETTE, 4, true},
                                           {PNG_COLOR_TYPE_GRAY, 16, true}, {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false}}) {
        testing::PngPicture picture;
        picture.width = 9;
        picture.height = 7;
        picture.color_type = type;
        picture.bit_depth = depth;
        picture.interlaced = interlaced;
        picture.rows.resize(testing::png_row_bytes(picture) * picture.height);
        for (auto& b : picture.rows) b = static_cast<std::uint8_t>(rng() % 4);
        if (type == PNG_COLOR_TYPE_PALETTE) {
            picture.palette.assign(48, 200);
            picture.palette_alpha = {1, 2, 3};
        }
        seeds.push_back(testing::encode_png(picture));
    }
    testing::ScratchDir dir("png-fuzz");
    const auto path = dir / "fuzz.png";
    const auto deadline = Clock::now() + kBudget;
    int runs = 0, loaded = 0;
    while (Clock::now() < deadline) {
        testing::write_raw(path, mutate(seeds[rng() % seeds.size()], rng));
        auto layer = load_png_bgra(path);
        if (layer.ok()) {
            ++loaded;
            ASSERT_GE(layer->width, 1);
            ASSERT_EQ(layer->pixels.size(), static_cast<std::size_t>(layer->width) * static_cast<std::size_t>(layer->height) * 4);
        } else {
            ASSERT_FALSE(layer.error().message.empty());
        }
        ++runs;
    }
    EXPECT_GT(runs, 20);
}

}  // namespace
}  // namespace veltrane
