#include "content.h"

#include <optional>
#include <system_error>

#include "compose.h"
#include "file_util/file_util.h"
#include "file_util/local_time.h"
#include "file_util/text.h"
#include "image/content_text.h"
#include "image/png_image.h"
#include "overlay/text_layout.h"
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

Result<TextLayer> check_image(const fs::path& file, const Bytes& bytes) {
    if (!has_png_envelope(bytes)) {
        return refuse(file, "PNG 서명으로 시작하고 표준 IEND 청크로 끝나야 합니다(뒤에 덧붙은 바이트가 있으면 안 됩니다).");
    }
    if (!png_decodes(bytes)) return refuse(file, "PNG 전체를 디코더의 메모리 제한(134217728바이트) 안에서 디코딩할 수 없습니다.");
    auto layer = load_png_bgra(file);
    if (!layer) return refuse(file, layer.error().message);
    return layer;
}

// The text's table for today, as the renderer reduces it; its size without a font.
Result<TableGeometry> check_table(const fs::path& file, std::string_view text, std::int32_t width, bool duty,
                                  std::int32_t& gap) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string source(text);
    const DutyPeriod period = duty_period_at(local_time_now());
    if (auto reduced = duty ? select_duty_day(source, period.duty_day)
                            : expand_roster_schedule(source, period.duty_day, period.daytime)) {
        source = std::move(*reduced);
    }
    const TextRows rows = extract_rows(source);
    if (rows.rows.empty()) return refuse(file, "표시할 텍스트 항목이 없습니다.");
    const TextStyle style = parse_text_style(rows.style_lines);
    gap = style.box_gap;
    auto geometry = table_geometry(rows.rows.size(), width, style);
    if (!geometry) return refuse(file, geometry.error().message);
    return geometry;
}

Status check_text(const fs::path& file, const Bytes& bytes) {
    if (!utf8_text(bytes)) return refuse(file, "텍스트가 UTF-8이 아닙니다.");
    if (is_blank_text(as_text(bytes))) return refuse(file, "텍스트가 비어 있거나 공백뿐입니다.");
    return {};
}

fs::path duty_file(const fs::path& site) { return site / "duty.txt"; }

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
    auto layer = check_image(image, *image_bytes);
    if (!layer) return layer.take_error();
    auto text_bytes = read_download(text, kTextLimit, "텍스트가 다운로드 한도(1048576바이트)보다 큽니다.");
    if (!text_bytes) return text_bytes.take_error();
    if (auto ok = check_text(text, *text_bytes); !ok) return ok.take_error();
    std::int32_t text_gap = 0;
    auto table = check_table(text, as_text(*text_bytes), layer->width, false, text_gap);
    if (!table) return table.take_error();

    std::int64_t height = std::int64_t{layer->height} + text_gap + table->height;
    // The duty box as the site serves it now; a roster the box cannot show adds nothing.
    if (auto duty = read_limited(duty_file(site), kDutyLimit); duty && utf8_text(*duty)) {
        std::int32_t duty_gap = 0;
        if (auto box = check_table(duty_file(site), as_text(*duty), layer->width, true, duty_gap)) {
            height += std::int64_t{duty_gap} + box->height;
        }
    }
    if (height > 0x7FFFFFFF) return refuse(text, "이미지와 텍스트의 전체 높이가 너무 큽니다.");
    PublishedContent out;
    out.image_tag = encode_hex(sha256(*image_bytes));
    out.text_tag = encode_hex(sha256(*text_bytes));
    out.block_width = layer->width;
    out.block_height = static_cast<std::int32_t>(height);
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

Status publish_duty(const fs::path& site, const fs::path& duty) {
    auto bytes = read_download(duty, kDutyLimit, "당직표가 다운로드 한도(262144바이트)보다 큽니다.");
    if (!bytes) return bytes.take_error();
    if (auto ok = check_text(duty, *bytes); !ok) return ok.take_error();
    std::int32_t gap = 0;
    // Any width wide enough for the paddings: only the rows and the style are judged here.
    if (auto table = check_table(duty, as_text(*bytes), 0x7FFFFFFF, true, gap); !table) return table.take_error();
    std::error_code ec;
    fs::create_directories(site, ec);
    if (ec) return make_error(path_to_utf8(site) + ": 폴더를 만들 수 없습니다: " + ec.message());
    return write_file_atomic(duty_file(site), as_text(*bytes));
}

}  // namespace veltrane::publish
