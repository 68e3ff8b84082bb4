// GDI+ for one composition: the session started right before and shut down right after
// it, owners for the flat API's bitmaps, images and graphics, and status texts.
#pragma once

#include <windows.h>
#include <objidl.h>
// The flat API needs min and max from <windows.h>'s era.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <string>
#include <utility>

#include "file_util/result.h"

namespace veltrane::gdiplus {

namespace flat = Gdiplus::DllExports;

class Session {
public:
    // "GDI+ 초기화 실패: " + the status in signed decimal on failure.
    static Result<Session> start(UINT32 version = 1);
    Session(Session&& o) noexcept : token_(std::exchange(o.token_, 0)) {}
    Session& operator=(Session&&) = delete;
    Session(const Session&) = delete;
    ~Session();

private:
    explicit Session(ULONG_PTR token) : token_(token) {}
    ULONG_PTR token_ = 0;
};

// A bitmap or a loaded image; GDI+ disposes both with GdipDisposeImage.
class Image {
public:
    Image() = default;
    explicit Image(Gdiplus::GpImage* image) : image_(image) {}
    Image(Image&& o) noexcept : image_(std::exchange(o.image_, nullptr)) {}
    Image& operator=(Image&&) = delete;
    Image(const Image&) = delete;
    ~Image() {
        if (image_) flat::GdipDisposeImage(image_);
    }
    Gdiplus::GpImage* get() const { return image_; }
    Gdiplus::GpBitmap* bitmap() const { return static_cast<Gdiplus::GpBitmap*>(image_); }
    explicit operator bool() const { return image_ != nullptr; }

private:
    Gdiplus::GpImage* image_ = nullptr;
};

class Graphics {
public:
    explicit Graphics(Gdiplus::GpGraphics* graphics) : graphics_(graphics) {}
    Graphics(Graphics&& o) noexcept : graphics_(std::exchange(o.graphics_, nullptr)) {}
    Graphics& operator=(Graphics&&) = delete;
    Graphics(const Graphics&) = delete;
    ~Graphics() {
        if (graphics_) flat::GdipDeleteGraphics(graphics_);
    }
    Gdiplus::GpGraphics* get() const { return graphics_; }

private:
    Gdiplus::GpGraphics* graphics_ = nullptr;
};

class Brush {
public:
    explicit Brush(Gdiplus::GpBrush* brush) : brush_(brush) {}
    Brush(const Brush&) = delete;
    Brush& operator=(const Brush&) = delete;
    ~Brush() {
        if (brush_) flat::GdipDeleteBrush(brush_);
    }
    Gdiplus::GpBrush* get() const { return brush_; }

private:
    Gdiplus::GpBrush* brush_ = nullptr;
};

class ImageAttributes {
public:
    ImageAttributes() { flat::GdipCreateImageAttributes(&attributes_); }
    ImageAttributes(const ImageAttributes&) = delete;
    ImageAttributes& operator=(const ImageAttributes&) = delete;
    ~ImageAttributes() {
        if (attributes_) flat::GdipDisposeImageAttributes(attributes_);
    }
    Gdiplus::GpImageAttributes* get() const { return attributes_; }

private:
    Gdiplus::GpImageAttributes* attributes_ = nullptr;
};

// A bitmap's pixels locked as 32-bit premultiplied ARGB for the owner's lifetime; empty
// when the lock failed.
class LockedBits {
public:
    LockedBits(Gdiplus::GpBitmap* bitmap, INT width, INT height, UINT mode) : bitmap_(bitmap) {
        const Gdiplus::GpRect whole(0, 0, width, height);
        if (flat::GdipBitmapLockBits(bitmap, &whole, mode, PixelFormat32bppPARGB, &data_) != Gdiplus::Ok) bitmap_ = nullptr;
    }
    LockedBits(const LockedBits&) = delete;
    LockedBits& operator=(const LockedBits&) = delete;
    ~LockedBits() {
        if (bitmap_) flat::GdipBitmapUnlockBits(bitmap_, &data_);
    }
    explicit operator bool() const { return bitmap_ != nullptr; }
    const Gdiplus::BitmapData& data() const { return data_; }

private:
    Gdiplus::GpBitmap* bitmap_;
    Gdiplus::BitmapData data_{};
};

// The status's name and number, "Win32Error (7)".
std::string status_text(Gdiplus::GpStatus status);

}  // namespace veltrane::gdiplus
