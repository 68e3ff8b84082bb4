// Started by the sync tests from a copy in a scratch folder, so that the program's
// executable folder is that folder. "run": one content sync, exit code 0 when it published.
// "ticks N": N schedule ticks 100 ms apart, then waits for the last worker.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "sync/sync_run.h"
#include "sync/sync_service.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) {
        const auto published = veltrane::run_content_sync();
        return published && *published ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "ticks") == 0) {
        for (int i = 0, n = std::atoi(argv[2]); i < n; ++i) {
            veltrane::sync_schedule_tick(false);
            Sleep(100);
        }
        while (veltrane::sync_in_progress()) Sleep(50);
        return 0;
    }
    return 2;
}
