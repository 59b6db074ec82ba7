#include "devdaemon/StandInStateFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TempDir.h"

namespace tw {
namespace {

using ::testing::HasSubstr;

void write(const std::string& path, std::string_view contents) { std::ofstream(path) << contents; }

TEST(StandInStateFile, KeepsProfilesAccountsAndWantRunningAcrossASaveAndALoad) {
    TempDir dir;
    const StandInStateFile file(dir.file("state.json"));
    const StandInState::Saved saved{
        .profiles = {{"a1", "user@example.com", StandInProfile::Account{17, 18, "user@example.com",
                                                                       "User \"Q\"", "net0f"}},
                     {"b2", "", std::nullopt}},
        .currentProfileId = "b2",
        .wantRunning = true,
    };
    ASSERT_TRUE(file.save(saved).has_value());
    EXPECT_EQ(file.load(), saved);

    ASSERT_TRUE(file.save({.profiles = {}, .currentProfileId = "", .wantRunning = false}));
    EXPECT_EQ(file.load(), StandInState::Saved{});
}

TEST(StandInStateFile, ReadsAMissingFileAsAFreshState) {
    TempDir dir;
    EXPECT_EQ(StandInStateFile(dir.file("none.json")).load(), StandInState::Saved{});
}

TEST(StandInStateFile, RefusesAFileItDidNotWrite) {
    TempDir dir;
    const StandInStateFile file(dir.file("state.json"));
    for (const auto contents :
         {"", "[]", "{\"profiles\":[]}",
          R"({"current_profile_id":"a","want_running":true,"profiles":[{"id":"a"}]})",
          R"({"current_profile_id":"a","want_running":1,"profiles":[]})",
          R"({"current_profile_id":"a","want_running":true,"profiles":[{"id":"a","name":"",
              "account":{"node_id":1}}]})"}) {
        write(file.path(), contents);
        ASSERT_FALSE(file.load().has_value()) << contents;
        EXPECT_THAT(file.load().error(), HasSubstr(file.path()));
    }
}

TEST(StandInStateFile, ReportsAFileThatCannotBeWritten) {
    TempDir dir;
    const StandInStateFile file(dir.file("missing-folder/state.json"));
    EXPECT_FALSE(file.save({}).has_value());
}

}  // namespace
}  // namespace tw
