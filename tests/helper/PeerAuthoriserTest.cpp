#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/UniqueFd.h"
#include "helper/PeerAuthoriser.h"
#include "helper/PolkitAuthority.h"

namespace tw {
namespace {

// A group that exists on the machine, standing in for "tarnwick".
struct ExistingGroup {
    std::string name;
    gid_t gid;
};

std::optional<ExistingGroup> someGroup() {
    const group* entry = ::getgrgid(65534);
    if (entry == nullptr) entry = ::getgrgid(0);
    if (entry == nullptr) return std::nullopt;
    return ExistingGroup{entry->gr_name, entry->gr_gid};
}

class PeerAuthoriserTest : public ::testing::Test {
protected:
    PeerAuthoriser authoriserWithPolkit(bool answer) {
        return PeerAuthoriser(group ? group->name : "tarnwick",
                              [this, answer](const PeerCredentials& peer) {
                                  askedPolkitFor.push_back(peer.pid);
                                  return answer;
                              });
    }

    const std::optional<ExistingGroup> group = someGroup();
    std::vector<pid_t> askedPolkitFor;
    static constexpr gid_t kOtherGid = 4242;
};

using Access = PeerAuthoriser::Access;

TEST_F(PeerAuthoriserTest, AllowsRootWithoutAskingPolkit) {
    EXPECT_EQ(authoriserWithPolkit(false).access({10, 0, kOtherGid, {}}), Access::full);
    EXPECT_TRUE(askedPolkitFor.empty());
}

TEST_F(PeerAuthoriserTest, AllowsTheHelpersOwnUserWithoutAskingPolkit) {
    EXPECT_EQ(authoriserWithPolkit(false).access({10, ::geteuid(), kOtherGid, {}}), Access::full);
    EXPECT_TRUE(askedPolkitFor.empty());
}

TEST_F(PeerAuthoriserTest, AllowsAMemberOfTheGroupBySupplementaryOrPrimaryGroup) {
    ASSERT_TRUE(group.has_value());
    const auto authoriser = authoriserWithPolkit(false);
    EXPECT_EQ(authoriser.access({10, 1000, kOtherGid, {kOtherGid + 1, group->gid}}), Access::full);
    EXPECT_EQ(authoriser.access({11, 1000, group->gid, {}}), Access::full);
    EXPECT_TRUE(askedPolkitFor.empty());
}

TEST_F(PeerAuthoriserTest, AsksPolkitAboutAnyoneElseAndFollowsItsAnswer) {
    const PeerCredentials stranger{12, 1000, kOtherGid, {kOtherGid + 1}};
    EXPECT_EQ(authoriserWithPolkit(false).access(stranger), Access::refused);
    EXPECT_EQ(authoriserWithPolkit(true).access(stranger), Access::session);
    EXPECT_EQ(askedPolkitFor, (std::vector<pid_t>{12, 12}));
}

TEST_F(PeerAuthoriserTest, TreatsAGroupThatDoesNotExistAsHavingNoMembers) {
    const PeerAuthoriser authoriser("tw-no-such-group-here",
                                    [](const PeerCredentials&) { return false; });
    EXPECT_EQ(authoriser.access({12, 1000, kOtherGid, {kOtherGid}}), Access::refused);
}

TEST(PeerCredentialsTest, ReadsTheKernelsRecordOfThePeer) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const UniqueFd one(ends[0]);
    const UniqueFd other(ends[1]);
    const auto peer = PeerCredentials::of(one.get());
    ASSERT_TRUE(peer.has_value());
    EXPECT_EQ(peer->pid, ::getpid());
    EXPECT_EQ(peer->uid, ::geteuid());
    EXPECT_EQ(peer->gid, ::getegid());
    std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)));
    groups.resize(
        static_cast<std::size_t>(::getgroups(static_cast<int>(groups.size()), groups.data())));
    EXPECT_EQ(peer->groups, groups);
}

TEST(PeerCredentialsTest, FailsOnADescriptorThatIsNoSocket) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const UniqueFd reading(ends[0]);
    const UniqueFd writing(ends[1]);
    EXPECT_FALSE(PeerCredentials::of(reading.get()).has_value());
    EXPECT_FALSE(PeerCredentials::of(-1).has_value());
}

TEST(PolkitAuthorityTest, ReadsTheStartTimeFieldOfAProcess) {
    std::ifstream file("/proc/self/stat");
    std::string stat;
    std::getline(file, stat);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22; ++index) fields >> field;
    EXPECT_EQ(PolkitAuthority::startTime(::getpid()), std::stoull(field));
}

TEST(PolkitAuthorityTest, HasNoStartTimeForAProcessThatIsGone) {
    EXPECT_EQ(PolkitAuthority::startTime(-1), std::nullopt);
    EXPECT_EQ(PolkitAuthority::startTime(0x3fffffff), std::nullopt);
}

}  // namespace
}  // namespace tw
