#include "tests/support/FakeVpnPlatform.h"

#include <algorithm>

namespace tw {

FakeVpnConfiguration::FakeVpnConfiguration(std::weak_ptr<FakeVpnPlatform> platform)
    : FakeVpnConfiguration(std::move(platform), Settings{}, false) {}

FakeVpnConfiguration::FakeVpnConfiguration(std::weak_ptr<FakeVpnPlatform> platform, Settings savedSettings,
                                           bool wasSaved)
    : current(savedSettings), saved(savedSettings), isSaved(wasSaved), platform_(std::move(platform)) {}

void FakeVpnConfiguration::load(Completion completion) {
    ++loads;
    auto error = loadError;
    if (!error && isSaved) current = saved;
    platform_.lock()->answer([completion, error] { completion(error); });
}

void FakeVpnConfiguration::save(Completion completion) {
    ++saves;
    auto error = saveError;
    auto platform = platform_.lock();
    if (!error) {
        saved = current;
        if (!isSaved) platform->didSave(this);
        isSaved = true;
    }
    platform->answer([completion, error] { completion(error); });
}

void FakeVpnConfiguration::remove(Completion completion) {
    ++removes;
    auto error = removeError;
    auto platform = platform_.lock();
    if (!error) platform->didRemove(this);
    platform->answer([completion, error] { completion(error); });
}

void FakeVpnConfiguration::startTunnel(Completion completion) {
    ++starts;
    heldVerdict = std::move(completion);
    if (!holdVerdict) deliverVerdict();
}

void FakeVpnConfiguration::deliverVerdict() {
    auto completion = std::exchange(heldVerdict, nullptr);
    if (!startError && statusAfterStart) status = *statusAfterStart;
    platform_.lock()->answer([completion, error = startError] { completion(error); });
}

FakeVpnPlatform::~FakeVpnPlatform() { answers_.joinAll(); }

void FakeVpnPlatform::answer(std::function<void()> work) {
    if (!answerFromOtherThread) {
        work();
        return;
    }
    answers_.start(std::move(work));
}

void FakeVpnPlatform::loadAll(LoadAllCompletion completion) {
    ++loadAllCalls;
    if (loadAllError) {
        answer([completion, error = *loadAllError] { completion(std::unexpected(error)); });
        return;
    }
    Configurations list(saved_.begin(), saved_.end());
    answer([completion, list] { completion(list); });
}

std::shared_ptr<VpnConfiguration> FakeVpnPlatform::makeConfiguration() {
    created_.push_back(std::make_shared<FakeVpnConfiguration>(weak_from_this()));
    return created_.back();
}

std::shared_ptr<FakeVpnConfiguration> FakeVpnPlatform::addSaved(
    std::optional<std::string> providerBundleIdentifier, std::optional<std::string> description,
    bool enabled) {
    FakeVpnConfiguration::Settings settings;
    settings.protocol = TunnelProtocol{"localhost", std::move(providerBundleIdentifier), false};
    settings.description = std::move(description);
    settings.enabled = enabled;
    auto configuration = std::make_shared<FakeVpnConfiguration>(weak_from_this(), settings, true);
    saved_.push_back(configuration);
    return configuration;
}

void FakeVpnPlatform::didSave(FakeVpnConfiguration* configuration) {
    const auto it = std::find_if(created_.begin(), created_.end(),
                                 [&](const auto& made) { return made.get() == configuration; });
    if (it != created_.end()) saved_.push_back(*it);
}

void FakeVpnPlatform::didRemove(FakeVpnConfiguration* configuration) {
    std::erase_if(saved_, [&](const auto& entry) { return entry.get() == configuration; });
}

Subscription FakeVpnPlatform::observe(std::map<int, std::function<void()>>& handlers,
                                      std::function<void()> handler) {
    const int id = nextHandler_++;
    handlers.emplace(id, std::move(handler));
    return Subscription([weak = weak_from_this(), &handlers, id] {
        if (weak.lock()) handlers.erase(id);
    });
}

Subscription FakeVpnPlatform::observeStatusChanges(std::function<void()> handler) {
    return observe(statusHandlers_, std::move(handler));
}

Subscription FakeVpnPlatform::observeConfigurationChanges(std::function<void()> handler) {
    return observe(configurationHandlers_, std::move(handler));
}

void FakeVpnPlatform::fireStatusChange() {
    for (const auto& [id, handler] : statusHandlers_) answer(handler);
}

void FakeVpnPlatform::fireConfigurationChange() {
    for (const auto& [id, handler] : configurationHandlers_) answer(handler);
}

}  // namespace tw
