// A downloaded Spotlight picture before anything decodes it: the envelope and the frame size
// read from the segment headers. A picture that fits is within the renderer's pixel cap, and
// since the size comes from the headers alone, bytes after the frame header do not change it.
#include "fuzz_support.h"
#include "image/png_image.h"
#include "spotlight/spotlight.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)is_jpeg_envelope(bytes);
    const auto frame = jpeg_frame_size(bytes);
    if (spotlight_picture_fits(bytes)) {
        fuzz::check(frame && frame->width >= 1 && frame->height >= 1 &&
                        std::uint64_t{frame->width} * frame->height <= kPngMaxPixels,
                    "a picture over the pixel cap fits");
    }
    if (!frame) return 0;
    Bytes longer(bytes.begin(), bytes.end());
    longer.insert(longer.end(), {0xFF, 0xD9, 0x00});
    const auto again = jpeg_frame_size(longer);
    fuzz::check(again && again->width == frame->width && again->height == frame->height,
                "trailing bytes change the frame size");
    return 0;
}
