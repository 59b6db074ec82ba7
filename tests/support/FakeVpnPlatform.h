#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tunnel/VpnPlatform.h"
#include "tests/support/AnswerThreads.h"

namespace tw {

class FakeVpnPlatform;

// A configuration of the fake VPN layer: the in-memory settings the service edits, the settings
// last saved, its connection's raw status and the errors the test wants its calls to fail with.
class FakeVpnConfiguration final : public VpnConfiguration {
public:
    struct Settings {
        std::optional<TunnelProtocol> protocol;
        std::optional<std::string> description;
        bool enabled = false;
        bool operator==(const Settings&) const = default;
    };

    explicit FakeVpnConfiguration(std::weak_ptr<FakeVpnPlatform> platform);
    FakeVpnConfiguration(std::weak_ptr<FakeVpnPlatform> platform, Settings saved, bool isSaved);

    std::optional<TunnelProtocol> protocol() const override { return current.protocol; }
    void setProtocol(TunnelProtocol protocol) override { current.protocol = std::move(protocol); }
    std::optional<std::string> localizedDescription() const override { return current.description; }
    void setLocalizedDescription(std::string description) override { current.description = std::move(description); }
    bool isEnabled() const override { return current.enabled; }
    void setEnabled(bool enabled) override { current.enabled = enabled; }

    void load(Completion completion) override;
    void save(Completion completion) override;
    void remove(Completion completion) override;

    bool hasConnection() const override { return connection; }
    int connectionStatus() const override { return status; }
    // Answers at once unless `holdVerdict`; then the test delivers the verdict later.
    void startTunnel(Completion completion) override;
    void deliverVerdict();
    void stopTunnel() override { ++stops; }

    Settings current;
    Settings saved;
    bool isSaved;
    bool connection = true;
    int status = kStatusDisconnected;
    // When set, the next start is accepted and moves the status here.
    std::optional<int> statusAfterStart;
    bool holdVerdict = false;
    Completion heldVerdict;
    std::optional<VpnError> loadError, saveError, removeError, startError;
    int loads = 0, saves = 0, removes = 0, starts = 0, stops = 0;

private:
    std::weak_ptr<FakeVpnPlatform> platform_;
};

// The VPN layer of the tests. Completions run at once on the caller's thread, or, with
// `answerFromOtherThread`, on a thread of their own (joined when the fake goes away).
class FakeVpnPlatform final : public VpnPlatform, public std::enable_shared_from_this<FakeVpnPlatform> {
public:
    ~FakeVpnPlatform() override;

    void loadAll(LoadAllCompletion completion) override;
    std::shared_ptr<VpnConfiguration> makeConfiguration() override;
    Subscription observeStatusChanges(std::function<void()> handler) override;
    Subscription observeConfigurationChanges(std::function<void()> handler) override;

    // Adds a saved configuration of the provider `providerBundleIdentifier`.
    std::shared_ptr<FakeVpnConfiguration> addSaved(std::optional<std::string> providerBundleIdentifier,
                                                   std::optional<std::string> description = "Tarnwick",
                                                   bool enabled = true);
    const std::vector<std::shared_ptr<FakeVpnConfiguration>>& saved() const { return saved_; }
    // Configurations the service asked for with makeConfiguration(), saved or not.
    const std::vector<std::shared_ptr<FakeVpnConfiguration>>& created() const { return created_; }

    void fireStatusChange();
    void fireConfigurationChange();
    // Runs `work` as the platform would answer: at once, or on another thread.
    void answer(std::function<void()> work);

    std::optional<VpnError> loadAllError;
    bool answerFromOtherThread = false;
    int loadAllCalls = 0;

private:
    friend class FakeVpnConfiguration;
    void didSave(FakeVpnConfiguration* configuration);
    void didRemove(FakeVpnConfiguration* configuration);
    Subscription observe(std::map<int, std::function<void()>>& handlers, std::function<void()> handler);

    std::vector<std::shared_ptr<FakeVpnConfiguration>> saved_;
    std::vector<std::shared_ptr<FakeVpnConfiguration>> created_;
    std::map<int, std::function<void()>> statusHandlers_, configurationHandlers_;
    int nextHandler_ = 0;
    AnswerThreads answers_;
};

}  // namespace tw
