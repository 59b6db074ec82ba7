#include "base/Bundle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::ElementsAre;

class BundleTest : public ::testing::Test {
protected:
    void write(const std::filesystem::path& relative, const std::string& text) {
        const auto path = dir_.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    TempDir dir_;
};

TEST_F(BundleTest, KeepsTheJsonTypesOfInfoKeys) {
    write("Info.json", R"({"CFBundleIdentifier":"com.example.app","CFBundleName":7,"Flag":true,
                          "Ratio":0.5,"Nested":{"a":"b"},"Empty":""})");
    const Bundle bundle(dir_.path());
    EXPECT_EQ(bundle.bundleIdentifier(), "com.example.app");
    EXPECT_EQ(bundle.string("CFBundleName"), std::nullopt);
    EXPECT_EQ(bundle.value("CFBundleName"), Bundle::Value(std::int64_t{7}));
    EXPECT_EQ(bundle.value("Flag"), Bundle::Value(true));
    EXPECT_EQ(bundle.value("Ratio"), Bundle::Value(0.5));
    EXPECT_EQ(bundle.value("Nested"), std::nullopt);
    EXPECT_EQ(bundle.string("Empty"), "");
    EXPECT_EQ(bundle.string("Missing"), std::nullopt);
}

TEST_F(BundleTest, AMissingOrDamagedInfoFileLeavesEveryKeyAbsent) {
    EXPECT_EQ(Bundle(dir_.path()).bundleIdentifier(), std::nullopt);
    write("Info.json", R"({"CFBundleIdentifier":"com.example)");
    EXPECT_EQ(Bundle(dir_.path()).bundleIdentifier(), std::nullopt);
    write("Info.json", R"(["CFBundleIdentifier"])");
    EXPECT_EQ(Bundle(dir_.path()).bundleIdentifier(), std::nullopt);
}

TEST_F(BundleTest, FindsResourcesByNameOnly) {
    write("Resources/tarnwickd", "#!/bin/sh\n");
    const Bundle bundle(dir_.path());
    EXPECT_EQ(bundle.resourcePath("tarnwickd"), (dir_.path() / "Resources" / "tarnwickd").string());
    EXPECT_EQ(bundle.resourcePath("tarnwick"), "");
    EXPECT_EQ(bundle.resourcePath("../Info.json"), "");
    EXPECT_EQ(bundle.resourcePath(""), "");
}

TEST_F(BundleTest, ListsTheEmbeddedSystemExtensionsInNameOrder) {
    EXPECT_TRUE(Bundle(dir_.path()).systemExtensions().empty());
    write("Library/SystemExtensions/b.systemextension/Info.json", "{}");
    write("Library/SystemExtensions/a.systemextension/Info.json", "{}");
    const auto base = dir_.path() / "Library" / "SystemExtensions";
    EXPECT_THAT(Bundle(dir_.path()).systemExtensions(),
                ElementsAre(base / "a.systemextension", base / "b.systemextension"));
}

TEST(BundleLocation, TheEnvironmentOverridesTheExecutablesLocation) {
    const char* previous = std::getenv("TARNWICK_BUNDLE");
    const std::string saved = previous ? previous : "";
    ::setenv("TARNWICK_BUNDLE", "/somewhere/bundle", 1);
    EXPECT_EQ(Bundle::locateRoot(), "/somewhere/bundle");
    ::setenv("TARNWICK_BUNDLE", "", 1);
    EXPECT_EQ(Bundle::locateRoot().filename(), "tarnwick");
    EXPECT_EQ(Bundle::locateRoot().parent_path().filename(), "lib");
    if (previous) {
        ::setenv("TARNWICK_BUNDLE", saved.c_str(), 1);
    } else {
        ::unsetenv("TARNWICK_BUNDLE");
    }
}

}  // namespace
}  // namespace tw
