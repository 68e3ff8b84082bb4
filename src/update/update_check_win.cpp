#include <windows.h>

#include <atomic>
#include <thread>

#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "settings/policy.h"
#include "settings/settings.h"
#include "download/download.h"
#include "update/update_check.h"

namespace veltrane {
namespace fs = std::filesystem;
namespace {

std::atomic<bool> g_check_running{false};

// Cleared last, after the lock and the event, on every path of a worker or a failed start.
struct CheckFlagClaim {
    bool owned = true;
    ~CheckFlagClaim() {
        if (owned) g_check_running.store(false);
    }
};

std::optional<std::uint32_t> windows_build_number() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info)) return std::nullopt;
    return info.dwBuildNumber;
}


// A copy of the running program as "Update\updater.exe", started with --apply-update; the
// copy is the updater so that the installed executable is never open while it is replaced.
Status start_updater() {
    const auto exe = executable_path();
    if (!exe) return exe.error();
    const auto folder = parent_folder(*exe);
    if (!folder) return make_error("설치 디렉터리가 없습니다.");
    const fs::path update_folder = *folder / kUpdateFolder;
    std::error_code ec;
    fs::create_directories(update_folder, ec);
    if (ec) return file_system_error(ec);
    const fs::path updater = update_folder / kUpdaterName;
    if (auto copied = copy_file_atomic(*exe, updater); !copied) return copied.error();
    auto child = ipc::start_program(updater, L"--apply-update", CREATE_NO_WINDOW);
    if (!child) return make_error("업데이트 도우미 시작 실패: " + win::system_message(child.error().os_code));
    return {};
}

void record_failed(const fs::path& record_path) {
    UpdateState record = read_update_state(record_path);
    record.status = UpdateStatus::Failed;
    (void)write_update_state(record, record_path);
}

void check_under_lock(const fs::path& record_path) {
    auto lock = ipc::acquire_content_lock();
    CheckOutcome outcome;
    if (!lock) {
        outcome.error = lock.error().message;
    } else {
        CheckInputs inputs;
        inputs.fetch = download_bytes;
        inputs.windows_build = windows_build_number;
        inputs.running = current_build_version();
        inputs.rolled_back = read_update_state(record_path).rolled_back_build;
        outcome = check_and_stage(executable_folder(), inputs);
    }
    const UpdateState record = record_outcome(read_update_state(record_path), outcome);
    if (!write_update_state(record, record_path)) return;
    // The updater starts while this check still holds the lock; it stops this process.
    if (outcome.kind == CheckOutcome::Staged && !start_updater()) record_failed(record_path);
}

// The worker: the error texts of the check are not shown anywhere, only the status stays.
void run_update_check(fs::path record_path, win::UniqueHandle check_event) noexcept {
    CheckFlagClaim flag;
    win::UniqueHandle event = std::move(check_event);
    try {
        check_under_lock(record_path);
    } catch (...) {
        try {
            record_failed(record_path);
        } catch (...) {
        }
    }
}

}  // namespace

Result<Bytes> download_release_file(const ReleaseFile& entry) {
    return download_release_file_with(download_bytes, entry);
}

bool update_check_running() { return g_check_running.load(); }

Result<CheckStart> start_update_check(CheckMode mode, std::optional<std::uint64_t> slot) {
    // The automatic check is the service's to skip; the button is stopped here.
    if (mode == CheckMode::Manual && !read_policy().manual_update_check.value_or(true))
        return make_error("관리자가 정책으로 업데이트 확인을 막았습니다.");
    const auto folder = executable_folder();
    if (!folder) return make_error(kNoFolderMessage);
    if (g_check_running.exchange(true)) return CheckStart::NotStarted;
    CheckFlagClaim flag;
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, ipc::kUpdateCheckName));
    if (!event) return make_error("업데이트 검사 잠금 생성 실패: Win32 오류 " + std::to_string(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS) return CheckStart::NotStarted;

    // Read only once the check is ours, so that another check's result is never overwritten.
    const fs::path record_path = *folder / kUpdateStateFile;
    UpdateState record = read_update_state(record_path);
    if (mode == CheckMode::Automatic && slot) record = begin_automatic_check(record, *slot, utc_seconds_now());

    record.status = UpdateStatus::Checking;
    if (auto written = write_update_state(record, record_path); !written) {
        return make_error("업데이트 상태 저장 실패: " + written.error().message);
    }
    try {
        std::thread(run_update_check, record_path, std::move(event)).detach();
    } catch (...) {
        // No worker: the flag and the event go with this scope, and no check is left "checking".
        try {
            record_failed(record_path);
        } catch (...) {
        }
        return CheckStart::NotStarted;
    }
    // The worker owns the flag now.
    flag.owned = false;
    return CheckStart::Started;
}

void update_tick() {
    if (update_check_running()) return;
    try {
        const auto folder = executable_folder();
        if (!folder) return;
        const UpdateState record = read_update_state(*folder / kUpdateStateFile);
        const auto slot = automatic_check_slot(record, current_update_slot(), utc_seconds_now());
        if (!slot) return;
        (void)start_update_check(CheckMode::Automatic, slot);
    } catch (...) {
        // The service's refresh goes on; the next tick decides again.
    }
}

std::string update_status_line() {
    const auto folder = executable_folder();
    const fs::path record_path = folder ? *folder / kUpdateStateFile : fs::path(kUpdateStateFile);
    return update_status_line_for(current_build_version(), read_update_state(record_path));
}

}  // namespace veltrane
