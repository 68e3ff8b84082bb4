// A restore in a process of its own, for tests of restores running at the same time.
// Exit code: 0 restored, 1 partly, 2 nothing to restore, 3 failed.
#include <windows.h>

#include <cstdio>

#include "wallpaper/original_wallpaper_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 4;
    const auto result = veltrane::restore_original_wallpapers(argv[1]);
    if (!result) {
        std::fprintf(stderr, "%s\n", result.error().message.c_str());
        return 3;
    }
    switch (result->outcome) {
        case veltrane::RestoreOutcome::Restored: return 0;
        case veltrane::RestoreOutcome::RestoredPartly: return 1;
        case veltrane::RestoreOutcome::NothingToRestore: return 2;
    }
    return 3;
}
