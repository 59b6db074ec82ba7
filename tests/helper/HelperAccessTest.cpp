// Who may use the real helper: root, members of its group, and whom polkit authorises; anyone
// else is refused and nothing runs. The other users are played by forked children.

#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "helper/PolkitAuthority.h"
#include "tests/helper/FakePolkit.h"
#include "tests/helper/RunningHelper.h"

namespace tw {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

const std::string kPing(HelperToolProtocol::encodeRequest(HelperToolProtocol::Ping{}));
const std::string kRefusal = R"({"error":"not authorised"})";

class HelperAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
    }

    std::string touchRequest() const {
        return HelperToolProtocol::encodeRequest(
            HelperToolProtocol::RunGoTool{helper.cli(), {"touch"}});
    }

    RunningHelper helper;
};

TEST_F(HelperAccessTest, ServesRoot) {
    helper.start();
    EXPECT_EQ(helper.exchangeAs(0, {0}, kPing), R"({"reply":true})");
}

TEST_F(HelperAccessTest, RefusesAUserOutsideTheGroupAndRunsNothing) {
    helper.start();
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, touchRequest()), kRefusal);
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
    EXPECT_THAT(helper.systemLog(),
                Contains(testing::AllOf(StartsWith("Refused connection from pid "),
                                        HasSubstr("(uid 65534): not root, not in group tarnwick "
                                                  "and not authorised by polkit"))));
    EXPECT_THAT(helper.systemLog(),
                testing::Not(Contains(StartsWith("call tarnwick helper tool"))));
}

TEST_F(HelperAccessTest, ServesAMemberOfTheGroup) {
    const group* nogroup = ::getgrgid(kNogroup);
    if (nogroup == nullptr) GTEST_SKIP() << "no group 65534 to stand in for the helper's group";
    helper.start({"--group", nogroup->gr_name});
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, kPing), R"({"reply":true})");
    EXPECT_EQ(helper.exchangeAs(kNobody, {4242, kNogroup}, kPing), R"({"reply":true})");
}

TEST_F(HelperAccessTest, AsksPolkitAboutAnyoneElseWithoutInteraction) {
    if (!FakePolkit::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    FakePolkit polkit(true);
    ASSERT_TRUE(polkit.ready());
    helper.start({}, polkit.address());
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, touchRequest()), R"({"reply":""})");
    EXPECT_TRUE(std::filesystem::exists(helper.touched()));
    const auto checks = polkit.checks();
    ASSERT_THAT(checks, SizeIs(1));
    EXPECT_EQ(checks[0].subjectKind, "unix-process");
    EXPECT_EQ(checks[0].uid, static_cast<std::int32_t>(kNobody));
    EXPECT_GT(checks[0].pid, 0u);
    EXPECT_GT(checks[0].startTime, 0u);
    EXPECT_EQ(checks[0].action, PolkitAuthority::kHelperAction);
    EXPECT_EQ(checks[0].flags, 0u);
}

TEST_F(HelperAccessTest, RefusesWhomPolkitDoesNotAuthorise) {
    if (!FakePolkit::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    FakePolkit polkit(false);
    ASSERT_TRUE(polkit.ready());
    helper.start({}, polkit.address());
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, touchRequest()), kRefusal);
    EXPECT_THAT(polkit.checks(), SizeIs(1));
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
}

TEST_F(HelperAccessTest, RefusesWhenTheBusHasNoPolkit) {
    if (!FakePolkit::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    FakePolkit bus(true, false);
    ASSERT_TRUE(bus.ready());
    helper.start({}, bus.address());
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, kPing), kRefusal);
}

// The default start of every helper in these tests has no bus at its address.
TEST_F(HelperAccessTest, RefusesWhenThereIsNoSystemBus) {
    helper.start();
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, kPing), kRefusal);
}

}  // namespace
}  // namespace tw
