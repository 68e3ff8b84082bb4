// Entry point of Veltrane_Desktop.exe. The first argument chooses the role; each role is its
// own process. The program's processes judge each other by named objects and process
// lifetime, never by exit code; only the quiet set-up forms end with one for deployment tools.
#include <windows.h>

#include "platform_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return veltrane::run_program(veltrane::process_arguments(), veltrane::windows_platform());
}
