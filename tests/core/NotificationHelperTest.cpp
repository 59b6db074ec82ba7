#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

#include "app/core/NotificationHelper.h"
#include "tests/support/FakeNotificationService.h"
#include "tests/support/ManualMainQueue.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class NotificationHelperTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeNotificationService> service_ = std::make_shared<FakeNotificationService>();
    TestLogger log_;
    std::shared_ptr<NotificationHelper> helper_ =
        std::make_shared<NotificationHelper>(main_, service_, log_.logger());
};

// Showing.

TEST_F(NotificationHelperTest, AddsOneNotificationWithTheTitleAndBody) {
    helper_->show("Tarnwick", "デバイスポリシーを満たしていないため、通信がブロックされています");
    main_->runUntilIdle();
    const auto added = service_->addedRequests();
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].title, "Tarnwick");
    EXPECT_EQ(added[0].body, "デバイスポリシーを満たしていないため、通信がブロックされています");
    EXPECT_EQ(service_->authorizationRequests(), 0u);
}

TEST_F(NotificationHelperTest, ReturnsAtOnceAndAddsOnlyWhenTheStatusAnswerArrives) {
    service_->holdStatusAnswers = true;
    helper_->show("t", "b");
    main_->runUntilIdle();
    EXPECT_THAT(service_->added(), IsEmpty());
    service_->answerStatus(true);
    main_->runUntilIdle();
    EXPECT_EQ(service_->added().size(), 1u);
}

TEST_F(NotificationHelperTest, HandsAnAnswerFromAnotherThreadToTheMainQueue) {
    service_->holdStatusAnswers = true;
    helper_->show("t", "b");
    std::thread([&] { service_->answerStatus(true); }).join();
    EXPECT_THAT(service_->added(), IsEmpty());
    main_->runUntilIdle();
    const auto added = service_->added();
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].thread, std::this_thread::get_id());
}

TEST_F(NotificationHelperTest, GivesEveryNotificationANewRandomUuidAndKeepsTheirOrder) {
    for (int i = 0; i < 20; ++i) helper_->show(std::to_string(i), "same");
    main_->runUntilIdle();
    ASSERT_EQ(service_->added().size(), 20u);
    EXPECT_EQ(service_->added()[19].request.title, "19");
    const std::regex uuid4("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> identifiers;
    for (const auto& request : service_->addedRequests()) {
        EXPECT_TRUE(std::regex_match(request.identifier, uuid4)) << request.identifier;
        identifiers.insert(request.identifier);
    }
    EXPECT_EQ(identifiers.size(), 20u);
}

// Without permission.

TEST_F(NotificationHelperTest, WithoutPermissionAsksFirstAndStillAddsWithoutWaitingForTheAnswer) {
    service_->authorized = false;
    helper_->show("t", "b");
    main_->runUntilIdle();
    EXPECT_EQ(service_->authorizationRequests(), 1u);
    EXPECT_EQ(service_->added().size(), 1u);
}

TEST_F(NotificationHelperTest, TheAnswerToThePermissionAskedWhileShowingIsIgnored) {
    service_->authorized = false;
    helper_->show("t", "b");
    main_->runUntilIdle();
    service_->answerAuthorization(0, std::unexpected(std::string("denied by policy")));
    main_->runUntilIdle();
    EXPECT_THAT(log_.records(), IsEmpty());
    EXPECT_EQ(service_->added().size(), 1u);
}

// The launch-time permission request.

TEST_F(NotificationHelperTest, APermissionErrorAtLaunchIsLogged) {
    helper_->requestAuthorization();
    service_->answerAuthorization(0, std::unexpected(std::string("no notification centre")));
    main_->runUntilIdle();
    EXPECT_THAT(log_.records(),
                ElementsAre("[App] Notification permission error: no notification centre"));
}

TEST_F(NotificationHelperTest, AGrantOrARefusalAtLaunchIsNotLogged) {
    helper_->requestAuthorization();
    helper_->requestAuthorization();
    service_->answerAuthorization(0, true);
    service_->answerAuthorization(1, false);
    main_->runUntilIdle();
    EXPECT_THAT(log_.records(), IsEmpty());
}

// Lifetime.

TEST_F(NotificationHelperTest, AnAnswerArrivingAfterTheHelperIsGoneDoesNothing) {
    service_->holdStatusAnswers = true;
    helper_->show("t", "b");
    helper_->requestAuthorization();
    helper_.reset();
    service_->answerStatus(true);
    service_->answerAuthorization(0, std::unexpected(std::string("late")));
    main_->runUntilIdle();
    EXPECT_THAT(service_->added(), IsEmpty());
    EXPECT_THAT(log_.records(), IsEmpty());
}

}  // namespace
}  // namespace tw
