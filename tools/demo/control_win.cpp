// The run command's hand on the running service, through the same signals the settings
// window and the installer use: "refresh" posts the refresh request (after the settings file
// changed), "stop" ends every instance so the service puts the user's wallpaper back.
//   veltrane_demo_control refresh|stop      exit code 0 on success, 1 otherwise
#include <cstdio>
#include <cwchar>

#include "ipc/ipc.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"refresh") == 0) {
        if (veltrane::ipc::post_refresh_request()) return 0;
        std::fputs("no running service to refresh\n", stderr);
        return 1;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"stop") == 0) {
        const auto stopped = veltrane::ipc::stop_running_instances();
        if (stopped.ok()) return 0;
        std::fprintf(stderr, "%s\n", stopped.error().message.c_str());
        return 1;
    }
    std::fputs("usage: veltrane_demo_control refresh|stop\n", stderr);
    return 2;
}
