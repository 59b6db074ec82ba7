#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/MainQueue.h"

namespace tw {

// A concurrent pool for blocking work (LocalAPI exchanges, logout). Threads are started on demand
// while every existing thread is busy, up to `maxThreads`; past that, work waits for a free
// thread. Idle threads sleep until work arrives. The destructor finishes the work already
// submitted and joins every thread.
class WorkerPool {
public:
    explicit WorkerPool(std::size_t maxThreads = 16);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(Task task);

    // The process-wide pool; never destroyed, so work still blocked at exit does not hold it up.
    static const std::shared_ptr<WorkerPool>& shared();

private:
    void run();

    const std::size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> pending_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tw
