#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <memory>

#include "tests/platform/FakeLogind.h"
#include "tests/platform/NmSandbox.h"
#include "tests/platform/RunningProvider.h"
#include "tests/platform/SandboxSkip.h"
#include "tests/platform/SyslogSink.h"

namespace tw {
namespace {

using ::testing::Contains;

const QString kPluginPath = "/org/freedesktop/NetworkManager/VPN/Plugin";
const QString kPluginInterface = "org.freedesktop.NetworkManager.VPN.Plugin";
const QString kAppInterface = "com.tarnwick.desktop.PacketTunnel";

// The real provider on the sandbox's bus, with logind stood in for and the system log caught.
class APacketTunnelPluginOnTheBus : public ::testing::Test {
protected:
    void SetUp() override {
        TW_SKIP_WITHOUT_SANDBOX();
        NmSandbox::endPlugin();
        syslog_ = std::make_unique<SyslogSink>();
        logind_ = std::make_unique<FakeLogind>();
        ASSERT_TRUE(logind_->isServing());
        start();
    }

    void start(QStringList arguments = {}) {
        provider_ = std::make_unique<RunningProvider>(std::move(arguments));
        ASSERT_TRUE(provider_->waitUntilServing()) << provider_->lines().join('\n').toStdString();
    }

    static QDBusMessage call(const QString& interface, const QString& method,
                             const QVariantList& arguments = {}) {
        auto message = QDBusMessage::createMethodCall(RunningProvider::kBusName, kPluginPath,
                                                      interface, method);
        message.setArguments(arguments);
        return QDBusConnection::systemBus().call(message);
    }

    static QByteArray echo(const QByteArray& bytes) {
        const auto reply = call(kAppInterface, "HandleAppMessage", {bytes});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.signature(), "ay");
        return reply.arguments().value(0).toByteArray();
    }

    static bool isServing() {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(RunningProvider::kBusName);
    }

    // The event on both channels: the console with the prefix, the system log without it.
    void expectLogged(const std::string& text, int severity = LOG_INFO) {
        EXPECT_TRUE(provider_->waitForLine(QString::fromStdString("PacketTunnelProvider: " + text)))
            << provider_->lines().join('\n').toStdString();
        const std::string record = "[PacketTunnelProvider] " + text;
        ASSERT_TRUE(syslog_->waitFor(record));
        for (const auto& entry : syslog_->records()) {
            if (entry.message != record) continue;
            EXPECT_EQ(entry.identifier, TW_EXTENSION_IDENTIFIER);
            EXPECT_EQ(entry.severity, severity);
            EXPECT_EQ(entry.facility, LOG_DAEMON >> 3);
        }
    }

    std::unique_ptr<SyslogSink> syslog_;
    std::unique_ptr<FakeLogind> logind_;
    std::unique_ptr<RunningProvider> provider_;
};

// --- application messages ---

TEST_F(APacketTunnelPluginOnTheBus, EchoesAnAppMessageByteForByte) {
    const QByteArray bytes("\x00\x01\xfe\xffhello\x00", 10);
    EXPECT_EQ(echo(bytes), bytes);
    expectLogged("handleAppMessage called");
}

TEST_F(APacketTunnelPluginOnTheBus, EchoesAnEmptyMessageAsAnEmptyMessage) {
    EXPECT_EQ(echo(QByteArray()), QByteArray());
    expectLogged("handleAppMessage called");
}

TEST_F(APacketTunnelPluginOnTheBus, EchoesALargeMessage) {
    QByteArray bytes(256 * 1024, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    EXPECT_EQ(echo(bytes), bytes);
}

TEST_F(APacketTunnelPluginOnTheBus, LogsAndDropsAMessageSentWithoutWaitingForAnAnswer) {
    auto message = QDBusMessage::createMethodCall(RunningProvider::kBusName, kPluginPath,
                                                  kAppInterface, "HandleAppMessage");
    message << QByteArray("unanswered");
    ASSERT_TRUE(QDBusConnection::systemBus().send(message));  // no reply expected
    expectLogged("handleAppMessage called");
    EXPECT_EQ(echo("still answering"), QByteArray("still answering"));
}

// --- logind ---

TEST_F(APacketTunnelPluginOnTheBus, LogsSleepAndWakeAnnouncedByLogind) {
    logind_->prepareForSleep(true);
    expectLogged("sleep called");
    logind_->prepareForSleep(false);
    expectLogged("wake called");
}

TEST_F(APacketTunnelPluginOnTheBus, IgnoresSleepAnnouncedByAnyoneButLogind) {
    auto forged = QDBusMessage::createSignal("/org/freedesktop/login1",
                                             "org.freedesktop.login1.Manager", "PrepareForSleep");
    forged << true;
    QDBusConnection::systemBus().send(forged);
    logind_->prepareForSleep(false);
    expectLogged("wake called");
    EXPECT_FALSE(provider_->lines().contains("PacketTunnelProvider: sleep called"));
}

// --- the plugin interface outside a connection ---

TEST_F(APacketTunnelPluginOnTheBus, NeedsNoSecrets) {
    qDBusRegisterMetaType<QMap<QString, QVariantMap>>();
    const auto reply = call(kPluginInterface, "NeedSecrets",
                            {QVariant::fromValue(QMap<QString, QVariantMap>())});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().value(0).toString(), "");
}

TEST_F(APacketTunnelPluginOnTheBus, StartsInTheInitState) {
    auto get = QDBusMessage::createMethodCall(RunningProvider::kBusName, kPluginPath,
                                              "org.freedesktop.DBus.Properties", "Get");
    get << kPluginInterface << QString("State");
    const auto reply = QDBusConnection::systemBus().call(get);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toUInt(), 1u);
}

TEST_F(APacketTunnelPluginOnTheBus, RefusesSettingsAndFailuresFedFromOutside) {
    for (const auto* method : {"SetConfig", "SetIp4Config", "SetIp6Config"}) {
        const auto reply = call(kPluginInterface, method, {QVariantMap{{"tundev", "evil0"}}});
        EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.NotSupported") << method;
    }
    EXPECT_EQ(call(kPluginInterface, "SetFailure", {QString("no")}).errorName(),
              "org.freedesktop.DBus.Error.NotSupported");
}

// --- lifetime ---

TEST_F(APacketTunnelPluginOnTheBus, EndsCleanlyOnSigterm) {
    EXPECT_EQ(provider_->terminate(), 0);
    EXPECT_FALSE(isServing());
}

TEST_F(APacketTunnelPluginOnTheBus, WaitsForTheNextConnectAfterAStop) {
    ASSERT_EQ(call(kPluginInterface, "Disconnect").type(), QDBusMessage::ReplyMessage);
    expectLogged("stopTunnel called with reason: 0");
    EXPECT_EQ(echo("here"), QByteArray("here"));
    EXPECT_TRUE(isServing());
}

TEST_F(APacketTunnelPluginOnTheBus, EndsWhenNetworkManagerLeavesTheBus) {
    ASSERT_TRUE(NmSandbox::stopNetworkManager());
    EXPECT_TRUE(provider_->waitForExit());
    EXPECT_EQ(provider_->process().exitCode(), 0);
    EXPECT_FALSE(isServing());
    ASSERT_TRUE(NmSandbox::startNetworkManager());
}

TEST_F(APacketTunnelPluginOnTheBus, StaysWhenNetworkManagerLeavesTheBusIfToldToPersist) {
    provider_->terminate();
    start({"--persist"});
    ASSERT_TRUE(NmSandbox::stopNetworkManager());
    ASSERT_TRUE(NmSandbox::startNetworkManager());
    EXPECT_EQ(echo("here"), QByteArray("here"));
    EXPECT_TRUE(isServing());
}

TEST_F(APacketTunnelPluginOnTheBus, RefusesASecondInstance) {
    RunningProvider second;
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.process().exitCode(), 1);
    EXPECT_THAT(second.lines().join('\n').toStdString(), ::testing::HasSubstr("cannot own"));
    EXPECT_EQ(echo("first"), QByteArray("first"));
}

// --- the bus policy ---

// `dbus-send` as the unprivileged user "nobody".
ShellResult sendAsNobody(const std::string& arguments) {
    return shell("setpriv --reuid=65534 --regid=65534 --clear-groups dbus-send --system "
                 "--print-reply --dest=" TW_EXTENSION_IDENTIFIER
                 " /org/freedesktop/NetworkManager/VPN/Plugin " +
                 arguments + " 2>&1");
}

TEST_F(APacketTunnelPluginOnTheBus, LetsOtherUsersSendAppMessagesButNotDriveThePlugin) {
    const auto message = sendAsNobody("com.tarnwick.desktop.PacketTunnel.HandleAppMessage array:byte:7,8");
    EXPECT_EQ(message.status, 0) << message.output;
    const auto disconnect = sendAsNobody("org.freedesktop.NetworkManager.VPN.Plugin.Disconnect");
    EXPECT_NE(disconnect.status, 0);
    EXPECT_THAT(disconnect.output, ::testing::HasSubstr("AccessDenied"));
    EXPECT_TRUE(isServing());
}

TEST_F(APacketTunnelPluginOnTheBus, LetsOnlyRootOwnItsName) {
    provider_->terminate();
    const auto owner = shell("setpriv --reuid=65534 --regid=65534 --clear-groups " TW_EXTENSION_DIR
                             "/tarnwick-packettunnel 2>&1");
    EXPECT_EQ(owner.status, 1);
    EXPECT_THAT(owner.output, ::testing::HasSubstr("cannot own"));
}

}  // namespace
}  // namespace tw
