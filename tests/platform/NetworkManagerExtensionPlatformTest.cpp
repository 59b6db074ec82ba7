#include "app/platform/linux/NetworkManagerExtensionPlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tests/platform/NmSandbox.h"
#include "tests/platform/Nmcli.h"
#include "tests/platform/PollUntil.h"
#include "tests/platform/SandboxSkip.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Platform = NetworkManagerExtensionPlatform;

constexpr auto kIdentifier = TW_EXTENSION_IDENTIFIER;
const std::filesystem::path kInstalled = "/etc/NetworkManager/VPN";

// What one activation request was told, from whichever thread.
struct Answers {
    std::mutex mutex;
    int approvalsAsked = 0;
    std::vector<SystemExtensionRequestResult> finished;
    std::vector<SystemExtensionError> failed;
    std::vector<std::pair<SystemExtensionProperties, SystemExtensionProperties>> replacements;
    SystemExtensionReplacementAction answer = SystemExtensionReplacementAction::replace;

    SystemExtensionActivationDelegate delegate() {
        SystemExtensionActivationDelegate delegate;
        delegate.needsUserApproval = [this] {
            std::lock_guard lock(mutex);
            ++approvalsAsked;
        };
        delegate.finished = [this](SystemExtensionRequestResult result) {
            std::lock_guard lock(mutex);
            finished.push_back(result);
        };
        delegate.failed = [this](const SystemExtensionError& error) {
            std::lock_guard lock(mutex);
            failed.push_back(error);
        };
        delegate.replacingExtension = [this](const auto& installed, const auto& replacement,
                                             auto reply) {
            {
                std::lock_guard lock(mutex);
                replacements.emplace_back(installed, replacement);
            }
            reply(answer);
        };
        return delegate;
    }
    bool isOver() {
        std::lock_guard lock(mutex);
        return !finished.empty() || !failed.empty();
    }
};

// The registration backend with the sandbox's NetworkManager folders (/etc/NetworkManager/VPN is
// the sandbox's), a bus-policy folder the sandbox's bus reads, a program place of the test's and
// a stand-in for pkexec that runs the script at once as root (the test runs as root), or
// answers as a dismissed prompt or a failure when told.
class ANetworkManagerRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        TW_SKIP_WITHOUT_SANDBOX();
        std::ofstream(pkexec_) << "#!/bin/sh\n"
                                  "echo prompt >> " << dir_.file("prompts") << "\n"
                                  "[ -e " << dir_.file("dismiss") << " ] && exit 126\n"
                                  "[ -e " << dir_.file("refuse") << " ] && { echo 'Not authorized' >&2; exit 127; }\n"
                                  "[ -e " << dir_.file("fail") << " ] && { echo broken >&2; exit 3; }\n"
                                  "exec \"$@\"\n";
        std::filesystem::permissions(pkexec_, std::filesystem::perms::owner_all);
        paths_.registrationFolders = {kInstalled};
        paths_.busPolicyFolder = NmSandbox::directory() / "system.d";
        paths_.program = dir_.path() / "libexec" / "tarnwick-packettunnel";
        paths_.pkexec = pkexec_;
    }

    void TearDown() override {
        if (SandboxSkip::reason()) return;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(kInstalled, ignored)) {
            std::filesystem::remove(entry.path(), ignored);
        }
        // Removing a registration makes NetworkManager forget the plugin, also the package's
        // registration of it; a new file it reads again.
        const auto package = NmSandbox::packageRegistrations() / (std::string(kIdentifier) + ".name");
        std::ostringstream text;
        text << std::ifstream(package).rdbuf();
        std::filesystem::remove(package, ignored);
        std::ofstream(package) << text.str();
        std::filesystem::remove(paths_.busPolicyFolder / (std::string(kIdentifier) + ".conf"), ignored);
    }

    std::shared_ptr<Platform> make(const std::filesystem::path& bundle = TW_BUNDLE_DIR) {
        platform_ = Platform::create(main_, bundle, paths_);
        return platform_;
    }

    // A registration of `identifier` in `folder` whose program sits in a folder of its own with
    // an Info.json of `version`.
    std::filesystem::path writeRegistration(const std::filesystem::path& folder,
                                            const std::string& identifier,
                                            const std::string& version, bool executable = true) {
        const auto programFolder = dir_.path() / ("program-" + identifier + "-" + version);
        std::filesystem::create_directories(programFolder);
        const auto program = programFolder / "tarnwick-packettunnel";
        std::ofstream(program) << "#!/bin/sh\n";
        std::filesystem::permissions(program, executable ? std::filesystem::perms::owner_all
                                                         : std::filesystem::perms::owner_read);
        std::ofstream(programFolder / "Info.json")
            << R"({"CFBundleIdentifier":")" << identifier
            << R"(","CFBundleShortVersionString":")" << version << "\"}";
        const auto file = folder / (identifier + ".name");
        std::ofstream(file) << "[VPN Connection]\nname=x\nservice=" << identifier
                            << "\nprogram=" << program.string() << "\n";
        return file;
    }

    // How often the stand-in for pkexec ran.
    int prompts() const {
        std::ifstream log(dir_.file("prompts"));
        int count = 0;
        for (std::string line; std::getline(log, line);) ++count;
        return count;
    }

    std::optional<SystemExtensionProperties> probe(const std::string& identifier) {
        std::optional<SystemExtensionProperties> found;
        platform_->submitPropertiesRequest(identifier, [&](auto result) {
            ASSERT_TRUE(result);
            for (const auto& extension : *result) {
                if (extension.identifier == identifier) found = extension;
            }
        });
        return found;
    }

    TempDir dir_;
    std::filesystem::path pkexec_ = dir_.path() / "pkexec";
    NmExtensionPaths paths_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<Platform> platform_;
    Answers answers_;
};

// --- activation ---

TEST_F(ANetworkManagerRegistration, CompletesAtOnceWhenThisVersionIsInstalled) {
    // The sandbox's package folder holds a registration of the bundle's own program.
    paths_.registrationFolders.push_back(NmSandbox::packageRegistrations());
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    EXPECT_THAT(answers_.finished, ::testing::ElementsAre(SystemExtensionRequestResult::completed));
    EXPECT_EQ(answers_.approvalsAsked, 0);
}

TEST_F(ANetworkManagerRegistration, WaitsForApprovalWhenNothingIsInstalled) {
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    EXPECT_EQ(answers_.approvalsAsked, 1);
    EXPECT_FALSE(answers_.isOver());
}

TEST_F(ANetworkManagerRegistration, InstallsOnApprovalAndCompletesTheWaitingRequest) {
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    ASSERT_EQ(platform_->settingsTargets().front(), Platform::kInstallTarget);
    ASSERT_TRUE(platform_->openSettingsTarget(Platform::kInstallTarget));
    ASSERT_TRUE(pollUntil([&] { return answers_.isOver(); }));
    EXPECT_THAT(answers_.finished, ::testing::ElementsAre(SystemExtensionRequestResult::completed));
    EXPECT_THAT(answers_.failed, IsEmpty());

    const auto registration = kInstalled / (std::string(kIdentifier) + ".name");
    struct stat status {};
    ASSERT_EQ(::stat(registration.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    std::ostringstream text;
    text << std::ifstream(registration).rdbuf();
    const auto contents = text.str();
    EXPECT_THAT(contents, HasSubstr("service=" + std::string(kIdentifier) + "\n"));
    EXPECT_THAT(contents, HasSubstr("program=" + paths_.program.string() + "\n"));
    EXPECT_EQ(::access(paths_.program.c_str(), X_OK), 0);
    EXPECT_TRUE(std::filesystem::exists(paths_.program.parent_path() / "Info.json"));
    EXPECT_TRUE(std::filesystem::exists(paths_.busPolicyFolder / (std::string(kIdentifier) + ".conf")));
    EXPECT_THAT(probe(kIdentifier), ::testing::Optional(Field(&SystemExtensionProperties::isEnabled, true)));
}

TEST_F(ANetworkManagerRegistration, InstallsARegistrationNetworkManagerStartsTheTunnelFrom) {
    const auto package = NmSandbox::packageRegistrations() / (std::string(kIdentifier) + ".name");
    const auto kept = dir_.path() / "package.name";
    std::filesystem::copy_file(package, kept);
    std::filesystem::remove(package);
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    ASSERT_TRUE(platform_->openSettingsTarget(Platform::kInstallTarget));
    ASSERT_TRUE(pollUntil([&] { return answers_.isOver(); }));
    ASSERT_THAT(answers_.finished, ::testing::ElementsAre(SystemExtensionRequestResult::completed));

    const auto uuid = Nmcli::addVpn("Tarnwick", kIdentifier);
    // NetworkManager picks the new registration up on its own, a moment later.
    EXPECT_TRUE(pollUntil([&] { return Nmcli::run("connection up " + uuid, true) != ""; }))
        << NmSandbox::logTail();
    EXPECT_EQ(shell("ip -o -4 addr show dev tarnwick0").status, 0);
    EXPECT_GE(NmSandbox::logCount("starting: VPN service has PID"), 1);
    const auto pid = shell("pgrep -f -x '" + paths_.program.string() + "'");
    EXPECT_EQ(pid.status, 0) << "the installed program runs the tunnel";
    Nmcli::run("connection delete " + uuid);
    NmSandbox::endPlugin();
    std::filesystem::copy_file(kept, package);
}

TEST_F(ANetworkManagerRegistration, LeavesTheRequestWaitingWhenThePromptIsDismissed) {
    std::ofstream(dir_.file("dismiss")) << "";
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    // One script runs at a time, so a second prompt starts only once the first is answered.
    ASSERT_TRUE(pollUntil([&] {
        platform_->openSettingsTarget(Platform::kInstallTarget);
        return prompts() >= 2;
    }));
    EXPECT_FALSE(answers_.isOver());
    EXPECT_FALSE(std::filesystem::exists(kInstalled / (std::string(kIdentifier) + ".name")));

    std::filesystem::remove(dir_.file("dismiss"));
    ASSERT_TRUE(pollUntil([&] {
        platform_->openSettingsTarget(Platform::kInstallTarget);
        return answers_.isOver();
    }));
    EXPECT_THAT(answers_.finished, ::testing::ElementsAre(SystemExtensionRequestResult::completed));
    EXPECT_THAT(answers_.failed, IsEmpty());
}

TEST_F(ANetworkManagerRegistration, FailsTheWaitingRequestWhenPolkitRefuses) {
    std::ofstream(dir_.file("refuse")) << "";
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    ASSERT_TRUE(platform_->openSettingsTarget(Platform::kInstallTarget));
    ASSERT_TRUE(pollUntil([&] { return answers_.isOver(); }));
    ASSERT_EQ(answers_.failed.size(), 1u);
    EXPECT_EQ(answers_.failed[0].code, 127);
    EXPECT_THAT(answers_.failed[0].localizedDescription, HasSubstr("Not authorized"));
}

TEST_F(ANetworkManagerRegistration, FailsTheWaitingRequestWhenTheInstallFails) {
    std::ofstream(dir_.file("fail")) << "";
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    ASSERT_TRUE(platform_->openSettingsTarget(Platform::kInstallTarget));
    ASSERT_TRUE(pollUntil([&] { return answers_.isOver(); }));
    ASSERT_EQ(answers_.failed.size(), 1u);
    EXPECT_EQ(answers_.failed[0].domain, Platform::kInstallDomain);
    EXPECT_EQ(answers_.failed[0].code, 3);
    EXPECT_THAT(answers_.failed[0].localizedDescription, HasSubstr("broken"));
}

// A file a user could have written would make root install the user's program and bus policy.
TEST_F(ANetworkManagerRegistration, RefusesToInstallFromABundleAUserCouldHaveChanged) {
    const auto bundle = dir_.path() / "bundle";
    std::filesystem::copy(TW_BUNDLE_DIR, bundle, std::filesystem::copy_options::recursive);
    const auto program = bundle / "Library" / "SystemExtensions" /
                         (std::string(kIdentifier) + ".systemextension") / "tarnwick-packettunnel";
    ::chmod(program.c_str(), 0775);
    make(bundle)->submitActivationRequest(kIdentifier, answers_.delegate());
    EXPECT_FALSE(platform_->openSettingsTarget(Platform::kInstallTarget));
    ASSERT_EQ(answers_.failed.size(), 1u);
    EXPECT_EQ(answers_.failed[0].code, Platform::kBundleNotRootOwned);
    EXPECT_THAT(answers_.failed[0].localizedDescription,
                HasSubstr(program.string() + " is writable by group or others"));
    EXPECT_EQ(prompts(), 0);
    EXPECT_FALSE(std::filesystem::exists(paths_.program));
}

TEST_F(ANetworkManagerRegistration, OffersNoInstallWithoutPkexec) {
    paths_.pkexec = dir_.file("no-such-pkexec");
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    EXPECT_FALSE(platform_->openSettingsTarget(Platform::kInstallTarget));
}

TEST_F(ANetworkManagerRegistration, SupersedesAWaitingRequestWithANewerOne) {
    Answers newer;
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    platform_->submitActivationRequest(kIdentifier, newer.delegate());
    ASSERT_EQ(answers_.failed.size(), 1u);
    EXPECT_TRUE(answers_.failed[0].hasCode(SystemExtensionError::kRequestSuperseded));
    EXPECT_EQ(newer.approvalsAsked, 1);
    EXPECT_FALSE(newer.isOver());
}

TEST_F(ANetworkManagerRegistration, AsksBeforeReplacingAnotherVersionAndWaitsForApproval) {
    writeRegistration(kInstalled, kIdentifier, "0.0.9");
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    ASSERT_EQ(answers_.replacements.size(), 1u);
    EXPECT_EQ(answers_.replacements[0].first.version, "0.0.9");
    EXPECT_EQ(answers_.replacements[0].second.version, "0.1.0");
    EXPECT_EQ(answers_.approvalsAsked, 1);
}

TEST_F(ANetworkManagerRegistration, KeepsAnotherVersionWhenTheReplacementIsCancelled) {
    writeRegistration(kInstalled, kIdentifier, "0.0.9");
    answers_.answer = SystemExtensionReplacementAction::cancel;
    make()->submitActivationRequest(kIdentifier, answers_.delegate());
    ASSERT_EQ(answers_.failed.size(), 1u);
    EXPECT_TRUE(answers_.failed[0].hasCode(SystemExtensionError::kRequestCanceled));
    EXPECT_EQ(answers_.approvalsAsked, 0);
}

TEST_F(ANetworkManagerRegistration, ReportsAnExtensionTheBundleDoesNotHoldAsNotFound) {
    make()->submitActivationRequest("com.example.Elsewhere", answers_.delegate());
    ASSERT_EQ(answers_.failed.size(), 1u);
    EXPECT_TRUE(answers_.failed[0].hasCode(Platform::kExtensionNotFound));
}

// --- the properties probe ---

TEST_F(ANetworkManagerRegistration, ProbesAnInstalledRegistrationOfThisVersion) {
    writeRegistration(kInstalled, kIdentifier, "0.1.0");
    make();
    EXPECT_EQ(probe(kIdentifier),
              (SystemExtensionProperties{kIdentifier, "0.1.0", true, false, false}));
}

TEST_F(ANetworkManagerRegistration, ProbesAMissingRegistrationAsAbsent) {
    make();
    EXPECT_EQ(probe(kIdentifier), std::nullopt);
}

TEST_F(ANetworkManagerRegistration, ProbesAnotherVersionAsAwaitingApproval) {
    writeRegistration(kInstalled, kIdentifier, "0.0.9");
    make();
    EXPECT_EQ(probe(kIdentifier),
              (SystemExtensionProperties{kIdentifier, "0.0.9", true, true, false}));
}

TEST_F(ANetworkManagerRegistration, ProbesARegistrationNetworkManagerWouldIgnoreAsDisabled) {
    const auto file = writeRegistration(kInstalled, kIdentifier, "0.1.0");
    ::chmod(file.c_str(), 0666);
    make();
    EXPECT_THAT(probe(kIdentifier), ::testing::Optional(Field(&SystemExtensionProperties::isEnabled, false)));
}

TEST_F(ANetworkManagerRegistration, ProbesARegistrationWhoseProgramCannotRunAsDisabled) {
    writeRegistration(kInstalled, kIdentifier, "0.1.0", false);
    make();
    EXPECT_THAT(probe(kIdentifier), ::testing::Optional(Field(&SystemExtensionProperties::isEnabled, false)));
}

TEST_F(ANetworkManagerRegistration, ListsOtherPluginsWithoutClaimingThem) {
    writeRegistration(kInstalled, "org.example.OtherVpn", "7");
    make();
    EXPECT_EQ(probe("org.example.OtherVpn"),
              (SystemExtensionProperties{"org.example.OtherVpn", "7", true, false, false}));
}

// --- the desktop ---

TEST_F(ANetworkManagerRegistration, OffersTheDesktopsNetworkSettingsAfterTheInstall) {
    EXPECT_THAT(make()->settingsTargets(),
                ::testing::ElementsAre(Platform::kInstallTarget, "gnome-control-center network",
                                       "systemsettings kcm_networkmanagement",
                                       "nm-connection-editor"));
}

TEST_F(ANetworkManagerRegistration, OpensTheFirstNetworkSettingsTheDesktopHas) {
    const auto bin = dir_.path() / "bin";
    std::filesystem::create_directories(bin);
    const auto program = bin / "systemsettings";
    std::ofstream(program) << "#!/bin/sh\necho \"$@\" > " << dir_.file("opening") << " && mv "
                           << dir_.file("opening") << ' ' << dir_.file("opened") << "\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ScopedEnv path("PATH", (bin.string() + ":/usr/bin:/bin").c_str());
    make();
    EXPECT_FALSE(platform_->openSettingsTarget("gnome-control-center network"));
    EXPECT_TRUE(platform_->openSettingsTarget("systemsettings kcm_networkmanagement"));
    EXPECT_TRUE(pollUntil([&] { return std::filesystem::exists(dir_.file("opened")); }));
    std::ifstream opened(dir_.file("opened"));
    std::string arguments;
    std::getline(opened, arguments);
    EXPECT_EQ(arguments, "kcm_networkmanagement");
    EXPECT_EQ(platform_->locateApplication("systemsettings"), program.string());
    EXPECT_EQ(platform_->locateApplication("gnome-control-center"), std::nullopt);
}

TEST_F(ANetworkManagerRegistration, TellsObserversOnTheMainQueueThatTheApplicationBecameActive) {
    make();
    int told = 0, toldGone = 0;
    auto subscription = platform_->observeApplicationDidBecomeActive([&] { ++told; });
    auto gone = platform_->observeApplicationDidBecomeActive([&] { ++toldGone; });
    gone.reset();
    platform_->applicationDidBecomeActive();
    EXPECT_EQ(told, 0);
    main_->runUntilIdle();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(toldGone, 0);
}

}  // namespace
}  // namespace tw
