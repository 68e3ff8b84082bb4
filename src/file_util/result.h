// Errors as values. Every fallible operation returns a Result: either its value or an Error
// whose text is UTF-8 and ready to follow a caller's Korean prefix. No exception crosses a
// module boundary.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace veltrane {

struct Error {
    std::string message;
    // The operating system's error code (Win32 on Windows, errno on the host) when the error
    // came from the system; 0 for errors of the program's own kinds.
    std::uint32_t os_code = 0;
};

inline Error make_error(std::string message) { return Error{std::move(message), 0}; }

// Whether an error from a file operation means "the file or its folder does not exist", so
// a caller can treat a record as absent rather than broken.
bool is_not_found(const Error& error);

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(state_); }
    Error&& take_error() { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_; }
    Error&& take_error() { return std::move(error_); }

private:
    Error error_;
    bool failed_ = false;
};

using Status = Result<void>;

}  // namespace veltrane
