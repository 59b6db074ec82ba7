#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tw {

// Threads on which a fake answers, as a real backend answers from threads of its own. An answer
// may start another one, so joining takes the threads out under the lock until none is left.
class AnswerThreads {
  public:
    AnswerThreads() = default;
    ~AnswerThreads() { joinAll(); }
    AnswerThreads(const AnswerThreads&) = delete;
    AnswerThreads& operator=(const AnswerThreads&) = delete;

    void start(std::function<void()> work);
    // Returns once every answer started so far, and every answer they started, has run.
    void joinAll();

  private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace tw
