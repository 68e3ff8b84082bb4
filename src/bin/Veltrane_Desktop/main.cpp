// Entry point of Veltrane_Desktop.exe. The first argument chooses the role; each role is its
// own process, and every one ends with exit code 0: the program's processes judge each
// other by named objects and process lifetime, never by exit code.
#include <windows.h>

#include "platform_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    veltrane::run_program(veltrane::process_arguments(), veltrane::windows_platform());
    return 0;
}
