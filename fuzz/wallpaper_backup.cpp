// The wallpaper backup record: whatever it holds is written back stably.
#include "fuzz_support.h"
#include "spotlight/spotlight.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::check_stable(fuzz::as_text(data, size), parse_wallpaper_backup, [](const WallpaperBackup& b) {
        return format_wallpaper_backup(b.path, b.style, b.tile, b.color);
    });
    return 0;
}
