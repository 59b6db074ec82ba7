#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/tunnel/SystemExtensionPlatform.h"

namespace tw {

// The system-extension installer and desktop of the tests. Requests are recorded and answered
// by the test, at once on its own thread or, with From::otherThread, on a thread of their own
// (joined when the fake goes away). Settings targets open when they are in `openableTargets`;
// settings applications are found in `installedApplications`.
class FakeSystemExtensionPlatform final : public SystemExtensionPlatform {
public:
    enum class From { thisThread, otherThread };

    struct ActivationRequest {
        std::string identifier;
        SystemExtensionActivationDelegate delegate;
    };
    struct PropertiesRequest {
        std::string identifier;
        PropertiesCompletion completion;
    };

    ~FakeSystemExtensionPlatform() override;

    void submitActivationRequest(const std::string& identifier,
                                 SystemExtensionActivationDelegate delegate) override;
    void submitPropertiesRequest(const std::string& identifier,
                                 PropertiesCompletion completion) override;
    std::vector<std::string> settingsTargets() const override { return targets; }
    bool openSettingsTarget(const std::string& target) override;
    std::vector<std::string> settingsApplications() const override { return applications; }
    std::optional<std::string> locateApplication(const std::string& identifier) const override;
    void openApplication(const std::string& location) override {
        openedApplications.push_back(location);
    }
    Subscription observeApplicationDidBecomeActive(std::function<void()> handler) override;

    const std::vector<ActivationRequest>& activations() const { return activations_; }
    const std::vector<PropertiesRequest>& propertiesRequests() const { return properties_; }

    // Answers of the activation request `index` (in submission order).
    void needUserApproval(std::size_t index, From from = From::thisThread);
    void finish(std::size_t index, SystemExtensionRequestResult result,
                From from = From::thisThread);
    void fail(std::size_t index, SystemExtensionError error, From from = From::thisThread);
    // Asks whether to replace `installed`; the answer lands in `replacementAnswers`.
    void askToReplace(std::size_t index, SystemExtensionProperties installed,
                      SystemExtensionProperties replacement);
    // Answers of the properties request `index`.
    void reportProperties(std::size_t index, std::vector<SystemExtensionProperties> extensions,
                          From from = From::thisThread);
    void failProperties(std::size_t index, SystemExtensionError error,
                        From from = From::thisThread);

    void becomeActive();
    std::size_t becameActiveObserverCount() const { return becameActiveHandlers_.size(); }

    std::vector<std::string> targets;
    std::set<std::string> openableTargets;
    std::vector<std::string> applications;
    std::map<std::string, std::string> installedApplications;  // identifier → location
    // Every target the service tried to open and every application it looked up, in order.
    std::vector<std::string> triedTargets;
    mutable std::vector<std::string> lookedUpApplications;
    std::vector<std::string> openedApplications;
    std::vector<SystemExtensionReplacementAction> replacementAnswers;

private:
    void answer(From from, std::function<void()> work);

    std::vector<ActivationRequest> activations_;
    std::vector<PropertiesRequest> properties_;
    std::map<int, std::function<void()>> becameActiveHandlers_;
    int nextHandler_ = 0;
    std::vector<std::thread> threads_;
};

}  // namespace tw
