// COM for the wallpaper module: the apartment for one piece of work (uninitialised only
// when this scope initialised it) and an owning interface pointer.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <utility>

#include "file_util/win.h"

namespace veltrane::win {

class ComScope {
public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // Usable also in an apartment the thread had set up in the other mode.
    Status status() const;

private:
    HRESULT result_;
    bool initialised_ = false;
};

// Owns one reference.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(ComRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComRef& operator=(ComRef&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    // For the out-parameter of a creating call; releases what was held.
    void** put_void() {
        reset();
        return reinterpret_cast<void**>(&p_);
    }

private:
    T* p_ = nullptr;
};


}  // namespace veltrane::win
