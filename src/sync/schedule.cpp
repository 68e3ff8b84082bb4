#include "sync/schedule.h"

#include <chrono>
#include <cstdio>

#include "file_util/text.h"
#include "file_util/white_space.h"
#include "settings/record.h"

namespace veltrane {
namespace {

bool is_slot_hour(std::uint64_t hour) {
    for (const auto& s : kSyncSlots) {
        if (static_cast<std::uint64_t>(s.hour) == hour) return true;
    }
    return false;
}

std::uint64_t slot_id(const LocalTime& t, std::uint32_t hour) {
    return static_cast<std::uint64_t>(t.year) * 1000000 + static_cast<std::uint64_t>(t.month) * 10000 +
           static_cast<std::uint64_t>(t.day) * 100 + static_cast<std::uint64_t>(hour);
}

LocalTime next_day(const LocalTime& t) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days{year{static_cast<int>(t.year)} / month{t.month} / day{t.day}} + days{1}};
    LocalTime out = t;
    out.year = static_cast<int>(ymd.year());
    out.month = static_cast<unsigned>(ymd.month());
    out.day = static_cast<unsigned>(ymd.day());
    return out;
}

template <class T>
T parse_decimal_or_zero(std::string_view s) {
    if (s.empty()) return 0;
    T v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
        const T digit = static_cast<T>(c - '0');
        if (v > (static_cast<T>(-1) - digit) / 10) return 0;
        v = static_cast<T>(v * 10 + digit);
    }
    return v;
}

// Ten digits, as the reader wants them, also for a year written with leading zeros.
std::string slot_text(std::uint64_t slot) {
    std::string text = std::to_string(slot);
    if (text.size() < 10) text.insert(0, 10 - text.size(), '0');
    return text;
}

}  // namespace

std::optional<std::uint64_t> current_sync_slot(const LocalTime& now) {
    for (const auto& s : kSyncSlots) {
        if (now.hour == s.hour && now.minute >= s.minute && now.minute < s.minute + 5) return slot_id(now, s.hour);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parse_slot_id(std::string_view text) {
    if (text.size() != 10) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!is_slot_hour(v % 100)) return std::nullopt;
    return v;
}

std::optional<SyncRetry> next_sync_attempt(const SyncRetry& record, std::optional<std::uint64_t> due_slot,
                                           std::uint64_t now_seconds) {
    const std::optional<std::uint64_t> slot = due_slot ? due_slot : record.slot;
    if (!slot) return std::nullopt;
    std::uint32_t attempts = 1;
    if (record.slot && *record.slot == *slot) {
        const std::uint64_t elapsed = now_seconds > record.last_attempt ? now_seconds - record.last_attempt : 0;
        if (elapsed < kRetrySpacingSeconds || record.attempts > 3 || record.succeeded) return std::nullopt;
        attempts = record.attempts + 1;
    }
    return SyncRetry{slot, false, attempts, now_seconds};
}

std::string format_sync_time(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04lld.%02u/%02u %02u:%02u", static_cast<long long>(t.year), t.month, t.day, t.hour,
                  t.minute);
    return text;
}

namespace {

std::string_view status_line(std::optional<std::string_view> text, bool note) {
    const std::string_view all = text.value_or("");
    const std::size_t end = all.find('\n');
    if (!note) return trim_white_space(all.substr(0, end));
    return end == std::string_view::npos ? std::string_view() : trim_white_space(all.substr(end + 1));
}

}  // namespace

std::string sync_note_line(std::optional<std::string_view> status_text) { return std::string(status_line(status_text, true)); }

std::string sync_status_after_failure(std::optional<std::string_view> status_text, const std::optional<std::string>& proxy) {
    std::string record(status_line(status_text, false));
    if (!proxy) return record;
    // Not in the middle of a character: the record is read back as strict UTF-8.
    std::string name = utf8_prefix(*proxy, 200);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return record + "\n프록시 서버가 인증을 요구합니다" + (name.empty() ? "" : ": " + name);
}

std::string last_sync_line(std::optional<std::string_view> status_text) {
    const std::string_view s = status_line(status_text, false);
    if (s.empty()) return "최근: 없음";
    return "최근: " + std::string(s);
}

std::string next_sync_line(const LocalTime& now) {
    for (const auto& s : kSyncSlots) {
        if (s.hour > now.hour || (s.hour == now.hour && now.minute < s.minute)) {
            LocalTime at = now;
            at.hour = s.hour;
            at.minute = s.minute;
            return "다음: " + format_sync_time(at);
        }
    }
    LocalTime at = next_day(now);
    at.hour = kSyncSlots[0].hour;
    at.minute = kSyncSlots[0].minute;
    return "다음: " + format_sync_time(at);
}

SyncRetry parse_sync_retry(std::string_view text) {
    SyncRetry r;
    for (const auto& f : parse_record(text)) {
        if (f.key == "slot") r.slot = parse_slot_id(f.value);
        else if (f.key == "succeeded") r.succeeded = f.value == "1";
        else if (f.key == "attempts") r.attempts = parse_decimal_or_zero<std::uint32_t>(f.value);
        else if (f.key == "last_attempt") r.last_attempt = parse_decimal_or_zero<std::uint64_t>(f.value);
    }
    return r;
}

std::string format_sync_retry(const SyncRetry& r) {
    return format_record({{"slot", r.slot ? slot_text(*r.slot) : std::string()},
                          {"succeeded", r.succeeded ? "1" : "0"},
                          {"attempts", std::to_string(r.attempts)},
                          {"last_attempt", std::to_string(r.last_attempt)}});
}

}  // namespace veltrane
