#include "app/platform/linux/NmPluginRegistration.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

const std::string kRegistration =
    "# Tarnwick\n"
    "[VPN Connection]\n"
    "name=tarnwick\n"
    "service = com.example.Vpn \n"
    "program=/opt/vpn/plugin\n"
    "\n"
    "[GNOME]\n"
    "program=/opt/vpn/editor\n";

TEST(AnNmPluginRegistration, ReadsTheServiceAndProgramOfItsVpnGroup) {
    const auto registration = NmPluginRegistration::parse(kRegistration);
    ASSERT_TRUE(registration);
    EXPECT_EQ(registration->identifier, "com.example.Vpn");
    EXPECT_EQ(registration->program, "/opt/vpn/plugin");
}

TEST(AnNmPluginRegistration, IsNoRegistrationWithoutAService) {
    EXPECT_EQ(NmPluginRegistration::parse("[VPN Connection]\nprogram=/x\n"), std::nullopt);
    EXPECT_EQ(NmPluginRegistration::parse("[Other]\nservice=com.example.Vpn\n"), std::nullopt);
    EXPECT_EQ(NmPluginRegistration::parse(""), std::nullopt);
}

TEST(AnNmPluginRegistration, PointsItsOwnProgramElsewhereAndLeavesTheRestAlone) {
    const auto rewritten = NmPluginRegistration::withProgram(kRegistration, "/usr/libexec/vpn");
    EXPECT_EQ(rewritten,
              "# Tarnwick\n[VPN Connection]\nname=tarnwick\nservice = com.example.Vpn \n"
              "program=/usr/libexec/vpn\n\n[GNOME]\nprogram=/opt/vpn/editor\n");
}

TEST(AnNmPluginRegistration, RefusesAFileTooLargeToBeOne) {
    TempDir dir;
    std::ofstream(dir.file("big.name")) << "[VPN Connection]\nservice=a.b\n" << std::string(70000, '#');
    EXPECT_EQ(NmPluginRegistration::read(dir.file("big.name")), std::nullopt);
    EXPECT_EQ(NmPluginRegistration::read(dir.file("missing.name")), std::nullopt);
}

}  // namespace
}  // namespace tw
