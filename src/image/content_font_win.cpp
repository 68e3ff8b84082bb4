#include <windows.h>

#include "file_util/win.h"
#include "image/content_font.h"

namespace veltrane {
namespace {

constexpr DWORD kPrivateFont = FR_PRIVATE | FR_NOT_ENUM;

}  // namespace

ContentFont::ContentFont(ContentFont&& other) noexcept
    : path_(std::exchange(other.path_, {})), family_(std::move(other.family_)) {}

ContentFont& ContentFont::operator=(ContentFont&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::exchange(other.path_, {});
        family_ = std::move(other.family_);
    }
    return *this;
}

ContentFont::~ContentFont() { release(); }

void ContentFont::release() {
    if (!path_.empty()) RemoveFontResourceExW(path_.c_str(), kPrivateFont, nullptr);
    path_.clear();
}

Result<std::optional<ContentFont>> register_content_font(const std::filesystem::path& path) {
    auto family = read_content_font_family(path);
    if (!family) return family.take_error();
    if (!*family) return std::optional<ContentFont>();
    std::wstring wide = path.wstring();
    if (AddFontResourceExW(wide.c_str(), kPrivateFont, nullptr) == 0) return make_error("TTF 등록에 실패했습니다.");
    return std::optional<ContentFont>(std::in_place, std::move(wide), std::move(**family));
}

}  // namespace veltrane
