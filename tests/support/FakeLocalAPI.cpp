#include "tests/support/FakeLocalAPI.h"

#include <algorithm>

namespace tw {

FakeLocalAPI::~FakeLocalAPI() { waitForAnswers(); }

template <typename T>
std::expected<T, LocalAPIError> FakeLocalAPI::next(std::deque<std::expected<T, LocalAPIError>>& queue,
                                                   std::expected<T, LocalAPIError> fallback) {
    if (queue.empty()) return fallback;
    auto result = std::move(queue.front());
    queue.pop_front();
    return result;
}

void FakeLocalAPI::record(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
}

void FakeLocalAPI::waitForAnswers() { answers_.joinAll(); }

void FakeLocalAPI::getStatus(Completion<DaemonStatus> completion) {
    record("getStatus");
    std::lock_guard lock(mutex_);
    auto result = next<DaemonStatus>(statuses_, DaemonStatus{});
    answers_.start([completion, result] { completion(result); });
}

void FakeLocalAPI::getProfiles(Completion<ProfilesResponse> completion) {
    record("getProfiles");
    std::lock_guard lock(mutex_);
    auto result = next<ProfilesResponse>(profiles_, standingProfiles_);
    answers_.start([completion, result] { completion(result); });
}

void FakeLocalAPI::startLogin(Completion<std::string> completion) {
    record("startLogin");
    std::lock_guard lock(mutex_);
    auto result = next<std::string>(logins_, std::unexpected(LocalAPIError::decodeFailed()));
    answers_.start([completion, result] { completion(result); });
}

void FakeLocalAPI::answerVoid(const std::string& operation, Completion<void> completion) {
    std::lock_guard lock(mutex_);
    auto result = next<void>(voids_[operation], {});
    answers_.start([completion, result] { completion(result); });
}

void FakeLocalAPI::switchProfile(const std::string& id, Completion<void> completion) {
    record("switchProfile:" + id);
    answerVoid("switchProfile", std::move(completion));
}

void FakeLocalAPI::switchToEmptyProfile(Completion<void> completion) {
    record("switchToEmptyProfile");
    answerVoid("switchToEmptyProfile", std::move(completion));
}

void FakeLocalAPI::setWantRunning(bool wantRunning, Completion<void> completion) {
    record(std::string("setWantRunning:") + (wantRunning ? "true" : "false"));
    answerVoid("setWantRunning", std::move(completion));
}

void FakeLocalAPI::triggerLogin(Completion<void> completion) {
    record("triggerLogin");
    answerVoid("triggerLogin", std::move(completion));
}

void FakeLocalAPI::scriptStatus(std::expected<DaemonStatus, LocalAPIError> result) {
    std::lock_guard lock(mutex_);
    statuses_.push_back(std::move(result));
}

void FakeLocalAPI::scriptProfiles(std::expected<ProfilesResponse, LocalAPIError> result) {
    std::lock_guard lock(mutex_);
    profiles_.push_back(std::move(result));
}

void FakeLocalAPI::setStandingProfiles(ProfilesResponse response) {
    std::lock_guard lock(mutex_);
    standingProfiles_ = std::move(response);
}

void FakeLocalAPI::scriptLogin(std::expected<std::string, LocalAPIError> result) {
    std::lock_guard lock(mutex_);
    logins_.push_back(std::move(result));
}

void FakeLocalAPI::scriptVoid(const std::string& operation, std::expected<void, LocalAPIError> result) {
    std::lock_guard lock(mutex_);
    voids_[operation].push_back(std::move(result));
}

std::vector<std::string> FakeLocalAPI::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t FakeLocalAPI::count(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), call));
}

}  // namespace tw
