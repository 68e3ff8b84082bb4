// The entry point's decisions: which role a command line starts, and, without a switch,
// whether to open the settings window or to ask about installing, reinstalling or removing.
// Every effect comes in through Platform, so the decisions are tested on the host with
// fakes and the Windows build plugs in message boxes, files and the roles.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "command_line.h"
#include "file_util/result.h"
#include "setup_outcome.h"

namespace veltrane {

// Message box styles and answers, as MessageBoxW takes and returns them.
inline constexpr unsigned kErrorIcon = 0x10;
inline constexpr unsigned kInfoIcon = 0x40;
inline constexpr unsigned kWarningIcon = 0x30;
inline constexpr unsigned kAskInstall = 0x144;    // Yes/No, information icon, No default
inline constexpr unsigned kAskReinstall = 0x223;  // Yes/No/Cancel, question icon, Cancel default
inline constexpr unsigned kAskRemove = 0x134;     // Yes/No, warning icon, No default
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
inline constexpr int kCancel = 2;

// What a completed removal or reinstall could not give back, each a message; empty when
// nothing was left.
using Unrestored = std::vector<std::string>;

// The paragraph that names them at the end of the last box; empty when there are none.
std::string unrestored_text(const Unrestored& unrestored);

struct Platform {
    // Owner-less message box with the caption "벨트레인 설정"; returns the button pressed.
    std::function<int(const std::string& text, unsigned flags)> message_box;
    // The service's start-up failure, captioned "벨트레인" with the error icon.
    std::function<void(const std::string& text)> service_error_box;
    std::function<Result<std::filesystem::path>()> executable_path;
    std::function<Result<std::filesystem::path>()> install_folder;
    std::function<bool(const std::filesystem::path&)> file_exists;
    // Deletes the running program's own file, or leaves it to the next restart; silent.
    std::function<void(const std::filesystem::path&)> delete_self;
    // The installed copy's own file, moved to the temporary folder (the same volume) so that
    // removal can delete the folder while this process still runs from it; the new path.
    std::function<Result<std::filesystem::path>(const std::filesystem::path& exe)> move_out_of_folder;
    // After a failed removal; a file that cannot go back is deleted as the running program's.
    std::function<void(const std::filesystem::path& moved, const std::filesystem::path& exe)> move_back;
    // Installation is per user: a distribution agent's SYSTEM account has no profile of a user.
    std::function<bool()> runs_as_system;
    // Writes the quiet forms' record to the temporary folder; silent.
    std::function<void(const std::string& record)> write_result_record;

    // The roles, each one call.
    std::function<Status()> service;
    std::function<void(const WatchdogTarget&)> watchdog;
    std::function<void()> apply_update;
    // From a temporary copy of a new build that never became ready.
    std::function<void()> rollback_helper;
    std::function<void()> settings_window;
    // `quiet`: no settings window, and a busy set-up lock fails at once instead of waiting.
    std::function<SetupOutcome(const std::filesystem::path& source, const std::filesystem::path& target, bool quiet)>
        install_program;
    std::function<Result<Unrestored>(const std::filesystem::path& install_folder, bool quiet)> remove_installation;
};

// Runs the role the arguments choose; returns when it has ended, with the exit code: 0 but
// for the quiet set-up forms.
int run_program(const std::vector<std::u16string>& args, const Platform& platform);

// No switch: the installed copy opens the settings window; any other copy asks.
void run_setup_dialogue(const Platform& platform);

// "--install" / "--remove", with "--quiet" or without: no question before installing; the
// exit code is the outcome's only when quiet, else the dialogue's box shows it.
int run_setup_switch(const std::vector<std::u16string>& args, const Platform& platform);

// From a temporary copy: remove the installation, report the result, delete this copy.
void run_uninstall_helper(const Platform& platform);

// The folders are the same text apart from ASCII letter case; no other normalisation.
bool is_installed_copy(const std::filesystem::path& executable_folder, const std::filesystem::path& install_folder);

}  // namespace veltrane
