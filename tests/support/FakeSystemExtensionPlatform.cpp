#include "tests/support/FakeSystemExtensionPlatform.h"

namespace tw {

FakeSystemExtensionPlatform::~FakeSystemExtensionPlatform() {
    for (auto& thread : threads_) thread.join();
}

void FakeSystemExtensionPlatform::answer(From from, std::function<void()> work) {
    if (from == From::thisThread) {
        work();
        return;
    }
    threads_.emplace_back(std::move(work));
}

void FakeSystemExtensionPlatform::submitActivationRequest(
    const std::string& identifier, SystemExtensionActivationDelegate delegate) {
    activations_.push_back({identifier, std::move(delegate)});
}

void FakeSystemExtensionPlatform::submitPropertiesRequest(const std::string& identifier,
                                                          PropertiesCompletion completion) {
    properties_.push_back({identifier, std::move(completion)});
}

bool FakeSystemExtensionPlatform::openSettingsTarget(const std::string& target) {
    triedTargets.push_back(target);
    return openableTargets.contains(target);
}

std::optional<std::string> FakeSystemExtensionPlatform::locateApplication(
    const std::string& identifier) const {
    lookedUpApplications.push_back(identifier);
    const auto it = installedApplications.find(identifier);
    if (it == installedApplications.end()) return std::nullopt;
    return it->second;
}

Subscription FakeSystemExtensionPlatform::observeApplicationDidBecomeActive(
    std::function<void()> handler) {
    const int id = nextHandler_++;
    becameActiveHandlers_.emplace(id, std::move(handler));
    return Subscription([this, id] { becameActiveHandlers_.erase(id); });
}

void FakeSystemExtensionPlatform::becomeActive() {
    // A handler may end its own subscription.
    const auto handlers = becameActiveHandlers_;
    for (const auto& [id, handler] : handlers) {
        if (becameActiveHandlers_.contains(id)) handler();
    }
}

void FakeSystemExtensionPlatform::needUserApproval(std::size_t index, From from) {
    answer(from, activations_.at(index).delegate.needsUserApproval);
}

void FakeSystemExtensionPlatform::finish(std::size_t index, SystemExtensionRequestResult result,
                                         From from) {
    answer(from,
           [finished = activations_.at(index).delegate.finished, result] { finished(result); });
}

void FakeSystemExtensionPlatform::fail(std::size_t index, SystemExtensionError error, From from) {
    answer(from, [failed = activations_.at(index).delegate.failed, error] { failed(error); });
}

void FakeSystemExtensionPlatform::askToReplace(std::size_t index,
                                               SystemExtensionProperties installed,
                                               SystemExtensionProperties replacement) {
    activations_.at(index).delegate.replacingExtension(
        installed, replacement,
        [this](SystemExtensionReplacementAction action) { replacementAnswers.push_back(action); });
}

void FakeSystemExtensionPlatform::reportProperties(
    std::size_t index, std::vector<SystemExtensionProperties> extensions, From from) {
    answer(from,
           [completion = properties_.at(index).completion, extensions] { completion(extensions); });
}

void FakeSystemExtensionPlatform::failProperties(std::size_t index, SystemExtensionError error,
                                                 From from) {
    answer(from, [completion = properties_.at(index).completion, error] {
        completion(std::unexpected(error));
    });
}

}  // namespace tw
