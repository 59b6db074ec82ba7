#include "base/WorkerPool.h"

#include <memory>

namespace tw {

WorkerPool::WorkerPool(std::size_t maxThreads) : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    // Work still running may submit more and so start threads while we join: take each thread
    // out under the lock, and leave its empty slot so that the count stays bounded.
    for (std::size_t i = 0;; ++i) {
        std::thread thread;
        {
            std::lock_guard lock(mutex_);
            if (i == threads_.size()) break;
            thread = std::move(threads_[i]);
        }
        thread.join();
    }
}

void WorkerPool::submit(Task task) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(task));
        if (idle_ < pending_.size() && threads_.size() < maxThreads_) {
            threads_.emplace_back([this] { run(); });
        }
    }
    wake_.notify_one();
}

void WorkerPool::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        --idle_;
        if (pending_.empty()) return;
        Task task = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
}

const std::shared_ptr<WorkerPool>& WorkerPool::shared() {
    static auto* pool = new std::shared_ptr<WorkerPool>(
        std::shared_ptr<WorkerPool>(new WorkerPool(64), [](WorkerPool*) {}));
    return *pool;
}

}  // namespace tw
