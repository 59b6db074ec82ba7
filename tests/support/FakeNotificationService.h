#pragma once

#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/core/NotificationService.h"

namespace tw {

// A notification centre that records what it is asked. Status questions are answered at once
// with `authorized`, or, with `holdStatusAnswers`, kept for the test to answer (from any thread).
// Permission requests are only recorded: their answers are the test's to give.
class FakeNotificationService final : public NotificationService {
  public:
    struct Added {
        Request request;
        std::thread::id thread;
    };

    void authorizationStatus(StatusAnswer answer) override {
        std::unique_lock lock(mutex_);
        if (holdStatusAnswers) {
            heldStatusAnswers_.push_back(std::move(answer));
            return;
        }
        const bool value = authorized;
        lock.unlock();
        answer(value);
    }
    void requestAuthorization(AuthorizationAnswer answer) override {
        std::lock_guard lock(mutex_);
        authorizationAnswers_.push_back(std::move(answer));
    }
    void add(Request request) override {
        std::lock_guard lock(mutex_);
        added_.push_back({std::move(request), std::this_thread::get_id()});
    }

    // Answers every held status question with `value`, on the calling thread.
    void answerStatus(bool value) {
        std::vector<StatusAnswer> answers;
        {
            std::lock_guard lock(mutex_);
            answers.swap(heldStatusAnswers_);
        }
        for (auto& answer : answers) answer(value);
    }
    // Answers the permission request made `index`-th.
    void answerAuthorization(std::size_t index, std::expected<bool, std::string> result) {
        AuthorizationAnswer answer;
        {
            std::lock_guard lock(mutex_);
            answer = authorizationAnswers_.at(index);
        }
        answer(std::move(result));
    }

    std::size_t authorizationRequests() const {
        std::lock_guard lock(mutex_);
        return authorizationAnswers_.size();
    }
    std::vector<Added> added() const {
        std::lock_guard lock(mutex_);
        return added_;
    }
    std::vector<Request> addedRequests() const {
        std::vector<Request> requests;
        for (const auto& entry : added()) requests.push_back(entry.request);
        return requests;
    }

    bool authorized = true;
    bool holdStatusAnswers = false;

  private:
    mutable std::mutex mutex_;
    std::vector<StatusAnswer> heldStatusAnswers_;
    std::vector<AuthorizationAnswer> authorizationAnswers_;
    std::vector<Added> added_;
};

}  // namespace tw
