// What every fuzz target shares: the input as text or bytes, a check that stops the run
// with the input saved, and the stability rule for a parser that has a writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace veltrane::fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// libFuzzer saves the input that led to an abort as a crash artifact.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

inline void check(bool condition, const char* what, std::string_view detail = {}) {
    if (!condition) fail(what, detail);
}

// A writer may normalise what a hand-edited file holds, once: parse -> write -> parse ->
// write gives the same text twice.
template <class Parse, class Write>
void check_stable(std::string_view input, Parse parse, Write write) {
    const std::string once = write(parse(input));
    const std::string twice = write(parse(once));
    if (once != twice) fail("the written text changes on a second round", once + "\n--- then ---\n" + twice);
}

}  // namespace veltrane::fuzz
