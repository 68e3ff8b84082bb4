// PNG files: the publish check on downloaded bytes and the renderer's loader on the same
// bytes as a file. A loaded layer has exactly width * height * 4 bytes, and what the check
// passes the loader loads at the same size.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fuzz_support.h"
#include "image/png_image.h"

using namespace veltrane;

namespace {

std::filesystem::path scratch_file() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("veltrane-fuzz-" + std::to_string(getpid()) + ".png");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto checked = png_decoded_size({data, size});
    const auto path = scratch_file();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto layer = load_png_bgra(path);
    if (checked) {
        fuzz::check(layer && layer->width == checked->width && layer->height == checked->height,
                    "the publish check passed a picture the renderer does not load as checked");
    }
    if (layer) {
        fuzz::check(layer->width >= 1 && layer->height >= 1, "an empty layer");
        fuzz::check(layer->pixels.size() == std::size_t(layer->width) * std::size_t(layer->height) * 4,
                    "a layer of the wrong size");
    } else {
        fuzz::check(!layer.error().message.empty(), "an error without a message");
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return 0;
}
