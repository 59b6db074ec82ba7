#include "app/tunnel/SystemExtensionService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "base/NotificationCenter.h"
#include "tests/support/FakeSystemExtensionPlatform.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Result = SystemExtensionRequestResult;
using Action = SystemExtensionReplacementAction;
using From = FakeSystemExtensionPlatform::From;

constexpr auto kExtension = "com.tarnwick.desktop.PacketTunnel";

struct Flags {
    bool approved = false;
    bool waiting = false;
    std::optional<std::string> error;
    bool operator==(const Flags&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Flags& f) {
        return out << "{" << f.approved << "," << f.waiting << "," << f.error.value_or("-") << "}";
    }
};

const Flags kActivated{true, false, std::nullopt};
const Flags kAsked{false, true, std::nullopt};
const Flags kIdle{false, false, std::nullopt};

SystemExtensionError extensionError(std::int64_t code, std::string text = "Refused") {
    return {SystemExtensionError::kDomain, code, std::move(text)};
}

SystemExtensionProperties extension(std::string identifier = kExtension) {
    return {std::move(identifier), "1.0", true, false, false};
}

class SystemExtensionServiceTest : public ::testing::Test {
protected:
    SystemExtensionServiceTest() {
        write("Info.json", R"({"CFBundleIdentifier":"com.tarnwick.desktop"})");
        platform_->targets = {"approve", "network"};
        platform_->openableTargets = {"approve"};
        for (const char* name : {SystemExtensionService::kCompletedNotification,
                                 SystemExtensionService::kFailedNotification,
                                 SystemExtensionService::kNeedsApprovalNotification}) {
            observers_.push_back(
                center_->addObserver(name, [this, name] { posted.push_back(name); }));
        }
    }

    void write(const std::string& relative, const std::string& text) {
        const auto path = bundleDir_.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    SystemExtensionService& service() {
        if (!service_) {
            service_ = SystemExtensionService::create(main_, log_.logger(), platform_, center_,
                                                      Bundle(bundleDir_.path()));
            service_->onCompleted = [this] { called("completed"); };
            service_->onWillCompleteAfterReboot = [this] { called("afterReboot"); };
            service_->onNeedsUserApproval = [this] { called("needsApproval"); };
            service_->onFailed = [this] { called("failed"); };
        }
        return *service_;
    }

    // Records the callback with the flags it sees.
    void called(const std::string& name) {
        calls.push_back(name);
        flagsAtCall.push_back(flags());
    }

    Flags flags() {
        return {service().isApproved().get(), service().needsUserApproval().get(),
                service().lastErrorDescription().get()};
    }

    void activate() {
        service().activate();
        main_->runUntilIdle();
    }
    std::size_t lastRequest() const { return platform_->activations().size() - 1; }
    void finish(Result result = Result::completed) {
        platform_->finish(lastRequest(), result);
        main_->runUntilIdle();
    }
    void fail(SystemExtensionError error) {
        platform_->fail(lastRequest(), std::move(error));
        main_->runUntilIdle();
    }
    void needApproval() {
        platform_->needUserApproval(lastRequest());
        main_->runUntilIdle();
    }
    void becomeActive() {
        platform_->becomeActive();
        main_->runUntilIdle();
    }
    void reportProperties(std::vector<SystemExtensionProperties> extensions) {
        platform_->reportProperties(platform_->propertiesRequests().size() - 1,
                                    std::move(extensions));
        main_->runUntilIdle();
    }
    // Request 0 asks for approval, the user comes back, request 1 is submitted.
    void waitForApprovalThenComeBack() {
        activate();
        needApproval();
        becomeActive();
    }

    // The service's log lines, without the category.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (const auto& record : log_.records()) {
            if (record.starts_with("[SysExt] ")) result.push_back(record.substr(9));
        }
        return result;
    }
    std::size_t count(const std::string& line) const { return log_.count("[SysExt] " + line); }

    TempDir bundleDir_;
    TestLogger log_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeSystemExtensionPlatform> platform_ =
        std::make_shared<FakeSystemExtensionPlatform>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    std::vector<Subscription> observers_;
    std::vector<std::string> posted;
    std::vector<std::string> calls;
    std::vector<Flags> flagsAtCall;
    std::shared_ptr<SystemExtensionService> service_;
};

// --- submitting ---

TEST_F(SystemExtensionServiceTest, ASecondActivateWhileOneIsInFlightIsSkipped) {
    activate();
    activate();
    ASSERT_EQ(platform_->activations().size(), 1u);
    EXPECT_EQ(platform_->activations()[0].identifier, kExtension);
    EXPECT_THAT(lines(), ElementsAre("Activating extension com.tarnwick.desktop.PacketTunnel",
                                     "Activation already in progress, skipping"));
    finish();
    activate();
    EXPECT_EQ(platform_->activations().size(), 2u);
}

TEST_F(SystemExtensionServiceTest, ActivateFromAnotherThreadIsSubmittedOnTheMainQueue) {
    service();
    std::thread([this] { service_->activate(); }).join();
    EXPECT_TRUE(platform_->activations().empty());
    main_->runUntilIdle();
    EXPECT_EQ(platform_->activations().size(), 1u);
}

// --- outcomes ---

TEST_F(SystemExtensionServiceTest, CompletionActivatesAndTellsEveryoneOnceWithTheFlagsAlreadySet) {
    activate();
    finish();
    EXPECT_EQ(flags(), kActivated);
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kCompletedNotification));
    EXPECT_THAT(calls, ElementsAre("completed"));
    EXPECT_THAT(flagsAtCall, ElementsAre(kActivated));
    EXPECT_THAT(lines(), Contains("Completed"));
}

TEST_F(SystemExtensionServiceTest,
       WillCompleteAfterRebootClearsBothFlagsPostsNothingAndKeepsWaiting) {
    waitForApprovalThenComeBack();
    posted.clear();
    finish(Result::willCompleteAfterReboot);
    EXPECT_EQ(flags(), kIdle);
    EXPECT_THAT(posted, IsEmpty());
    EXPECT_THAT(calls, ElementsAre("needsApproval", "afterReboot"));
    EXPECT_THAT(lines(), Contains("Will complete after reboot"));
    EXPECT_EQ(platform_->becameActiveObserverCount(), 1u);
}

TEST_F(SystemExtensionServiceTest, AnUnexpectedResultOnlyClearsTheGuard) {
    activate();
    finish(static_cast<Result>(7));
    EXPECT_EQ(flags(), kIdle);
    EXPECT_THAT(posted, IsEmpty());
    EXPECT_THAT(lines(), Contains("Unexpected result 7"));
    activate();
    EXPECT_EQ(platform_->activations().size(), 2u);
}

TEST_F(SystemExtensionServiceTest, ApprovalNeededOpensTheSettingsAndWaitsForTheUser) {
    activate();
    needApproval();
    EXPECT_EQ(flags(), kAsked);
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kNeedsApprovalNotification));
    EXPECT_THAT(calls, ElementsAre("needsApproval"));
    EXPECT_THAT(flagsAtCall, ElementsAre(kAsked));
    EXPECT_THAT(lines(),
                Contains("Extension com.tarnwick.desktop.PacketTunnel requires user approval"));
    EXPECT_THAT(platform_->triedTargets, ElementsAre("approve"));
    EXPECT_EQ(platform_->becameActiveObserverCount(), 1u);
}

TEST_F(SystemExtensionServiceTest, ARefusalForWantOfAuthorizationWaitsWithTheRefusalsText) {
    activate();
    fail(extensionError(SystemExtensionError::kAuthorizationRequired, "Allow it first"));
    EXPECT_EQ(flags(), (Flags{false, true, "Allow it first"}));
    EXPECT_THAT(
        lines(),
        ElementsAre("Activating extension com.tarnwick.desktop.PacketTunnel",
                    "Request failed: domain=SystemExtensionErrorDomain code=13 Allow it first",
                    "Extension needs user approval: Allow it first"));
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kNeedsApprovalNotification));
    EXPECT_THAT(platform_->triedTargets, ElementsAre("approve"));
    EXPECT_EQ(platform_->becameActiveObserverCount(), 1u);
}

TEST_F(SystemExtensionServiceTest, AFailureOfAnotherLayerFailsAtOnceWithoutAProbe) {
    activate();
    fail({"org.freedesktop.NetworkManager", SystemExtensionError::kRequestCanceled, "No bus"});
    EXPECT_EQ(flags(), (Flags{false, false, "No bus"}));
    EXPECT_TRUE(platform_->propertiesRequests().empty());
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kFailedNotification));
    EXPECT_THAT(calls, ElementsAre("failed"));
    EXPECT_THAT(lines(), Contains("Extension not available: No bus"));
}

TEST_F(SystemExtensionServiceTest, ACancelKeepsTheFlagsExactlyAsTheyWere) {
    activate();
    fail(extensionError(SystemExtensionError::kAuthorizationRequired, "Allow it first"));
    posted.clear();
    becomeActive();
    fail(extensionError(SystemExtensionError::kRequestCanceled));
    EXPECT_EQ(flags(), (Flags{false, true, "Allow it first"}));
    EXPECT_THAT(posted, IsEmpty());
    EXPECT_THAT(lines(), Contains("Activation canceled; keeping current state"));
    activate();
    EXPECT_EQ(platform_->activations().size(), 3u);
}

TEST_F(SystemExtensionServiceTest, AnInstalledCopyIsReplacedWhicheverVersionIsNewer) {
    activate();
    platform_->askToReplace(0, {kExtension, "0.9"}, {kExtension, "1.0"});
    platform_->askToReplace(0, {kExtension, "2.0"}, {kExtension, "1.0"});
    main_->runUntilIdle();
    EXPECT_THAT(platform_->replacementAnswers, ElementsAre(Action::replace, Action::replace));
    EXPECT_THAT(
        lines(),
        Contains(
            "Replacing extension com.tarnwick.desktop.PacketTunnel version 0.9 with version 1.0"));
    EXPECT_THAT(
        lines(),
        Contains(
            "Replacing extension com.tarnwick.desktop.PacketTunnel version 2.0 with version 1.0"));
}

// --- supersede and late answers ---

TEST_F(SystemExtensionServiceTest,
       ASupersededActivationKeepsTheGuardUntilTheReplacingRequestReports) {
    waitForApprovalThenComeBack();
    platform_->fail(0, extensionError(SystemExtensionError::kRequestSuperseded));
    main_->advance(10);
    EXPECT_THAT(lines(), Contains("Activation superseded; waiting for the replacing request"));
    activate();
    EXPECT_EQ(platform_->activations().size(), 2u);
    finish();
    main_->advance(30);
    EXPECT_EQ(flags(), kActivated);
    EXPECT_EQ(count("Replacing request never reported; clearing in-flight guard"), 0u);
}

TEST_F(SystemExtensionServiceTest,
       AReplacingRequestThatNeverReportsFreesTheGuardAfterThirtySeconds) {
    activate();
    fail(extensionError(SystemExtensionError::kRequestSuperseded));
    main_->advance(29.9);
    activate();
    EXPECT_EQ(platform_->activations().size(), 1u);
    main_->advance(0.1);
    EXPECT_EQ(count("Replacing request never reported; clearing in-flight guard"), 1u);
    activate();
    EXPECT_EQ(platform_->activations().size(), 2u);
}

TEST_F(SystemExtensionServiceTest, TheSupersedeTimerNeverFreesTheGuardOfALaterActivation) {
    waitForApprovalThenComeBack();
    platform_->fail(0, extensionError(SystemExtensionError::kRequestSuperseded));
    needApproval();
    becomeActive();  // the third request, now in flight
    main_->advance(30);
    EXPECT_EQ(count("Replacing request never reported; clearing in-flight guard"), 0u);
    activate();
    EXPECT_EQ(platform_->activations().size(), 3u);
}

TEST_F(SystemExtensionServiceTest, ALateAnswerToAnEarlierRequestIsIgnored) {
    waitForApprovalThenComeBack();
    posted.clear();
    platform_->finish(0, Result::completed);
    main_->runUntilIdle();
    EXPECT_EQ(flags(), kAsked);
    EXPECT_THAT(posted, IsEmpty());
    EXPECT_THAT(lines(),
                Contains("Ignoring a late answer to activation 1; activation 2 is current"));
    finish();
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kCompletedNotification));
}

// --- the properties probe ---

TEST_F(SystemExtensionServiceTest,
       ARefusalIsTurnedIntoSuccessWhenTheExtensionIsInstalledAndEnabled) {
    activate();
    fail(extensionError(4));
    ASSERT_EQ(platform_->propertiesRequests().size(), 1u);
    EXPECT_EQ(platform_->propertiesRequests()[0].identifier, kExtension);
    auto disabled = extension();
    disabled.isEnabled = false;
    reportProperties({extension("com.other.Tunnel"), disabled, extension()});
    EXPECT_EQ(flags(), kActivated);
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kCompletedNotification));
    EXPECT_THAT(lines(),
                Contains("Properties probe for com.tarnwick.desktop.PacketTunnel: installed=true"));
    EXPECT_THAT(
        lines(),
        Contains("Activation refused but an installed extension is enabled; continuing with it"));
}

class UnusableExtensionTest : public SystemExtensionServiceTest,
                              public ::testing::WithParamInterface<SystemExtensionProperties> {};

TEST_P(UnusableExtensionTest, ARefusalFailsWithItsOwnTextWhenTheExtensionIsNotUsable) {
    activate();
    fail(extensionError(4, "Not allowed"));
    reportProperties({GetParam()});
    EXPECT_EQ(flags(), (Flags{false, false, "Not allowed"}));
    EXPECT_THAT(posted, ElementsAre(SystemExtensionService::kFailedNotification));
    EXPECT_THAT(
        lines(),
        Contains("Properties probe for com.tarnwick.desktop.PacketTunnel: installed=false"));
}

INSTANTIATE_TEST_SUITE_P(
    Each, UnusableExtensionTest,
    ::testing::Values(SystemExtensionProperties{kExtension, "1.0", false, false, false},
                      SystemExtensionProperties{kExtension, "1.0", true, true, false},
                      SystemExtensionProperties{kExtension, "1.0", true, false, true},
                      SystemExtensionProperties{"com.other.Tunnel", "1.0", true, false, false}));

TEST_F(SystemExtensionServiceTest, AFailedPropertiesRequestCountsAsNotInstalled) {
    activate();
    fail(extensionError(4));
    platform_->failProperties(0, extensionError(1, "Cannot read"));
    main_->runUntilIdle();
    EXPECT_THAT(lines(), Contains("Properties request failed: Cannot read"));
    EXPECT_THAT(calls, ElementsAre("failed"));
}

TEST_F(SystemExtensionServiceTest, AProbeNeverAnsweredReportsNotInstalledOnceAfterFiveSeconds) {
    activate();
    fail(extensionError(4));
    main_->advance(4.9);
    EXPECT_THAT(calls, IsEmpty());
    main_->advance(0.1);
    reportProperties({extension()});
    main_->advance(10);
    EXPECT_EQ(count("Properties probe for com.tarnwick.desktop.PacketTunnel: installed=false"), 1u);
    EXPECT_EQ(count("Properties probe for com.tarnwick.desktop.PacketTunnel: installed=true"), 0u);
    EXPECT_THAT(calls, ElementsAre("failed"));
}

TEST_F(SystemExtensionServiceTest, AProbeAnsweredInTimeReportsOnlyItsAnswer) {
    activate();
    fail(extensionError(4));
    main_->advance(1);
    reportProperties({});
    main_->advance(10);
    EXPECT_EQ(count("Properties probe for com.tarnwick.desktop.PacketTunnel: installed=false"), 1u);
    EXPECT_THAT(calls, ElementsAre("failed"));
}

TEST_F(SystemExtensionServiceTest, AProbeForAnEarlierActivationDecidesNothing) {
    activate();
    fail(extensionError(4));
    activate();
    reportProperties({extension()});
    EXPECT_EQ(flags(), kIdle);
    EXPECT_THAT(posted, IsEmpty());
    EXPECT_THAT(lines(),
                Contains("Ignoring a late answer to activation 1; activation 2 is current"));
}

// --- the approval wait ---

TEST_F(SystemExtensionServiceTest, ComingBackWhileWaitingActivatesAgainUntilSuccessEndsTheWait) {
    activate();
    becomeActive();  // not waiting yet
    needApproval();
    becomeActive();
    becomeActive();
    EXPECT_EQ(count("App became active, re-trying activation"), 2u);
    EXPECT_EQ(count("Activation already in progress, skipping"), 1u);
    ASSERT_EQ(platform_->activations().size(), 2u);
    needApproval();
    EXPECT_EQ(platform_->becameActiveObserverCount(), 1u);
    becomeActive();
    finish();
    EXPECT_EQ(platform_->becameActiveObserverCount(), 0u);
    becomeActive();
    EXPECT_EQ(platform_->activations().size(), 3u);
    EXPECT_EQ(flags(), kActivated);
}

TEST_F(SystemExtensionServiceTest, AFailureEndsTheApprovalWait) {
    waitForApprovalThenComeBack();
    fail({"other", 1, "Broken"});
    EXPECT_EQ(platform_->becameActiveObserverCount(), 0u);
    becomeActive();
    EXPECT_EQ(platform_->activations().size(), 2u);
}

// --- the settings ---

TEST_F(SystemExtensionServiceTest, OpenSystemSettingsStopsAtTheFirstTargetThatOpens) {
    platform_->targets = {"a", "b", "c"};
    platform_->openableTargets = {"b"};
    platform_->applications = {"settings"};
    service().openSystemSettings();
    EXPECT_THAT(platform_->triedTargets, ElementsAre("a", "b"));
    EXPECT_THAT(platform_->lookedUpApplications, IsEmpty());
}

TEST_F(SystemExtensionServiceTest, OpenSystemSettingsFallsBackToTheFirstSettingsApplicationFound) {
    platform_->openableTargets.clear();
    platform_->applications = {"first", "second", "third"};
    platform_->installedApplications = {{"second", "/apps/second"}, {"third", "/apps/third"}};
    service().openSystemSettings();
    EXPECT_THAT(platform_->triedTargets, ElementsAre("approve", "network"));
    EXPECT_THAT(platform_->lookedUpApplications, ElementsAre("first", "second"));
    EXPECT_THAT(platform_->openedApplications, ElementsAre("/apps/second"));
}

TEST_F(SystemExtensionServiceTest, OpenSystemSettingsDoesNothingWhenNothingCanBeOpened) {
    platform_->openableTargets.clear();
    platform_->applications = {"first"};
    service().openSystemSettings();
    EXPECT_THAT(platform_->openedApplications, IsEmpty());
    EXPECT_THAT(lines(), IsEmpty());
}

// --- the extension identifier ---

TEST_F(SystemExtensionServiceTest, TheEmbeddedExtensionsOwnIdentifierIsUsed) {
    write("Library/SystemExtensions/a.plugin/Info.json",
          R"({"CFBundleIdentifier":"com.plugin.Wrong"})");
    write("Library/SystemExtensions/b.systemextension/Other.json", "{}");
    write("Library/SystemExtensions/c.systemextension/Info.json", R"({"CFBundleIdentifier":""})");
    write("Library/SystemExtensions/d.systemextension/Info.json", R"({"CFBundleIdentifier":7})");
    write("Library/SystemExtensions/e.systemextension/Info.json",
          R"({"CFBundleIdentifier":"../../x"})");
    write("Library/SystemExtensions/f.systemextension/Info.json",
          R"({"CFBundleIdentifier":"com.example.Tunnel"})");
    write("Library/SystemExtensions/g.systemextension/Info.json",
          R"({"CFBundleIdentifier":"com.example.Later"})");
    activate();
    EXPECT_EQ(platform_->activations()[0].identifier, "com.example.Tunnel");
}

TEST_F(SystemExtensionServiceTest,
       WithoutUsableEmbeddedExtensionTheApplicationsIdentifierIsExtended) {
    write("Info.json", R"({"CFBundleIdentifier":"com.example.app"})");
    write("Library/SystemExtensions/x.systemextension/Info.json",
          R"({"CFBundleIdentifier":"nodots"})");
    activate();
    EXPECT_EQ(platform_->activations()[0].identifier, "com.example.app.PacketTunnel");
}

TEST_F(SystemExtensionServiceTest, WithoutAnyUsableIdentifierTheDefaultIsUsedAndLogged) {
    for (const char* info :
         {"{}", R"({"CFBundleIdentifier":""})", R"({"CFBundleIdentifier":"com.a/b"})"}) {
        write("Info.json", info);
        service_.reset();
        activate();
        EXPECT_EQ(platform_->activations().back().identifier, kExtension) << info;
    }
    EXPECT_EQ(count("Missing host bundle identifier; falling back to default PacketTunnel id"), 3u);
}

// --- threads and lifetime ---

TEST_F(SystemExtensionServiceTest, AnAnswerTakesEffectOnlyWhenTheMainQueueRunsIt) {
    activate();
    platform_->finish(0, Result::completed);
    EXPECT_EQ(flags(), kIdle);
    EXPECT_THAT(posted, IsEmpty());
    main_->runUntilIdle();
    EXPECT_EQ(flags(), kActivated);
}

TEST_F(SystemExtensionServiceTest, AnswersFromAnotherThreadAreHandledOnTheMainQueue) {
    activate();
    platform_->needUserApproval(0, From::otherThread);
    ASSERT_TRUE(main_->runUntil([&] { return service().needsUserApproval().get(); }));
    becomeActive();
    platform_->fail(1, extensionError(4), From::otherThread);
    ASSERT_TRUE(main_->runUntil([&] { return !platform_->propertiesRequests().empty(); }));
    platform_->reportProperties(0, {extension()}, From::otherThread);
    ASSERT_TRUE(main_->runUntil([&] { return service().isApproved().get(); }));
    EXPECT_THAT(calls, ElementsAre("needsApproval", "completed"));
}

TEST_F(SystemExtensionServiceTest, AnswersAfterTheServiceIsGoneChangeNothingAndRefuseReplacement) {
    activate();
    service_.reset();
    platform_->finish(0, Result::completed);
    platform_->askToReplace(0, {kExtension, "0.9"}, {kExtension, "1.0"});
    main_->runUntilIdle();
    EXPECT_THAT(posted, IsEmpty());
    EXPECT_THAT(platform_->replacementAnswers, ElementsAre(Action::cancel));
}

}  // namespace
}  // namespace tw
