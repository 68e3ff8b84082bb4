#include "update/update_state.h"

#include <array>
#include <functional>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "settings/record.h"

namespace veltrane {
namespace {

struct StatusEntry {
    UpdateStatus status;
    std::string_view name;
    std::string_view text;
};

constexpr std::array<StatusEntry, 10> kStatuses = {{
    {UpdateStatus::Idle, "idle", "업데이트 대기"},
    {UpdateStatus::Checking, "checking", "업데이트 확인 중"},
    {UpdateStatus::Current, "current", "최신"},
    {UpdateStatus::Staged, "staged", "업데이트 준비됨"},
    {UpdateStatus::Applying, "applying", "업데이트 적용 중"},
    {UpdateStatus::Updated, "updated", "업데이트 완료"},
    {UpdateStatus::RolledBack, "rolled_back", "업데이트 롤백됨"},
    {UpdateStatus::Failed, "failed", "업데이트 재시도 대기"},
    {UpdateStatus::UnsupportedWindows, "unsupported_windows", "현재 Windows에서 지원 안 됨"},
    {UpdateStatus::SignerMismatch, "signer_mismatch", "새 버전의 코드 서명이 현재 버전과 다릅니다."},
}};

const StatusEntry& entry_of(UpdateStatus status) {
    for (const auto& e : kStatuses) {
        if (e.status == status) return e;
    }
    return kStatuses[0];
}

bool is_slot_hour(std::uint64_t hour) { return hour == 3 || hour == 9 || hour == 15 || hour == 21; }

template <class T>
std::optional<T> parse_decimal(std::string_view text, T max) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (v > (static_cast<std::uint64_t>(max) - digit) / 10) return std::nullopt;
        v = v * 10 + digit;
    }
    return static_cast<T>(v);
}

std::optional<std::uint64_t> parse_slot(std::string_view text) {
    if (text.size() != 10) return std::nullopt;
    const auto v = parse_decimal<std::uint64_t>(text, UINT64_MAX);
    if (!v || !is_slot_hour(*v % 100)) return std::nullopt;
    return v;
}

// Ten digits, as parse_slot wants them, also for a year written with leading zeros.
std::string slot_text(std::uint64_t slot) {
    std::string text = std::to_string(slot);
    if (text.size() < 10) text.insert(0, 10 - text.size(), '0');
    return text;
}

}  // namespace

std::string_view update_status_name(UpdateStatus status) { return entry_of(status).name; }
std::string_view update_status_text(UpdateStatus status) { return entry_of(status).text; }

UpdateState parse_update_state(std::string_view text) {
    UpdateState state;
    for (const auto& field : parse_record(text)) {
        const std::string_view value = field.value;
        if (field.key == "last_automatic_slot") {
            state.last_automatic_slot = parse_slot(value);
        } else if (field.key == "staged_build" || field.key == "staged_version") {
            state.staged_build = parse_build_version(value);
        } else if (field.key == "rolled_back_build") {
            state.rolled_back_build = parse_build_version(value);
        } else if (field.key == "status") {
            state.status = UpdateStatus::Idle;
            for (const auto& e : kStatuses) {
                if (e.name == value) state.status = e.status;
            }
        } else if (field.key == "attempts") {
            state.attempts = parse_decimal<std::uint32_t>(value, UINT32_MAX).value_or(0);
        } else if (field.key == "last_attempt") {
            state.last_attempt = parse_decimal<std::uint64_t>(value, UINT64_MAX).value_or(0);
        } else if (field.key == "failure") {
            state.failure = std::string(value);
        } else if (field.key == "unready_starts") {
            state.unready_starts = parse_decimal<std::uint32_t>(value, UINT32_MAX).value_or(0);
        }
    }
    return state;
}

std::string format_update_state(const UpdateState& state) {
    std::string out;
    out += "last_automatic_slot=" + (state.last_automatic_slot ? slot_text(*state.last_automatic_slot) : "") + "\n";
    out += "staged_build=" + (state.staged_build ? format_build_version(*state.staged_build) : "") + "\n";
    out += "status=" + std::string(update_status_name(state.status)) + "\n";
    out += "attempts=" + std::to_string(state.attempts) + "\n";
    out += "last_attempt=" + std::to_string(state.last_attempt) + "\n";
    if (state.rolled_back_build) out += "rolled_back_build=" + format_build_version(*state.rolled_back_build) + "\n";
    // Only while counting, so every other record reads as an older build wrote it.
    if (state.unready_starts != 0) out += "unready_starts=" + std::to_string(state.unready_starts) + "\n";
    if (state.status == UpdateStatus::Failed && !state.failure.empty()) out += "failure=" + state.failure + "\n";
    return out;
}

UpdateState read_update_state(const std::filesystem::path& path) {
    auto text = read_text_limited(path, kUpdateStateLimit);
    return text ? parse_update_state(*text) : UpdateState{};
}

Status write_update_state(const UpdateState& state, const std::filesystem::path& path) {
    return write_file_atomic(path, format_update_state(state));
}

namespace {

Status change_record(const std::filesystem::path& install_folder, const std::function<void(UpdateState&)>& change) {
    const auto path = install_folder / kUpdateStateFile;
    UpdateState state = read_update_state(path);
    change(state);
    if (auto written = write_update_state(state, path); !written) {
        return make_error("업데이트 상태 저장 실패: " + written.error().message);
    }
    return {};
}

}  // namespace

Status set_update_status(const std::filesystem::path& install_folder, UpdateStatus status,
                         std::optional<BuildVersion> staged_build) {
    return change_record(install_folder, [&](UpdateState& state) {
        state.status = status;
        if (staged_build) state.staged_build = staged_build;
        state.unready_starts = 0;
    });
}

Status record_failed_apply(const std::filesystem::path& install_folder, std::string_view reason) {
    std::string line;
    for (const char c : reason) {
        if (c == '\n' || c == '\r') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    return change_record(install_folder, [&](UpdateState& state) {
        state.status = UpdateStatus::Failed;
        state.unready_starts = 0;
        state.failure = utf8_prefix(line, kFailureLimit);
    });
}

Status record_rollback(const std::filesystem::path& install_folder, const BuildVersion& build) {
    return change_record(install_folder, [&](UpdateState& state) {
        state.status = UpdateStatus::RolledBack;
        state.staged_build = build;
        state.rolled_back_build = build;
        state.unready_starts = 0;
    });
}

Status count_unready_start(const std::filesystem::path& install_folder) {
    return change_record(install_folder, [](UpdateState& state) {
        if (state.unready_starts != UINT32_MAX) ++state.unready_starts;
    });
}

std::optional<std::uint64_t> update_slot_at(const LocalTime& now) {
    if (!is_slot_hour(now.hour) || now.minute < 40 || now.minute >= 45) return std::nullopt;
    if (now.year < 0 || now.year > 9999) return std::nullopt;
    return static_cast<std::uint64_t>(now.year) * 1000000 + now.month * 10000ull + now.day * 100ull + now.hour;
}

std::optional<std::uint64_t> current_update_slot() { return update_slot_at(local_time_now()); }

std::optional<std::uint64_t> automatic_check_slot(const UpdateState& record, std::optional<std::uint64_t> open_slot,
                                                  std::uint64_t now_seconds) {
    const std::optional<std::uint64_t> candidate = open_slot ? open_slot : record.last_automatic_slot;
    if (!candidate) return std::nullopt;
    if (record.last_automatic_slot != candidate) return candidate;
    const std::uint64_t elapsed = now_seconds >= record.last_attempt ? now_seconds - record.last_attempt : 0;
    const bool retryable = record.status == UpdateStatus::Failed || record.status == UpdateStatus::Checking;
    if (elapsed >= kUpdateRetrySpacingSeconds && record.attempts < kMaxAutomaticAttempts && retryable) return candidate;
    return std::nullopt;
}

UpdateState begin_automatic_check(UpdateState record, std::uint64_t slot, std::uint64_t now_seconds) {
    const bool same_slot = record.last_automatic_slot == slot;
    record.attempts = same_slot ? (record.attempts == UINT32_MAX ? UINT32_MAX : record.attempts + 1) : 1;
    record.last_automatic_slot = slot;
    record.last_attempt = now_seconds;
    return record;
}

std::string update_status_line_for(const BuildVersion& running, const UpdateState& record, const std::string& signer) {
    // The signer goes last: the line ends in an ellipsis when it is too long, and the status matters more.
    const std::string signed_by = signer.empty() ? "" : " · 서명 " + signer;
    return "빌드 " + build_label(running) + " · " + std::string(update_status_text(record.status)) + signed_by;
}

}  // namespace veltrane
