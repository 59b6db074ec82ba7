#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/core/UpdaterViewModel.h"
#include "tests/support/FakeUpdaterService.h"

namespace tw {
namespace {

using ::testing::ElementsAre;

TEST(UpdaterViewModelTest, TakesTheUpdatersCurrentValueAtOnce) {
    EXPECT_FALSE(
        UpdaterViewModel(std::make_shared<FakeUpdaterService>(false)).canCheckForUpdates().get());
    EXPECT_TRUE(
        UpdaterViewModel(std::make_shared<FakeUpdaterService>(true)).canCheckForUpdates().get());
}

TEST(UpdaterViewModelTest, FollowsEveryChangeOfTheUpdaterWithoutAnyUserAction) {
    const auto updater = std::make_shared<FakeUpdaterService>(false);
    UpdaterViewModel model(updater);
    std::vector<bool> seen;
    const auto subscription =
        model.canCheckForUpdates().subscribe([&](const bool& value) { seen.push_back(value); });
    updater->canCheckForUpdates().set(true);
    updater->canCheckForUpdates().set(true);
    updater->canCheckForUpdates().set(false);
    updater->canCheckForUpdates().set(true);
    EXPECT_THAT(seen, ElementsAre(true, false, true));  // a value reported again is not repeated
    EXPECT_TRUE(model.canCheckForUpdates().get());
}

TEST(UpdaterViewModelTest, StopsFollowingWhenDestroyedWhileTheUpdaterLivesOn) {
    const auto updater = std::make_shared<FakeUpdaterService>(false);
    std::make_unique<UpdaterViewModel>(updater).reset();
    updater->canCheckForUpdates().set(true);
    SUCCEED();
}

TEST(UpdaterViewModelTest, HandsTheMenuTheUpdaterItAsksToCheck) {
    const auto updater = std::make_shared<FakeUpdaterService>(true);
    UpdaterViewModel model(updater);
    model.updater()->checkForUpdates();
    EXPECT_EQ(updater->checks, 1);
}

}  // namespace
}  // namespace tw
