// Who may use the real helper: root, members of its group, and whom polkit authorises; anyone
// else is refused and nothing runs. The other users are played by forked children.

#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, kPing), R"({"reply":true})");
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

// A user of the active session may ask for what the application sends and nothing else; the
// daemon's servers are the ones the bundle's Info.json names. Root may ask for anything.
TEST_F(HelperAccessTest, LimitsAnActiveSessionUserToTheApplicationsRequests) {
    if (!FakePolkit::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    FakePolkit polkit(true);
    ASSERT_TRUE(polkit.ready());
    std::ofstream(helper.dir().file("Info.json")) << R"({"TWConductorURL":"c.example"})";
    helper.start({}, polkit.address());
    const auto asUser = [&](const std::string& path, const std::vector<std::string>& arguments) {
        return helper.exchangeAs(kNobody, {kNogroup},
                                 HelperToolProtocol::encodeRequest(
                                     HelperToolProtocol::RunGoTool{path, arguments}));
    };
    EXPECT_EQ(helper.exchangeAs(kNobody, {kNogroup}, kPing), R"({"reply":true})");
    EXPECT_EQ(asUser(helper.daemon(), {"--help"}), R"({"reply":"tarnwickd help: --help\n"})");
    EXPECT_EQ(asUser(helper.cli(), {"down"}), R"({"reply":"tarnwick down\n"})");
    EXPECT_EQ(asUser(helper.daemon(), {"up", "--conductor-host", "c.example"}),
              R"({"reply":"spawned"})");
    for (const auto& [path, arguments] :
         {std::pair{helper.daemon(), std::vector<std::string>{}},
          std::pair{helper.daemon(), std::vector<std::string>{"up"}},
          std::pair{helper.daemon(), std::vector<std::string>{"up", "--conductor-host", "evil"}},
          std::pair{helper.cli(), std::vector<std::string>{"touch"}}}) {
        EXPECT_THAT(asUser(path, arguments), StartsWith(R"({"error":"not permitted: )"))
            << path << " " << arguments.size();
    }
    EXPECT_FALSE(std::filesystem::exists(helper.touched()));
    EXPECT_THAT(helper.systemLog(), Contains(StartsWith("Refused a request of uid 65534 to run ")));
    EXPECT_EQ(helper.run(helper.cli(), {"touch"}), "");
    EXPECT_TRUE(std::filesystem::exists(helper.touched()));
}

}  // namespace
}  // namespace tw
