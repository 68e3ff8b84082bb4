// Windows-only glue shared by every module's *_win.cpp: wide strings at system calls,
// system error texts, environment variables, and the RAII owners of every kind of handle
// (kernel objects, searches, registry keys, GDI objects). Include after <windows.h>.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "file_util/result.h"

namespace veltrane::win {

std::wstring to_wide(std::string_view utf8);
std::string from_wide(std::wstring_view wide);

// FormatMessageW text for a Win32 code, without the trailing line break.
std::string system_message(DWORD code);

// The one way a Win32 failure becomes an Error, with the code kept for callers that decide on
// it. The texts put the code as users and IT know them: "what (Win32 오류 N)", or, where the
// message is a "what: detail" line, "what: Win32 오류 N".
enum class CodeText { Parenthesised, AfterColon };
Error win32_error(std::string_view what, DWORD code, CodeText at = CodeText::Parenthesised);
// GetLastError taken at once, before anything else can change it.
Error last_win32_error(std::string_view what, CodeText at = CodeText::Parenthesised);
// The system's description of the HRESULT (when it has one), then its value in hex.
std::string hresult_text(HRESULT hr);
// "what: HRESULT(0x8007000E)": the value in hex, as the messages show an HRESULT.
Error hresult_error(std::string_view what, HRESULT hr);

// A file that a process held a moment ago (an ended program's image, a virus scanner, the
// search indexer) refuses a rename with ERROR_ACCESS_DENIED or ERROR_SHARING_VIOLATION for a
// short while. `call` (a Win32 call that reports through GetLastError) is repeated with short
// sleeps for up to about 2 s while it fails with one of those or with `also_held`; any other
// failure returns at once. The last error is the last call's.
bool retry_while_held(const std::function<bool()>& call, DWORD also_held = ERROR_SUCCESS);

// A junction, symbolic link or mount point: listing it would list what it points at.
bool is_reparse_point(const std::wstring& path);

// The variable's value; nothing when it is not set.
std::optional<std::wstring> environment_variable(const wchar_t* name);

// One move-only owner for every kind of Windows handle: `Traits` names the handle type, its
// empty value, which values mean "none", and how one is given back.
template <class Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;
    Unique() = default;
    explicit Unique(Handle h) : h_(Traits::is_none(h) ? Traits::none() : h) {}
    Unique(Unique&& o) noexcept : h_(o.release()) {}
    Unique& operator=(Unique&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    Handle get() const { return h_; }
    explicit operator bool() const { return !Traits::is_none(h_); }
    Handle release() { return std::exchange(h_, Traits::none()); }
    void reset(Handle h = Traits::none()) {
        if (!Traits::is_none(h_)) Traits::close(h_);
        h_ = Traits::is_none(h) ? Traits::none() : h;
    }

private:
    Handle h_ = Traits::none();
};

// A kernel handle (file, mutex, event, process, thread); INVALID_HANDLE_VALUE is none too.
struct KernelHandle {
    using Handle = HANDLE;
    static HANDLE none() { return nullptr; }
    static bool is_none(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
using UniqueHandle = Unique<KernelHandle>;

// A FindFirstFile search.
struct FindHandle {
    using Handle = HANDLE;
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
    static bool is_none(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};
using UniqueFind = Unique<FindHandle>;

struct RegistryKey {
    using Handle = HKEY;
    static HKEY none() { return nullptr; }
    static bool is_none(HKEY h) { return h == nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
using UniqueKey = Unique<RegistryKey>;

// A font, bitmap, pen or brush; it must no longer be selected when its owner goes.
template <class T>
struct GdiObject {
    using Handle = T;
    static T none() { return nullptr; }
    static bool is_none(T h) { return h == nullptr; }
    static void close(T h) { DeleteObject(h); }
};
using UniqueFont = Unique<GdiObject<HFONT>>;
using UniqueBrush = Unique<GdiObject<HBRUSH>>;
using UniquePen = Unique<GdiObject<HPEN>>;
using UniqueBitmap = Unique<GdiObject<HBITMAP>>;

// A memory device context from CreateCompatibleDC.
struct MemoryDc {
    using Handle = HDC;
    static HDC none() { return nullptr; }
    static bool is_none(HDC h) { return h == nullptr; }
    static void close(HDC h) { DeleteDC(h); }
};
using UniqueDC = Unique<MemoryDc>;

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
