// A stand-in for the program's service in the apply tests, built twice with two build
// versions. "--run": ends at once when another holds the singleton, as the service does;
// else records "<version> started" in standin.log beside itself, keeps a hidden controller
// window so that stopping every instance finds it, sets the service-ready event of its own
// build and runs until shutdown. A line "<version> exit", "<version> never" or
// "<version> stall" in standin-mode beside it makes that build end at once, never become
// ready, or sleep two minutes before its window exists, as in a hung first sync. Like the
// service, it first finishes an apply that an ended updater left part-way, records it once
// ready, and plays the rollback helper ("--rollback-helper").
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>

#include "ipc/ipc.h"
#include "settings/settings.h"
#include "build_info/build_version.h"
#include "update/apply_update.h"

namespace {

using namespace veltrane;

void log_line(const std::filesystem::path& folder, const std::string& text) {
    std::ofstream(folder / "standin.log", std::ios::app | std::ios::binary) << format_build_version(current_build_version()) << " " << text << "\n";
}

std::string mode(const std::filesystem::path& folder) {
    std::ifstream in(folder / "standin-mode");
    const std::string me = format_build_version(current_build_version());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(me + " ", 0) == 0) return line.substr(me.size() + 1);
    }
    return "ready";
}

LRESULT CALLBACK controller_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, w, l);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--rollback-helper") == 0) {
        roll_back_unready_update();
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "--run") != 0) return 2;
    const auto folder = executable_folder();
    if (!folder) return 3;
    win::UniqueHandle singleton(CreateMutexW(nullptr, FALSE, ipc::kSingletonName));
    if (!singleton || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    const auto finished = finish_interrupted_update(*folder);
    if (finished && *finished == ServiceStart::HandedOver) return 0;
    const std::string how = mode(*folder);
    log_line(*folder, how == "exit" ? "exited" : "started");
    if (how == "exit") return 0;
    if (how == "stall") Sleep(120000);

    auto shutdown = ipc::open_shutdown_event();
    if (!shutdown) return 4;
    WNDCLASSW wc{};
    wc.lpfnWndProc = controller_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = ipc::kControllerClass;
    RegisterClassW(&wc);
    CreateWindowExW(0, ipc::kControllerClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    win::UniqueHandle ready(
        CreateEventW(nullptr, TRUE, FALSE, ipc::service_ready_event_name(current_build_version()).c_str()));
    if (how != "never") {
        (void)finish_update_when_ready(*folder);
        SetEvent(ready.get());
    }
    ipc::run_message_loop(shutdown->get());
    log_line(*folder, "stopped");
    return 0;
}
