#include "packettunnel/PluginConfig.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "packettunnel/PacketTunnelProvider.h"

namespace tw {
namespace {

using ::testing::UnorderedElementsAre;

uint native(const char* address) {
    in_addr parsed{};
    inet_pton(AF_INET, address, &parsed);
    return parsed.s_addr;
}

TEST(APluginConfig, CarriesTheProvidersSettingsAsNetworkManagerReadsThem) {
    const auto config = PluginConfig::encode(PacketTunnelProvider::tunnelNetworkSettings(), "tarnwick0");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->generic.value("tundev").toString(), "tarnwick0");
    EXPECT_EQ(config->generic.value("gateway").metaType(), QMetaType::fromType<uint>());
    EXPECT_EQ(config->generic.value("gateway").toUInt(), native("127.0.0.1"));
    EXPECT_EQ(config->generic.value("has-ip4"), QVariant(true));
    EXPECT_EQ(config->generic.value("has-ip6"), QVariant(false));
    EXPECT_EQ(config->ip4.value("address").toUInt(), native("10.0.0.1"));
    EXPECT_EQ(config->ip4.value("prefix").metaType(), QMetaType::fromType<uint>());
    EXPECT_EQ(config->ip4.value("prefix").toUInt(), 24u);
    EXPECT_EQ(config->ip4.value("never-default"), QVariant(true));
}

TEST(APluginConfig, SetsNoRoutesNoDnsNoMtuAndNoIpv6) {
    const auto config = PluginConfig::encode(PacketTunnelProvider::tunnelNetworkSettings(), "tarnwick0");
    ASSERT_TRUE(config);
    EXPECT_THAT(config->generic.keys(), UnorderedElementsAre("tundev", "gateway", "has-ip4", "has-ip6"));
    EXPECT_THAT(config->ip4.keys(), UnorderedElementsAre("address", "prefix", "never-default"));
}

TEST(APluginConfig, TurnsContiguousMasksIntoPrefixLengths) {
    EXPECT_EQ(PluginConfig::prefixLength("255.255.255.255"), 32u);
    EXPECT_EQ(PluginConfig::prefixLength("255.255.255.0"), 24u);
    EXPECT_EQ(PluginConfig::prefixLength("255.255.128.0"), 17u);
    EXPECT_EQ(PluginConfig::prefixLength("0.0.0.0"), 0u);
}

TEST(APluginConfig, RefusesMasksWithHolesAndTextThatIsNoMask) {
    EXPECT_EQ(PluginConfig::prefixLength("255.0.255.0"), std::nullopt);
    EXPECT_EQ(PluginConfig::prefixLength("0.255.255.255"), std::nullopt);
    EXPECT_EQ(PluginConfig::prefixLength("24"), std::nullopt);
    EXPECT_EQ(PluginConfig::prefixLength(""), std::nullopt);
}

TEST(APluginConfig, RefusesSettingsNetworkManagerCannotTake) {
    const TunnelNetworkSettings twoAddresses{"127.0.0.1", {"10.0.0.1", "10.0.0.2"}, {"255.255.255.0", "255.255.255.0"}};
    const TunnelNetworkSettings noAddress{"127.0.0.1", {}, {}};
    const TunnelNetworkSettings ipv6Remote{"::1", {"10.0.0.1"}, {"255.255.255.0"}};
    const TunnelNetworkSettings badMask{"127.0.0.1", {"10.0.0.1"}, {"255.0.255.0"}};
    for (const auto& settings : {twoAddresses, noAddress, ipv6Remote, badMask}) {
        const auto config = PluginConfig::encode(settings, "tarnwick0");
        ASSERT_FALSE(config);
        EXPECT_THAT(config.error().localizedDescription, ::testing::StartsWith("NetworkManager cannot apply"));
    }
}

}  // namespace
}  // namespace tw
