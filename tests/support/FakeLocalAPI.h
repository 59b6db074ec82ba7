#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/daemon/LocalAPI.h"
#include "tests/support/AnswerThreads.h"

namespace tw {

// A scripted LocalAPI. Every call is recorded ("getStatus", "switchProfile:ID",
// "setWantRunning:true", ...) and answered from a thread of its own, as the real client answers
// from its workers: with the next scripted result for that operation, or a default (success;
// an empty status or profile list; decodeFailed for startLogin).
class FakeLocalAPI final : public LocalAPI {
public:
    ~FakeLocalAPI() override;

    void getStatus(Completion<DaemonStatus> completion) override;
    void getProfiles(Completion<ProfilesResponse> completion) override;
    void switchProfile(const std::string& id, Completion<void> completion) override;
    void switchToEmptyProfile(Completion<void> completion) override;
    void setWantRunning(bool wantRunning, Completion<void> completion) override;
    void startLogin(Completion<std::string> completion) override;
    void triggerLogin(Completion<void> completion) override;

    void scriptStatus(std::expected<DaemonStatus, LocalAPIError> result);
    void scriptProfiles(std::expected<ProfilesResponse, LocalAPIError> result);
    // The profile list given once the scripted answers are spent (at first, an empty one).
    void setStandingProfiles(ProfilesResponse response);
    void scriptLogin(std::expected<std::string, LocalAPIError> result);
    // For "switchProfile", "switchToEmptyProfile", "setWantRunning" and "triggerLogin".
    void scriptVoid(const std::string& operation, std::expected<void, LocalAPIError> result);

    std::vector<std::string> calls() const;
    std::size_t count(const std::string& call) const;
    // Waits until every answer given so far has been delivered.
    void waitForAnswers();

private:
    template <typename T>
    static std::expected<T, LocalAPIError> next(std::deque<std::expected<T, LocalAPIError>>& queue,
                                                std::expected<T, LocalAPIError> fallback);
    void record(const std::string& call);
    void answerVoid(const std::string& operation, Completion<void> completion);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::deque<std::expected<DaemonStatus, LocalAPIError>> statuses_;
    std::deque<std::expected<ProfilesResponse, LocalAPIError>> profiles_;
    ProfilesResponse standingProfiles_;
    std::deque<std::expected<std::string, LocalAPIError>> logins_;
    std::map<std::string, std::deque<std::expected<void, LocalAPIError>>> voids_;
    AnswerThreads answers_;
};

}  // namespace tw
