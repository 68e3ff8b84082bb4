// A full rendering pass over the sample content set (the landscape chart, the 40-cell main
// table, the duty box) against a bare libpng decode of the same chart, in one run. The goal
// is that drawing the two boxes adds at most a quarter to the decode time.
//   bench_render_content.exe SAMPLE_FOLDER FONT.ttf
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bare_decode.h"
#include "image/content_render.h"
#include "overlay/text_table.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_render_content SAMPLE_FOLDER FONT.ttf\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    const veltrane::ContentPaths paths{folder / L"Veltrane_Desktop.png", folder / L"Veltrane_Desktop.txt",
                                       folder / L"Veltrane_Desktop.duty.txt", std::filesystem::path(argv[2])};
    const veltrane::DutyPeriod period{veltrane::day_number(2026, 12, 8), true};
    double bare = 1e9, load = 1e9, pass = 1e9;
    for (int round = 0; round < 7; ++round) {
        bare = std::min(bare, veltrane::bench::seconds([&] {
                            if (veltrane::bench::bare_decode(paths.image).size == 0) std::abort();
                        }));
        load = std::min(load, veltrane::bench::seconds([&] {
                            if (!veltrane::load_png_bgra(paths.image).ok()) std::abort();
                        }));
        pass = std::min(pass, veltrane::bench::seconds([&] {
                            auto r = veltrane::render_content_at(paths, veltrane::render_text_table, period);
                            if (!r.ok() || !r->text || !r->duty) std::abort();
                        }));
    }
    std::printf("bare libpng decode:   %.1f ms\nload_png_bgra:        %.1f ms\nrender_content pass:  %.1f ms\n"
                "boxes / bare decode:  %.3f\npass / bare decode:   %.3f\n",
                bare * 1e3, load * 1e3, pass * 1e3, (pass - load) / bare, pass / bare);
    return 0;
}
