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
    if (start(work)) return true;
    flag.store(false);
    return false;
}

}  // namespace veltrane
