#include "base/NotificationCenter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tw {
namespace {

using ::testing::ElementsAre;

class NotificationCenterTest : public ::testing::Test {
protected:
    Subscription record(const std::string& name, const std::string& label) {
        return center.addObserver(name, [this, label] { calls.push_back(label); });
    }

    NotificationCenter center;
    std::vector<std::string> calls;
};

TEST_F(NotificationCenterTest, PostCallsTheObserversOfThatNameOnlyInTheOrderTheyWereAdded) {
    auto a = record("done", "a");
    auto other = record("failed", "other");
    auto b = record("done", "b");
    center.post("done");
    center.post("unknown");
    EXPECT_THAT(calls, ElementsAre("a", "b"));
}

TEST_F(NotificationCenterTest, AnEndedSubscriptionIsNotCalledAgain) {
    auto a = record("done", "a");
    {
        auto b = record("done", "b");
        center.post("done");
    }
    a.reset();
    center.post("done");
    EXPECT_THAT(calls, ElementsAre("a", "b"));
}

TEST_F(NotificationCenterTest, ObserversMayChangeTheObserversDuringAPost) {
    std::optional<Subscription> second;
    std::optional<Subscription> late;
    auto first = center.addObserver("done", [&] {
        calls.push_back("first");
        second.reset();
        if (!late) late = record("done", "late");
    });
    second = record("done", "second");
    center.post("done");
    EXPECT_THAT(calls, ElementsAre("first"));
    center.post("done");
    EXPECT_THAT(calls, ElementsAre("first", "first", "late"));
}

TEST_F(NotificationCenterTest, AnObserverMayEndItsOwnSubscription) {
    Subscription self;
    self = center.addObserver("done", [&] {
        calls.push_back("once");
        self.reset();
    });
    center.post("done");
    center.post("done");
    EXPECT_THAT(calls, ElementsAre("once"));
}

TEST(NotificationCenterLifetime, ASubscriptionMayOutliveTheCenter) {
    Subscription subscription;
    {
        NotificationCenter center;
        subscription = center.addObserver("done", [] {});
    }
    subscription.reset();
    SUCCEED();
}

}  // namespace
}  // namespace tw
