#include "packettunnel/ExtensionInfo.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

class AnExtensionInfo : public ::testing::Test {
protected:
    QString identifierFrom(const std::string& json) {
        std::ofstream(dir_.file("Info.json")) << json;
        return ExtensionInfo::bundleIdentifier(QString::fromStdString(dir_.path().string()));
    }
    TempDir dir_;
};

TEST_F(AnExtensionInfo, NamesTheBundleIdentifierBesideTheProgram) {
    EXPECT_EQ(identifierFrom(R"({"CFBundleIdentifier":"com.example.vpn.PacketTunnel"})"),
              "com.example.vpn.PacketTunnel");
}

TEST_F(AnExtensionInfo, FallsBackWhenTheIdentifierIsMissingEmptyOrNoText) {
    for (const auto* json : {"{}", R"({"CFBundleIdentifier":""})", R"({"CFBundleIdentifier":7})",
                             "not json"}) {
        EXPECT_EQ(identifierFrom(json), "com.tarnwick.desktop.PacketTunnel") << json;
    }
}

TEST_F(AnExtensionInfo, FallsBackWithoutAnInfoFile) {
    EXPECT_EQ(ExtensionInfo::bundleIdentifier(QString::fromStdString(dir_.path().string())),
              "com.tarnwick.desktop.PacketTunnel");
}

}  // namespace
}  // namespace tw
