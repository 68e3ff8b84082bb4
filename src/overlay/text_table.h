// The text and duty boxes as layers: the cells of a content text drawn with GDI into an
// opaque box of the image's width, then cut to rounded corners. The layout itself lives in
// text_layout.h; this side owns the device context, the two fonts and the bitmap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_util/result.h"
#include "image/content_text.h"
#include "image/png_image.h"

namespace veltrane {

#ifdef _WIN32

// family is the font family name asked of CreateFontW for both fonts of the box.
Result<TextLayer> render_text_table(const std::vector<TextCell>& cells, std::int32_t width,
                                    const std::string& family, const TextStyle& style);

#endif

}  // namespace veltrane
