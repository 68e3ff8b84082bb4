#include "image/png_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

// Checksums stop a fuzzer at the first changed byte; only fuzz builds skip them.
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION) && defined(_WIN32)
#error "the product never skips PNG checksums"
#endif

namespace veltrane::detail {
namespace {

// Each block carries its size in front so the allocator can account for what is freed.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;

png_voidp bounded_malloc(png_structp png, png_alloc_size_t size) {
    auto* context = static_cast<PngDecoderContext*>(png_get_mem_ptr(png));
    if (size > context->limit - context->in_use) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    context->in_use += size;
    return block + kBlockHeader;
}

void bounded_free(png_structp png, png_voidp pointer) {
    if (!pointer) return;
    auto* context = static_cast<PngDecoderContext*>(png_get_mem_ptr(png));
    auto* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    context->in_use -= size;
    std::free(block);
}

[[noreturn]] void on_error(png_structp png, png_const_charp text) {
    auto* context = static_cast<PngDecoderContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", text ? text : "unknown error");
    png_longjmp(png, 1);
}

// Warnings (benign chunk problems) do not change the pixels; they are not reported.
void on_warning(png_structp, png_const_charp) {}

void keep_head(PngDecoderContext* context, const png_bytep data, std::size_t length) {
    const std::size_t room = sizeof context->head - context->head_size;
    const std::size_t n = std::min(room, length);
    std::memcpy(context->head + context->head_size, data, n);
    context->head_size += n;
}

void read_from_file(png_structp png, png_bytep data, std::size_t length) {
    auto* context = static_cast<PngDecoderContext*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, context->file) != length)
        png_error(png, std::ferror(context->file) ? "read error" : "unexpected end of file");
    keep_head(context, data, length);
}

void read_from_memory(png_structp png, png_bytep data, std::size_t length) {
    auto* context = static_cast<PngDecoderContext*>(png_get_io_ptr(png));
    if (context->size - context->position < length) png_error(png, "unexpected end of file");
    std::memcpy(data, context->data + context->position, length);
    context->position += length;
    keep_head(context, data, length);
}

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Ancillary chunks that cannot change the decoded pixels (no gamma, colour management or
// background compositing is applied): skipped unparsed, so hostile text, profiles and
// palettes cost neither memory nor time.
const png_byte kIgnoredChunks[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
                                  "sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";

void configure(png_structp png, std::size_t limit) {
    // The sizes are checked by the caller against its own limits; libpng's default width
    // cap of one million would otherwise decide for it.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_set_chunk_malloc_max(png, limit);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                                static_cast<int>(sizeof kIgnoredChunks / 5));
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
}

void read_header_unguarded(png_structp png, png_infop info, PngHeader* header) {
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    header->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->color_type = png_get_color_type(png, info);
    header->row_bytes = png_get_rowbytes(png, info);
}

struct RowTarget {
    std::uint8_t* buffer;
    std::size_t stride;
    PngDecoder::RowDone done;
    void* context;
};

// With interlace handling libpng wants every row once per pass and merges each pass into
// the row it is given, so an interlaced row is complete only after the last pass. The frame
// after the image data (animation, trailing chunks) is never read.
void read_rows_unguarded(png_structp png, const PngHeader* header, const RowTarget* target) {
    const std::size_t tail = target->stride - header->row_bytes;
    for (int pass = 0; pass < header->passes; ++pass) {
        for (std::uint32_t y = 0; y < header->height; ++y) {
            std::uint8_t* slot = target->buffer + std::size_t{y} * target->stride;
            png_read_row(png, slot + tail, nullptr);
            if (header->passes == 1) target->done(slot, target->context);
        }
    }
    if (header->passes == 1) return;
    for (std::uint32_t y = 0; y < header->height; ++y) target->done(target->buffer + std::size_t{y} * target->stride, target->context);
}

}  // namespace

PngDecoder::PngDecoder(std::FILE* file, std::size_t memory_limit) {
    context_.file = file;
    context_.limit = memory_limit;
    create(read_from_file);
}

PngDecoder::PngDecoder(const std::uint8_t* data, std::size_t size, std::size_t memory_limit) {
    context_.data = data;
    context_.size = size;
    context_.limit = memory_limit;
    create(read_from_memory);
}

void PngDecoder::create(png_rw_ptr read) {
    png_ = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &context_, on_error, on_warning, &context_,
                                    bounded_malloc, bounded_free);
    if (!png_) {
        std::snprintf(context_.message, sizeof context_.message, "%s", "decoder could not be created");
        return;
    }
    png_set_read_fn(png_, &context_, read);
    info_ = png_create_info_struct(png_);
    if (!info_) std::snprintf(context_.message, sizeof context_.message, "%s", "out of memory");
}

PngDecoder::~PngDecoder() {
    if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
}

bool PngDecoder::read_header(PngHeader* header) {
    if (!created()) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    configure(png_, context_.limit);
    read_header_unguarded(png_, info_, header);
    return true;
}

bool PngDecoder::header_size_unsupported() const {
    static constexpr std::uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const std::uint8_t* h = context_.head;
    if (context_.head_size < sizeof context_.head || std::memcmp(h, kSignature, 8) != 0) return false;
    if (be32(h + 8) != 13 || std::memcmp(h + 12, "IHDR", 4) != 0) return false;
    // A damaged chunk is a damaged header, whatever its size fields say.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (crc32(crc32(0, nullptr, 0), h + 12, 17) != be32(h + 29)) return false;
#endif
    const std::uint32_t width = be32(h + 16), height = be32(h + 20);
    return width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu;
}

bool PngDecoder::read_rows(std::uint8_t* buffer, std::size_t stride, const PngHeader* header, RowDone done,
                           void* context) {
    if (!created() || stride < header->row_bytes) return false;
    const RowTarget target{buffer, stride, done, context};
    if (setjmp(png_jmpbuf(png_))) return false;
    read_rows_unguarded(png_, header, &target);
    return true;
}

}  // namespace veltrane::detail
