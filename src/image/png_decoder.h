// The libpng driver: one decoder over an open file with a bounded allocator, expand and
// strip-16, interlace handling and only the chunks that change pixels. libpng reports
// errors by longjmp; that jump stays inside this wrapper's two C-style phases, where no
// object with a destructor lives. Internal to the image module.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace veltrane::detail {

struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int color_type = 0;         // after the transformations
    std::size_t row_bytes = 0;  // after the transformations
    int passes = 1;
};

// Everything libpng's callbacks touch; trivially destructible on purpose.
struct PngDecoderContext {
    std::FILE* file = nullptr;  // the source is either a file or the bytes below
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    std::size_t in_use = 0;
    std::size_t limit = 0;
    char message[256] = {};
    // The signature and the first chunk as read, so the header's size fields can be judged
    // after libpng has refused them.
    std::uint8_t head[33] = {};
    std::size_t head_size = 0;
};

class PngDecoder {
public:
    PngDecoder(std::FILE* file, std::size_t memory_limit);
    PngDecoder(const std::uint8_t* data, std::size_t size, std::size_t memory_limit);
    ~PngDecoder();
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    bool created() const { return png_ != nullptr && info_ != nullptr; }
    // False with message() set on any decoder error.
    bool read_header(PngHeader* header);
    // Called once per row, when the row is complete, with the row's slot of `stride` bytes.
    using RowDone = void (*)(std::uint8_t* slot, void* context);

    // Decodes the first frame. Row y is decoded into the last header.row_bytes bytes of its
    // slot, buffer + y * stride, so a finished row can be widened in place while it is
    // still in the cache.
    bool read_rows(std::uint8_t* buffer, std::size_t stride, const PngHeader* header, RowDone done, void* context);
    const char* message() const { return context_.message; }
    // After a failed read_header: whether the file has an intact IHDR chunk whose width or
    // height is 0 or at least 2^31, sizes libpng refuses before the caller can judge them.
    bool header_size_unsupported() const;

private:
    void create(png_rw_ptr read);

    PngDecoderContext context_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

}  // namespace veltrane::detail
