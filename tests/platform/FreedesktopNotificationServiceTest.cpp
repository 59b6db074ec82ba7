#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusReply>
#include <regex>

#include "app/core/NotificationHelper.h"
#include "app/platform/linux/FreedesktopNotificationService.h"
#include "tests/platform/FakeNotificationServer.h"
#include "tests/platform/PrivateSessionBus.h"
#include "tests/platform/QtWait.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using Request = NotificationService::Request;

class FreedesktopNotificationServiceTest : public ::testing::Test {
  protected:
    // One bus for the suite: the session-bus connection that Qt makes on first use stays for the
    // whole process, so the address must be in place before it and stay valid after it.
    static void SetUpTestSuite() { bus_ = new PrivateSessionBus(); }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }

    std::unique_ptr<FakeNotificationServer> startServer(QStringList capabilities = {"body"}) {
        return std::make_unique<FakeNotificationServer>(QString::fromStdString(bus_->address()),
                                                        std::move(capabilities));
    }
    FreedesktopNotificationService service() {
        return FreedesktopNotificationService(QDBusConnection::sessionBus(),
                                              "com.tarnwick.desktop");
    }

    static PrivateSessionBus* bus_;
};

PrivateSessionBus* FreedesktopNotificationServiceTest::bus_ = nullptr;

// The call on the bus.

TEST_F(FreedesktopNotificationServiceTest,
       SendsNotifyOnThePrivateBusWithItsExactSignatureAndArguments) {
    ASSERT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS").toStdString(), bus_->address());
    const auto server = startServer();
    auto adapter = service();
    adapter.add(Request{"6F1C0D4E-0000-4000-8000-000000000001", "Tarnwick",
                        "デバイスポリシーを満たしていないため、通信がブロックされています"});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 1; }));
    const auto& n = server->notifications()[0];
    EXPECT_EQ(n.appName, "Tarnwick");
    EXPECT_EQ(n.replacesId, 0u);
    EXPECT_EQ(n.icon, "");
    EXPECT_EQ(n.summary, "Tarnwick");
    EXPECT_EQ(n.body.toStdString(),
              "デバイスポリシーを満たしていないため、通信がブロックされています");
    EXPECT_TRUE(n.actions.isEmpty());
    EXPECT_EQ(n.hints.value("desktop-entry").toString(), "com.tarnwick.desktop");
    EXPECT_EQ(n.hints.value("x-tarnwick-identifier").toString(),
              "6F1C0D4E-0000-4000-8000-000000000001");
    EXPECT_EQ(n.expireTimeout, -1);
    EXPECT_EQ(server->refusedCalls(), 0);
}

TEST_F(FreedesktopNotificationServiceTest, TheServerRefusesAReplacesIdSentAsAnInt) {
    const auto server = startServer();
    auto call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                               "/org/freedesktop/Notifications",
                                               "org.freedesktop.Notifications", "Notify");
    call << QString("Tarnwick") << qint32{0} << QString() << QString("t") << QString("b")
         << QStringList() << QVariantMap() << qint32{-1};
    auto pending = QDBusConnection::sessionBus().asyncCall(call);
    ASSERT_TRUE(waitUntil([&] { return pending.isFinished(); }));
    EXPECT_TRUE(pending.isError());
    EXPECT_EQ(pending.error().type(), QDBusError::InvalidArgs);
    EXPECT_EQ(server->refusedCalls(), 1);
    EXPECT_TRUE(server->notifications().empty());
}

// Markup.

TEST_F(FreedesktopNotificationServiceTest, EscapesTheBodyForAServerThatReadsMarkup) {
    const auto server = startServer({"body", "body-markup"});
    auto adapter = service();
    adapter.add(Request{"id", "A & B", "Get it at https://x.example/?a=1&b=<2>"});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 1; }));
    EXPECT_EQ(server->notifications()[0].body, "Get it at https://x.example/?a=1&amp;b=&lt;2&gt;");
    EXPECT_EQ(server->notifications()[0].summary, "A & B");
}

TEST_F(FreedesktopNotificationServiceTest, LeavesTheBodyAsWrittenForAServerWithoutMarkup) {
    const auto server = startServer({"body"});
    auto adapter = service();
    adapter.add(Request{"id", "t", "a=1&b=<2>"});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 1; }));
    EXPECT_EQ(server->notifications()[0].body, "a=1&b=<2>");
}

TEST_F(FreedesktopNotificationServiceTest,
       AsksForTheCapabilitiesOnceAndKeepsTheOrderOfWaitingNotifications) {
    const auto server = startServer();
    auto adapter = service();
    for (const char* title : {"one", "two", "three"}) adapter.add(Request{"id", title, ""});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 3; }));
    adapter.add(Request{"id", "four", ""});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 4; }));
    EXPECT_EQ(server->capabilityQuestions(), 1);
    std::vector<QString> titles;
    for (const auto& n : server->notifications()) titles.push_back(n.summary);
    EXPECT_THAT(titles, ::testing::ElementsAre("one", "two", "three", "four"));
}

TEST_F(FreedesktopNotificationServiceTest,
       AfterAFailedCapabilityQuestionStillNotifiesAndAsksAgainNextTime) {
    const auto server = startServer({"body-markup"});
    server->failCapabilityQuestions(true);
    auto adapter = service();
    adapter.add(Request{"id", "first", "<plain>"});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 1; }));
    EXPECT_EQ(server->notifications()[0].body, "<plain>");
    server->failCapabilityQuestions(false);
    adapter.add(Request{"id", "second", "<escaped>"});
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 2; }));
    EXPECT_EQ(server->capabilityQuestions(), 2);
    EXPECT_EQ(server->notifications()[1].body, "&lt;escaped&gt;");
}

TEST_F(FreedesktopNotificationServiceTest, WithoutAServerAddingReturnsAtOnceAndFailsSilently) {
    auto adapter = service();
    adapter.add(Request{"id", "t", "b"});
    // A round trip on the same connection: the failed call before it has been answered by then.
    const QDBusReply<QString> id =
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId"));
    EXPECT_TRUE(id.isValid());
    QCoreApplication::processEvents();
}

// Permission.

TEST_F(FreedesktopNotificationServiceTest, PermissionIsAlwaysGrantedAtOnce) {
    auto adapter = service();
    std::optional<bool> status;
    std::optional<std::expected<bool, std::string>> request;
    adapter.authorizationStatus([&](bool authorized) { status = authorized; });
    adapter.requestAuthorization(
        [&](std::expected<bool, std::string> answer) { request = answer; });
    EXPECT_EQ(status, true);
    ASSERT_TRUE(request);
    EXPECT_EQ(*request, true);
}

// With the helper.

TEST_F(FreedesktopNotificationServiceTest,
       TheHelpersNotificationsReachTheServerEachWithItsOwnUuid) {
    const auto server = startServer();
    const auto main = std::make_shared<ManualMainQueue>();
    TestLogger log;
    const auto helper = std::make_shared<NotificationHelper>(
        main,
        std::make_shared<FreedesktopNotificationService>(QDBusConnection::sessionBus(),
                                                         "com.tarnwick.desktop"),
        log.logger());
    helper->requestAuthorization();
    helper->show("Tarnwick", "first");
    helper->show("Tarnwick", "second");
    main->runUntilIdle();
    ASSERT_TRUE(waitUntil([&] { return server->notifications().size() == 2; }));
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    const auto first =
        server->notifications()[0].hints.value("x-tarnwick-identifier").toString().toStdString();
    const auto second =
        server->notifications()[1].hints.value("x-tarnwick-identifier").toString().toStdString();
    EXPECT_TRUE(std::regex_match(first, uuid)) << first;
    EXPECT_TRUE(std::regex_match(second, uuid)) << second;
    EXPECT_NE(first, second);
    EXPECT_TRUE(log.records().empty());
}

}  // namespace
}  // namespace tw
