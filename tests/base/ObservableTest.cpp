#include "base/Observable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ObservableTest : public ::testing::Test {
protected:
    // A subscription that appends every value it is called with to `seen`.
    Subscription recordInto(std::vector<std::string>& seen) {
        return status.subscribe([&seen](const std::string& value) { seen.push_back(value); });
    }

    Observable<std::string> status{"idle"};
    std::vector<std::string> first;
    std::vector<std::string> second;
};

// --- values and notifications ---

TEST_F(ObservableTest, GetReturnsTheInitialValueThenTheLastOneSet) {
    EXPECT_EQ(status.get(), "idle");
    status.set("running");
    EXPECT_EQ(status.get(), "running");
    EXPECT_EQ(Observable<int>().get(), 0);
}

TEST_F(ObservableTest, SetNotifiesEverySubscriberWithTheNewValueBeforeReturning) {
    auto a = recordInto(first);
    std::optional<std::string> storedDuringCallback;
    auto b = status.subscribe([&](const std::string& value) {
        second.push_back(value);
        storedDuringCallback = status.get();
    });

    status.set("running");

    EXPECT_THAT(first, ElementsAre("running"));
    EXPECT_THAT(second, ElementsAre("running"));
    EXPECT_EQ(storedDuringCallback, "running");
}

TEST_F(ObservableTest, SetNotifiesEvenWhenTheValueIsUnchanged) {
    auto a = recordInto(first);
    status.set("idle");
    EXPECT_THAT(first, ElementsAre("idle"));
}

TEST_F(ObservableTest, SetIfChangedNotifiesOnlyWhenTheValueDiffers) {
    auto a = recordInto(first);

    EXPECT_FALSE(status.setIfChanged("idle"));
    EXPECT_TRUE(status.setIfChanged("running"));
    EXPECT_FALSE(status.setIfChanged("running"));

    EXPECT_THAT(first, ElementsAre("running"));
    EXPECT_EQ(status.get(), "running");
}

// --- ending subscriptions ---

TEST_F(ObservableTest, DestroyingASubscriptionStopsItsNotifications) {
    auto kept = recordInto(first);
    { auto dropped = recordInto(second); }

    status.set("running");

    EXPECT_THAT(first, ElementsAre("running"));
    EXPECT_THAT(second, IsEmpty());
}

TEST_F(ObservableTest, ResettingASubscriptionStopsItsNotificationsAndResettingAgainIsHarmless) {
    auto a = recordInto(first);
    status.set("running");
    a.reset();
    a.reset();

    status.set("stopped");

    EXPECT_THAT(first, ElementsAre("running"));
}

TEST_F(ObservableTest, AMovedSubscriptionKeepsNotifyingAndAssigningOverOneEndsTheOld) {
    auto a = recordInto(first);
    Subscription moved = std::move(a);
    status.set("running");

    moved = recordInto(second);
    status.set("stopped");

    EXPECT_THAT(first, ElementsAre("running"));
    EXPECT_THAT(second, ElementsAre("stopped"));
}

// --- changes from inside a notification ---

TEST_F(ObservableTest, SubscriberThatEndsItsOwnSubscriptionDuringANotificationIsNotCalledAgain) {
    Subscription self;
    self = status.subscribe([&](const std::string& value) {
        first.push_back(value);
        self.reset();
    });

    status.set("running");
    status.set("stopped");

    EXPECT_THAT(first, ElementsAre("running"));
}

TEST_F(ObservableTest, SubscriberThatEndsAnotherDuringANotificationStopsItBeingCalled) {
    Subscription victim;
    auto killer = status.subscribe([&](const std::string&) { victim.reset(); });
    victim = recordInto(second);

    status.set("running");
    status.set("stopped");

    EXPECT_THAT(second, IsEmpty());
}

TEST_F(ObservableTest, SubscriberAddedDuringANotificationHearsTheNextValue) {
    Subscription added;
    bool subscribed = false;
    auto adder = status.subscribe([&](const std::string&) {
        if (!std::exchange(subscribed, true)) added = recordInto(second);
    });

    status.set("running");
    status.set("stopped");

    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second.back(), "stopped");
}

TEST_F(ObservableTest, SubscriptionOutlivingTheObservableIsHarmless) {
    auto observable = std::make_unique<Observable<int>>(1);
    auto subscription = observable->subscribe([](int) {});
    observable.reset();
    subscription.reset();
    SUCCEED();
}

}  // namespace
}  // namespace tw
