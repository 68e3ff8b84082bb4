// Owners for the GDI objects a box drawing creates: a memory device context, fonts and
// bitmaps, and the selection of an object into a context, each undone exactly once.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <utility>

namespace veltrane::win {

class UniqueDC {
public:
    explicit UniqueDC(HDC dc = nullptr) : dc_(dc) {}
    UniqueDC(UniqueDC&& o) noexcept : dc_(std::exchange(o.dc_, nullptr)) {}
    UniqueDC& operator=(UniqueDC&&) = delete;
    UniqueDC(const UniqueDC&) = delete;
    UniqueDC& operator=(const UniqueDC&) = delete;
    ~UniqueDC() {
        if (dc_) DeleteDC(dc_);
    }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// A font, bitmap, pen or brush; it must no longer be selected when this owner goes.
template <class T>
class UniqueGdiObject {
public:
    explicit UniqueGdiObject(T object = nullptr) : object_(object) {}
    UniqueGdiObject(UniqueGdiObject&& o) noexcept : object_(std::exchange(o.object_, nullptr)) {}
    UniqueGdiObject& operator=(UniqueGdiObject&&) = delete;
    UniqueGdiObject(const UniqueGdiObject&) = delete;
    UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
    ~UniqueGdiObject() {
        if (object_) DeleteObject(object_);
    }
    T get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T object_;
};

// Selects an object for the owner's lifetime and puts the previous one back afterwards.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (ok()) SelectObject(dc_, previous_);
    }
    bool ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace veltrane::win

#endif
