#include <algorithm>
#include <system_error>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "settings/settings.h"
#include "spotlight/plain_file.h"
#include "spotlight/spotlight.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

fs::file_time_type modified_or_epoch(const fs::path& path) {
    std::error_code ec;
    const auto t = fs::last_write_time(path, ec);
    if (!ec) return t;
    return std::chrono::time_point_cast<fs::file_time_type::duration>(
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds{}));
}

bool older(const SpotlightImage& a, const SpotlightImage& b) {
    if (a.modified != b.modified) return a.modified < b.modified;
    return a.path < b.path;
}

void remove_quietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace

Result<std::vector<SpotlightImage>> list_spotlight_images(const fs::path& folder) {
    std::vector<SpotlightImage> images;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (!is_spotlight_image_name(path_to_utf8(path.filename())) || !is_plain_file(path)) continue;
        images.push_back({path, modified_or_epoch(path)});
    }
    if (ec) return file_system_error(ec);
    return images;
}

std::vector<SpotlightImage> images_to_prune(std::vector<SpotlightImage> images, std::size_t keep) {
    std::sort(images.begin(), images.end(), older);
    if (images.size() <= keep) return {};
    images.resize(images.size() - keep);
    return images;
}

std::optional<fs::path> newest_image(const std::vector<SpotlightImage>& images) {
    const SpotlightImage* newest = nullptr;
    for (const auto& image : images) {
        if (!newest || image.modified >= newest->modified) newest = &image;
    }
    if (!newest) return std::nullopt;
    return newest->path;
}

std::size_t prune_spotlight_folder(const fs::path& spotlight_folder) {
    remove_quietly(spotlight_folder / kSpotlightTempFile);
    auto images = list_spotlight_images(spotlight_folder);
    if (!images) return 0;
    for (const auto& image : images_to_prune(*images, kSpotlightImagesKept)) remove_quietly(image.path);
    auto left = list_spotlight_images(spotlight_folder);
    return left ? left->size() : 0;
}

std::optional<fs::path> latest_spotlight_image(const fs::path& exe_folder) {
    auto images = list_spotlight_images(exe_folder / kSpotlightFolder);
    if (!images) return std::nullopt;
    return newest_image(*images);
}

std::optional<fs::path> latest_spotlight_image() {
    const auto folder = executable_folder();
    if (!folder) return std::nullopt;
    return latest_spotlight_image(*folder);
}

void remove_spotlight_files(const fs::path& exe_folder) {
    const fs::path folder = exe_folder / kSpotlightFolder;
    if (auto images = list_spotlight_images(folder)) {
        for (const auto& image : *images) remove_quietly(image.path);
    }
    remove_quietly(folder / kSpotlightTempFile);
    // fs::remove takes only an empty folder.
    remove_quietly(folder);
}

}  // namespace veltrane
