#include "app/tunnel/VPNTunnelService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "tests/support/FakeVpnPlatform.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using Status = VPNConnectionStatus;

constexpr auto kProvider = "com.tarnwick.desktop.PacketTunnel";

class VPNTunnelServiceTest : public ::testing::Test {
protected:
    VPNTunnelServiceTest() { writeInfo(R"({"CFBundleIdentifier":"com.tarnwick.desktop","CFBundleDisplayName":"Tarnwick"})"); }

    void writeInfo(const std::string& json) { std::ofstream(bundleDir_.file("Info.json")) << json; }

    // Creates the service and lets it adopt what is saved.
    VPNTunnelService& makeService() {
        service_ = VPNTunnelService::create(main_, log_.logger(), platform_, Bundle(bundleDir_.path()));
        statusSubscription_ = service_->connectionStatus().subscribe([this](Status s) { published_.push_back(s); });
        main_->runUntilIdle();
        return *service_;
    }

    // The service's log lines, without the category.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (const auto& record : log_.records()) {
            if (record.starts_with("[VPN] ")) result.push_back(record.substr(6));
        }
        return result;
    }

    void clearLog() { logMark_ = log_.records().size(); }
    std::vector<std::string> newLines() const {
        auto all = lines();
        return {all.begin() + static_cast<long>(std::min(logMark_, all.size())), all.end()};
    }

    static TunnelProtocol expectedProtocol() { return TunnelProtocol{"localhost", kProvider, false}; }

    TempDir bundleDir_;
    TestLogger log_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeVpnPlatform> platform_ = std::make_shared<FakeVpnPlatform>();
    std::shared_ptr<VPNTunnelService> service_;
    Subscription statusSubscription_;
    std::vector<Status> published_;
    std::size_t logMark_ = 0;
};

TEST_F(VPNTunnelServiceTest, WithNothingSavedStartCreatesSavesReloadsAndStartsTheTunnel) {
    auto& service = makeService();
    EXPECT_THAT(lines(), ElementsAre("No saved Tarnwick VPN configuration",
                                     "updateStatus: manager or connection is nil"));
    clearLog();
    service.start();
    main_->runUntilIdle();

    ASSERT_EQ(platform_->saved().size(), 1u);
    const auto& made = *platform_->saved()[0];
    EXPECT_EQ(made.saved.protocol, expectedProtocol());
    EXPECT_EQ(made.saved.description, "Tarnwick");
    EXPECT_TRUE(made.saved.enabled);
    EXPECT_EQ(made.saves, 1);
    EXPECT_EQ(made.loads, 2);
    EXPECT_EQ(made.starts, 1);
    EXPECT_THAT(newLines(), ElementsAre("raw status: 1", "Status changed: disconnected",
                                        "Starting VPN tunnel (current status: 1)",
                                        "Tunnel start initiated successfully"));
    EXPECT_EQ(service.connectionStatus().get(), Status::connecting);
    EXPECT_FALSE(service.pendingStartAfterApproval());
}

TEST_F(VPNTunnelServiceTest, LeavesOtherProvidersConfigurationsAloneAndCreatesItsOwn) {
    auto other = platform_->addSaved("com.example.othervpn", "Other VPN");
    auto& service = makeService();
    bool done = false;
    service.ensureConfigurationSaved([&] { done = true; });
    main_->runUntilIdle();

    EXPECT_TRUE(done);
    EXPECT_THAT(lines(), Contains("Found existing manager(s) but none match Tarnwick; creating a new manager"));
    EXPECT_EQ(other->saves, 0);
    EXPECT_EQ(other->removes, 0);
    EXPECT_EQ(other->current.description, "Other VPN");
    ASSERT_EQ(platform_->saved().size(), 2u);
    EXPECT_EQ(platform_->saved()[1]->saved.protocol, expectedProtocol());
}

TEST_F(VPNTunnelServiceTest, UsesTheFirstOfTwoMatchingConfigurationsAndRemovesBoth) {
    auto first = platform_->addSaved(kProvider);
    auto second = platform_->addSaved(kProvider);
    auto& service = makeService();
    EXPECT_THAT(lines(), Contains("Adopted existing VPN configuration"));
    service.start();
    main_->runUntilIdle();
    EXPECT_EQ(first->starts, 1);
    EXPECT_EQ(second->starts, 0);

    int completions = 0;
    service.removeConfiguration([&] { ++completions; });
    main_->runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(first->stops, 1);
    EXPECT_EQ(second->stops, 1);
    EXPECT_TRUE(platform_->saved().empty());
    EXPECT_EQ(lines().back(), "Removed 2 VPN configuration(s)");
    EXPECT_EQ(service.connectionStatus().get(), Status::disconnected);
}

TEST_F(VPNTunnelServiceTest, ARemovalThatFailsIsLoggedAndStillCounted) {
    platform_->addSaved(kProvider)->removeError = VpnError{5, "NM", "permission denied"};
    platform_->addSaved(kProvider);
    platform_->addSaved("com.example.othervpn");
    auto& service = makeService();
    platform_->answerFromOtherThread = true;
    int completions = 0;
    service.removeConfiguration([&] { ++completions; });
    ASSERT_TRUE(main_->runUntil([&] { return completions == 1; }));
    EXPECT_THAT(lines(), Contains("removeFromPreferences failed: permission denied"));
    EXPECT_EQ(lines().back(), "Removed 2 VPN configuration(s)");
    EXPECT_EQ(platform_->saved().size(), 2u);
}

TEST_F(VPNTunnelServiceTest, RemovingWithNothingToRemoveJustCompletes) {
    platform_->addSaved("com.example.othervpn");
    auto& service = makeService();
    clearLog();
    platform_->loadAllError = VpnError{1, "NM", "no bus"};
    int completions = 0;
    service.removeConfiguration([&] { ++completions; });
    main_->runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(newLines().empty());
}

TEST_F(VPNTunnelServiceTest, SkipsTheStartWhileConnectedOrConnecting) {
    for (int raw : {VpnConfiguration::kStatusConnected, VpnConfiguration::kStatusConnecting}) {
        platform_ = std::make_shared<FakeVpnPlatform>();
        auto configuration = platform_->addSaved(kProvider);
        configuration->status = raw;
        auto& service = makeService();
        service.start();
        main_->runUntilIdle();
        EXPECT_EQ(configuration->starts, 0);
        EXPECT_THAT(lines(), Contains("Already connected or connecting (status: " + std::to_string(raw) +
                                      "), skipping start"));
        EXPECT_FALSE(service.pendingStartAfterApproval());
    }
}

TEST_F(VPNTunnelServiceTest, ARefusedStartIsRetriedOnTheNextConfigurationChange) {
    auto configuration = platform_->addSaved(kProvider);
    configuration->startError = VpnError{VpnError::kConfigurationDisabled, "NM", "disabled"};
    auto& service = makeService();
    service.start();
    main_->runUntilIdle();
    EXPECT_EQ(service.connectionStatus().get(), Status::error);
    EXPECT_TRUE(service.pendingStartAfterApproval());
    EXPECT_THAT(lines(), Contains("Configuration is disabled"));

    configuration->startError.reset();
    platform_->fireConfigurationChange();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->starts, 2);
    EXPECT_FALSE(service.pendingStartAfterApproval());

    // Once accepted, further changes start nothing.
    platform_->fireConfigurationChange();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->starts, 2);
}

TEST_F(VPNTunnelServiceTest, AVerdictThatTakesSecondsLeavesTheMainQueueRunning) {
    auto configuration = platform_->addSaved(kProvider);
    configuration->holdVerdict = true;
    auto& service = makeService();
    clearLog();
    published_.clear();
    service.start();
    int ranMeanwhile = 0;
    for (int second = 1; second <= 5; ++second) main_->postDelayed(second, [&] { ++ranMeanwhile; });
    main_->advance(5.0);
    EXPECT_EQ(ranMeanwhile, 5);
    EXPECT_THAT(newLines(), ElementsAre("Starting VPN tunnel (current status: 1)"));
    EXPECT_TRUE(service.pendingStartAfterApproval());

    configuration->statusAfterStart = VpnConfiguration::kStatusConnecting;
    configuration->deliverVerdict();
    main_->runUntilIdle();
    EXPECT_THAT(newLines(), ElementsAre("Starting VPN tunnel (current status: 1)",
                                        "Tunnel start initiated successfully"));
    EXPECT_THAT(published_, ElementsAre(Status::connecting));
    EXPECT_FALSE(service.pendingStartAfterApproval());

    // A refusal that comes late is handled as one that came at once.
    configuration->status = VpnConfiguration::kStatusDisconnected;
    configuration->startError = VpnError{VpnError::kConfigurationDisabled, "NM", "disabled"};
    clearLog();
    service.start();
    main_->advance(5.0);
    configuration->deliverVerdict();
    main_->runUntilIdle();
    EXPECT_THAT(newLines(), ElementsAre("Starting VPN tunnel (current status: 1)", "Configuration is disabled"));
    EXPECT_THAT(published_, ElementsAre(Status::connecting, Status::connecting, Status::error));
    EXPECT_TRUE(service.pendingStartAfterApproval());
}

TEST_F(VPNTunnelServiceTest, AConfigurationChangeWhileAStartAwaitsItsVerdictStartsNothingMore) {
    auto configuration = platform_->addSaved(kProvider);
    configuration->holdVerdict = true;
    auto& service = makeService();
    service.start();
    main_->runUntilIdle();
    clearLog();
    platform_->fireConfigurationChange();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->starts, 1);
    EXPECT_THAT(newLines(), ::testing::IsEmpty()) << "handled once the verdict is in";
    configuration->startError = VpnError{VpnError::kConfigurationDisabled, "NM", "disabled"};
    configuration->deliverVerdict();
    main_->runUntilIdle();
    // The refusal, then the change: reloaded, and started again as a refused start is.
    EXPECT_EQ(newLines().at(0), "Configuration is disabled");
    EXPECT_THAT(newLines(), Contains("Configuration changed; reloading manager"));
    EXPECT_EQ(configuration->starts, 2);
}

TEST_F(VPNTunnelServiceTest, LogsEachKindOfRefusal) {
    auto configuration = platform_->addSaved(kProvider);
    auto& service = makeService();
    configuration->startError = VpnError{VpnError::kConfigurationInvalid, "NM", "invalid"};
    service.start();
    main_->runUntilIdle();
    configuration->startError = VpnError{7, "org.freedesktop.NetworkManager", "no base connection"};
    service.start();
    main_->runUntilIdle();
    EXPECT_THAT(lines(), Contains("Configuration is invalid"));
    EXPECT_THAT(lines(), Contains("Error starting VPN tunnel: no base connection (code: 7, domain: "
                                  "org.freedesktop.NetworkManager)"));
}

TEST_F(VPNTunnelServiceTest, StopWithNoConfigurationReportsDisconnected) {
    auto& service = makeService();
    published_.clear();
    service.stop();
    main_->runUntilIdle();
    EXPECT_EQ(lines().back(), "Nothing to stop; reporting disconnected");
    EXPECT_THAT(published_, ElementsAre(Status::disconnected));
}

TEST_F(VPNTunnelServiceTest, StopWithAConfigurationOnlyStopsItsTunnel) {
    auto configuration = platform_->addSaved(kProvider);
    auto& service = makeService();
    service.start();
    main_->runUntilIdle();
    service.stop();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->stops, 1);
    EXPECT_FALSE(service.pendingStartAfterApproval());
}

TEST_F(VPNTunnelServiceTest, StopAdoptsASavedConfigurationFirst) {
    auto& service = makeService();
    auto configuration = platform_->addSaved(kProvider);
    service.stop();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->stops, 1);
    EXPECT_THAT(lines(), Contains("Adopted existing VPN configuration"));
}

TEST_F(VPNTunnelServiceTest, EnsureConfigurationSavedSavesEvenWhenNothingChanged) {
    auto configuration = platform_->addSaved(kProvider);
    auto& service = makeService();
    platform_->fireConfigurationChange();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->saves, 0);
    service.ensureConfigurationSaved({});
    main_->runUntilIdle();
    EXPECT_EQ(configuration->saves, 1);
}

TEST_F(VPNTunnelServiceTest, PutsBackSettingsChangedBehindItsBack) {
    auto configuration = platform_->addSaved(kProvider, "Renamed", false);
    makeService();
    platform_->fireConfigurationChange();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->saves, 1);
    EXPECT_EQ(configuration->saved.description, "Tarnwick");
    EXPECT_TRUE(configuration->saved.enabled);

    // A changed server address counts too, even with description and switch right.
    configuration->saved.protocol->serverAddress = "example.invalid";
    platform_->fireConfigurationChange();
    main_->runUntilIdle();
    EXPECT_EQ(configuration->saves, 2);
    EXPECT_EQ(configuration->saved.protocol, expectedProtocol());
}

TEST_F(VPNTunnelServiceTest, MapsEveryPlatformStatus) {
    auto configuration = platform_->addSaved(kProvider);
    auto& service = makeService();
    const std::vector<std::pair<int, Status>> table = {
        {0, Status::disconnected}, {1, Status::disconnected}, {2, Status::connecting}, {3, Status::connected},
        {4, Status::connecting},   {5, Status::disconnecting}, {99, Status::unknown}};
    for (const auto& [raw, expected] : table) {
        configuration->status = raw;
        platform_->fireStatusChange();
        main_->runUntilIdle();
        EXPECT_EQ(service.connectionStatus().get(), expected) << raw;
    }
    EXPECT_THAT(lines(), Contains("Status changed: reasserting"));
    EXPECT_THAT(lines(), Contains("Status changed: unknown (99)"));
    EXPECT_THAT(lines(), Contains("raw status: 4"));
}

TEST_F(VPNTunnelServiceTest, PublishesEveryAssignmentEvenOfTheSameValue) {
    platform_->addSaved(kProvider);
    makeService();
    published_.clear();
    platform_->fireStatusChange();
    platform_->fireStatusChange();
    main_->runUntilIdle();
    EXPECT_THAT(published_, ElementsAre(Status::disconnected, Status::disconnected));
}

TEST_F(VPNTunnelServiceTest, ChoosesTheDescriptionFromTheFirstNonBlankName) {
    writeInfo(R"({"CFBundleIdentifier":"com.tarnwick.desktop","CFBundleDisplayName":" \n\t","CFBundleName":" Tarn "})");
    EXPECT_EQ(makeService().expectedLocalizedDescription(), " Tarn ");
    writeInfo(R"({"CFBundleIdentifier":"com.tarnwick.desktop","CFBundleDisplayName":"\u3000\u2029","CFBundleName":"T"})");
    EXPECT_EQ(makeService().expectedLocalizedDescription(), "T");
    writeInfo(R"({"CFBundleIdentifier":"com.tarnwick.desktop","CFBundleDisplayName":5,"CFBundleName":""})");
    EXPECT_EQ(makeService().expectedLocalizedDescription(), Bundle::processName());
}

TEST_F(VPNTunnelServiceTest, FallsBackToTheDefaultProviderWithoutABundleIdentifier) {
    writeInfo(R"({"CFBundleIdentifier":""})");
    auto& service = makeService();
    EXPECT_EQ(service.expectedProviderBundleIdentifier(), kProvider);
    EXPECT_THAT(lines(), Contains("Missing host bundle identifier; falling back to default PacketTunnel id"));
    writeInfo(R"({"CFBundleIdentifier":"org.example.white"})");
    EXPECT_EQ(makeService().expectedProviderBundleIdentifier(), "org.example.white.PacketTunnel");
}

TEST_F(VPNTunnelServiceTest, LoadAndSaveFailuresAreLoggedAndCompletionsStillRun) {
    auto& service = makeService();
    platform_->loadAllError = VpnError{3, "NM", "bus gone"};
    int completions = 0;
    service.ensureConfigurationSaved([&] { ++completions; });
    main_->runUntilIdle();
    EXPECT_THAT(lines(), Contains("Error loading VPN preferences: bus gone"));

    platform_->loadAllError.reset();
    auto configuration = platform_->addSaved(kProvider);
    configuration->saveError = VpnError{4, "NM", "not authorised"};
    service.ensureConfigurationSaved([&] { ++completions; });
    main_->runUntilIdle();
    EXPECT_THAT(lines(), Contains("Failed to save configuration: not authorised"));

    configuration->loadError = VpnError{4, "NM", "gone"};
    service.ensureConfigurationSaved([&] { ++completions; });
    main_->runUntilIdle();
    EXPECT_THAT(lines(), Contains("Error loading preferences: gone"));
    EXPECT_EQ(completions, 3);
    EXPECT_EQ(service.connectionStatus().get(), Status::disconnected);
}

TEST_F(VPNTunnelServiceTest, AnswersFromAnotherThreadAreHandledOnTheMainQueue) {
    platform_->answerFromOtherThread = true;
    auto& service = makeService();
    ASSERT_TRUE(main_->runUntil([&] { return !lines().empty() && lines().back().starts_with("updateStatus"); }));
    bool done = false;
    service.ensureConfigurationSaved([&] {
        EXPECT_TRUE(main_->isCurrent());
        done = true;
    });
    ASSERT_TRUE(main_->runUntil([&] { return done; }));
    service.start();
    ASSERT_TRUE(main_->runUntil([&] { return platform_->saved()[0]->starts == 1; }));
}

TEST_F(VPNTunnelServiceTest, CallsFromAnotherThreadMoveToTheMainQueue) {
    platform_->addSaved(kProvider);
    auto& service = makeService();
    std::thread([&] { service.start(); }).join();
    EXPECT_EQ(platform_->saved()[0]->starts, 0);
    main_->runUntilIdle();
    EXPECT_EQ(platform_->saved()[0]->starts, 1);
}

TEST_F(VPNTunnelServiceTest, ACallersCompletionRunsEvenWhenTheServiceIsGone) {
    platform_->answerFromOtherThread = true;
    makeService();
    main_->runUntil([] { return false; }, std::chrono::milliseconds(50));
    int completions = 0;
    service_->ensureConfigurationSaved([&] { ++completions; });
    service_->removeConfiguration([&] { ++completions; });
    service_.reset();
    ASSERT_TRUE(main_->runUntil([&] { return completions == 2; }));
}

}  // namespace
}  // namespace tw
