#include "sync/sync_run.h"

#include <nlohmann/json.hpp>

#include "file_util/text.h"
#include "overlay/content_check.h"

namespace veltrane {
namespace fs = std::filesystem;

namespace {

struct ContentTags {
    std::string image;
    std::string text;
};

std::optional<std::string> fetch_text(const SyncInputs& in, const std::string& path, std::uint64_t limit) {
    auto bytes = in.fetch(in.origin + path, limit);
    if (!bytes) return std::nullopt;
    auto text = utf8_text(*bytes);
    if (!text) return std::nullopt;
    return std::move(*text);
}

std::optional<std::string> string_member(const nlohmann::json& doc, const char* key) {
    const auto it = doc.find(key);
    if (it == doc.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<ContentTags> parse_current(const std::string& text) {
    const auto doc = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
    const auto updated = string_member(doc, "updatedAt");
    auto image = string_member(doc, "imageEtag");
    auto text_tag = string_member(doc, "textEtag");
    if (!updated || updated->empty() || !image || !text_tag) return std::nullopt;
    if (!is_entity_tag(*image) || !is_entity_tag(*text_tag)) return std::nullopt;
    return ContentTags{std::move(*image), std::move(*text_tag)};
}

void fetch_duty(const fs::path& exe_folder, const SyncInputs& in) {
    if (auto duty = fetch_text(in, kDutyPath, kDutyLimit)) (void)write_file_atomic(exe_folder / kDutyFile, *duty);
}

std::span<const std::uint8_t> as_bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Steps that may leave a staging or generation folder behind remove it before failing.
bool publish(const fs::path& exe_folder, const std::string& generation, const Bytes& image, const std::string& text) {
    const fs::path content = exe_folder / kContentFolder;
    const fs::path staging = content / staging_name(generation);
    const fs::path target = content / generation;
    std::error_code ec;
    fs::create_directories(content, ec);
    if (ec) return false;
    if (!fs::create_directory(staging, ec) || ec) return false;
    if (!write_file_synced(staging / kContentImageFile, image) || !write_file_synced(staging / kContentTextFile, as_bytes(text))) {
        (void)remove_tree(staging);
        return false;
    }
    fs::rename(staging, target, ec);
    if (ec) {
        (void)remove_tree(staging);
        return false;
    }
    if (!write_file_atomic(exe_folder / kCurrentPointerFile, generation)) {
        (void)remove_tree(target);
        return false;
    }
    return true;
}

}  // namespace

void record_failed_sync(const fs::path& exe_folder, const std::optional<std::string>& proxy) {
    const auto text = read_text_limited(exe_folder / kSyncStatusFile, kSyncStatusLimit);
    const auto before = text ? std::optional<std::string_view>(*text) : std::nullopt;
    const std::string after = sync_status_after_failure(before, proxy);
    if (after != before.value_or("")) (void)write_file_atomic(exe_folder / kSyncStatusFile, after);
}

bool sync_content_into(const fs::path& exe_folder, const SyncInputs& in) {
    fetch_duty(exe_folder, in);
    const auto current = fetch_text(in, kCurrentPath, kCurrentLimit);
    if (!current) return false;
    const auto tags = parse_current(*current);
    if (!tags) return false;
    const auto image = in.fetch(in.origin + kImagePathPrefix + tags->image, kImageLimit);
    if (!image) return false;
    const auto text = fetch_text(in, kTextPathPrefix + tags->text + kTextPathSuffix, kTextLimit);
    if (!text || is_blank_text(*text)) return false;
    if (!has_png_envelope(*image)) return false;
    const auto size = in.image_size(*image);
    if (!size || !check_table_text(*text, size->width, false, duty_period_at(in.local_clock()))) return false;

    const fs::path content = exe_folder / kContentFolder;
    remove_staging_folders(content);
    const std::size_t left = prune_generations(exe_folder);
    if (left >= 3) return false;
    if (left == 0) {
        std::error_code ec;
        fs::remove(content, ec);  // only succeeds when empty
    }
    if (!in.utc_nanoseconds) return false;
    const std::string generation = make_generation_name(in.process_id, *in.utc_nanoseconds);
    if (!publish(exe_folder, generation, *image, *text)) return false;

    std::error_code ec;
    fs::remove(exe_folder / kContentImageFile, ec);
    fs::remove(exe_folder / kContentTextFile, ec);
    prune_generations(exe_folder);
    (void)write_file_atomic(exe_folder / kSyncStatusFile, format_sync_time(in.local_clock()));
    return true;
}

}  // namespace veltrane
