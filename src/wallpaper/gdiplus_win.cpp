#include "wallpaper/gdiplus_win.h"

#include <array>

namespace veltrane::gdiplus {

Result<Session> Session::start(UINT32 version) {
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = version;
    ULONG_PTR token = 0;
    const Gdiplus::GpStatus status = Gdiplus::GdiplusStartup(&token, &input, nullptr);
    if (status != Gdiplus::Ok) return make_error("GDI+ 초기화 실패: " + std::to_string(static_cast<int>(status)));
    return Session(token);
}

Session::~Session() {
    if (token_) Gdiplus::GdiplusShutdown(token_);
}

std::string status_text(Gdiplus::GpStatus status) {
    static constexpr std::array<const char*, 22> names = {
        "Ok", "GenericError", "InvalidParameter", "OutOfMemory", "ObjectBusy", "InsufficientBuffer",
        "NotImplemented", "Win32Error", "WrongState", "Aborted", "FileNotFound", "ValueOverflow",
        "AccessDenied", "UnknownImageFormat", "FontFamilyNotFound", "FontStyleNotFound", "NotTrueTypeFont",
        "UnsupportedGdiplusVersion", "GdiplusNotInitialized", "PropertyNotFound", "PropertyNotSupported",
        "ProfileNotFound"};
    const auto n = static_cast<std::size_t>(status);
    const std::string name = n < names.size() ? names[n] : "GDI+ status";
    return name + " (" + std::to_string(n) + ")";
}

}  // namespace veltrane::gdiplus
