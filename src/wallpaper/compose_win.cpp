#include "wallpaper/compose_win.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <vector>

#include "file_util/win.h"
#include "file_util/file_util.h"
#include "file_util/generation.h"
#include "file_util/text.h"
#include "image/content_block.h"
#include "wallpaper/background_cache_win.h"
#include "wallpaper/desktop_wallpaper_win.h"
#include "wallpaper/gdiplus_win.h"
#include "wallpaper/original_state.h"
#include "wallpaper/original_wallpaper.h"
#include "wallpaper/placement.h"

namespace veltrane {

namespace {

namespace fs = std::filesystem;
namespace flat = gdiplus::flat;
using Gdiplus::GpGraphics;

constexpr CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr std::int32_t kMaxMonitorSide = 32768;

struct Layers {
    AlphaLayer image;
    std::optional<AlphaLayer> text;
    std::optional<AlphaLayer> duty;
};

struct Composition {
    const RenderedContent& content;
    const Settings& settings;
    BackgroundMode mode;
    const std::optional<fs::path>& spotlight_image;
    const OriginalState& state;
    MonitorRect bounds;
    const Layers& layers;
};

std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

bool file_exists(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

// The whole tile grid in one fill with a brush anchored at the first tile, so a 1 × 1 tile
// costs what a large one does. The tiles are unscaled: nearest-neighbour sampling at pixel
// centres copies every pixel as it is.
bool draw_tiles(GpGraphics* graphics, Gdiplus::GpImage* image, const PixelRect& first, const MonitorRect& monitor) {
    Gdiplus::GpTexture* raw = nullptr;
    if (flat::GdipCreateTexture(image, Gdiplus::WrapModeTile, &raw) != Gdiplus::Ok || !raw) return false;
    const gdiplus::Brush brush(raw);
    if (flat::GdipTranslateTextureTransform(raw, static_cast<Gdiplus::REAL>(first.x),
                                            static_cast<Gdiplus::REAL>(first.y), Gdiplus::MatrixOrderPrepend) != Gdiplus::Ok)
        return false;
    Gdiplus::InterpolationMode interpolation = Gdiplus::InterpolationModeHighQualityBicubic;
    Gdiplus::PixelOffsetMode offset = Gdiplus::PixelOffsetModeDefault;
    flat::GdipGetInterpolationMode(graphics, &interpolation);
    flat::GdipGetPixelOffsetMode(graphics, &offset);
    flat::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeNearestNeighbor);
    flat::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
    const bool filled = flat::GdipFillRectangleI(graphics, brush.get(), 0, 0, clamp32(std::int64_t{monitor.right} - monitor.left),
                                                 clamp32(std::int64_t{monitor.bottom} - monitor.top)) == Gdiplus::Ok;
    flat::GdipSetInterpolationMode(graphics, interpolation);
    flat::GdipSetPixelOffsetMode(graphics, offset);
    return filled;
}

}  // namespace

// Any failure leaves the background as it is.
bool draw_wallpaper_file(GpGraphics* graphics, const fs::path& path, std::int32_t position, const MonitorRect& monitor,
                         const MonitorRect& bounds) {
    if (!file_exists(path)) return false;
    Gdiplus::GpImage* raw = nullptr;
    if (flat::GdipLoadImageFromFile(path.c_str(), &raw) != Gdiplus::Ok) return false;
    const gdiplus::Image image(raw);
    UINT iw = 0, ih = 0;
    if (flat::GdipGetImageWidth(image.get(), &iw) != Gdiplus::Ok ||
        flat::GdipGetImageHeight(image.get(), &ih) != Gdiplus::Ok)
        return false;
    const auto placement = place_wallpaper(iw, ih, position, monitor, bounds);
    if (!placement) return false;
    if (position == kPositionTile) return draw_tiles(graphics, image.get(), placement->first, monitor);
    // Scaling samples beyond the image's edges; mirrored edges keep them from fading into
    // a dark seam. Without attributes the picture is still drawn.
    const gdiplus::ImageAttributes edges;
    if (edges.get()) flat::GdipSetImageAttributesWrapMode(edges.get(), Gdiplus::WrapModeTileFlipXY, 0, FALSE);
    const PixelRect& r = placement->first;
    return flat::GdipDrawImageRectRectI(graphics, image.get(), r.x, r.y, r.width, r.height, 0, 0, static_cast<INT>(iw),
                                        static_cast<INT>(ih), Gdiplus::UnitPixel, edges.get(), nullptr,
                                        nullptr) == Gdiplus::Ok;
}

namespace {

// Wraps the layer's premultiplied pixels without copying; GDI+ only reads them.
bool draw_layer(GpGraphics* graphics, const TextLayer& layer, std::int32_t x, std::int32_t y) {
    Gdiplus::GpBitmap* raw = nullptr;
    auto* pixels = const_cast<BYTE*>(layer.pixels.data());
    if (flat::GdipCreateBitmapFromScan0(layer.width, layer.height, layer.width * 4, PixelFormat32bppPARGB, pixels,
                                        &raw) != Gdiplus::Ok ||
        !raw)
        return false;
    const gdiplus::Image bitmap(raw);
    return flat::GdipDrawImageRectRectI(graphics, bitmap.get(), x, y, layer.width, layer.height, 0, 0, layer.width,
                                        layer.height, Gdiplus::UnitPixel, nullptr, nullptr, nullptr) == Gdiplus::Ok;
}

const OriginalEntry* recorded_entry(const OriginalState& state, const std::string& device_path) {
    for (const auto& entry : state.monitors) {
        if (entry.device_path == device_path) return &entry;
    }
    return nullptr;
}

// The colour, and the picture drawn over it when there is one.
struct Background {
    std::uint32_t argb = 0xFF000000;
    std::optional<BackgroundPicture> picture;
};

Background background_of(const Composition& c, const WallpaperMonitor& monitor) {
    if (c.mode == BackgroundMode::Black) return {};
    Background background{opaque_argb(c.state.color), std::nullopt};
    if (c.mode == BackgroundMode::Spotlight && c.spotlight_image && file_exists(*c.spotlight_image)) {
        background.picture = BackgroundPicture{*c.spotlight_image, kPositionFill};
        return background;
    }
    const OriginalEntry* entry = recorded_entry(c.state, monitor.device_path);
    if (!entry) return background;
    if (const auto picture = restorable_path(*entry); picture && !picture->empty())
        background.picture = BackgroundPicture{utf8_to_path(*picture), c.state.position};
    return background;
}

// Graphics of their own, so the bitmap can be locked for the cache once they are gone.
// True when the background is whole: no picture, or its picture drawn, so it may be kept.
Result<bool> draw_background(Gdiplus::GpBitmap* bitmap, const Background& background, const Composition& c,
                             const WallpaperMonitor& monitor) {
    GpGraphics* raw_graphics = nullptr;
    if (flat::GdipGetImageGraphicsContext(bitmap, &raw_graphics) != Gdiplus::Ok || !raw_graphics)
        return make_error(kGraphicsMessage);
    const gdiplus::Graphics graphics(raw_graphics);
    flat::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    flat::GdipGraphicsClear(graphics.get(), background.argb);
    if (!background.picture) return true;
    return draw_wallpaper_file(graphics.get(), background.picture->path, background.picture->position, monitor.rect,
                               c.bounds);
}

// The primary monitor is the one at the virtual screen's origin.
bool shows_content(const Settings& settings, const WallpaperMonitor& monitor) {
    const bool primary = monitor.rect.left == 0 && monitor.rect.top == 0;
    return monitor.device_name && shows_monitor(settings, *monitor.device_name, primary);
}

Status draw_content(GpGraphics* graphics, const Composition& c, std::int32_t w, std::int32_t h) {
    const BlockPlacement place = place_block(block_stack(c.content), w, h);
    const std::int32_t x = clamp32(place.left);
    if (c.layers.duty && place.duty_top && !draw_layer(graphics, c.layers.duty->layer(), x, clamp32(*place.duty_top)))
        return make_error(kDutyDrawMessage);
    if (!draw_layer(graphics, c.layers.image.layer(), x, clamp32(place.image_top)))
        return make_error(kImageDrawMessage);
    if (c.layers.text && place.text_top && !draw_layer(graphics, c.layers.text->layer(), x, clamp32(*place.text_top)))
        return make_error(kTextDrawMessage);
    return {};
}

// One monitor's bitmap exists only inside this call, so peak memory is one monitor (and the
// copies of backgrounds still being written); its cached background is read straight into it.
Status compose_monitor(const Composition& c, const WallpaperMonitor& monitor, const fs::path& file,
                       const fs::path& cache_file) {
    const std::int64_t w = std::int64_t{monitor.rect.right} - monitor.rect.left;
    const std::int64_t h = std::int64_t{monitor.rect.bottom} - monitor.rect.top;
    if (w < 1 || w > kMaxMonitorSide || h < 1 || h > kMaxMonitorSide) return make_error(kMonitorSizeMessage);
    const auto width = static_cast<std::int32_t>(w), height = static_cast<std::int32_t>(h);
    Gdiplus::GpBitmap* raw_bitmap = nullptr;
    if (flat::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, &raw_bitmap) != Gdiplus::Ok ||
        !raw_bitmap)
        return make_error(kBitmapMessage);
    const gdiplus::Image bitmap(raw_bitmap);
    const Background background = background_of(c, monitor);
    // Keyed before drawing: a file replaced meanwhile is then drawn again next time.
    const auto key = background.picture ? background_key(*background.picture, background.argb, monitor.rect, c.bounds)
                                        : std::nullopt;
    std::error_code ec;
    if (!key) fs::remove(cache_file, ec);  // not this monitor's background any more
    if (!key || !load_background(cache_file, *key, bitmap.bitmap(), width, height)) {
        const auto drawn = draw_background(bitmap.bitmap(), background, c, monitor);
        if (!drawn) return drawn.error();
        // A picture that failed to load this time (held, too large for memory) is not kept
        // as if the colour alone were its background.
        if (key && *drawn) store_background(cache_file, *key, bitmap.bitmap(), width, height);
    }
    if (shows_content(c.settings, monitor)) {
        GpGraphics* raw_graphics = nullptr;
        if (flat::GdipGetImageGraphicsContext(bitmap.get(), &raw_graphics) != Gdiplus::Ok || !raw_graphics)
            return make_error(kGraphicsMessage);
        const gdiplus::Graphics graphics(raw_graphics);
        flat::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
        if (auto drawn = draw_content(graphics.get(), c, width, height); !drawn) return drawn;
    }
    const Gdiplus::GpStatus saved = flat::GdipSaveImageToFile(bitmap.get(), file.c_str(), &kPngEncoder, nullptr);
    if (saved != Gdiplus::Ok) return make_error(kSaveMessage + gdiplus::status_text(saved));
    return {};
}

Result<Layers> prepare_layers(const RenderedContent& content) {
    auto image = apply_alpha(content.image, content.image_alpha);
    if (!image) return image.take_error();
    Layers layers{std::move(*image), std::nullopt, std::nullopt};
    if (content.text) {
        auto text = apply_alpha(*content.text, content.text_alpha);
        if (!text) return text.take_error();
        layers.text = std::move(*text);
    }
    if (content.duty) {
        auto duty = apply_alpha(*content.duty, content.duty_alpha);
        if (!duty) return duty.take_error();
        layers.duty = std::move(*duty);
    }
    return layers;
}

std::string monitor_file_name(std::size_t index) { return "monitor-" + std::to_string(index) + ".png"; }

struct OutputFolder {
    fs::path staging;
    fs::path published;
};

void remove_quietly(const fs::path& folder) { (void)remove_tree(folder); }

// Leftovers of an interrupted composition go first; their names never collide with ours.
Result<OutputFolder> create_output_folder(const fs::path& content_folder) {
    std::error_code ec;
    fs::create_directories(content_folder, ec);
    if (ec) return file_system_error(ec);
    remove_staging_folders(content_folder);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::string generation =
        make_generation_name(GetCurrentProcessId(), static_cast<Uint128>(std::max<std::int64_t>(ns, 0)));
    OutputFolder folder{content_folder / staging_name(generation), content_folder / generation};
    if (!fs::create_directory(folder.staging, ec) || ec) {
        if (!ec) ec = std::make_error_code(std::errc::file_exists);
        return file_system_error(ec);
    }
    return folder;
}

Status draw_all(const Composition& c, std::span<const WallpaperMonitor> monitors, const fs::path& staging,
                const fs::path& cache) {
    // The last composition's writes land first: a temporary still being written is not
    // tidied away, and a file is read whole. A write that outlasts the wait costs a miss.
    (void)finish_background_writes();
    std::error_code ec;
    fs::create_directories(cache, ec);
    tidy_background_cache(cache, monitors.size());
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const fs::path file = staging / monitor_file_name(i);
        if (auto drawn = compose_monitor(c, monitors[i], file, background_cache_file(cache, i)); !drawn) return drawn;
    }
    return {};
}

// On failure the recorded wallpapers go back and, when that was complete, the folder goes.
Status apply_wallpapers(DesktopWallpaper& desktop, std::span<const WallpaperMonitor> monitors, OriginalState& state,
                        const fs::path& published) {
    if (auto positioned = desktop.set_position(kPositionStretch); !positioned) {
        remove_quietly(published);
        return positioned;
    }
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const std::string file = path_to_utf8(published / monitor_file_name(i));
        if (auto set = desktop.set_wallpaper(monitors[i].device_path, file); !set) {
            const auto put_back = put_back_wallpapers(desktop, state, monitors);
            if (put_back && put_back->empty()) remove_quietly(published);
            return set;
        }
        for (auto& entry : state.monitors) {
            if (entry.device_path == monitors[i].device_path) entry.composite = file;
        }
    }
    return {};
}

void remove_old_outputs(const fs::path& content_folder, const fs::path& published, const OriginalState& state) {
    std::error_code ec;
    std::vector<fs::path> old;
    for (fs::directory_iterator it(content_folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        if (path_to_utf8(p.filename()).rfind("generation-", 0) != 0 || p == published) continue;
        std::error_code type_ec;
        if (!it->is_directory(type_ec) || win::is_reparse_point(p.wstring())) continue;
        const bool in_use = std::any_of(state.monitors.begin(), state.monitors.end(), [&](const OriginalEntry& e) {
            return e.composite && path_is_inside(*e.composite, p);
        });
        if (!in_use) old.push_back(p);
    }
    for (const auto& p : old) remove_quietly(p);
}

}  // namespace

Status compose_wallpapers(const fs::path& install_folder, const RenderedContent& content, const Settings& settings,
                          BackgroundMode mode, const std::optional<fs::path>& spotlight_image) {
    auto desktop = open_desktop_wallpaper();
    if (!desktop) return desktop.take_error();
    auto monitors = list_wallpaper_monitors(**desktop);
    if (!monitors) return monitors.take_error();
    // Nothing to paint, and no record to give a changed position back with.
    if (monitors->empty()) return {};
    auto state = record_original_wallpapers(**desktop, *monitors, mode, install_folder);
    if (!state) return state.take_error();
    if (install_folder.empty()) return make_error(kOutputPathMessage);
    const CompositePaths paths = composite_paths(install_folder);
    auto output = create_output_folder(paths.content);
    if (!output) return output.take_error();
    auto layers = prepare_layers(content);
    if (!layers) {
        remove_quietly(output->staging);
        return layers.take_error();
    }
    const Composition c{content, settings, mode, spotlight_image, *state, virtual_bounds(*monitors), *layers};
    if (auto drawn = draw_all(c, *monitors, output->staging, paths.folder / kBackgroundCacheFolder); !drawn) {
        remove_quietly(output->staging);
        return drawn;
    }
    auto again = list_wallpaper_monitors(**desktop);
    if (!again || !same_monitor_layout(*monitors, *again)) {
        remove_quietly(output->staging);
        return again ? make_error(kMonitorsChangedMessage) : again.take_error();
    }
    std::error_code ec;
    fs::rename(output->staging, output->published, ec);
    if (ec) {
        remove_quietly(output->staging);
        return file_system_error(ec);
    }
    if (auto applied = apply_wallpapers(**desktop, *monitors, *state, output->published); !applied) return applied;
    if (auto written = write_original_state(paths.state, *state); !written) return written;
    remove_old_outputs(paths.content, output->published, *state);
    return {};
}

}  // namespace veltrane
