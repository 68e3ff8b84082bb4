#include "content.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <system_error>
#include <vector>

#include "compose.h"
#include "file_util/file_util.h"
#include "file_util/local_time.h"
#include "file_util/text.h"
#include "image/content_block.h"
#include "image/content_text.h"
#include "image/png_image.h"
#include "overlay/content_check.h"
#include "sync/content_store.h"
#include "sync/sync_run.h"
#include "update/update_manifest.h"

namespace veltrane::publish {
namespace {

namespace fs = std::filesystem;

Error refuse(const fs::path& file, const std::string& rule) { return make_error(path_to_utf8(file) + ": " + rule); }

std::string_view as_text(const Bytes& bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

// A file as a workstation downloads it: bounded by the request's limit.
Result<Bytes> read_download(const fs::path& file, std::uint64_t limit, const char* too_large) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!ec && size > limit) return refuse(file, too_large);
    auto bytes = read_limited(file, limit);
    if (!bytes) return refuse(file, "파일을 읽을 수 없습니다: " + bytes.error().message);
    return bytes;
}

// A picture's or a stacked block's size.
struct Size {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The sync's check of the bytes, then the renderer's own load.
Result<Size> check_image(const fs::path& file, const Bytes& bytes) {
    if (!has_png_envelope(bytes)) {
        return refuse(file, "PNG 서명으로 시작하고 표준 IEND 청크로 끝나야 합니다(뒤에 덧붙은 바이트가 있으면 안 됩니다).");
    }
    if (!png_decoded_size(bytes)) {
        return refuse(file, "PNG 전체를 디코더의 메모리 제한(134217728바이트)과 픽셀 한도(33554432픽셀) 안에서 디코딩할 수 없습니다.");
    }
    auto layer = load_png_bgra(file);
    if (!layer) return refuse(file, layer.error().message);
    return Size{layer->width, layer->height};
}

Status check_text(const fs::path& file, const Bytes& bytes) {
    if (!utf8_text(bytes)) return refuse(file, "텍스트가 UTF-8이 아닙니다.");
    if (is_blank_text(as_text(bytes))) return refuse(file, "텍스트가 비어 있거나 공백뿐입니다.");
    return {};
}

// One file of the set the site serves together, as read.
struct SiteFile {
    fs::path path;
    Bytes bytes;
};

// A stacked block's size, and the warnings about its gaps.
struct CheckedBlock {
    Size size;
    std::vector<std::string> gap_warnings;
};

// Full HD, QHD and 4K.
constexpr std::int32_t kMonitorHeights[] = {1080, 1440, 2160};

std::vector<std::string> gap_warnings(const BlockStack& block, const fs::path& text,
                                      const std::optional<SiteFile>& duty) {
    const GapOverflow over = gap_overflow(block, kMonitorHeights);
    std::vector<std::string> warnings;
    if (!over.duty.empty()) {
        warnings.push_back(path_to_utf8(duty->path) + ": " + gap_overflow_reason(block.duty->gap, over.duty) +
                           " 그 모니터에서는 당직 박스 없이 표시됩니다.");
    }
    if (!over.text.empty()) {
        warnings.push_back(path_to_utf8(text) + ": " + gap_overflow_reason(block.text->gap, over.text));
    }
    return warnings;
}

// The block a workstation stacks today from the site's image, text and roster; every
// refusal names its file.
Result<CheckedBlock> check_block(const SiteFile& image, const SiteFile& text, const std::optional<SiteFile>& duty) {
    auto size = check_image(image.path, image.bytes);
    if (!size) return size.take_error();
    if (auto ok = check_text(text.path, text.bytes); !ok) return ok.take_error();
    const DutyPeriod period = duty_period_at(local_time_now());
    auto box = check_table_text(as_text(text.bytes), size->width, false, period);
    if (!box) return refuse(text.path, box.error().message);
    BlockStack block{size->width, size->height, StackedBox{box->gap, box->height}, std::nullopt};
    std::int64_t height = std::int64_t{size->height} + box->gap + box->height;
    if (duty) {
        if (auto ok = check_text(duty->path, duty->bytes); !ok) return ok.take_error();
        auto duty_box = check_table_text(as_text(duty->bytes), size->width, true, period);
        if (!duty_box) return refuse(duty->path, duty_box.error().message);
        block.duty = StackedBox{duty_box->gap, duty_box->height};
        height += std::int64_t{duty_box->gap} + duty_box->height;
    }
    if (height > 0x7FFFFFFF) return refuse(text.path, "이미지와 텍스트의 전체 높이가 너무 큽니다.");
    return CheckedBlock{Size{size->width, static_cast<std::int32_t>(height)}, gap_warnings(block, text.path, duty)};
}

fs::path duty_file(const fs::path& site) { return site / "duty.txt"; }

// The site's roster as workstations fetch it; absent when the site has none.
Result<std::optional<SiteFile>> site_duty(const fs::path& site) {
    std::error_code ec;
    if (!fs::exists(duty_file(site), ec)) return std::optional<SiteFile>();
    auto bytes = read_download(duty_file(site), kDutyLimit, "당직표가 다운로드 한도(262144바이트)보다 큽니다.");
    if (!bytes) return bytes.take_error();
    return std::optional<SiteFile>(SiteFile{duty_file(site), std::move(*bytes)});
}

// The image and text the site's current.json names; absent when it names none.
Result<std::optional<std::pair<SiteFile, SiteFile>>> site_content(const fs::path& site) {
    using Pair = std::optional<std::pair<SiteFile, SiteFile>>;
    const fs::path current = site / "current.json";
    std::error_code ec;
    if (!fs::exists(current, ec)) return Pair();
    auto text = read_text_limited(current, kCurrentLimit);
    const auto doc = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
    const auto tag = [&](const char* key) {
        const auto it = doc.is_object() ? doc.find(key) : doc.end();
        return it != doc.end() && it->is_string() && is_entity_tag(it->get<std::string>()) ? it->get<std::string>()
                                                                                             : std::string();
    };
    const std::string image_tag = tag("imageEtag"), text_tag = tag("textEtag");
    if (image_tag.empty() || text_tag.empty()) return refuse(current, "이미지와 텍스트의 엔터티 태그를 읽을 수 없습니다.");
    const fs::path image = site / "images" / (image_tag + ".png");
    const fs::path text_file = site / "texts" / (text_tag + ".txt");
    auto image_bytes = read_download(image, kImageLimit, "이미지가 다운로드 한도(67108864바이트)보다 큽니다.");
    if (!image_bytes) return image_bytes.take_error();
    auto text_bytes = read_download(text_file, kTextLimit, "텍스트가 다운로드 한도(1048576바이트)보다 큽니다.");
    if (!text_bytes) return text_bytes.take_error();
    return Pair(std::pair{SiteFile{image, std::move(*image_bytes)}, SiteFile{text_file, std::move(*text_bytes)}});
}

// Without content on the site only the roster's rows and style are judged; its box is
// judged against the picture when content is published.
Status check_roster_alone(const SiteFile& duty) {
    if (auto ok = check_text(duty.path, duty.bytes); !ok) return ok.take_error();
    std::string source(as_text(duty.bytes));
    if (std::string_view(source).starts_with("\xEF\xBB\xBF")) source.erase(0, 3);
    if (auto selected = select_duty_day(source, duty_period_at(local_time_now()).duty_day)) source = std::move(*selected);
    const TextRows rows = extract_rows(source);
    if (rows.rows.empty()) return refuse(duty.path, "표시할 텍스트 항목이 없습니다.");
    if (auto spacing = check_text_style(rows.style_lines); !spacing) return refuse(duty.path, spacing.error().message);
    return {};
}

// Content-addressed: a file already there under its tag already holds these bytes.
Status write_addressed(const fs::path& file, const Bytes& bytes) {
    std::error_code ec;
    if (fs::is_regular_file(file, ec)) return {};
    fs::create_directories(file.parent_path(), ec);
    if (ec) return make_error(path_to_utf8(file.parent_path()) + ": 폴더를 만들 수 없습니다: " + ec.message());
    return write_file_atomic(file, bytes);
}

}  // namespace

Result<PublishedContent> check_content(const fs::path& site, const fs::path& image, const fs::path& text) {
    auto image_bytes = read_download(image, kImageLimit, "이미지가 다운로드 한도(67108864바이트)보다 큽니다.");
    if (!image_bytes) return image_bytes.take_error();
    auto text_bytes = read_download(text, kTextLimit, "텍스트가 다운로드 한도(1048576바이트)보다 큽니다.");
    if (!text_bytes) return text_bytes.take_error();
    auto duty = site_duty(site);
    if (!duty) return duty.take_error();
    const SiteFile image_file{image, std::move(*image_bytes)}, text_file{text, std::move(*text_bytes)};
    PublishedContent out;
    auto block = check_block(image_file, text_file, *duty);
    if (!block && *duty && check_block(image_file, text_file, std::nullopt)) {
        out.roster_warning = block.error().message;
        block = check_block(image_file, text_file, std::nullopt);
    }
    if (!block) return block.take_error();
    out.image_tag = encode_hex(sha256(image_file.bytes));
    out.text_tag = encode_hex(sha256(text_file.bytes));
    out.block_width = block->size.width;
    out.block_height = block->size.height;
    out.gap_warnings = std::move(block->gap_warnings);
    return out;
}

Result<PublishedContent> publish_content(const fs::path& site, const fs::path& image, const fs::path& text,
                                         const std::string& updated_at) {
    auto checked = check_content(site, image, text);
    if (!checked) return checked.take_error();
    if (!is_entity_tag(checked->image_tag) || !is_entity_tag(checked->text_tag) || updated_at.empty()) {
        return make_error("내부 오류: 엔터티 태그 또는 게시 시각이 올바르지 않습니다.");
    }
    auto image_bytes = read_limited(image, kImageLimit);
    auto text_bytes = read_limited(text, kTextLimit);
    if (!image_bytes || !text_bytes) return make_error("게시 중에 원본 파일을 다시 읽을 수 없습니다.");
    // The bytes are written as read now; a file changed since the check would not match its tag.
    if (encode_hex(sha256(*image_bytes)) != checked->image_tag || encode_hex(sha256(*text_bytes)) != checked->text_tag) {
        return make_error("검사 중에 원본 파일이 바뀌었습니다. 다시 게시하십시오.");
    }
    if (auto s = write_addressed(site / "images" / (checked->image_tag + ".png"), *image_bytes); !s) return s.take_error();
    if (auto s = write_addressed(site / "texts" / (checked->text_tag + ".txt"), *text_bytes); !s) return s.take_error();
    const std::string current = "{\"updatedAt\": \"" + updated_at + "\", \"imageEtag\": \"" + checked->image_tag +
                                "\", \"textEtag\": \"" + checked->text_tag + "\"}\n";
    if (auto s = write_file_atomic(site / "current.json", current); !s) return s.take_error();
    return checked;
}

Result<std::vector<std::string>> publish_duty(const fs::path& site, const fs::path& duty) {
    auto bytes = read_download(duty, kDutyLimit, "당직표가 다운로드 한도(262144바이트)보다 큽니다.");
    if (!bytes) return bytes.take_error();
    const SiteFile roster{duty, std::move(*bytes)};
    auto content = site_content(site);
    if (!content) return content.take_error();
    std::vector<std::string> warnings;
    if (*content) {
        auto block = check_block((*content)->first, (*content)->second, roster);
        if (!block) return block.take_error();
        warnings = std::move(block->gap_warnings);
    } else if (auto alone = check_roster_alone(roster); !alone) {
        return alone.take_error();
    }
    std::error_code ec;
    fs::create_directories(site, ec);
    if (ec) return make_error(path_to_utf8(site) + ": 폴더를 만들 수 없습니다: " + ec.message());
    if (auto written = write_file_atomic(duty_file(site), as_text(roster.bytes)); !written) return written.take_error();
    return warnings;
}

}  // namespace veltrane::publish
