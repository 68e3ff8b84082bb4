// Entry point of Veltrane_Desktop.exe. The first argument chooses the role; each role is
// its own process. Until the roles exist, every command line ends at once with exit code 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
