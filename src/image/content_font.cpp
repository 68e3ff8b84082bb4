#include "image/content_font.h"

#include <system_error>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "file_util/white_space.h"

namespace veltrane {
namespace {

constexpr const char* kNoFamily = "TTF에서 글꼴 family name을 찾지 못했습니다.";

std::uint32_t be16(std::span<const std::uint8_t> b, std::uint64_t at) {
    return std::uint32_t{b[at]} << 8 | b[at + 1];
}

std::uint32_t be32(std::span<const std::uint8_t> b, std::uint64_t at) { return be16(b, at) << 16 | be16(b, at + 2); }

struct Range {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

bool inside(std::span<const std::uint8_t> file, Range r) { return r.offset <= file.size() && r.length <= file.size() - r.offset; }

std::optional<Range> find_name_table(std::span<const std::uint8_t> file) {
    if (file.size() <= 5) return std::nullopt;
    const std::uint32_t tables = be16(file, 4);
    for (std::uint64_t i = 0; i < tables; ++i) {
        const Range record{12 + i * 16, 16};
        if (!inside(file, record)) continue;
        if (file[record.offset] != 'n' || file[record.offset + 1] != 'a' || file[record.offset + 2] != 'm' ||
            file[record.offset + 3] != 'e')
            continue;
        const Range table{be32(file, record.offset + 8), be32(file, record.offset + 12)};
        if (!inside(file, table) || table.length < 6) return std::nullopt;
        return table;
    }
    return std::nullopt;
}

// Strict UTF-16 big-endian: an unpaired surrogate makes the name unusable.
std::optional<std::string> decode_utf16be(std::span<const std::uint8_t> bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) units.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return utf16_to_utf8(units);
}

// NULs and white space may alternate at either end ("Name\0 "); a NUL left at the front
// would end the name for GDI.
std::string clean_name(const std::string& name) {
    std::string_view v = name;
    for (std::size_t before = v.size() + 1; v.size() != before;) {
        before = v.size();
        while (!v.empty() && v.front() == '\0') v.remove_prefix(1);
        while (!v.empty() && v.back() == '\0') v.remove_suffix(1);
        v = trim_white_space(v);
    }
    return std::string(v);
}

int score(std::uint32_t platform, std::uint32_t encoding, std::uint32_t language, std::uint32_t name_id) {
    return (encoding == 1 || encoding == 10 ? 1 : 0) | (language == 0x0409 ? 2 : 0) | (platform == 3 ? 4 : 0) |
           (name_id == 16 ? 8 : 0);
}

}  // namespace

Result<std::string> find_font_family(std::span<const std::uint8_t> file) {
    const auto table = find_name_table(file);
    if (!table) return make_error(kNoFamily);
    const std::uint64_t count = be16(file, table->offset + 2);
    const std::uint64_t storage = table->offset + be16(file, table->offset + 4);
    const std::uint64_t table_end = table->offset + table->length;
    std::string best;
    int best_score = -1;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = table->offset + 6 + i * 12;
        // A naming table that runs past its end is damaged; none of its names is trusted.
        if (at + 12 > table_end) return make_error(kNoFamily);
        const std::uint32_t platform = be16(file, at), encoding = be16(file, at + 2), language = be16(file, at + 4);
        const std::uint32_t name_id = be16(file, at + 6);
        if ((platform != 0 && platform != 3) || (name_id != 1 && name_id != 16)) continue;
        const Range string{storage + be16(file, at + 10), be16(file, at + 8)};
        if (!inside(file, string)) return make_error(kNoFamily);
        if (string.length % 2 != 0) continue;
        const auto decoded = decode_utf16be(file.subspan(string.offset, string.length));
        if (!decoded) continue;
        std::string name = clean_name(*decoded);
        const int s = score(platform, encoding, language, name_id);
        if (name.empty() || s <= best_score) continue;
        best = std::move(name);
        best_score = s;
    }
    if (best_score < 0) return make_error(kNoFamily);
    return best;
}

namespace {

Error font_info_error(const std::error_code& ec) {
    Error error = file_system_error(ec);
    error.message = "TTF 파일 정보를 읽지 못했습니다: " + error.message;
    return error;
}

}  // namespace

Result<std::optional<std::string>> read_content_font_family(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        if (!ec || ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return std::optional<std::string>();
        return font_info_error(ec);
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return font_info_error(ec);
    if (size > kContentFontLimit) return make_error("TTF 파일이 너무 큽니다.");
    auto bytes = read_limited(path, kContentFontLimit);
    if (!bytes) return make_error("TTF 파일을 읽지 못했습니다: " + bytes.error().message);
    auto family = find_font_family(*bytes);
    if (!family) return family.take_error();
    return std::optional<std::string>(std::move(*family));
}

}  // namespace veltrane
