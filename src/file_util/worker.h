// Detached worker threads for network work, at most one of each kind per process, each kind
// marked by a process-wide flag. Starting one never throws: a thread the system cannot
// create is an ordinary "not started", and the flag is left clear for the next attempt.
#pragma once

#include <atomic>
#include <functional>

namespace veltrane {

using ThreadStarter = bool (*)(std::function<void()>& work);

// Runs `work` on a new detached thread; false when the system cannot create one.
bool start_detached_thread(std::function<void()>& work) noexcept;

// Sets the flag; false when it was already set (a worker of this kind runs).
inline bool claim_worker(std::atomic<bool>& flag) { return !flag.exchange(true); }

// Starts `work` for a caller that has claimed `flag`; the work clears the flag when it ends,
// and an exception that leaves the work is caught and clears it. When no thread can be
// started the flag is cleared here and the answer is false.
bool start_claimed_worker(std::atomic<bool>& flag, std::function<void()> work,
                          ThreadStarter start = start_detached_thread) noexcept;

}  // namespace veltrane
