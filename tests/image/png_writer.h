// Test PNG files written with libpng in memory: every colour type, bit depth, transparency
// chunk and interlacing, plus hand-made chunks for damaged files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::testing {

struct PngColor16 {
    std::uint16_t red = 0, green = 0, blue = 0, gray = 0;
};

struct PngPicture {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int color_type = 0;  // PNG_COLOR_TYPE_*
    int bit_depth = 8;
    bool interlaced = false;
    std::vector<std::uint8_t> palette;        // RGB triples for palette images
    std::vector<std::uint8_t> palette_alpha;  // tRNS of a palette image
    std::optional<PngColor16> transparent;    // tRNS of a grey or RGB image
    // Packed rows of libpng's layout (big-endian 16-bit samples); empty means all zero.
    std::vector<std::uint8_t> rows;
    int compression = 6;
};

std::size_t png_row_bytes(const PngPicture& picture);
// The encoded file; empty when libpng refused the picture.
std::string encode_png(const PngPicture& picture);

// One chunk with length and CRC, and the signature, for hand-made files.
std::string png_chunk(const std::string& type, const std::string& data);
std::string png_signature();
std::string be32_bytes(std::uint32_t v);

// An RGB file of a smooth photo-like gradient: scaling and encoding work on it as hard as on
// a real wallpaper.
std::string gradient_png(std::uint32_t width, std::uint32_t height);

}  // namespace veltrane::testing
