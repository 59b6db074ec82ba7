#include "app/platform/linux/NmError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusMessage>

namespace tw {
namespace {

VpnError mapped(const char* name, const char* message = "NetworkManager's words") {
    return NmError::fromDBus(QDBusError(QDBusMessage::createError(QString(name), QString(message))),
                             NmError::kConnectionFailed);
}

TEST(AnNmError, CallsAProfileNetworkManagerDoesNotHaveOrRejectsInvalid) {
    for (const auto* name : {"org.freedesktop.NetworkManager.Settings.InvalidConnection",
                             "org.freedesktop.NetworkManager.Settings.Connection.InvalidProperty",
                             "org.freedesktop.NetworkManager.Settings.Connection.MissingSetting"}) {
        EXPECT_EQ(mapped(name).code, VpnError::kConfigurationInvalid) << name;
    }
}

TEST(AnNmError, CallsAProfileNetworkManagerCannotUseNowDisabled) {
    const auto error = mapped("org.freedesktop.NetworkManager.ConnectionNotAvailable",
                              "The VPN service 'x' was not installed.");
    EXPECT_EQ(error.code, VpnError::kConfigurationDisabled);
    EXPECT_EQ(error.domain, "org.freedesktop.NetworkManager.ConnectionNotAvailable");
    EXPECT_EQ(error.localizedDescription, "The VPN service 'x' was not installed.");
}

TEST(AnNmError, KeepsEverythingElseAsItsOwnFailureWithNetworkManagersText) {
    const auto missingBase = mapped("org.freedesktop.NetworkManager.UnknownConnection",
                                    "Could not find source connection.");
    EXPECT_EQ(missingBase.code, NmError::kConnectionFailed);
    EXPECT_EQ(missingBase.localizedDescription, "Could not find source connection.");
    EXPECT_EQ(mapped("org.freedesktop.NetworkManager.ConnectionAlreadyActive").code,
              NmError::kConnectionFailed);
}

TEST(AnNmError, NamesTheErrorWhenNetworkManagerGaveNoText) {
    EXPECT_EQ(mapped("org.freedesktop.DBus.Error.NoReply", "").localizedDescription,
              "org.freedesktop.DBus.Error.NoReply");
}

TEST(AnNmError, DescribesAnActivationThatEndedWithItsReason) {
    const auto error = NmError::activationFailed(8);
    EXPECT_EQ(error.code, NmError::kConnectionFailed);
    EXPECT_EQ(error.localizedDescription, "The VPN connection failed: the VPN service failed to start (reason 8)");
    EXPECT_THAT(NmError::activationFailed(99).localizedDescription, ::testing::HasSubstr("(reason 99)"));
}

}  // namespace
}  // namespace tw
