#include "spotlight/spotlight.h"

#include <algorithm>
#include <new>

#include <nlohmann/json.hpp>

#include "settings/record.h"
#include "file_util/text.h"
#include "image/png_image.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kImagePrefix = "spotlight-";
constexpr std::string_view kImageSuffix = ".jpg";

using Json = nlohmann::json;

// The member of an object, or nothing for a missing key or a value that is no object.
const Json* member(const Json& value, const char* key) {
    if (!value.is_object()) return nullptr;
    auto it = value.find(key);
    return it == value.end() ? nullptr : &*it;
}

std::optional<std::string> landscape_asset(const Json& element) {
    const Json* item = member(element, "item");
    if (!item || !item->is_string()) return std::nullopt;
    const Json inner = Json::parse(item->get_ref<const std::string&>(), nullptr, false);
    const Json* ad = member(inner, "ad");
    const Json* landscape = ad ? member(*ad, "landscapeImage") : nullptr;
    const Json* asset = landscape ? member(*landscape, "asset") : nullptr;
    if (!asset || !asset->is_string()) return std::nullopt;
    // A picture fetched in the clear could be swapped on the way.
    if (!asset->get_ref<const std::string&>().starts_with("https://")) return std::nullopt;
    return asset->get<std::string>();
}

std::optional<std::string> non_empty(std::optional<std::string> value) {
    if (value && value->empty()) return std::nullopt;
    return value;
}

}  // namespace

std::string spotlight_image_name(std::uint64_t unix_seconds) {
    return std::string(kImagePrefix) + std::to_string(unix_seconds) + std::string(kImageSuffix);
}

bool is_spotlight_image_name(std::string_view name) {
    return name.starts_with(kImagePrefix) && name.ends_with(kImageSuffix);
}

bool spotlight_refresh_due(const std::optional<fs::file_time_type>& status_modified, fs::file_time_type now) {
    if (!status_modified || *status_modified > now) return true;
    return now - *status_modified >= kSpotlightRefreshAge;
}

bool spotlight_start_allowed(const std::optional<std::chrono::steady_clock::time_point>& last_start,
                             std::chrono::steady_clock::time_point now, bool just_became_spotlight) {
    if (just_became_spotlight || !last_start) return true;
    return now - *last_start >= kSpotlightRestartGap;
}

std::vector<std::string> spotlight_candidates(std::string_view selection_document) {
    std::vector<std::string> urls;
    try {
        const Json document = Json::parse(selection_document, nullptr, false);
        const Json* batch = member(document, "batchrsp");
        const Json* items = batch ? member(*batch, "items") : nullptr;
        if (!items || !items->is_array()) return urls;
        for (const Json& element : *items) {
            if (auto url = landscape_asset(element)) urls.push_back(std::move(*url));
        }
    } catch (const std::exception&) {
        // A document too large to hold offers nothing; the next attempt asks again.
        urls.clear();
    }
    return urls;
}

std::vector<std::string> order_candidates(std::vector<std::string> candidates,
                                          const std::optional<std::string>& previous) {
    if (!previous) return candidates;
    std::stable_partition(candidates.begin(), candidates.end(),
                          [&](const std::string& url) { return url != *previous; });
    return candidates;
}

bool is_jpeg_envelope(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    return n > 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF && bytes[n - 2] == 0xFF &&
           bytes[n - 1] == 0xD9;
}

std::optional<JpegSize> jpeg_frame_size(std::span<const std::uint8_t> bytes) {
    std::size_t at = 2;  // after the start-of-image marker
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return std::nullopt;
    while (at + 1 < bytes.size()) {
        if (bytes[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = bytes[at + 1];
        at += 2;
        if (marker == 0xFF) {  // fill byte before a marker
            --at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length field
        if (marker == 0xD9 || marker == 0xDA || at + 2 > bytes.size()) return std::nullopt;
        const std::size_t length = std::size_t{bytes[at]} << 8 | bytes[at + 1];
        if (length < 2 || at + length > bytes.size()) return std::nullopt;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7) return std::nullopt;
            return JpegSize{std::uint32_t{bytes[at + 5]} << 8 | bytes[at + 6], std::uint32_t{bytes[at + 3]} << 8 | bytes[at + 4]};
        }
        at += length;
    }
    return std::nullopt;
}

bool spotlight_picture_fits(std::span<const std::uint8_t> bytes) {
    const auto size = jpeg_frame_size(bytes);
    return size && size->width > 0 && size->height > 0 &&
           std::uint64_t{size->width} * size->height <= kPngMaxPixels;
}

std::string format_spotlight_status(std::uint64_t applied_at, std::string_view asset_url, const fs::path& image) {
    return format_record({{"applied_at", std::to_string(applied_at)},
                          {"asset_url", std::string(asset_url)},
                          {"path", path_to_utf8(image)}});
}

std::optional<std::string> status_asset_url(std::string_view record) {
    constexpr std::string_view key = "asset_url=";
    std::size_t start = 0;
    while (start <= record.size()) {
        std::size_t end = record.find('\n', start);
        if (end == std::string_view::npos) end = record.size();
        const std::string_view line = record.substr(start, end - start);
        if (line.starts_with(key)) return std::string(line.substr(key.size()));
        start = end + 1;
    }
    return std::nullopt;
}

WallpaperBackup parse_wallpaper_backup(std::string_view record) {
    const auto fields = parse_record(record);
    WallpaperBackup backup;
    backup.path = last_value(fields, "path").value_or("");
    backup.style = non_empty(last_value(fields, "style"));
    backup.tile = non_empty(last_value(fields, "tile"));
    backup.color = non_empty(last_value(fields, "color"));
    return backup;
}

std::string format_wallpaper_backup(std::string_view path, const std::optional<std::string>& style,
                                    const std::optional<std::string>& tile, const std::optional<std::string>& color) {
    return format_record({{"path", std::string(path)},
                          {"style", style.value_or("")},
                          {"tile", tile.value_or("")},
                          {"color", color.value_or("")}});
}

}  // namespace veltrane
