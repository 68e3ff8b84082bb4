// The program's own TrueType font: its family name read from the font's naming table (so
// CreateFontW can ask for it by name) and, on Windows, a private registration that lives
// as long as its owner. The naming-table search is portable and runs on the host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "file_util/result.h"

namespace veltrane {

inline constexpr std::uint64_t kContentFontLimit = 67108864;

// The best family name of the naming table, or "TTF에서 글꼴 family name을 찾지 못했습니다.".
Result<std::string> find_font_family(std::span<const std::uint8_t> file);

// The file's family name; absent when the file does not exist.
Result<std::optional<std::string>> read_content_font_family(const std::filesystem::path& path);

#ifdef _WIN32

// A private, not enumerable registration of the font file; removed when the owner goes.
class ContentFont {
public:
    ContentFont(std::wstring path, std::string family) : path_(std::move(path)), family_(std::move(family)) {}
    ContentFont(ContentFont&& other) noexcept;
    ContentFont& operator=(ContentFont&& other) noexcept;
    ContentFont(const ContentFont&) = delete;
    ContentFont& operator=(const ContentFont&) = delete;
    ~ContentFont();

    const std::string& family() const { return family_; }

private:
    void release();
    std::wstring path_;  // empty once moved from
    std::string family_;
};

Result<std::optional<ContentFont>> register_content_font(const std::filesystem::path& path);

#endif

}  // namespace veltrane
