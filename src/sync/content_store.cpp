#include "sync/content_store.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "file_util/text.h"
#include "file_util/white_space.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

using Clock = fs::file_time_type;

struct Generation {
    fs::path path;
    std::string name;
    Clock modified;
};

Clock modified_or_epoch(const fs::path& p) {
    std::error_code ec;
    const auto t = fs::last_write_time(p, ec);
    if (!ec) return t;
    return std::chrono::time_point_cast<Clock::duration>(std::chrono::file_clock::from_sys(std::chrono::sys_seconds{}));
}

std::vector<Generation> list_generations(const fs::path& exe_folder) {
    std::vector<Generation> out;
    std::error_code ec;
    for (fs::directory_iterator it(exe_folder / kContentFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = path_to_utf8(it->path().filename());
        if (!is_generation_name(name)) continue;
        out.push_back({it->path(), name, modified_or_epoch(it->path())});
    }
    return out;
}

bool is_regular(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

std::optional<std::string> read_generation_record(const fs::path& file) {
    auto text = read_text_limited(file, kPointerLimit);
    if (!text) return std::nullopt;
    std::string name(trim_white_space(*text));
    if (!is_generation_name(name)) return std::nullopt;
    return name;
}

}  // namespace

bool is_entity_tag(std::string_view tag) {
    if (tag.empty() || tag.size() > 128) return false;
    return std::all_of(tag.begin(), tag.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

std::optional<std::string> read_current_generation(const fs::path& exe_folder) {
    return read_generation_record(exe_folder / kCurrentPointerFile);
}

std::optional<std::string> read_shown_generation(const fs::path& exe_folder) {
    return read_generation_record(exe_folder / kShownGenerationFile);
}

void record_shown_generation(const fs::path& exe_folder, const fs::path& image) {
    const fs::path folder = image.parent_path();
    const std::string name = path_to_utf8(folder.filename());
    if (folder.parent_path() != exe_folder / kContentFolder || !is_generation_name(name)) return;
    if (read_shown_generation(exe_folder) == name) return;
    (void)write_file_atomic(exe_folder / kShownGenerationFile, name);
}

std::size_t prune_generations(const fs::path& exe_folder) {
    const auto current = read_current_generation(exe_folder);
    const auto shown = read_shown_generation(exe_folder);
    auto generations = list_generations(exe_folder);
    std::sort(generations.begin(), generations.end(), [](const Generation& a, const Generation& b) {
        return a.modified != b.modified ? a.modified < b.modified : a.path < b.path;
    });
    std::size_t excess = generations.size() > 2 ? generations.size() - 2 : 0;
    for (const auto& g : generations) {
        if (excess == 0) break;
        if (g.name == current || g.name == shown) continue;
        if (remove_tree(g.path)) --excess;
    }
    return list_generations(exe_folder).size();
}

std::vector<ContentPair> content_candidates(const fs::path& exe_folder) {
    const auto current = read_current_generation(exe_folder);
    std::vector<Generation> complete;
    for (auto& g : list_generations(exe_folder)) {
        if (is_regular(g.path / kContentImageFile) && is_regular(g.path / kContentTextFile)) complete.push_back(std::move(g));
    }
    std::sort(complete.begin(), complete.end(), [&](const Generation& a, const Generation& b) {
        const bool a_current = current && a.name == *current;
        const bool b_current = current && b.name == *current;
        if (a_current != b_current) return a_current;
        return a.modified != b.modified ? a.modified > b.modified : a.path > b.path;
    });
    std::vector<ContentPair> out;
    for (const auto& g : complete) out.push_back({g.path / kContentImageFile, g.path / kContentTextFile});
    if (is_regular(exe_folder / kContentImageFile) && is_regular(exe_folder / kContentTextFile)) {
        out.push_back({exe_folder / kContentImageFile, exe_folder / kContentTextFile});
    }
    return out;
}

bool is_blank_text(std::string_view utf8) { return trim_white_space(utf8).empty(); }

bool has_png_envelope(std::span<const std::uint8_t> bytes) {
    static constexpr std::array<std::uint8_t, 8> signature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    static constexpr std::array<std::uint8_t, 12> iend = {0, 0, 0, 0, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    if (bytes.size() < signature.size() + iend.size()) return false;
    return std::memcmp(bytes.data(), signature.data(), signature.size()) == 0 &&
           std::memcmp(bytes.data() + bytes.size() - iend.size(), iend.data(), iend.size()) == 0;
}

}  // namespace veltrane
