#include "image/content_render.h"

#include <limits>

#include "image/content_font.h"

namespace veltrane {
namespace {

// The font registration lives for the pass; without it GDI falls back to the system family.
struct PassFont {
#ifdef _WIN32
    std::optional<ContentFont> registration;
#endif
    std::string family = kFallbackFontFamily;
};

void open_font(const std::filesystem::path& path, PassFont& font) {
#ifdef _WIN32
    auto registered = register_content_font(path);
    if (!registered || !*registered) return;
    font.registration = std::move(*registered);
    font.family = font.registration->family();
#else
    // The host has no GDI to register with; the family name is all a host renderer can use.
    auto family = read_content_font_family(path);
    if (family && *family) font.family = **family;
#endif
}

std::optional<std::int32_t> add_checked(std::int32_t a, std::int32_t b) {
    std::int32_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

Status render_main_text(const ContentPaths& paths, const RenderTable& render_table, const std::string& family,
                        const DutyPeriod& period, RenderedContent& out) {
    auto text = read_content_text(paths.text);
    if (!text) return text.take_error();
    if (!*text) return {};
    std::string source = std::move(**text);
    if (auto expanded = expand_roster_schedule(source, period.duty_day, period.daytime)) source = std::move(*expanded);
    const TextRows rows = extract_rows(source);
    if (auto spacing = check_text_style(rows.style_lines); !spacing) return spacing;
    const TextStyle style = parse_text_style(rows.style_lines);
    auto layer = render_table(parse_cells(rows.rows), out.image.width, family, style);
    if (!layer) return layer.take_error();
    out.text = std::move(*layer);
    out.text_gap = style.box_gap;
    out.text_alpha = style.box_alpha;
    out.image_alpha = style.image_alpha;
    return {};
}

// An absent roster or one without rows means no duty box; its failures are reported.
Status render_duty(const ContentPaths& paths, const RenderTable& render_table, const std::string& family,
                   const DutyPeriod& period, RenderedContent& out) {
    auto text = read_content_text(paths.duty);
    if (!text) return text.take_error();
    if (!*text) return {};
    std::string source = std::move(**text);
    if (auto selected = select_duty_day(source, period.duty_day)) source = std::move(*selected);
    const TextRows rows = extract_rows(source);
    if (rows.rows.empty()) return {};
    if (auto spacing = check_text_style(rows.style_lines); !spacing) return spacing;
    const TextStyle style = parse_text_style(rows.style_lines);
    auto layer = render_table(parse_cells(rows.rows), out.image.width, family, style);
    if (!layer) return layer.take_error();
    out.duty = std::move(*layer);
    out.duty_gap = style.box_gap;
    out.duty_alpha = style.box_alpha;
    return {};
}

void drop_duty(RenderedContent& out, const std::string& message) {
    out.duty.reset();
    out.duty_gap = 10;
    out.duty_alpha = 230;
    out.duty_error = kDutyBoxDropped + message;
}

}  // namespace

Result<std::int32_t> stacked_height(const RenderedContent& content) {
    std::int32_t height = content.image.height;
    if (content.text) {
        auto with_gap = add_checked(height, content.text_gap);
        auto with_box = with_gap ? add_checked(*with_gap, content.text->height) : std::nullopt;
        if (!with_box) return make_error("이미지와 텍스트의 전체 높이가 너무 큽니다.");
        height = *with_box;
    }
    if (content.duty) {
        auto with_gap = add_checked(height, content.duty_gap);
        auto with_box = with_gap ? add_checked(*with_gap, content.duty->height) : std::nullopt;
        if (!with_box) return make_error("이미지와 당직 박스의 전체 높이가 너무 큽니다.");
        height = *with_box;
    }
    return height;
}

Result<RenderedContent> render_content_at(const ContentPaths& paths, const RenderTable& render_table,
                                          const DutyPeriod& period) {
    auto image = load_png_bgra(paths.image);
    if (!image) return image.take_error();
    RenderedContent out;
    out.image = std::move(*image);
    PassFont font;
    open_font(paths.font, font);
    if (auto text = render_main_text(paths, render_table, font.family, period, out); !text) return text.take_error();
    if (auto duty = render_duty(paths, render_table, font.family, period, out); !duty) drop_duty(out, duty.error().message);
    auto height = stacked_height(out);
    if (!height && out.duty) {
        drop_duty(out, height.error().message);
        height = stacked_height(out);
    }
    if (!height) return height.take_error();
    out.total_height = *height;
    return out;
}

Result<RenderedContent> render_content(const ContentPaths& paths, const RenderTable& render_table) {
    return render_content_at(paths, render_table, duty_period_at(local_time_now()));
}

}  // namespace veltrane
