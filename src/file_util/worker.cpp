#include "file_util/worker.h"

#include <exception>
#include <thread>

namespace veltrane {

bool start_detached_thread(std::function<void()>& work) noexcept {
    // std::thread reports a refused thread (and a failed allocation of its state) only by
    // throwing; the exception ends here.
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool start_claimed_worker(std::atomic<bool>& flag, std::function<void()> work, ThreadStarter start) noexcept {
    // An exception inside the work (a failed allocation) ends that work, not the whole
    // process, and frees the kind for the next worker.
    std::function<void()> guarded;
    try {
        guarded = [&flag, work = std::move(work)] {
            try {
                work();
            } catch (...) {
                flag.store(false);
            }
        };
    } catch (...) {
        flag.store(false);
        return false;
    }
    if (start(guarded)) return true;
    flag.store(false);
    return false;
}

}  // namespace veltrane
