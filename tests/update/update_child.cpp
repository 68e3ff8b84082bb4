// Started by the update-check tests from a copy in a scratch folder, so that the program's
// executable folder is that folder. "check": one manual update check, waiting for its
// worker; exit code 0 started, 3 not started, 4 an error. Started as the updater
// ("--apply-update"), it applies the staged update as the program does; "apply-until N"
// applies it and ends the process abruptly right after step N.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "settings/settings.h"
#include "update/apply_update.h"
#include "update/update_check.h"

int main(int argc, char** argv) {
    using namespace veltrane;
    if (argc >= 2 && std::strcmp(argv[1], "--apply-update") == 0) {
        // A test of a build that never becomes ready waits less than the program's minute.
        const char* ready = std::getenv("VELTRANE_TEST_READY_SECONDS");
        apply_staged_update({}, std::chrono::seconds(ready ? std::atoi(ready) : kServiceReadySeconds));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "apply-until") == 0) {
        const int last = std::atoi(argv[2]);
        apply_staged_update([last](ApplyStep step) {
            if (static_cast<int>(step) == last) TerminateProcess(GetCurrentProcess(), 9);
        });
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "check") == 0) {
        const auto started = start_update_check(CheckMode::Manual);
        if (!started) return 4;
        if (*started == CheckStart::NotStarted) return 3;
        while (update_check_running()) Sleep(50);
        return 0;
    }
    return 2;
}
