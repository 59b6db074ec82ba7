#include "app/platform/linux/NmProfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusArgument>

namespace tw {
namespace {

NmConnectionSettings vpnSettings(QMap<QString, QString> data, QString serviceType = "com.example.Vpn") {
    NmConnectionSettings settings;
    settings["connection"] = {{"id", "Tarnwick"}, {"uuid", "u-1"}, {"type", "vpn"}, {"zone", "trusted"}};
    settings["vpn"] = {{"service-type", serviceType}, {"data", QVariant::fromValue(data)}};
    settings["ipv4"] = {{"method", "auto"}, {"dns-search", QStringList{"example.net"}}};
    return settings;
}

QMap<QString, QString> dataOf(const NmConnectionSettings& settings) {
    return qvariant_cast<QMap<QString, QString>>(settings["vpn"]["data"]);
}

TEST(AnNmProfile, ReadsTheTunnelProtocolFromTheVpnSetting) {
    const auto profile = NmProfile::fromSettings(
        vpnSettings({{"server-address", "localhost"}, {"disconnect-on-sleep", "yes"}, {"enabled", "yes"}}));
    EXPECT_TRUE(profile.isVpn());
    EXPECT_EQ(profile.protocol(), (TunnelProtocol{"localhost", "com.example.Vpn", true}));
    EXPECT_EQ(profile.id, "Tarnwick");
    EXPECT_TRUE(profile.isEnabled());
}

TEST(AnNmProfile, CountsAVpnProfileWithoutEnabledYesAsDisabled) {
    EXPECT_FALSE(NmProfile::fromSettings(vpnSettings({})).isEnabled());
    EXPECT_FALSE(NmProfile::fromSettings(vpnSettings({{"enabled", "no"}})).isEnabled());
}

TEST(AnNmProfile, ReadsAMissingServerAddressAsAbsent) {
    const auto protocol = NmProfile::fromSettings(vpnSettings({{"enabled", "yes"}})).protocol();
    ASSERT_TRUE(protocol);
    EXPECT_EQ(protocol->serverAddress, std::nullopt);
}

TEST(AnNmProfile, GivesANewProfileNoProtocol) {
    const auto profile = NmProfile::newVpn("u-2");
    EXPECT_EQ(profile.protocol(), std::nullopt);
    EXPECT_FALSE(profile.isEnabled());
}

TEST(AnNmProfile, WritesANewProfileThatOnlyItsOwnerMayUseAndThatNeverConnectsByItself) {
    auto profile = NmProfile::newVpn("u-2");
    profile.setProtocol({"localhost", "com.example.Vpn", false});
    profile.id = "Tarnwick";
    profile.setEnabled(true);
    const auto settings = profile.toSettings({}, "alice");
    EXPECT_EQ(settings["connection"]["uuid"].toString(), "u-2");
    EXPECT_EQ(settings["connection"]["type"].toString(), "vpn");
    EXPECT_EQ(settings["connection"]["id"].toString(), "Tarnwick");
    EXPECT_EQ(settings["connection"]["autoconnect"], QVariant(false));
    EXPECT_EQ(settings["connection"]["permissions"].toStringList(), QStringList{"user:alice:"});
    EXPECT_EQ(settings["ipv4"]["method"].toString(), "auto");
    EXPECT_EQ(settings["vpn"]["service-type"].toString(), "com.example.Vpn");
    EXPECT_EQ(dataOf(settings), (QMap<QString, QString>{{"server-address", "localhost"},
                                                        {"disconnect-on-sleep", "no"},
                                                        {"enabled", "yes"}}));
}

TEST(AnNmProfile, KeepsWhatElseASavedProfileHoldsWhenWrittenBack) {
    const auto saved = vpnSettings({{"enabled", "no"}, {"mtu-hint", "1400"}});
    auto profile = NmProfile::fromSettings(saved);
    profile.setEnabled(true);
    profile.id = "Renamed";
    const auto settings = profile.toSettings(saved, "alice");
    EXPECT_EQ(settings["connection"]["zone"].toString(), "trusted");
    EXPECT_FALSE(settings["connection"].contains("permissions"));
    EXPECT_FALSE(settings["connection"].contains("autoconnect"));
    EXPECT_EQ(settings["ipv4"]["dns-search"].toStringList(), QStringList{"example.net"});
    EXPECT_EQ(settings["connection"]["id"].toString(), "Renamed");
    EXPECT_EQ(dataOf(settings), (QMap<QString, QString>{{"enabled", "yes"}, {"mtu-hint", "1400"}}));
}

TEST(AnNmProfile, DropsTheServerAddressWhenTheProtocolHasNone) {
    auto profile = NmProfile::fromSettings(vpnSettings({{"server-address", "old"}}));
    profile.setProtocol({std::nullopt, "com.example.Vpn", false});
    EXPECT_FALSE(profile.vpnData.contains("server-address"));
}

TEST(AnNmProfile, TellsOtherKindsOfProfilesApart) {
    NmConnectionSettings ethernet;
    ethernet["connection"] = {{"type", "802-3-ethernet"}, {"uuid", "u-3"}};
    const auto profile = NmProfile::fromSettings(ethernet);
    EXPECT_FALSE(profile.isVpn());
    EXPECT_EQ(profile.protocol(), std::nullopt);
}

}  // namespace
}  // namespace tw
