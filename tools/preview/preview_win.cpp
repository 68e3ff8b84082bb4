// veltrane_preview: renders a content set as a monitor would show it and writes one PNG, so
// content authors can check a table before they publish it. A rendering failure prints the
// program's Korean message and exits with 1; a usage error exits with 2.
//
//   veltrane_preview --image X.png [--text X.txt] [--duty X.duty.txt] [--font X.ttf]
//                    --out preview.png [--background RRGGBB] [--size WxH]
//                    [--date YYYY-MM-DD] [--hour H]
#include <windows.h>

#include <png.h>

#include <charconv>
#include <cstdio>
#include <map>
#include <string>

#include "compose.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "overlay/text_table.h"

namespace veltrane::preview {
namespace {

constexpr std::int32_t kMargin = 40;

void print(const std::string& utf8) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    const std::string line = utf8 + "\n";
    if (GetConsoleMode(err, &mode)) {
        const std::wstring wide = win::to_wide(line);
        WriteConsoleW(err, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

using Options = std::map<std::wstring, std::wstring>;

bool parse_options(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; i += 2) {
        const std::wstring key = argv[i];
        if (key.rfind(L"--", 0) != 0 || i + 1 >= argc) return false;
        options[key.substr(2)] = argv[i + 1];
    }
    return options.count(L"image") && options.count(L"out");
}

std::string option(const Options& options, const wchar_t* key, const char* fallback = "") {
    const auto it = options.find(key);
    return it == options.end() ? fallback : win::from_wide(it->second);
}

std::filesystem::path path_option(const Options& options, const wchar_t* key) {
    const auto it = options.find(key);
    if (it != options.end()) return std::filesystem::path(it->second);
    // An option left out names a file in a folder that does not exist: the pass sees it as absent.
    const std::filesystem::path out(options.at(L"out"));
    return out.parent_path() / L"veltrane-preview-absent" / key;
}

std::optional<DutyPeriod> period_option(const Options& options) {
    if (!options.count(L"date")) return duty_period_at(local_time_now());
    const auto day = parse_day_number(option(options, L"date"));
    const std::string hour_text = option(options, L"hour", "12");
    int hour = -1;
    const auto [end, ec] = std::from_chars(hour_text.data(), hour_text.data() + hour_text.size(), hour);
    if (ec != std::errc() || end != hour_text.data() + hour_text.size()) return std::nullopt;
    if (!day || hour < 0 || hour > 23) return std::nullopt;
    // The duty day starts at 07:00: before that it is still the previous day's duty.
    return DutyPeriod{*day - (hour < 7 ? 1 : 0), hour >= 7 && hour <= 16};
}

bool write_png(const std::filesystem::path& path, const Canvas& canvas) {
    FILE* file = _wfopen(path.wstring().c_str(), L"wb");
    if (!file) return false;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.width);
    image.height = static_cast<png_uint_32>(canvas.height);
    image.format = PNG_FORMAT_RGB;
    const bool ok = png_image_write_to_stdio(&image, file, 0, canvas.rgb.data(), 0, nullptr) != 0;
    return std::fclose(file) == 0 && ok;
}

int run(const Options& options) {
    const auto background = parse_rgb(option(options, L"background", "2B3A4A"));
    const auto period = period_option(options);
    if (!background || !period) {
        print("배경색(--background RRGGBB) 또는 날짜(--date YYYY-MM-DD --hour H)가 올바르지 않습니다.");
        return 2;
    }
    const ContentPaths paths{path_option(options, L"image"), path_option(options, L"text"),
                             path_option(options, L"duty"), path_option(options, L"font")};
    auto content = render_content_at(paths, render_text_table, *period);
    if (!content) {
        print(content.error().message);
        return 1;
    }
    std::string report = block_size_report(content->image.width, content->total_height);
    report.pop_back();
    print(report);
    auto size = std::optional(std::pair{content->image.width + 2 * kMargin, content->total_height + 2 * kMargin});
    if (options.count(L"size")) size = parse_size(option(options, L"size"));
    if (!size || size->first > 16384 || size->second > 16384) {
        print("미리보기 크기(--size WxH)가 올바르지 않습니다. 각 변은 1에서 16384 사이여야 합니다.");
        return 2;
    }
    Canvas canvas = make_canvas(size->first, size->second, *background);
    compose_block(canvas, *content);
    if (!write_png(path_option(options, L"out"), canvas)) {
        print("미리보기 PNG를 쓰지 못했습니다: " + option(options, L"out"));
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace veltrane::preview

int wmain(int argc, wchar_t** argv) {
    veltrane::preview::Options options;
    if (!veltrane::preview::parse_options(argc, argv, options)) {
        veltrane::preview::print(
            "사용법: veltrane_preview --image 그림.png [--text 표.txt] [--duty 당직.txt] [--font 글꼴.ttf] "
            "--out 미리보기.png [--background RRGGBB] [--size WxH] [--date YYYY-MM-DD] [--hour H]");
        return 2;
    }
    return veltrane::preview::run(options);
}
