// The named kernel objects, window classes and the private message through which the
// program's processes coordinate, and the operations built on them: the single-instance
// test, the named lock, the shutdown signal, the shutdown-aware message loop and stopping
// every running instance. All names live in the logon session's Local\ namespace, so each
// user has a set of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "build_info/build_version.h"

namespace veltrane::ipc {

inline constexpr const wchar_t* kSingletonName = L"Local\\Veltrane_Desktop.Singleton";
inline constexpr const wchar_t* kShutdownEventName = L"Local\\Veltrane_Desktop.ShutdownRequest.v1";
inline constexpr const wchar_t* kWatchdogName = L"Local\\Veltrane_Desktop.Watchdog";
inline constexpr const wchar_t* kContentSyncName = L"Local\\Veltrane_Desktop.ContentSync";
inline constexpr const wchar_t* kUpdateCheckName = L"Local\\Veltrane_Desktop.UpdateCheck";
inline constexpr const wchar_t* kWallpaperRestoreName = L"Local\\Veltrane_Desktop.WallpaperRestore";
// Exists while a user's stop of the service is under way, so the watchdog does not take the
// service's end for a crash.
inline constexpr const wchar_t* kStopRequestName = L"Local\\Veltrane_Desktop.StopRequest.v1";
// Exists while an updater runs, so a service it starts does not take its work for one that
// was ended part-way.
inline constexpr const wchar_t* kUpdaterRunningName = L"Local\\Veltrane_Desktop.Updater";
// Held by a set-up or a removal for its whole run, so two of them never overlap.
inline constexpr const wchar_t* kSetupName = L"Local\\Veltrane_Desktop.Setup";

inline constexpr const wchar_t* kControllerClass = L"Veltrane_Desktop.Controller";
inline constexpr const wchar_t* kSettingsClass = L"Veltrane_Desktop.Settings";
inline constexpr const wchar_t* kLayerClass = L"Veltrane_Desktop.Layer";

// Asks the running service to refresh now; posted with both parameters 0.
inline constexpr unsigned kRefreshMessage = 0x8000 + 0x2A;

// How long stop_running_instances gives all instances together before it terminates the
// rest, and how long it then waits for each termination to take effect.
inline constexpr std::chrono::milliseconds kStopDeadline{15000};
inline constexpr std::chrono::milliseconds kTerminateWait{5000};
// How long a window thread or a start-up waits for the wallpaper restore lock.
inline constexpr std::chrono::milliseconds kRestoreLockWait{30000};
// How long a sync run or an update check waits for the other to finish; the next attempt
// comes with the retry schedule.
inline constexpr std::chrono::milliseconds kContentLockWait{60000};
// How long a set-up or removal waits for another one, or for an updater, to finish.
inline constexpr std::chrono::milliseconds kSetupWait{60000};
// The error code of a set-up lock that another set-up or an updater holds: Windows' own
// ERROR_INSTALL_ALREADY_RUNNING, which deployment tools read as "try again later".
inline constexpr std::uint32_t kSetupBusyCode = 1618;

// The service-ready event of one build, so a starter only hears a service of its own build.
std::wstring service_ready_event_name(const BuildVersion& version);

// Milliseconds left until the deadline for one wait, 0 once it has passed.
std::uint32_t wait_budget(std::chrono::steady_clock::time_point deadline, std::chrono::steady_clock::time_point now);

}  // namespace veltrane::ipc

#ifdef _WIN32
#include "ipc/ipc_win.h"
#endif
