#include "tests/support/AnswerThreads.h"

namespace tw {

void AnswerThreads::start(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    threads_.emplace_back(std::move(work));
}

void AnswerThreads::joinAll() {
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        if (threads.empty()) return;
        for (auto& thread : threads) thread.join();
    }
}

}  // namespace tw
