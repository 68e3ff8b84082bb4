#include <windows.h>

#include <chrono>

#include "file_util/file_util.h"
#include "file_util/text.h"
#include "file_util/win.h"
#include "ipc/ipc.h"
#include "ipc/process_win.h"
#include "settings/settings.h"
#include "update/apply_update.h"
#include "update/update_check.h"
#include "update/update_state.h"
#include "wallpaper/original_wallpaper_win.h"

namespace veltrane {
namespace fs = std::filesystem;
namespace {

std::string last_error_text() { return win::system_message(GetLastError()); }

win::UniqueHandle create_ready_event(const BuildVersion& version) {
    return win::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, ipc::service_ready_event_name(version).c_str()));
}

Result<ipc::ChildProcess> start_service_process(const fs::path& executable, const fs::path& working_folder,
                                                DWORD flags) {
    auto child = ipc::start_program(executable, L"--run", flags, working_folder);
    if (!child) return make_error(win::system_message(child.error().os_code));
    return child;
}

Status undo(RestoreAction action, const fs::path& target, const fs::path& backup) {
    if (action == RestoreAction::RestorePrevious) {
        if (auto restored = replace_file(backup, target); !restored) {
            return make_error("이전 파일 복원 실패: " + path_to_utf8(target) + ": " + restored.error().message);
        }
    } else if (action == RestoreAction::RemoveNew) {
        if (!DeleteFileW(target.c_str())) {
            const DWORD code = GetLastError();
            if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
                return make_error("새 파일 제거 실패: " + path_to_utf8(target) + ": " + win::system_message(code));
            }
        }
    }
    return {};
}

// A new service that died or stalls, even before its window exists: the others are asked to
// end first (the signal keeps its watchdog from starting it again), then its own process is
// ended, and the executable is free only once nothing holds the singleton any more. A
// process that outlives this shows in the rollback's own failure to move the files.
Status stop_new_service(HANDLE child) {
    (void)ipc::stop_running_instances();
    if (child && WaitForSingleObject(child, 0) == WAIT_TIMEOUT) {
        TerminateProcess(child, 1);
        WaitForSingleObject(child, static_cast<DWORD>(ipc::kTerminateWait.count()));
    }
    if (!ipc::wait_for_no_service()) return make_error("새 서비스가 종료되지 않았습니다.");
    return {};
}

RestoreAction action_for(bool existed) { return existed ? RestoreAction::RestorePrevious : RestoreAction::RemoveNew; }

// Applying once the service is stopped and the staging folder verified again; an error when
// the outcome is failed.
Status replace_and_start(const fs::path& dir, const StagedUpdate& staged, const AfterApplyStep& step_done,
                         std::chrono::seconds ready_wait) {
    RestoreAction font_action = RestoreAction::Nothing;
    if (staged.font) {
        const auto replaced = replace_with_backup(*staged.font, dir / kInstalledFontName, dir / kFontBackupName);
        if (!replaced) {
            return make_error(append_recovery_error(replaced.error().message,
                                                    roll_back_update(dir, RestoreAction::Nothing, RestoreAction::Nothing)));
        }
        font_action = action_for(*replaced);
    }
    step_done(ApplyStep::FontReplaced);
    const auto replaced = replace_with_backup(staged.executable, dir / kInstalledExecutableName, dir / kExecutableBackupName);
    if (!replaced) {
        return make_error(
            append_recovery_error(replaced.error().message, roll_back_update(dir, RestoreAction::Nothing, font_action)));
    }
    const RestoreAction executable_action = action_for(*replaced);
    step_done(ApplyStep::ExecutableReplaced);

    win::UniqueHandle event = create_ready_event(staged.version);
    if (!event) {
        return make_error(append_recovery_error("업데이트 준비 완료 이벤트를 만들지 못했습니다.",
                                                roll_back_update(dir, executable_action, font_action)));
    }
    std::string error;
    auto child = start_service_process(dir / kInstalledExecutableName, dir, CREATE_NO_WINDOW);
    if (!child) {
        error = "업데이트 후 서비스 시작 실패: " + child.error().message;
    } else {
        step_done(ApplyStep::NewServiceStarted);
        const bool ready = wait_for_ready_event(child->process.get(), event.get(), ready_wait);
        event.reset();
        if (ready) {
            if (auto recorded = set_update_status(dir, UpdateStatus::Updated, staged.version); !recorded) return recorded;
            step_done(ApplyStep::UpdatedRecorded);
            (void)remove_tree(staged.executable.parent_path());
            return {};
        }
        error = "새 버전이 60초 안에 준비되지 않았습니다.";
    }

    if (auto stopped = stop_new_service(child ? child->process.get() : nullptr); !stopped) {
        return make_error(append_recovery_error(error, stopped));
    }
    if (auto rolled = roll_back_update(dir, executable_action, font_action); !rolled) {
        return make_error(append_recovery_error(error, rolled));
    }
    return record_rollback(dir, staged.version);
}

// The backups an earlier update kept. Gone before "applying" is recorded, so a backup found
// after an ended updater is always this apply's own, never an older build's font.
Status delete_old_backups(const fs::path& dir) {
    for (const char* name : {kFontBackupName, kExecutableBackupName}) {
        const fs::path backup = dir / name;
        if (DeleteFileW(backup.c_str())) continue;
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            return make_error("이전 백업 삭제 실패: " + path_to_utf8(backup) + ": " + win::system_message(code));
        }
    }
    return {};
}

Status apply_in(const fs::path& dir, const AfterApplyStep& step_done, std::chrono::seconds ready_wait) {
    auto staged = verify_staged_update(dir);
    if (!staged) return staged.take_error();
    if (auto deleted = delete_old_backups(dir); !deleted) return deleted;
    step_done(ApplyStep::OldBackupsDeleted);
    if (auto recorded = set_update_status(dir, UpdateStatus::Applying, staged->version); !recorded) return recorded;
    step_done(ApplyStep::ApplyingRecorded);
    if (auto stopped = ipc::stop_running_instances(); !stopped) return stopped;
    step_done(ApplyStep::ServiceStopped);
    // A damaged record is moved aside: it must not keep the workstation from ever updating.
    if (auto restored = restore_original_wallpapers_over_damage(dir); !restored) {
        return make_error(restart_previous_service(dir, "업데이트 전 바탕화면 복원 실패: " + restored.error().message));
    }
    step_done(ApplyStep::WallpapersRestored);
    // Checked again now that no service runs that could still change the files.
    staged = verify_staged_update(dir);
    if (!staged) return make_error(restart_previous_service(dir, staged.error().message));
    step_done(ApplyStep::StagingVerifiedAgain);
    return replace_and_start(dir, *staged, step_done, ready_wait);
}

bool updater_runs() {
    return static_cast<bool>(win::UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, ipc::kUpdaterRunningName)));
}

LeftBackups left_backups(const fs::path& dir) {
    std::error_code ec;
    const bool executable = fs::is_regular_file(dir / kExecutableBackupName, ec);
    return {executable, fs::is_regular_file(dir / kFontBackupName, ec)};
}

// The font first: a helper ended in between leaves the new executable with its backup, and
// its next start hands over again.
Status put_back_previous_build(const fs::path& dir, LeftBackups backups) {
    if (backups.font) {
        if (auto e = undo(RestoreAction::RestorePrevious, dir / kInstalledFontName, dir / kFontBackupName); !e) return e;
    }
    return undo(RestoreAction::RestorePrevious, dir / kInstalledExecutableName, dir / kExecutableBackupName);
}

Status roll_back_unready_in(const fs::path& dir) {
    // Held as an updater holds it: a service started meanwhile leaves the record alone, a
    // set-up or removal waits, and so does a second helper.
    auto lock = ipc::acquire_named_lock(ipc::kUpdaterRunningName, static_cast<DWORD>(ipc::kSetupWait.count()));
    if (!lock) return lock.take_error();
    // Asked again under the lock: a helper before this one may have done it.
    const LeftBackups backups = left_backups(dir);
    const UpdateState record = read_update_state(dir / kUpdateStateFile);
    if (interrupted_apply_action(record, current_build_version(), backups) != InterruptedApply::RollBack) return {};
    // The service that handed over among them: its executable is free once it has ended.
    if (auto stopped = ipc::stop_running_instances(); !stopped) return stopped;
    if (auto put_back = put_back_previous_build(dir, backups); !put_back) return put_back;
    const Status recorded = record_rollback(dir, current_build_version());
    // Not waited for: its ready event carries a build this copy does not know.
    auto previous = start_service_process(dir / kInstalledExecutableName, dir, CREATE_NO_WINDOW);
    if (!previous) return previous.take_error();
    return recorded;
}

}  // namespace

Result<bool> replace_with_backup(const fs::path& staged, const fs::path& target, const fs::path& backup) {
    std::error_code ec;
    const bool existed = fs::is_regular_file(target, ec);
    DeleteFileW(backup.c_str());
    if (existed) {
        // ERROR_UNABLE_TO_REMOVE_REPLACED leaves both files under their names: a held target.
        const bool replaced = win::retry_while_held(
            [&] {
                return ReplaceFileW(target.c_str(), staged.c_str(), backup.c_str(), REPLACEFILE_WRITE_THROUGH, nullptr,
                                    nullptr) != FALSE;
            },
            ERROR_UNABLE_TO_REMOVE_REPLACED);
        if (!replaced) {
            const std::string cause = last_error_text();
            // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file already has the backup name and
            // the caller's rollback does not know it; put it back so the target never goes missing.
            if (!fs::exists(target, ec) && fs::is_regular_file(backup, ec)) (void)replace_file(backup, target);
            return make_error("업데이트 파일 교체 실패: " + path_to_utf8(target) + ": " + cause);
        }
    } else if (auto moved = replace_file(staged, target); !moved) {
        return make_error("업데이트 파일 교체 실패: " + path_to_utf8(target) + ": " + moved.error().message);
    }
    return existed;
}

Status roll_back_update(const fs::path& install_folder, RestoreAction executable, RestoreAction font) {
    std::vector<std::string> lines;
    if (auto e = undo(executable, install_folder / kInstalledExecutableName, install_folder / kExecutableBackupName); !e) {
        lines.push_back(e.error().message);
    }
    if (auto e = undo(font, install_folder / kInstalledFontName, install_folder / kFontBackupName); !e) {
        lines.push_back(e.error().message);
    }
    if (auto started = start_service_and_wait(install_folder / kInstalledExecutableName, install_folder); !started) {
        lines.push_back("이전 서비스 재시작 실패: " + started.error().message);
    }
    if (lines.empty()) return {};
    std::string joined = lines[0];
    for (std::size_t i = 1; i < lines.size(); ++i) joined += "\n" + lines[i];
    return make_error(std::move(joined));
}

std::string restart_previous_service(const fs::path& install_folder, std::string error) {
    if (auto started = start_service_and_wait(install_folder / kInstalledExecutableName, install_folder); !started) {
        return append_recovery_error(std::move(error), make_error("기존 서비스 재시작 실패: " + started.error().message));
    }
    return error;
}

Status start_service_and_wait(const fs::path& executable, const fs::path& working_folder) {
    win::UniqueHandle event = create_ready_event(current_build_version());
    if (!event) return make_error("서비스 준비 확인 이벤트를 만들지 못했습니다.");
    auto child = start_service_process(executable, working_folder, 0);
    if (!child) return make_error("서비스를 실행하지 못했습니다.\n\n" + child.error().message);
    if (wait_for_ready_event(child->process.get(), event.get())) return {};
    TerminateProcess(child->process.get(), 1);
    WaitForSingleObject(child->process.get(), static_cast<DWORD>(ipc::kTerminateWait.count()));
    return make_error("서비스가 제한 시간 안에 준비되지 않았습니다.");
}

bool wait_for_ready_event(HANDLE child, HANDLE event, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        const DWORD waited = WaitForSingleObject(event, 200);
        if (waited == WAIT_OBJECT_0) return true;
        if (waited != WAIT_TIMEOUT) return false;
        if (WaitForSingleObject(child, 0) != WAIT_TIMEOUT) return false;
    }
    return false;
}

Result<ServiceStart> finish_interrupted_update(const fs::path& dir) {
    if (updater_runs()) return ServiceStart::GoOn;
    const UpdateState record = read_update_state(dir / kUpdateStateFile);
    Status done;
    switch (interrupted_apply_action(record, current_build_version(), left_backups(dir))) {
    case InterruptedApply::Nothing:
        // An apply that ended after its record, or an updater ended before it wrote one,
        // leaves staging that no record waits for.
        if (record.status != UpdateStatus::Staged && record.status != UpdateStatus::Checking) {
            (void)remove_tree(staging_folder(dir));
        }
        break;
    case InterruptedApply::CountStart:
        done = count_unready_start(dir);
        break;
    case InterruptedApply::RollBack:
        if (auto helper = ipc::start_helper_copy("rollback", L"--rollback-helper", "롤백 도우미"); !helper) {
            return helper.take_error();
        }
        return ServiceStart::HandedOver;
    case InterruptedApply::RestoreFontThenRecordFailed:
        if (auto restored = replace_file(dir / kFontBackupName, dir / kInstalledFontName); !restored) {
            (void)set_update_status(dir, UpdateStatus::Failed);
            return make_error("중단된 업데이트의 이전 폰트 복원 실패: " + restored.error().message);
        }
        [[fallthrough]];
    case InterruptedApply::RecordFailed:
        // The next check stages the release again; an ended apply's copy is not trusted.
        (void)remove_tree(staging_folder(dir));
        done = set_update_status(dir, UpdateStatus::Failed);
        break;
    }
    if (!done) return done.take_error();
    return ServiceStart::GoOn;
}

Status finish_update_when_ready(const fs::path& dir) {
    // A running updater records the outcome itself, and may still undo a build that came late.
    if (updater_runs()) return {};
    if (!ready_completes_apply(read_update_state(dir / kUpdateStateFile), current_build_version())) return {};
    (void)remove_tree(staging_folder(dir));
    return set_update_status(dir, UpdateStatus::Updated);
}

void roll_back_unready_update() {
    // Failures leave the record counting, so the next start hands over again.
    if (const auto folder = install_folder()) (void)roll_back_unready_in(*folder);
}

void apply_staged_update(const AfterApplyStep& after_step, std::chrono::seconds ready_wait) {
    const auto folder = install_folder();
    if (!folder) return;
    // Held for the whole run and released by Windows however the updater ends.
    const win::UniqueHandle running(CreateMutexW(nullptr, TRUE, ipc::kUpdaterRunningName));
    const AfterApplyStep step_done = after_step ? after_step : [](ApplyStep) {};
    try {
        // Nobody watches the updater: the reason goes into the record for IT.
        if (auto applied = apply_in(*folder, step_done, ready_wait); !applied) (void)record_failed_apply(*folder, applied.error().message);
    } catch (...) {
        try {
            (void)set_update_status(*folder, UpdateStatus::Failed);
        } catch (...) {
        }
    }
}

}  // namespace veltrane
