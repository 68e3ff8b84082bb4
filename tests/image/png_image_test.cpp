#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <random>

#include "file_util/text.h"
#include "image/png_image.h"
#include "png_writer.h"
#include "support/test_paths.h"

namespace veltrane {
namespace {

using testing::encode_png;
using testing::png_chunk;
using testing::PngPicture;

struct Straight {
    std::uint32_t r, g, b, a;
};

// The reference model of one source pixel, written independently of the loader.
struct SampleReader {
    const PngPicture& picture;
    std::uint32_t sample(std::uint32_t x, std::uint32_t y, int channel, int channels) const {
        const std::size_t row = y * testing::png_row_bytes(picture);
        const std::size_t index = std::size_t{x} * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel);
        if (picture.bit_depth == 16) return std::uint32_t{picture.rows[row + index * 2]} << 8 | picture.rows[row + index * 2 + 1];
        if (picture.bit_depth == 8) return picture.rows[row + index];
        const std::size_t bit = index * static_cast<std::size_t>(picture.bit_depth);
        const std::uint32_t byte = picture.rows[row + bit / 8];
        const auto shift = static_cast<std::uint32_t>(8 - picture.bit_depth - static_cast<int>(bit % 8));
        return (byte >> shift) & ((1u << picture.bit_depth) - 1);
    }
    std::uint32_t to8(std::uint32_t v) const {
        if (picture.bit_depth == 16) return v >> 8;
        return v * 255 / ((1u << picture.bit_depth) - 1);
    }
    Straight pixel(std::uint32_t x, std::uint32_t y) const {
        switch (picture.color_type) {
            case PNG_COLOR_TYPE_PALETTE: {
                const std::uint32_t i = sample(x, y, 0, 1);
                const std::uint32_t a = i < picture.palette_alpha.size() ? picture.palette_alpha[i] : 255;
                return {picture.palette[i * 3], picture.palette[i * 3 + 1], picture.palette[i * 3 + 2], a};
            }
            case PNG_COLOR_TYPE_GRAY: {
                const std::uint32_t v = sample(x, y, 0, 1);
                const bool clear = picture.transparent && picture.transparent->gray == v;
                return {to8(v), to8(v), to8(v), clear ? 0u : 255u};
            }
            case PNG_COLOR_TYPE_GRAY_ALPHA:
                return {to8(sample(x, y, 0, 2)), to8(sample(x, y, 0, 2)), to8(sample(x, y, 0, 2)), to8(sample(x, y, 1, 2))};
            case PNG_COLOR_TYPE_RGB: {
                const std::uint32_t r = sample(x, y, 0, 3), g = sample(x, y, 1, 3), b = sample(x, y, 2, 3);
                const auto& t = picture.transparent;
                const bool clear = t && t->red == r && t->green == g && t->blue == b;
                return {to8(r), to8(g), to8(b), clear ? 0u : 255u};
            }
            default:
                return {to8(sample(x, y, 0, 4)), to8(sample(x, y, 1, 4)), to8(sample(x, y, 2, 4)), to8(sample(x, y, 3, 4))};
        }
    }
};

std::uint8_t pre(std::uint32_t v, std::uint32_t a) { return static_cast<std::uint8_t>((v * a + 127) / 255); }

class PngTest : public ::testing::Test {
protected:
    testing::ScratchDir dir{"png"};
    std::filesystem::path write(const std::string& bytes, const std::string& name = "image.png") {
        const auto path = dir / name;
        testing::write_raw(path, bytes);
        return path;
    }
    Result<TextLayer> load(const std::string& bytes) { return load_png_bgra(write(bytes)); }
};

PngPicture random_picture(int color_type, int depth, bool interlaced, std::mt19937& rng) {
    PngPicture picture;
    // Three rows keep the corner radius at 1, which leaves every pixel as decoded.
    picture.width = 13;
    picture.height = 3;
    picture.color_type = color_type;
    picture.bit_depth = depth;
    picture.interlaced = interlaced;
    picture.rows.resize(testing::png_row_bytes(picture) * picture.height);
    for (auto& b : picture.rows) b = static_cast<std::uint8_t>(rng());
    if (color_type == PNG_COLOR_TYPE_PALETTE) {
        // Every index a packed sample can hold must exist in the palette.
        picture.palette.resize(3u << depth);
        for (auto& b : picture.palette) b = static_cast<std::uint8_t>(rng());
    }
    return picture;
}

void expect_matches_model(const PngPicture& picture, const TextLayer& layer, const std::string& what) {
    ASSERT_EQ(layer.width, static_cast<std::int32_t>(picture.width)) << what;
    ASSERT_EQ(layer.height, static_cast<std::int32_t>(picture.height)) << what;
    ASSERT_EQ(layer.pixels.size(), std::size_t{picture.width} * picture.height * 4) << what;
    SampleReader model{picture};
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const Straight p = model.pixel(x, y);
            const std::uint8_t* d = &layer.pixels[(std::size_t{y} * picture.width + x) * 4];
            ASSERT_EQ(d[0], pre(p.b, p.a)) << what << " at " << x << "," << y;
            ASSERT_EQ(d[1], pre(p.g, p.a)) << what << " at " << x << "," << y;
            ASSERT_EQ(d[2], pre(p.r, p.a)) << what << " at " << x << "," << y;
            ASSERT_EQ(d[3], p.a) << what << " at " << x << "," << y;
        }
    }
}

TEST_F(PngTest, EveryColourTypeDepthTransparencyAndInterlaceMatchesTheModel) {
    struct Kind {
        int color_type;
        std::vector<int> depths;
    };
    const Kind kinds[] = {{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},
                          {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
                          {PNG_COLOR_TYPE_RGB, {8, 16}},
                          {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}},
                          {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}}};
    std::mt19937 rng(7);
    for (const Kind& kind : kinds) {
        for (int depth : kind.depths) {
            for (bool interlaced : {false, true}) {
                for (bool trns : {false, true}) {
                    const bool alpha_type = kind.color_type & PNG_COLOR_MASK_ALPHA;
                    if (trns && alpha_type) continue;
                    PngPicture picture = random_picture(kind.color_type, depth, interlaced, rng);
                    if (trns && kind.color_type == PNG_COLOR_TYPE_PALETTE) {
                        picture.palette_alpha = {0, 128, 255, 7};
                        picture.palette_alpha.resize(std::min<std::size_t>(4, std::size_t{1} << depth));
                    } else if (trns) {
                        // The first pixel's own value, so at least one pixel turns transparent.
                        SampleReader model{picture};
                        testing::PngColor16 t;
                        const int ch = kind.color_type == PNG_COLOR_TYPE_RGB ? 3 : 1;
                        t.gray = static_cast<std::uint16_t>(model.sample(0, 0, 0, 1));
                        if (ch == 3) {
                            t.red = static_cast<std::uint16_t>(model.sample(0, 0, 0, 3));
                            t.green = static_cast<std::uint16_t>(model.sample(0, 0, 1, 3));
                            t.blue = static_cast<std::uint16_t>(model.sample(0, 0, 2, 3));
                        }
                        picture.transparent = t;
                    }
                    const std::string what = "type " + std::to_string(kind.color_type) + " depth " +
                                             std::to_string(depth) + (interlaced ? " interlaced" : "") +
                                             (trns ? " tRNS" : "");
                    const std::string bytes = encode_png(picture);
                    ASSERT_FALSE(bytes.empty()) << what;
                    auto layer = load(bytes);
                    ASSERT_TRUE(layer.ok()) << what << ": " << layer.error().message;
                    expect_matches_model(picture, *layer, what);
                    if (trns && kind.color_type != PNG_COLOR_TYPE_PALETTE) {
                        EXPECT_EQ(layer->pixels[3], 0) << what;
                    }
                }
            }
        }
    }
}

TEST_F(PngTest, MostlyOpaqueRowsMatchTheModel) {
    // Opaque pixels take a faster path in groups of four; mix whole groups, broken groups
    // and row ends that are no multiple of four.
    std::mt19937 rng(11);
    for (int depth : {8, 16}) {
        PngPicture picture = random_picture(PNG_COLOR_TYPE_RGB_ALPHA, depth, false, rng);
        const std::size_t bytes = static_cast<std::size_t>(depth / 8);
        for (std::size_t px = 0; px < std::size_t{picture.width} * picture.height; ++px) {
            if (px % 11 == 5) continue;
            for (std::size_t i = 0; i < bytes; ++i) picture.rows[px * 4 * bytes + 3 * bytes + i] = 255;
        }
        auto layer = load(encode_png(picture));
        ASSERT_TRUE(layer.ok()) << layer.error().message;
        expect_matches_model(picture, *layer, "opaque depth " + std::to_string(depth));
    }
}

TEST_F(PngTest, SixteenBitFilesKeepTheirHighBytes) {
    for (int type : {PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB}) {
        std::mt19937 rng(type);
        PngPicture eight = random_picture(type, 8, false, rng);
        PngPicture sixteen = eight;
        sixteen.bit_depth = 16;
        sixteen.rows.clear();
        for (std::uint8_t b : eight.rows) {
            sixteen.rows.push_back(b);
            sixteen.rows.push_back(static_cast<std::uint8_t>(rng()));  // low bytes are noise
        }
        auto a = load(encode_png(eight));
        auto b = load(encode_png(sixteen));
        ASSERT_TRUE(a.ok() && b.ok());
        EXPECT_EQ(a->pixels, b->pixels) << "type " << type;
    }
}

TEST_F(PngTest, AlphaIsPremultipliedWithRounding) {
    PngPicture picture;
    picture.width = 4;
    picture.height = 1;
    picture.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    // half-transparent white, fully transparent red, opaque blue-ish, faint grey
    picture.rows = {255, 255, 255, 128, 255, 0, 0, 0, 10, 20, 200, 255, 100, 100, 100, 1};
    auto layer = load(encode_png(picture));
    ASSERT_TRUE(layer.ok()) << layer.error().message;
    const std::vector<std::uint8_t> expected = {128, 128, 128, 128, 0, 0, 0, 0, 200, 20, 10, 255, 0, 0, 0, 1};
    EXPECT_EQ(layer->pixels, expected);
}

TEST_F(PngTest, LoadedImagesHaveRoundedCorners) {
    PngPicture picture;
    picture.width = 40;
    picture.height = 32;
    picture.color_type = PNG_COLOR_TYPE_GRAY;
    picture.rows.assign(40 * 32, 255);
    auto layer = load(encode_png(picture));
    ASSERT_TRUE(layer.ok());
    for (std::size_t corner : {std::size_t{0}, std::size_t{39}, std::size_t{31 * 40}, std::size_t{31 * 40 + 39}})
        EXPECT_EQ(layer->pixels[corner * 4 + 3], 0) << corner;
    EXPECT_EQ(layer->pixels[(16 * 40 + 20) * 4 + 3], 255);
}

TEST(RoundCorners, RadiusFollowsTheSmallerSideUpToSixteen) {
    auto opaque = [](int w, int h) { return Bytes(static_cast<std::size_t>(w * h * 4), 255); };
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 2}, {1, 50}}) {
        Bytes p = opaque(w, h);
        round_corners(p, w, h);
        EXPECT_EQ(p, opaque(w, h)) << w << "x" << h << " is not rounded visibly";
    }
    // Golden values from an independent 4x4-sample computation of a radius-16 corner.
    Bytes p = opaque(32, 32);
    round_corners(p, 32, 32);
    auto alpha = [&](int x, int y) { return p[static_cast<std::size_t>(y * 32 + x) * 4 + 3]; };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(16, 0), 255);
    EXPECT_EQ(alpha(15, 0), 255);
    EXPECT_EQ(alpha(0, 15), 255);
    EXPECT_EQ(alpha(8, 0), 0);
    EXPECT_EQ(alpha(9, 0), 96);
    EXPECT_EQ(alpha(10, 0), 175);
    EXPECT_EQ(alpha(5, 2), 16);
    EXPECT_EQ(alpha(7, 1), 96);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(alpha(x, y), alpha(31 - x, y));
            ASSERT_EQ(alpha(x, y), alpha(x, 31 - y));
            ASSERT_EQ(alpha(x, y), alpha(31 - x, 31 - y));
            ASSERT_EQ(alpha(x, y), alpha(y, x));
        }
    }
    // Every channel is scaled alike, and halves round away from zero: 12 * 6/16 = 4.5 -> 5.
    Bytes dark(32 * 32 * 4, 12);
    round_corners(dark, 32, 32);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(dark[9 * 4 + static_cast<std::size_t>(c)], 5);
    EXPECT_EQ(dark[10 * 4], 8);
    Bytes short_buffer(10, 255);
    round_corners(short_buffer, 32, 32);
    EXPECT_EQ(short_buffer, Bytes(10, 255));
}

TEST_F(PngTest, PixelCountCapIsExactlyTwoToTheTwentyFifth) {
    PngPicture picture;
    picture.width = 8192;
    picture.height = 4096;
    picture.color_type = PNG_COLOR_TYPE_GRAY;
    picture.bit_depth = 1;
    picture.compression = 1;
    auto layer = load(encode_png(picture));
    ASSERT_TRUE(layer.ok()) << layer.error().message;
    EXPECT_EQ(layer->pixels.size(), std::size_t{1} << 27);
    EXPECT_EQ(layer->pixels[(std::size_t{100} * 8192 + 100) * 4 + 3], 255);
    layer = Result<TextLayer>(make_error(""));  // release before the next large case

    picture.height = 4097;
    auto over = load(encode_png(picture));
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().message, "PNG를 디코딩할 메모리 제한을 초과했습니다.");
}

std::string ihdr(std::uint32_t w, std::uint32_t h, int depth, int type) {
    return png_chunk("IHDR", testing::be32_bytes(w) + testing::be32_bytes(h) +
                                 std::string{static_cast<char>(depth), static_cast<char>(type), 0, 0, 0});
}

TEST_F(PngTest, HostileHeadersFailBeforeAnyLargeAllocation) {
    const std::string tail = png_chunk("IDAT", "") + png_chunk("IEND", "");
    // Many pixels with tiny rows: the pixel cap answers, not the decoder.
    auto wide = load(testing::png_signature() + ihdr(100000, 100000, 1, 0) + tail);
    ASSERT_FALSE(wide.ok());
    EXPECT_EQ(wide.error().message, "PNG를 디코딩할 메모리 제한을 초과했습니다.");
    // One row of eight gigabytes: libpng's own buffers exceed its memory limit.
    auto row = load(testing::png_signature() + ihdr(0x7fffffff, 1, 16, 6) + tail);
    ASSERT_FALSE(row.ok());
    EXPECT_TRUE(row.error().message.starts_with("PNG 헤더가 올바르지 않습니다: ")) << row.error().message;
    // Sizes libpng refuses itself still get the size message.
    for (const auto& [w, h] : {std::pair{0u, 5u}, {5u, 0u}, {0x80000000u, 1u}, {1u, 0xffffffffu}}) {
        auto unsupported = load(testing::png_signature() + ihdr(w, h, 8, 0) + tail);
        ASSERT_FALSE(unsupported.ok());
        EXPECT_EQ(unsupported.error().message, "지원하지 않는 PNG 크기입니다.") << w << " x " << h;
    }
    std::string damaged = testing::png_signature() + ihdr(0, 5, 8, 0);
    damaged[29] ^= 1;
    auto broken = load(damaged + tail);
    ASSERT_FALSE(broken.ok());
    EXPECT_TRUE(broken.error().message.starts_with("PNG 헤더가 올바르지 않습니다: ")) << broken.error().message;
}

TEST_F(PngTest, DamagedFilesGiveTheirMessages) {
    PngPicture picture;
    picture.width = 64;
    picture.height = 64;
    picture.color_type = PNG_COLOR_TYPE_RGB;
    std::mt19937 rng(3);
    picture.rows.resize(64 * 64 * 3);
    for (auto& b : picture.rows) b = static_cast<std::uint8_t>(rng());
    const std::string good = encode_png(picture);
    const std::string header_prefix = "PNG 헤더가 올바르지 않습니다: ";
    const std::string decode_prefix = "PNG 디코딩에 실패했습니다: ";

    auto expect_prefix = [&](const std::string& bytes, const std::string& prefix, const char* what) {
        auto r = load(bytes);
        ASSERT_FALSE(r.ok()) << what;
        EXPECT_TRUE(r.error().message.starts_with(prefix)) << what << ": " << r.error().message;
        EXPECT_GT(r.error().message.size(), prefix.size()) << what << " carries libpng's text";
    };
    expect_prefix("GIF89a this is no PNG", header_prefix, "not a PNG");
    expect_prefix("", header_prefix, "empty file");
    expect_prefix(good.substr(0, 20), header_prefix, "cut in the header");
    expect_prefix(good.substr(0, good.size() / 2), decode_prefix, "cut in the image data");
    std::string bad_ihdr_crc = good;
    bad_ihdr_crc[29] ^= 1;
    expect_prefix(bad_ihdr_crc, header_prefix, "IHDR CRC");
    std::string bad_idat_crc = good;
    const std::size_t idat = good.find("IDAT");
    const std::uint32_t idat_length = static_cast<std::uint8_t>(good[idat - 2]) << 8 | static_cast<std::uint8_t>(good[idat - 1]);
    bad_idat_crc[idat + 4 + idat_length] ^= 1;
    expect_prefix(bad_idat_crc, decode_prefix, "IDAT CRC");

    const auto missing = dir / "없는 파일.png";
    auto absent = load_png_bgra(missing);
    ASSERT_FALSE(absent.ok());
    const std::string open_prefix = "PNG 파일을 열 수 없습니다:\n" + path_to_utf8(missing) + "\n\n";
    EXPECT_TRUE(absent.error().message.starts_with(open_prefix)) << absent.error().message;
    EXPECT_NE(absent.error().message.find("(os error "), std::string::npos);
}

TEST_F(PngTest, TrailingFramesAndDamageAfterTheImageAreIgnored) {
    PngPicture picture;
    picture.width = 5;
    picture.height = 5;
    picture.color_type = PNG_COLOR_TYPE_GRAY;
    picture.rows.assign(25, 77);
    std::string bytes = encode_png(picture);
    const auto reference = load(bytes);
    ASSERT_TRUE(reference.ok());
    // An animation control chunk and garbage after the image data change nothing.
    bytes.insert(8 + 25, png_chunk("acTL", testing::be32_bytes(2) + testing::be32_bytes(0)));
    bytes += "garbage after the end";
    auto layer = load(bytes);
    ASSERT_TRUE(layer.ok()) << layer.error().message;
    EXPECT_EQ(layer->pixels, reference->pixels);
    // A text chunk larger than the decoder's limit is skipped unread.
    std::string big = encode_png(picture);
    big.insert(8 + 25, png_chunk("zTXt", std::string("k\0\0", 3) + std::string(200000, 'x')));
    EXPECT_TRUE(load(big).ok());
}

TEST_F(PngTest, DownloadedBytesAreCheckedByAFullDecodeInMemory) {
    auto check = [](const std::string& s) {
        return png_decodes(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
    };
    std::mt19937 rng(11);
    for (bool interlaced : {false, true}) {
        PngPicture picture = random_picture(PNG_COLOR_TYPE_RGB_ALPHA, 16, interlaced, rng);
        const std::string good = encode_png(picture);
        EXPECT_TRUE(check(good)) << interlaced;
        EXPECT_FALSE(check(good.substr(0, good.size() / 2))) << interlaced;
        std::string bad_idat_crc = good;
        const std::size_t idat = good.find("IDAT");
        const std::uint32_t idat_length = static_cast<std::uint8_t>(good[idat - 2]) << 8 | static_cast<std::uint8_t>(good[idat - 1]);
        bad_idat_crc[idat + 4 + idat_length] ^= 1;
        EXPECT_FALSE(check(bad_idat_crc)) << interlaced;
    }
    EXPECT_FALSE(check(""));
    EXPECT_FALSE(check("GIF89a"));
    // A header promising more than the memory limit fails before anything that size exists.
    EXPECT_FALSE(check(testing::png_signature() + testing::png_chunk("IHDR", testing::be32_bytes(40000) + testing::be32_bytes(40000) + std::string("\x08\x06\0\0\0", 5))));
    // Within the memory limit but above the renderer's pixel cap: a picture no workstation shows.
    PngPicture wide;
    wide.width = 8193;
    wide.height = 4096;
    wide.color_type = PNG_COLOR_TYPE_GRAY;
    wide.compression = 1;
    EXPECT_FALSE(check(encode_png(wide)));
    wide.width = 8192;
    const std::string at_cap = encode_png(wide);
    const auto size = png_decoded_size(std::span(reinterpret_cast<const std::uint8_t*>(at_cap.data()), at_cap.size()));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 8192);
    EXPECT_EQ(size->height, 4096);
}

}  // namespace
}  // namespace veltrane
