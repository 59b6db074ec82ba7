#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "app/core/LoginItem.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Kind = LoginItem::Outcome::Kind;

class LoginItemTest : public ::testing::Test {
  protected:
    std::string fileText() const {
        std::ifstream in(defaults_->path());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void writeFile(const std::string& text) const { std::ofstream(defaults_->path()) << text; }

    TempDir dir_;
    TestLogger log_;
    std::shared_ptr<Preferences> defaults_ = std::make_shared<Preferences>(dir_.file("prefs.json"));
    std::shared_ptr<FakeLoginItemService> service_ = std::make_shared<FakeLoginItemService>();
    LoginItem item_{defaults_, service_, log_.logger()};
};

// The launch-time rule.

TEST_F(LoginItemTest, TheFirstLaunchOfABuildRegistersOnceStoresTheBuildAndLogsTheStatus) {
    EXPECT_EQ(item_.registerIfNeeded("42"), (LoginItem::Outcome{Kind::registered, {}}));
    EXPECT_EQ(service_->registerCalls, 1);
    EXPECT_EQ(defaults_->string("loginItemRegisteredBuild"), "42");
    EXPECT_THAT(log_.records(), ElementsAre("[App] Registered app as login item (status: 1)"));
}

TEST_F(LoginItemTest, ALaterLaunchOfTheSameBuildDoesNothingAndLogsNothing) {
    item_.registerIfNeeded("42");
    const auto logged = log_.records().size();
    EXPECT_EQ(item_.registerIfNeeded("42").kind, Kind::alreadyRegistered);
    EXPECT_EQ(service_->registerCalls, 1);
    EXPECT_EQ(log_.records().size(), logged);
}

TEST_F(LoginItemTest, AnyOtherBuildTextRegistersAgainOnce) {
    item_.registerIfNeeded("42");
    for (const char* build : {"43", "42 ", "042", "42.0"}) {
        EXPECT_EQ(item_.registerIfNeeded(build).kind, Kind::registered) << build;
        EXPECT_EQ(item_.registerIfNeeded(build).kind, Kind::alreadyRegistered) << build;
        EXPECT_EQ(defaults_->string("loginItemRegisteredBuild"), build);
    }
    EXPECT_EQ(service_->registerCalls, 5);
}

TEST_F(LoginItemTest, TheStatusLoggedIsTheServicesAfterRegistering) {
    struct NotFoundAfterwards final : LoginItemService {
        std::expected<void, LoginItemError> registerItem() override { return {}; }
        std::expected<void, LoginItemError> unregisterItem() override { return {}; }
        LoginItemStatus status() const override { return LoginItemStatus::notFound; }
    };
    LoginItem item(defaults_, std::make_shared<NotFoundAfterwards>(), log_.logger());
    item.registerIfNeeded("42");
    EXPECT_THAT(log_.records(), ElementsAre("[App] Registered app as login item (status: 3)"));
}

// Failures.

TEST_F(LoginItemTest, AFailedRegistrationIsLoggedAndKeepsTheStoredBuild) {
    item_.registerIfNeeded("41");
    service_->registerResult =
        std::unexpected(LoginItemError{LoginItemError::Code::notSaved, EACCES});
    const auto outcome = item_.registerIfNeeded("42");
    EXPECT_EQ(outcome.kind, Kind::failed);
    EXPECT_EQ(outcome.error, (LoginItemError{LoginItemError::Code::notSaved, EACCES}));
    EXPECT_EQ(defaults_->string("loginItemRegisteredBuild"), "41");
    EXPECT_EQ(
        log_.records().back(),
        "[App] Login item register failed: The login item could not be saved: Permission denied");
}

TEST_F(LoginItemTest, AFailedRegistrationIsRetriedAtEveryLaunchUntilItSucceeds) {
    service_->registerResult =
        std::unexpected(LoginItemError{LoginItemError::Code::programNotFound});
    item_.registerIfNeeded("42");
    item_.registerIfNeeded("42");
    EXPECT_EQ(defaults_->string("loginItemRegisteredBuild"), std::nullopt);
    service_->registerResult = {};
    EXPECT_EQ(item_.registerIfNeeded("42").kind, Kind::registered);
    EXPECT_EQ(item_.registerIfNeeded("42").kind, Kind::alreadyRegistered);
    EXPECT_EQ(service_->registerCalls, 3);
    EXPECT_EQ(
        log_.count("[App] Login item register failed: The application's program was not found"),
        2u);
}

// The build text.

TEST_F(LoginItemTest, TheBuildIsTheBundlesVersionWhenItIsAString) {
    std::ofstream(dir_.file("Info.json")) << R"({"CFBundleVersion":"1.2.3"})";
    EXPECT_EQ(LoginItem::build(Bundle(dir_.path())), "1.2.3");
    std::ofstream(dir_.file("Info.json")) << R"({"CFBundleVersion":123})";
    EXPECT_EQ(LoginItem::build(Bundle(dir_.path())), "");
}

TEST_F(LoginItemTest, ABundleWithoutAVersionRegistersOnceWithTheEmptyBuild) {
    const auto build = LoginItem::build(Bundle(dir_.path()));
    EXPECT_EQ(item_.registerIfNeeded(build).kind, Kind::registered);
    EXPECT_EQ(defaults_->string("loginItemRegisteredBuild"), "");
    EXPECT_EQ(item_.registerIfNeeded(build).kind, Kind::alreadyRegistered);
}

// The key of the earlier scheme.

TEST_F(LoginItemTest, RemovesTheEarlierSchemesKeyOfAnyTypeAtEveryLaunchAndNeverWritesIt) {
    item_.registerIfNeeded("42");
    for (const char* value : {"true", "1", R"("yes")", R"({"a":[1]})"}) {
        writeFile(std::string(R"({"loginItemRegistered":)") + value +
                  R"(,"loginItemRegisteredBuild":"42","other":7})");
        EXPECT_EQ(item_.registerIfNeeded("42").kind, Kind::alreadyRegistered) << value;
        EXPECT_THAT(fileText(), Not(HasSubstr("\"loginItemRegistered\""))) << value;
        EXPECT_THAT(fileText(), HasSubstr("\"other\": 7")) << value;
    }
    EXPECT_EQ(service_->registerCalls, 1);
    item_.unregister();
    item_.registerIfNeeded("43");
    EXPECT_THAT(fileText(), Not(HasSubstr("\"loginItemRegistered\"")));
}

TEST_F(LoginItemTest, ADamagedPreferencesFileCountsAsNeverRegisteredAndIsRepaired) {
    writeFile(R"({"loginItemRegisteredBuild":"42")");
    EXPECT_EQ(item_.registerIfNeeded("42").kind, Kind::registered);
    EXPECT_EQ(Preferences(defaults_->path()).string("loginItemRegisteredBuild"), "42");
}

// Unregistering.

TEST_F(LoginItemTest, UnregisterRemovesTheItemAndBothKeysSoThatTheSameBuildRegistersAgain) {
    item_.registerIfNeeded("42");
    writeFile(R"({"loginItemRegistered":true,"loginItemRegisteredBuild":"42"})");
    item_.unregister();
    EXPECT_EQ(service_->unregisterCalls, 1);
    EXPECT_EQ(service_->status(), LoginItemStatus::notRegistered);
    EXPECT_THAT(fileText(), Not(HasSubstr("loginItemRegistered")));
    EXPECT_EQ(item_.registerIfNeeded("42").kind, Kind::registered);
}

TEST_F(LoginItemTest, UnregisterRemovesBothKeysEvenWhenRemovingTheItemFails) {
    writeFile(R"({"loginItemRegistered":true,"loginItemRegisteredBuild":"42"})");
    service_->unregisterResult =
        std::unexpected(LoginItemError{LoginItemError::Code::notRemoved, EIO});
    item_.unregister();
    EXPECT_THAT(fileText(), Not(HasSubstr("loginItemRegistered")));
    EXPECT_THAT(log_.records(), IsEmpty());
}

}  // namespace
}  // namespace tw
