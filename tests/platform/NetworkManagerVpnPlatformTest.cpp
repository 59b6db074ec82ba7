#include "app/platform/linux/NetworkManagerVpnPlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/platform/linux/NmError.h"
#include "app/tunnel/VPNTunnelService.h"
#include "base/Bundle.h"
#include "tests/platform/NmSandbox.h"
#include "tests/platform/Nmcli.h"
#include "tests/platform/PollUntil.h"
#include "tests/platform/SandboxSkip.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using Status = VPNConnectionStatus;

constexpr auto kProvider = TW_EXTENSION_IDENTIFIER;
constexpr auto kDevice = "tarnwick0";

// The real NetworkManager of the sandbox, the adapter over it, and the tunnel service over the
// adapter on a manual main queue; the provider NetworkManager starts is the bundle's.
class ATunnelServiceOnNetworkManager : public ::testing::Test {
protected:
    void SetUp() override {
        TW_SKIP_WITHOUT_SANDBOX();
        platform_ = NetworkManagerVpnPlatform::create(main_);
    }

    void TearDown() override {
        if (SandboxSkip::reason()) return;
        service_.reset();
        platform_.reset();
        for (const auto& uuid : Nmcli::vpnProfiles()) Nmcli::run("connection delete " + uuid, true);
        shell(std::string("ip link del ") + kDevice + " 2>/dev/null");
        Nmcli::run("connection up base", true);
        NmSandbox::endPlugin();
    }

    VPNTunnelService& makeService() {
        service_ = VPNTunnelService::create(main_, log_.logger(), platform_, Bundle(TW_BUNDLE_DIR));
        subscription_ = service_->connectionStatus().subscribe(
            [this](Status status) { published_.push_back(status); });
        main_->runUntilIdle();
        return *service_;
    }

    // Runs the main queue until `done()` holds: some conditions are outside the process
    // (devices, profiles), so it looks again every few milliseconds.
    bool pollUntil(const std::function<bool()>& done,
                   std::chrono::seconds limit = std::chrono::seconds(20)) {
        return tw::pollUntil(
            [&] {
                main_->runUntilIdle();
                return done();
            },
            limit);
    }

    // Returns once everything NetworkManager told the adapter before now has reached the main
    // queue: a round trip to NetworkManager comes back after the signals it sent before it.
    void letNetworkManagerSettle() {
        bool back = false;
        platform_->loadAll([&](auto) { main_->post([&] { back = true; }); });
        ASSERT_TRUE(pollUntil([&] { return back; }));
        main_->runUntilIdle();
    }

    bool waitForStatus(Status status) {
        return pollUntil([&] { return service_->connectionStatus().get() == status; });
    }

    // The statuses published since the last call, repeats folded.
    std::vector<Status> takePublished() {
        std::vector<Status> folded;
        for (auto status : published_) {
            if (folded.empty() || folded.back() != status) folded.push_back(status);
        }
        published_.clear();
        return folded;
    }

    std::size_t logged(const std::string& line) const { return log_.count("[VPN] " + line); }
    // The service's log, for failure messages.
    std::string serviceLog() const {
        std::string text;
        for (const auto& record : log_.records()) text += record + "\n";
        return text;
    }

    static bool deviceExists() {
        return shell(std::string("ip link show dev ") + kDevice + " >/dev/null 2>&1").status == 0;
    }
    static std::string addresses(const char* family) {
        return shell(std::string("ip -o ") + family + " addr show dev " + kDevice).output;
    }

    // Starts and waits until the tunnel is up.
    void bringUp() {
        makeService().start();
        ASSERT_TRUE(waitForStatus(Status::connected)) << serviceLog();
    }

    std::string onlyProfile() {
        const auto profiles = Nmcli::vpnProfilesOf(kProvider);
        EXPECT_THAT(profiles, SizeIs(1));
        return profiles.empty() ? "" : profiles.front();
    }

    TestLogger log_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<NetworkManagerVpnPlatform> platform_;
    std::shared_ptr<VPNTunnelService> service_;
    Subscription subscription_;
    std::vector<Status> published_;
};

// --- start and stop ---

TEST_F(ATunnelServiceOnNetworkManager, CreatesItsProfileOnTheFirstStart) {
    bringUp();
    const auto uuid = onlyProfile();
    EXPECT_EQ(Nmcli::field(uuid, "connection.id"), "Tarnwick");
    EXPECT_EQ(Nmcli::field(uuid, "connection.type"), "vpn");
    EXPECT_EQ(Nmcli::field(uuid, "connection.autoconnect"), "no");
    EXPECT_EQ(Nmcli::field(uuid, "connection.permissions"), "user\\:root");  // nmcli escapes the colon
    EXPECT_EQ(Nmcli::field(uuid, "vpn.service-type"), kProvider);
    EXPECT_EQ(Nmcli::field(uuid, "vpn.data"),
              "disconnect-on-sleep = no, enabled = yes, server-address = localhost");
    EXPECT_EQ(Nmcli::field(uuid, "ipv4.method"), "auto");
    EXPECT_EQ(logged("Found existing manager(s) but none match Tarnwick; creating a new manager"), 0u);
}

TEST_F(ATunnelServiceOnNetworkManager, BringsTheTunnelUpThroughTheProvider) {
    bringUp();
    const auto published = takePublished();
    ASSERT_GE(published.size(), 2u);
    EXPECT_THAT(std::vector(published.end() - 2, published.end()),
                ElementsAre(Status::connecting, Status::connected));
    EXPECT_THAT(published, ::testing::Not(::testing::Contains(Status::error)));
    EXPECT_EQ(logged("Tunnel start initiated successfully"), 1u);
    EXPECT_THAT(addresses("-4"), HasSubstr("inet 10.0.0.1/24"));
    EXPECT_THAT(addresses("-6"), IsEmpty());
    EXPECT_EQ(shell(std::string("cat /proc/sys/net/ipv6/conf/") + kDevice + "/disable_ipv6").output,
              "1\n");
}

TEST_F(ATunnelServiceOnNetworkManager, RoutesNothingButTheTunnelsOwnSubnetIntoIt) {
    bringUp();
    EXPECT_EQ(shell(std::string("ip -4 route show dev ") + kDevice + " | cut -d' ' -f1").output,
              "10.0.0.0/24\n");
    EXPECT_THAT(shell("ip -4 route show default").output, HasSubstr("dev veth0"));
}

TEST_F(ATunnelServiceOnNetworkManager, StopsTheTunnelAndRemovesTheDevice) {
    bringUp();
    takePublished();
    service_->stop();
    ASSERT_TRUE(waitForStatus(Status::disconnected));
    auto published = takePublished();
    // A last announcement of the start may repeat "connected" first.
    if (!published.empty() && published.front() == Status::connected) published.erase(published.begin());
    EXPECT_THAT(published, ElementsAre(Status::disconnecting, Status::disconnected));
    EXPECT_TRUE(pollUntil([] { return !deviceExists(); }));
}

TEST_F(ATunnelServiceOnNetworkManager, StartsAgainAfterAStop) {
    bringUp();
    service_->stop();
    ASSERT_TRUE(waitForStatus(Status::disconnected));
    ASSERT_TRUE(pollUntil([] { return !deviceExists(); }));
    service_->start();
    ASSERT_TRUE(waitForStatus(Status::connected)) << serviceLog();
    EXPECT_THAT(addresses("-4"), HasSubstr("inet 10.0.0.1/24"));
    EXPECT_THAT(Nmcli::vpnProfilesOf(kProvider), SizeIs(1));
}

TEST_F(ATunnelServiceOnNetworkManager, FollowsATunnelBroughtUpAndDownFromOutside) {
    auto& service = makeService();
    bool saved = false;
    service.ensureConfigurationSaved([&] { saved = true; });
    ASSERT_TRUE(pollUntil([&] { return saved; }));
    const auto uuid = onlyProfile();
    takePublished();
    Nmcli::run("connection up " + uuid);
    ASSERT_TRUE(waitForStatus(Status::connected));
    Nmcli::run("connection down " + uuid);
    ASSERT_TRUE(waitForStatus(Status::disconnected));
    const auto published = takePublished();
    EXPECT_THAT(std::vector(published.end() - 2, published.end()),
                ElementsAre(Status::disconnecting, Status::disconnected));
}

// --- a provider that fails ---

TEST_F(ATunnelServiceOnNetworkManager, EndsInErrorWhenTheProviderCannotMakeItsDeviceAndRetriesOnTheNextChange) {
    // A device of another kind under the tunnel's name: the provider's TUN device cannot be made.
    ASSERT_EQ(shell(std::string("ip link add ") + kDevice + " type veth peer name tarnwick0-peer").status, 0);
    makeService().start();
    ASSERT_TRUE(waitForStatus(Status::error)) << serviceLog();
    EXPECT_TRUE(service_->pendingStartAfterApproval());
    EXPECT_GE(NmSandbox::logCount("PacketTunnelProvider: Failed to set tunnel network settings: "
                                   "Could not create the tunnel device tarnwick0"),
              1);
    // It stays in error: the failed activation's own transitions are not announced afterwards.
    letNetworkManagerSettle();
    EXPECT_EQ(service_->connectionStatus().get(), Status::error);
    const auto starts = logged("Starting VPN tunnel (current status: 1)");

    shell(std::string("ip link del ") + kDevice);
    Nmcli::run("connection modify " + onlyProfile() + " connection.id Renamed");
    ASSERT_TRUE(waitForStatus(Status::connected)) << NmSandbox::logTail();
    EXPECT_GT(logged("Starting VPN tunnel (current status: 1)"), starts);
    EXPECT_FALSE(service_->pendingStartAfterApproval());
}

// --- profiles changed from outside ---

TEST_F(ATunnelServiceOnNetworkManager, EnablesAProfileDisabledFromOutsideOnTheNextChange) {
    auto& service = makeService();
    bool saved = false;
    service.ensureConfigurationSaved([&] { saved = true; });
    ASSERT_TRUE(pollUntil([&] { return saved; }));
    const auto uuid = onlyProfile();
    Nmcli::run("connection modify " + uuid + " +vpn.data enabled=no");
    EXPECT_TRUE(pollUntil([&] { return Nmcli::field(uuid, "vpn.data").find("enabled = yes") != std::string::npos; }));
}

TEST_F(ATunnelServiceOnNetworkManager, GivesAProfileRenamedFromOutsideItsNameBackAndKeepsTheRest) {
    auto& service = makeService();
    bool saved = false;
    service.ensureConfigurationSaved([&] { saved = true; });
    ASSERT_TRUE(pollUntil([&] { return saved; }));
    const auto uuid = onlyProfile();
    Nmcli::run("connection modify " + uuid + " connection.id Mine connection.zone trusted");
    EXPECT_TRUE(pollUntil([&] { return Nmcli::field(uuid, "connection.id") == "Tarnwick"; }));
    EXPECT_EQ(Nmcli::field(uuid, "connection.zone"), "trusted");
    EXPECT_THAT(Nmcli::vpnProfilesOf(kProvider), SizeIs(1));
}

TEST_F(ATunnelServiceOnNetworkManager, RemovesEveryMatchingProfileAndNoOther) {
    const auto first = Nmcli::addVpn("Tarnwick", kProvider);
    const auto second = Nmcli::addVpn("Tarnwick 2", kProvider);
    const auto other = Nmcli::addVpn("Other", "org.example.OtherVpn");
    ASSERT_FALSE(other.empty());
    auto& service = makeService();
    bool removed = false;
    service.removeConfiguration([&] { removed = true; });
    ASSERT_TRUE(pollUntil([&] { return removed; }));
    EXPECT_EQ(logged("Removed 2 VPN configuration(s)"), 1u);
    EXPECT_THAT(Nmcli::vpnProfiles(), ElementsAre(other));
    EXPECT_EQ(Nmcli::field(other, "connection.id"), "Other");
    EXPECT_EQ(service.connectionStatus().get(), Status::disconnected);
}

TEST_F(ATunnelServiceOnNetworkManager, AdoptsAnExistingProfileInsteadOfAddingOne) {
    const auto existing = Nmcli::addVpn("Tarnwick", kProvider);
    bringUp();
    EXPECT_EQ(logged("Adopted existing VPN configuration"), 1u);
    EXPECT_THAT(Nmcli::vpnProfilesOf(kProvider), ElementsAre(existing));
}

// --- the port itself ---

class ANetworkManagerVpnPlatform : public ATunnelServiceOnNetworkManager {
protected:
    VpnPlatform::Configurations loadAll() {
        std::optional<std::expected<VpnPlatform::Configurations, VpnError>> result;
        platform_->loadAll([&](auto loaded) {
            main_->post([&result, loaded] { result = loaded; });
        });
        EXPECT_TRUE(pollUntil([&] { return result.has_value(); }));
        EXPECT_TRUE(result && *result);
        return result && *result ? **result : VpnPlatform::Configurations{};
    }

    std::optional<VpnError> wait(const std::function<void(VpnConfiguration::Completion)>& operation) {
        std::optional<std::optional<VpnError>> outcome;
        operation([&](std::optional<VpnError> error) {
            main_->post([&outcome, error] { outcome = error; });
        });
        EXPECT_TRUE(pollUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(std::nullopt);
    }

    std::shared_ptr<VpnConfiguration> savedConfiguration() {
        auto configuration = platform_->makeConfiguration();
        configuration->setProtocol(TunnelProtocol{"localhost", kProvider, false});
        configuration->setLocalizedDescription("Tarnwick");
        configuration->setEnabled(true);
        EXPECT_EQ(wait([&](auto done) { configuration->save(done); }), std::nullopt);
        return configuration;
    }
};

TEST_F(ANetworkManagerVpnPlatform, ListsOnlyVpnProfilesInNetworkManagersOrder) {
    Nmcli::addVpn("A", kProvider);
    Nmcli::addVpn("B", "org.example.OtherVpn");
    const auto configurations = loadAll();
    ASSERT_THAT(configurations, SizeIs(2));
    std::vector<std::string> names;
    for (const auto& configuration : configurations) {
        names.push_back(configuration->localizedDescription().value_or(""));
    }
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("A", "B"));
    EXPECT_EQ(configurations[0]->protocol()->serverAddress, "localhost");
}

TEST_F(ANetworkManagerVpnPlatform, GivesANewConfigurationNoProtocolUntilOneIsSet) {
    auto configuration = platform_->makeConfiguration();
    EXPECT_EQ(configuration->protocol(), std::nullopt);
    EXPECT_FALSE(configuration->isEnabled());
    EXPECT_EQ(configuration->connectionStatus(), VpnConfiguration::kStatusDisconnected);
    EXPECT_EQ(wait([&](auto done) { configuration->load(done); }), std::nullopt);
}

TEST_F(ANetworkManagerVpnPlatform, ALastReferenceDroppedOnItsOwnThreadIsReleasedOnTheMainQueue) {
    auto configuration = savedConfiguration();
    std::weak_ptr<NetworkManagerVpnPlatform> weak = platform_;
    auto* platform = platform_.get();
    platform->onClient([held = std::move(platform_), configuration = std::move(configuration)](auto&) mutable {
        held.reset();
        configuration.reset();
    });
    ASSERT_TRUE(pollUntil([&] { return weak.expired(); }));
    main_->runUntilIdle();
}

TEST_F(ANetworkManagerVpnPlatform, RefusesToStartAConfigurationThatIsNotSaved) {
    const auto error = wait([&](auto done) { platform_->makeConfiguration()->startTunnel(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VpnError::kConfigurationInvalid);
}

TEST_F(ANetworkManagerVpnPlatform, RefusesToStartADisabledConfiguration) {
    auto configuration = savedConfiguration();
    configuration->setEnabled(false);
    ASSERT_EQ(wait([&](auto done) { configuration->save(done); }), std::nullopt);
    const auto error = wait([&](auto done) { configuration->startTunnel(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VpnError::kConfigurationDisabled);
    EXPECT_FALSE(deviceExists());
}

TEST_F(ANetworkManagerVpnPlatform, ReportsAMissingPluginAsDisabledWithNetworkManagersText) {
    auto configuration = savedConfiguration();
    const auto registration = NmSandbox::packageRegistrations() / (std::string(kProvider) + ".name");
    const auto kept = NmSandbox::directory() / "kept.name";
    std::filesystem::copy_file(registration, kept);
    std::filesystem::remove(registration);
    std::optional<VpnError> error;
    // NetworkManager notices the removal a moment later.
    ASSERT_TRUE(pollUntil([&] {
        error = wait([&](auto done) { configuration->startTunnel(done); });
        if (!error) {
            configuration->stopTunnel();
            pollUntil([&] { return configuration->connectionStatus() == VpnConfiguration::kStatusDisconnected; });
        }
        return error.has_value();
    }));
    EXPECT_EQ(error->code, VpnError::kConfigurationDisabled);
    EXPECT_EQ(error->domain, "org.freedesktop.NetworkManager.ConnectionNotAvailable");
    EXPECT_THAT(error->localizedDescription, HasSubstr("was not installed"));
    std::filesystem::copy_file(kept, registration);
}

TEST_F(ANetworkManagerVpnPlatform, ReportsAMissingBaseConnectionAsAnotherFailureWithNetworkManagersText) {
    auto configuration = savedConfiguration();
    Nmcli::run("connection down base");
    const auto error = wait([&](auto done) { configuration->startTunnel(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NmError::kConnectionFailed) << error->domain << ": " << error->localizedDescription;
    EXPECT_THAT(error->domain, HasSubstr("org.freedesktop.NetworkManager"));
    EXPECT_FALSE(error->localizedDescription.empty());
}

TEST_F(ANetworkManagerVpnPlatform, KeepsAHandleWorkingWhenItsProfileComesBackUnderAnotherPath) {
    auto configuration = savedConfiguration();
    const auto uuid = onlyProfile();
    Nmcli::run("connection delete " + uuid);
    Nmcli::run("connection add type vpn con-name Again vpn-type " + std::string(kProvider) +
               " connection.uuid " + uuid +
               " autoconnect no vpn.data 'server-address=localhost, enabled=yes'");
    EXPECT_EQ(wait([&](auto done) { configuration->load(done); }), std::nullopt);
    EXPECT_EQ(configuration->localizedDescription(), "Again");
    const auto error = wait([&](auto done) { configuration->startTunnel(done); });
    EXPECT_EQ(error, std::nullopt) << error->domain << ": " << error->localizedDescription;
    EXPECT_TRUE(pollUntil([&] {
        return configuration->connectionStatus() == VpnConfiguration::kStatusConnected;
    }));
}

TEST_F(ANetworkManagerVpnPlatform, ReportsRemovingAProfileThatIsGoneAsInvalid) {
    auto configuration = savedConfiguration();
    Nmcli::run("connection delete " + onlyProfile());
    const auto error = wait([&](auto done) { configuration->remove(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VpnError::kConfigurationInvalid);
}

TEST_F(ANetworkManagerVpnPlatform, AnnouncesOnlyRealChangesOfVpnProfiles) {
    auto configuration = savedConfiguration();
    std::atomic<int> changes = 0;
    auto subscription = platform_->observeConfigurationChanges([&] { ++changes; });
    Nmcli::run("connection modify base ipv4.dns 192.0.2.53");  // not a VPN profile
    Nmcli::run("connection modify " + onlyProfile() + " connection.id Renamed");
    ASSERT_TRUE(pollUntil([&] { return changes.load() >= 1; }));
    letNetworkManagerSettle();
    EXPECT_EQ(changes.load(), 1);
}

}  // namespace
}  // namespace tw
