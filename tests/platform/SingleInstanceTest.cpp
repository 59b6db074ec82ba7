#include "app/platform/linux/SingleInstance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "tests/platform/PrivateSessionBus.h"
#include "tests/platform/QtWait.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using Role = SingleInstance::Role;

// Two launches on one private session bus, each on a connection of its own.
class SingleInstanceTest : public ::testing::Test {
protected:
    ~SingleInstanceTest() override {
        QDBusConnection::disconnectFromBus("first");
        QDBusConnection::disconnectFromBus("second");
    }

    // The second launch's call blocks its thread until the first has answered.
    std::future<bool> forwardFromSecond(std::string url) {
        return std::async(std::launch::async, [this, url] {
            std::string error;
            return second_.forward(url, error);
        });
    }

    PrivateSessionBus bus_;
    SingleInstance first_{QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), "first")};
    SingleInstance second_{QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), "second")};
    std::string reason_;
};

TEST_F(SingleInstanceTest, ASecondLaunchHandsItsUrlOrItsActivationToTheFirst) {
    ASSERT_EQ(first_.claim(reason_), Role::primary);
    int becameActive = 0, remoteActivations = 0;
    const auto subscription = first_.observeDidBecomeActive([&] { ++becameActive; });
    first_.onRemoteActivation = [&] { ++remoteActivations; };
    ASSERT_EQ(second_.claim(reason_), Role::secondary);

    auto opened = forwardFromSecond("tarnwick://login?token=x");
    ASSERT_TRUE(waitUntil([&] { return becameActive == 1; }));
    EXPECT_TRUE(opened.get());
    // Whether a link shows the panel is the URL handler's call.
    EXPECT_EQ(remoteActivations, 0);
    // A URL that arrives before the shell has set its handler is kept for it.
    std::vector<std::string> urls;
    first_.setUrlHandler([&](const std::string& url) { urls.push_back(url); });
    EXPECT_THAT(urls, ElementsAre("tarnwick://login?token=x"));

    auto activated = forwardFromSecond("");
    ASSERT_TRUE(waitUntil([&] { return remoteActivations == 1; }));
    EXPECT_TRUE(activated.get());
    EXPECT_EQ(urls.size(), 1u);
    EXPECT_EQ(becameActive, 2);
}

TEST_F(SingleInstanceTest, WithoutASessionBusTheApplicationRunsAloneAndSaysWhy) {
    SingleInstance alone{QDBusConnection("never-connected")};
    EXPECT_EQ(alone.claim(reason_), Role::alone);
    EXPECT_THAT(reason_, ::testing::StartsWith("no session bus"));
}

}  // namespace
}  // namespace tw
