#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/platform/linux/AppcastUpdater.h"
#include "tests/platform/LocalFeedServer.h"
#include "tests/platform/QtWait.h"
#include "tests/support/FakeNotificationService.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Request = NotificationService::Request;

QByteArray feedOf(const std::string& version,
                  const std::string& link = "https://dl.tarnwick.example/t.deb") {
    return QByteArray::fromStdString(
        R"(<?xml version="1.0"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><item><title>Tarnwick )" +
        version + R"(</title><sparkle:shortVersionString>)" + version +
        R"(</sparkle:shortVersionString><enclosure url=")" + link +
        R"(" length="1"/></item></channel></rss>)");
}

class AppcastUpdaterTest : public ::testing::Test {
  protected:
    std::unique_ptr<AppcastUpdater> updater(const QString& feed, std::string installed = "0.1.0",
                                            AppcastUpdater::Limits limits = {}) {
        return std::make_unique<AppcastUpdater>(feed.toStdString(), std::move(installed),
                                                "Tarnwick", notifications_, limits);
    }

    // Runs one check to its end and returns the notifications it posted as title and body.
    std::vector<std::pair<std::string, std::string>> check(AppcastUpdater& updater) {
        updater.checkForUpdates();
        EXPECT_TRUE(waitUntil([&] { return updater.canCheckForUpdates().get(); }));
        return shown();
    }

    std::vector<std::pair<std::string, std::string>> shown() {
        main_->runUntilIdle();
        std::vector<std::pair<std::string, std::string>> texts;
        for (const auto& request : service_->addedRequests())
            texts.emplace_back(request.title, request.body);
        return texts;
    }

    using Texts = std::pair<std::string, std::string>;

    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeNotificationService> service_ = std::make_shared<FakeNotificationService>();
    TestLogger log_;
    std::shared_ptr<NotificationHelper> notifications_ =
        std::make_shared<NotificationHelper>(main_, service_, log_.logger());
    LocalFeedServer server_;
};

// The three outcomes.

TEST_F(AppcastUpdaterTest, ANewerReleaseIsAnnouncedWithItsDownloadLink) {
    server_.respond(200, feedOf("0.2.0"));
    const auto u = updater(server_.url());
    EXPECT_THAT(check(*u), ElementsAre(Texts("Tarnwick 0.2.0 is available",
                                             "You have version 0.1.0. Download the new version "
                                             "from https://dl.tarnwick.example/t.deb")));
}

TEST_F(AppcastUpdaterTest, ComparesTheVersionsAsNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.10.0", "Tarnwick 1.10.0 is available"},  // installed 1.9.9
        {"1.9.9.0", "Tarnwick is up to date"},
        {"1.9.10", "Tarnwick 1.9.10 is available"},
        {"1.9", "Tarnwick is up to date"}};
    const auto u = updater(server_.url(), "1.9.9");
    for (const auto& [feed, title] : cases) {
        server_.respond(200, feedOf(feed));
        EXPECT_EQ(check(*u).back().first, title) << feed;
    }
}

TEST_F(AppcastUpdaterTest, TheSameVersionIsUpToDate) {
    server_.respond(200, feedOf("0.1"));
    const auto u = updater(server_.url());
    EXPECT_THAT(check(*u), ElementsAre(Texts("Tarnwick is up to date",
                                             "Version 0.1.0 is the newest version available.")));
}

// Failures the user is told about.

TEST_F(AppcastUpdaterTest, AMalformedFeedFailsTheCheck) {
    server_.respond(200, "<rss><channel><item><title>cut off");
    const auto u = updater(server_.url());
    const auto texts = check(*u);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].first, "Could not check for updates");
    EXPECT_THAT(texts[0].second,
                ::testing::StartsWith("The update feed could not be read: line 1: "));
}

TEST_F(AppcastUpdaterTest, AFeedWithoutAReleaseFailsTheCheck) {
    server_.respond(200, feedOf("soon"));
    const auto u = updater(server_.url());
    EXPECT_THAT(check(*u),
                ElementsAre(Texts("Could not check for updates",
                                  "The update feed lists no release for this application.")));
}

TEST_F(AppcastUpdaterTest, AnUnreachableFeedFailsTheCheckWithTheNetworksReason) {
    const auto u = updater(LocalFeedServer::closedPortUrl());
    EXPECT_THAT(check(*u),
                ElementsAre(Texts("Could not check for updates",
                                  "The update feed could not be reached: Connection refused.")));
}

TEST_F(AppcastUpdaterTest, AnErrorStatusFailsTheCheckEvenWithAFeedInTheBody) {
    server_.respond(404, feedOf("9.0"));
    const auto u = updater(server_.url());
    EXPECT_THAT(check(*u), ElementsAre(Texts("Could not check for updates",
                                             "The update feed answered with HTTP status 404.")));
}

TEST_F(AppcastUpdaterTest, AFeedLargerThanOneMebibyteFailsTheCheck) {
    server_.respond(200, feedOf("9.0") + QByteArray(1024 * 1024, ' '));
    const auto u = updater(server_.url());
    EXPECT_THAT(check(*u), ElementsAre(Texts("Could not check for updates",
                                             "The update feed is larger than 1048576 bytes.")));
}

TEST_F(AppcastUpdaterTest, AFeedOfExactlyTheLimitIsRead) {
    const auto body = feedOf("9.0");
    server_.respond(200, body);
    const auto u = updater(server_.url(), "0.1.0", {.maxFeedBytes = body.size()});
    EXPECT_EQ(check(*u).at(0).first, "Tarnwick 9.0 is available");
}

TEST_F(AppcastUpdaterTest, AFeedThatNeverAnswersFailsTheCheckAtTheTimeLimit) {
    server_.staySilent();
    const auto u = updater(server_.url(), "0.1.0", {.timeout = std::chrono::milliseconds(200)});
    EXPECT_THAT(check(*u),
                ElementsAre(Texts("Could not check for updates",
                                  "The update feed did not answer within 0.2 seconds.")));
}

// Whether a check can start.

TEST_F(AppcastUpdaterTest, WithoutAFeedNoCheckCanStart) {
    const auto u = updater("");
    EXPECT_FALSE(u->canCheckForUpdates().get());
    u->checkForUpdates();
    EXPECT_THAT(shown(), IsEmpty());
}

TEST_F(AppcastUpdaterTest, NoSecondCheckStartsWhileOneRuns) {
    server_.staySilent();
    const auto u = updater(server_.url(), "0.1.0", {.timeout = std::chrono::milliseconds(200)});
    std::vector<bool> seen;
    const auto subscription =
        u->canCheckForUpdates().subscribe([&](const bool& value) { seen.push_back(value); });
    u->checkForUpdates();
    EXPECT_FALSE(u->canCheckForUpdates().get());
    u->checkForUpdates();
    EXPECT_TRUE(waitUntil([&] { return u->canCheckForUpdates().get(); }));
    EXPECT_EQ(server_.requests(), 1);
    EXPECT_THAT(seen, ElementsAre(false, true));
    EXPECT_EQ(shown().size(), 1u);
}

TEST_F(AppcastUpdaterTest, ASecondCheckAfterTheFirstAsksTheFeedAgain) {
    server_.respond(200, feedOf("0.1.0"));
    const auto u = updater(server_.url());
    check(*u);
    server_.respond(200, feedOf("0.3.0"));
    EXPECT_EQ(check(*u).at(1).first, "Tarnwick 0.3.0 is available");
    EXPECT_EQ(server_.requests(), 2);
}

TEST_F(AppcastUpdaterTest, ReadsTheFeedVersionAndNameFromTheBundle) {
    TempDir bundle;
    const auto write = [&](const std::string& info) {
        std::ofstream(bundle.file("Info.json")) << info;
    };
    write(R"({"CFBundleShortVersionString":"0.1.0"})");
    EXPECT_FALSE(AppcastUpdater::fromBundle(Bundle(bundle.path()), notifications_, {})
                     ->canCheckForUpdates()
                     .get());
    write(R"({"TWUpdateFeedURL":""})");
    EXPECT_FALSE(AppcastUpdater::fromBundle(Bundle(bundle.path()), notifications_, {})
                     ->canCheckForUpdates()
                     .get());
    write(R"({"TWUpdateFeedURL":["https://x.example/"]})");
    EXPECT_FALSE(AppcastUpdater::fromBundle(Bundle(bundle.path()), notifications_, {})
                     ->canCheckForUpdates()
                     .get());
    write(R"({"TWUpdateFeedURL":")" + server_.url().toStdString() +
          R"(","CFBundleShortVersionString":"1.0","CFBundleDisplayName":"Acme VPN"})");
    server_.respond(200, feedOf("1.1"));
    const auto u = AppcastUpdater::fromBundle(Bundle(bundle.path()), notifications_, {});
    EXPECT_TRUE(u->canCheckForUpdates().get());
    EXPECT_EQ(check(*u).at(0).first, "Acme VPN 1.1 is available");
}

// Refusals before any request.

TEST_F(AppcastUpdaterTest, OnlyHttpsFeedsOrPlainHttpToThisMachineAreAllowed) {
    for (const char* url :
         {"https://updates.tarnwick.example/appcast.xml", "http://127.0.0.1:8080/a.xml",
          "http://127.3.4.5/a.xml", "http://localhost/a.xml", "http://[::1]/a.xml"}) {
        EXPECT_TRUE(AppcastUpdater::isAllowedFeed(QUrl(url))) << url;
    }
    for (const char* url : {"http://updates.tarnwick.example/appcast.xml", "http://10.0.0.1/a.xml",
                            "ftp://127.0.0.1/a.xml", "file:///tmp/appcast.xml",
                            "https:///appcast.xml", "appcast.xml", ""}) {
        EXPECT_FALSE(AppcastUpdater::isAllowedFeed(QUrl(url))) << url;
    }
}

TEST_F(AppcastUpdaterTest, AFeedThatIsNotAllowedFailsTheCheckWithoutAnyRequest) {
    const auto u = updater("file:///etc/hostname");
    EXPECT_THAT(check(*u),
                ElementsAre(Texts("Could not check for updates",
                                  "The update feed's address is not a secure (https) address.")));
}

TEST_F(AppcastUpdaterTest, AnUnknownInstalledVersionFailsTheCheckWithoutAnyRequest) {
    server_.respond(200, feedOf("1.0"));
    const auto u = updater(server_.url(), "");
    EXPECT_THAT(check(*u), ElementsAre(Texts("Could not check for updates",
                                             "The installed version is not known.")));
    EXPECT_EQ(server_.requests(), 0);
}

// Lifetime.

TEST_F(AppcastUpdaterTest, AnUpdaterDestroyedDuringACheckTellsNothing) {
    server_.staySilent();
    auto u = updater(server_.url());
    u->checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return server_.requests() == 1; }));
    u.reset();
    QCoreApplication::processEvents();
    EXPECT_THAT(shown(), IsEmpty());
}

}  // namespace
}  // namespace tw
