#include "build_info/build_version.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "build_info/build_constants.h"

namespace veltrane {
namespace {

bool all_digits(std::string_view s) {
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Only called on at most 8 digits, so the value fits in 32 bits.
std::uint32_t to_u32(std::string_view digits) {
    std::uint32_t v = 0;
    for (char c : digits) v = v * 10 + static_cast<std::uint32_t>(c - '0');
    return v;
}

std::uint32_t days_in_month(std::uint32_t year, std::uint32_t month) {
    switch (month) {
        case 4: case 6: case 9: case 11: return 30;
        case 2: return (year % 400 == 0 || (year % 4 == 0 && year % 100 != 0)) ? 29 : 28;
        default: return 31;
    }
}

std::string zero_filled(std::uint32_t value, int width) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
    return s;
}

}  // namespace

bool is_valid_build_version(const BuildVersion& v) {
    if (v.date < 20200000) return false;
    const std::uint32_t month = (v.date / 100) % 100;
    const std::uint32_t day = v.date % 100;
    if (month < 1 || month > 12) return false;
    if (day < 1 || day > days_in_month(v.date / 10000, month)) return false;
    return v.time <= 239999 && (v.time / 100) % 100 <= 59 && v.time % 100 <= 59;
}

std::optional<BuildVersion> parse_build_timestamp(std::string_view text) {
    if (text.size() != 14 || !all_digits(text)) return std::nullopt;
    const BuildVersion v{to_u32(text.substr(0, 8)), to_u32(text.substr(8))};
    if (!is_valid_build_version(v)) return std::nullopt;
    return v;
}

BuildVersion current_build_version() {
    static const std::optional<BuildVersion> version = parse_build_timestamp(build::kBuildTimestamp);
    if (!version) {
        std::fputs("build timestamp must be YYYYMMDDHHMMSS\n", stderr);
        std::abort();
    }
    return *version;
}

std::optional<BuildVersion> parse_build_version(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 3) return std::nullopt;
    const auto date = parts[0], time = parts[1];
    if (date.size() != 8 || !all_digits(date)) return std::nullopt;
    if (time.empty() || time.size() > 6 || !all_digits(time)) return std::nullopt;
    if (time.size() > 1 && time[0] == '0') return std::nullopt;
    if (parts[2] != "0") return std::nullopt;
    const BuildVersion v{to_u32(date), to_u32(time)};
    if (!is_valid_build_version(v)) return std::nullopt;
    return v;
}

std::string format_build_version(const BuildVersion& v) {
    return std::to_string(v.date) + "." + std::to_string(v.time) + ".0";
}

std::string build_label(const BuildVersion& v) { return zero_filled(v.date, 8) + "-" + zero_filled(v.time, 6); }

}  // namespace veltrane
