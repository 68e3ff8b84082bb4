// One composition of the sample content set onto two 3840 × 2160 monitors over a photo-sized
// user wallpaper, against GDI+'s PNG encoding of the same two pictures, in one run; and the
// process's peak memory during the composition. Goals: drawing at most a quarter of the
// encoding time, and a peak near one monitor bitmap plus the layers.
//   bench_compose.exe SAMPLE_FOLDER FONT.ttf [KEEP_FOLDER]   (run through bench/wallpaper/run.sh)
// With KEEP_FOLDER the two composed pictures are copied there to be looked at.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "standin_control.h"
#include "file_util/text.h"
#include "image/content_render.h"
#include "image/png_writer.h"
#include "overlay/text_table.h"
#include "wallpaper/compose_win.h"
#include "wallpaper/gdiplus_win.h"

namespace {

namespace fs = std::filesystem;
namespace flat = veltrane::gdiplus::flat;

constexpr CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

template <class F>
double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

PROCESS_MEMORY_COUNTERS memory() {
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
    return c;
}
// Wine fills the working-set fields; the page-file ones stay near zero there.
std::size_t private_bytes() { return memory().WorkingSetSize; }
std::size_t peak_private_bytes() { return memory().PeakWorkingSetSize; }

// A smooth photo-like gradient, so PNG encoding works as hard as on a real wallpaper.
void write_wallpaper(const fs::path& path) {
    veltrane::testing::PngPicture picture;
    picture.width = 1920;
    picture.height = 1080;
    picture.color_type = 2;  // RGB
    picture.rows.reserve(std::size_t{1920} * 1080 * 3);
    for (std::uint32_t y = 0; y < 1080; ++y) {
        for (std::uint32_t x = 0; x < 1920; ++x) {
            picture.rows.insert(picture.rows.end(), {static_cast<std::uint8_t>(x * 255 / 1919),
                                                     static_cast<std::uint8_t>(y * 255 / 1079),
                                                     static_cast<std::uint8_t>((x ^ y) & 0x3F)});
        }
    }
    const std::string bytes = veltrane::testing::encode_png(picture);
    std::FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
}

// Re-encodes a composed picture, decoded beforehand so only the encoder is timed.
double encode_seconds(const fs::path& png, const fs::path& out) {
    Gdiplus::GpBitmap* raw = nullptr;
    if (flat::GdipCreateBitmapFromFile(png.c_str(), &raw) != Gdiplus::Ok) std::abort();
    const veltrane::gdiplus::Image bitmap(raw);
    Gdiplus::GpBitmap* copy = nullptr;
    if (flat::GdipCloneBitmapAreaI(0, 0, 3840, 2160, PixelFormat32bppPARGB, bitmap.bitmap(), &copy) != Gdiplus::Ok)
        std::abort();
    const veltrane::gdiplus::Image pixels(copy);
    return seconds([&] {
        if (flat::GdipSaveImageToFile(pixels.get(), out.c_str(), &kPngEncoder, nullptr) != Gdiplus::Ok) std::abort();
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: bench_compose SAMPLE_FOLDER FONT.ttf [KEEP_FOLDER]\n");
        return 2;
    }
    const fs::path folder(argv[1]);
    const veltrane::ContentPaths paths{folder / L"Veltrane_Desktop.png", folder / L"Veltrane_Desktop.txt",
                                       folder / L"Veltrane_Desktop.duty.txt", fs::path(argv[2])};
    const veltrane::DutyPeriod period{veltrane::day_number(2026, 12, 8), true};
    auto content = veltrane::render_content_at(paths, veltrane::render_text_table, period);
    if (!content) std::abort();

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const fs::path work = fs::path(temp) / L"bench-compose";
    fs::remove_all(work);
    fs::create_directories(work / L"Veltrane_Desktop");
    write_wallpaper(work / L"wallpaper.png");

    veltrane::testing::StandinState desktop;
    desktop.position = 4;
    desktop.color = 0;
    desktop.monitors = {{"\\\\?\\DISPLAY#BENCH#0", 0, 0, 3840, 2160}, {"\\\\?\\DISPLAY#BENCH#1", 3840, 0, 7680, 2160}};
    for (const auto& m : desktop.monitors) desktop.wallpapers.push_back({m.device_path, veltrane::path_to_utf8(work / L"wallpaper.png")});

    auto session = veltrane::gdiplus::Session::start();
    if (!session) std::abort();
    const fs::path install = work / L"Veltrane_Desktop";
    // Best of three compositions in one configuration; the peak is taken over all of them.
    std::size_t peak = 0;
    auto best_of_three = [&](veltrane::BackgroundMode mode, const veltrane::Settings& settings) {
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            veltrane::testing::write_standin_state(desktop);
            fs::remove_all(install / L"WallpaperComposite");
            const std::size_t before = private_bytes();
            best = std::min(best, seconds([&] {
                                if (!veltrane::compose_wallpapers(install, *content, settings, mode, std::nullopt))
                                    std::abort();
                            }));
            peak = std::max(peak, peak_private_bytes() - before);
        }
        return best;
    };
    veltrane::Settings no_content;
    no_content.disabled_monitors = {"\\\\.\\DISPLAY1"};
    const double bare = best_of_three(veltrane::BackgroundMode::Black, no_content);
    const double with_content = best_of_three(veltrane::BackgroundMode::Black, {});
    const double full = best_of_three(veltrane::BackgroundMode::Original, {});
    const fs::path first = veltrane::utf8_to_path(veltrane::testing::standin_wallpaper(desktop.monitors[0].device_path));
    const fs::path second = veltrane::utf8_to_path(veltrane::testing::standin_wallpaper(desktop.monitors[1].device_path));
    double encode = 1e9;
    for (int round = 0; round < 3; ++round) {
        encode = std::min(encode, encode_seconds(first, work / L"again-0.png") + encode_seconds(second, work / L"again-1.png"));
    }
    const double drawing = full - encode;
    if (argc == 4) {
        fs::copy_file(first, fs::path(argv[3]) / L"monitor-0.png", fs::copy_options::overwrite_existing);
        fs::copy_file(second, fs::path(argv[3]) / L"monitor-1.png", fs::copy_options::overwrite_existing);
    }
    std::printf("composition, 2 x 3840x2160, black, no content: %8.1f ms\n"
                "  ... black with content:                       %8.1f ms\n"
                "  ... user wallpaper (fill) with content:       %8.1f ms\n"
                "PNG encoding of the last two pictures:          %8.1f ms\n"
                "content block drawing / encoding:               %8.3f\n"
                "wallpaper drawing / encoding:                   %8.3f\n"
                "everything but encoding / encoding:             %8.3f\n"
                "peak above start:   %.1f MiB (one monitor bitmap: %.1f MiB)\n",
                bare * 1e3, with_content * 1e3, full * 1e3, encode * 1e3, (with_content - bare) / encode,
                (full - with_content) / encode, drawing / encode, peak / 1048576.0, 3840.0 * 2160 * 4 / 1048576);
    fs::remove_all(work);
    return 0;
}
