#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "app/core/HelperRegistration.h"

namespace tw {

// A helper registration that answers what the test scripted and records the calls in order.
// Answers come at once on the caller's thread or, with `holdAnswers`, when the test calls
// `answerHeld` (from any thread, so that a test can deliver them from elsewhere). The scripted
// values are read when the answer is given; set them before the calls or between answers.
class FakeHelperRegistration final : public HelperRegistration {
public:
    enum class Call { status, registerService, approve };

    void status(StatusCompletion completion) override {
        answer(Call::status,
               [this, completion = std::move(completion)] { completion(currentStatus); });
    }
    void registerService(Completion completion) override {
        answer(Call::registerService,
               [this, completion = std::move(completion)] { completion(registerResult); });
    }
    void approve(Completion completion) override {
        answer(Call::approve,
               [this, completion = std::move(completion)] { completion(approveResult); });
    }

    // Gives every held answer, in call order, on the calling thread.
    void answerHeld() {
        std::vector<std::function<void()>> answers;
        {
            std::lock_guard lock(mutex_);
            answers.swap(held_);
        }
        for (auto& give : answers) give();
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t heldAnswers() const {
        std::lock_guard lock(mutex_);
        return held_.size();
    }

    HelperRegistrationStatus currentStatus = HelperRegistrationStatus::notRegistered;
    Result registerResult;
    Result approveResult;
    bool holdAnswers = false;

private:
    void answer(Call call, std::function<void()> give) {
        std::unique_lock lock(mutex_);
        calls_.push_back(call);
        if (holdAnswers) {
            held_.push_back(std::move(give));
            return;
        }
        lock.unlock();
        give();
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::vector<std::function<void()>> held_;
};

}  // namespace tw
