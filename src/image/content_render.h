// One rendering pass over a content set: the chart image, the main text box and the duty
// box as layers of one width, with the gaps and opacities the text files ask for and the
// checked height of the stacked block. A roster that cannot be shown costs only the duty box. Drawing a box is handed in by the caller (the
// overlay module owns it), so the pass itself is portable and runs on the host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_util/result.h"
#include "image/content_text.h"
#include "image/png_image.h"

namespace veltrane {

inline constexpr char kFallbackFontFamily[] = "Malgun Gothic";
// Begins every reason a duty box is not shown while the chart is.
inline constexpr char kDutyBoxDropped[] = "당직 박스를 표시하지 못했습니다: ";

struct ContentPaths {
    std::filesystem::path image;  // Veltrane_Desktop.png
    std::filesystem::path text;   // Veltrane_Desktop.txt
    std::filesystem::path duty;   // Veltrane_Desktop.duty.txt
    std::filesystem::path font;   // Veltrane_Desktop.ttf
};

struct RenderedContent {
    TextLayer image;
    std::optional<TextLayer> text;
    std::optional<TextLayer> duty;
    std::int32_t total_height = 0;
    std::int32_t text_gap = 10;
    std::int32_t duty_gap = 10;
    std::uint8_t text_alpha = 230;
    std::uint8_t duty_alpha = 230;
    std::uint8_t image_alpha = 230;
    // Why the roster shows no duty box; the chart and its text show without it.
    std::optional<std::string> duty_error;
};

using RenderTable = std::function<Result<TextLayer>(const std::vector<TextCell>& cells, std::int32_t width,
                                                    const std::string& family, const TextStyle& style)>;

// The pass for an explicit duty period, so previews and tests can pick the day.
Result<RenderedContent> render_content_at(const ContentPaths& paths, const RenderTable& render_table,
                                          const DutyPeriod& period);
// The pass for the local clock, read once.
Result<RenderedContent> render_content(const ContentPaths& paths, const RenderTable& render_table);

// The block's height: image, then gap and box for each box present.
Result<std::int32_t> stacked_height(const RenderedContent& content);

}  // namespace veltrane
