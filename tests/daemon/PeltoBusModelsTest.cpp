#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/daemon/PeltoBusModels.h"

namespace tw {
namespace {

using ::testing::HasSubstr;

DaemonStatus status(std::string_view body) {
    auto decoded = DaemonStatus::decode(body);
    EXPECT_TRUE(decoded.has_value()) << body;
    return decoded.value_or(DaemonStatus{});
}

PeltoBusNotify notify(std::string_view line) {
    auto decoded = PeltoBusNotify::decode(line);
    EXPECT_TRUE(decoded.has_value()) << line << ": " << decoded.error().description;
    return decoded.value_or(PeltoBusNotify{});
}

std::string notifyFailure(std::string_view line) {
    auto decoded = PeltoBusNotify::decode(line);
    EXPECT_FALSE(decoded.has_value()) << line;
    return decoded ? std::string() : decoded.error().description;
}

std::string profilesFailure(std::string_view body) {
    auto decoded = ProfilesResponse::decode(body);
    EXPECT_FALSE(decoded.has_value()) << body;
    return decoded ? std::string() : decoded.error().description;
}

std::optional<PeltoBusState> stateOf(std::string_view stateJson) {
    return notify(R"({"State":)" + std::string(stateJson) + "}").state;
}

Node node(std::int64_t id, std::int64_t userID) {
    Node result;
    result.id = id;
    result.userID = userID;
    return result;
}

std::string nodeLine(std::string_view nodeMembers) {
    return R"({"NetMap":{"Peers":[{"Node":{)" + std::string(nodeMembers) + "}}]}}";
}

// Status: lenient.

TEST(DaemonStatusDecode, LeavesEveryFieldAbsentForAnEmptyObject) {
    EXPECT_EQ(status("{}"), DaemonStatus{});
}

TEST(DaemonStatusDecode, ReadsTheKnownMembers) {
    const DaemonStatus decoded = status(R"({
        "backend_state": "Running", "interactive_login_url": "https://login",
        "tarnwick_ips": ["100.64.0.1", "fd42::1"], "jailed": true, "jail_reason": "quota",
        "self": {"id": 42, "host_name": "lap", "tarnwick_ips": ["100.64.0.1"]},
        "email": "ignored@example.com", "user_name": "ignored"})");
    DaemonStatus expected;
    expected.backendState = "Running";
    expected.interactiveLoginUrl = "https://login";
    expected.tarnwickIps = {{"100.64.0.1", "fd42::1"}};
    expected.selfNode = DaemonStatus::SelfNode{42, "lap", {{"100.64.0.1"}}};
    expected.jailed = true;
    expected.jailReason = "quota";
    EXPECT_EQ(decoded, expected);
}

TEST(DaemonStatusDecode, TreatsMistypedMembersAsAbsentAndStillSucceeds) {
    const DaemonStatus decoded = status(
        R"({"backend_state": 3, "interactive_login_url": null, "tarnwick_ips": ["100.64.0.1", 7],
            "self": [], "jail_reason": false})");
    EXPECT_EQ(decoded, DaemonStatus{});
}

TEST(DaemonStatusDecode, FailsAndSaysWhyWhenTheBodyIsNotAnObject) {
    EXPECT_EQ(DaemonStatus::decode("[]").error().description,
              "top level: expected an object, got an array");
    EXPECT_EQ(DaemonStatus::decode(R"("Running")").error().description,
              "top level: expected an object, got a string");
    EXPECT_THAT(DaemonStatus::decode("{").error().description, HasSubstr("not valid JSON: "));
    EXPECT_FALSE(DaemonStatus::decode("").has_value());
}

TEST(DaemonStatusDecode, AcceptsJailedAsBooleanOrZeroOrOne) {
    EXPECT_EQ(status(R"({"jailed": true})").jailed, true);
    EXPECT_EQ(status(R"({"jailed": false})").jailed, false);
    EXPECT_EQ(status(R"({"jailed": 1})").jailed, true);
    EXPECT_EQ(status(R"({"jailed": 0})").jailed, false);
}

TEST(DaemonStatusDecode, LeavesJailedAbsentForOtherNumbersAndTypes) {
    EXPECT_EQ(status(R"({"jailed": 2})").jailed, std::nullopt);
    EXPECT_EQ(status(R"({"jailed": -1})").jailed, std::nullopt);
    EXPECT_EQ(status(R"({"jailed": 1.0})").jailed, std::nullopt);
    EXPECT_EQ(status(R"({"jailed": "true"})").jailed, std::nullopt);
}

TEST(DaemonStatusSelfNode, IsPresentForAnEmptyObjectWithIdZero) {
    EXPECT_EQ(status(R"({"self": {}})").selfNode, DaemonStatus::SelfNode{});
}

TEST(DaemonStatusSelfNode, TakesIdZeroUnlessItIsAnIntegerInRange) {
    const auto idOf = [](std::string_view id) {
        return status(R"({"self": {"id": )" + std::string(id) + "}}").selfNode.value().id;
    };
    EXPECT_EQ(idOf(R"("123")"), 0);
    EXPECT_EQ(idOf("9223372036854775808"), 0);
    EXPECT_EQ(idOf("12.5"), 0);
    EXPECT_EQ(idOf("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(idOf("-5"), -5);
}

TEST(DaemonStatusSelfNode, LeavesMistypedInnerMembersAbsent) {
    const auto self =
        status(R"({"self": {"host_name": 1, "tarnwick_ips": "100.64.0.1"}})").selfNode;
    EXPECT_EQ(self, DaemonStatus::SelfNode{});
}

// Profiles: strict.

TEST(ProfilesResponseDecode, ReadsProfilesInOrder) {
    const auto decoded = ProfilesResponse::decode(R"({"current_profile_id": "b", "profiles": [
        {"id": "a", "name": "Work", "node_id": 17, "user_email": "a@example.com",
         "is_current": false},
        {"id": "b", "name": "Home", "is_current": true, "extra": [1, 2]}]})");
    ASSERT_TRUE(decoded.has_value()) << decoded.error().description;
    EXPECT_EQ(*decoded, (ProfilesResponse{"b",
                                          {
                                              {"a", "Work", 17, "a@example.com", false},
                                              {"b", "Home", std::nullopt, std::nullopt, true},
                                          }}));
}

TEST(ProfilesResponseDecode, GivesAnEmptyListWhenProfilesIsMissingOrNull) {
    EXPECT_EQ(ProfilesResponse::decode(R"({"current_profile_id": "a"})"),
              (ProfilesResponse{"a", {}}));
    EXPECT_EQ(ProfilesResponse::decode(R"({"current_profile_id": "a", "profiles": null})"),
              (ProfilesResponse{"a", {}}));
}

TEST(ProfilesResponseDecode, FailsAndSaysSoWhenTheCurrentIdIsMissingOrNull) {
    EXPECT_EQ(profilesFailure(R"({"profiles": []})"), "current_profile_id: missing");
    EXPECT_EQ(profilesFailure(R"({"current_profile_id": null})"),
              "current_profile_id: expected a string, got null");
}

TEST(ProfilesResponseDecode, NamesTheElementWhoseRequiredMemberIsWrong) {
    EXPECT_EQ(profilesFailure(R"({"current_profile_id": "a", "profiles": [
                                 {"id": "a", "name": "A", "is_current": true},
                                 {"id": 5, "name": "B", "is_current": false}]})"),
              "profiles[1].id: expected a string, got an integer");
    EXPECT_EQ(
        profilesFailure(R"({"current_profile_id": "a", "profiles": [{"id": "a", "name": "A"}]})"),
        "profiles[0].is_current: missing");
}

TEST(ProfilesResponseDecode, TreatsANullNodeIdAsAbsentButFailsOnAStringOne) {
    const auto decoded = ProfilesResponse::decode(R"({"current_profile_id": "a", "profiles": [
        {"id": "a", "name": "A", "node_id": null, "is_current": true}]})");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->profiles.at(0).nodeId, std::nullopt);
    EXPECT_EQ(profilesFailure(R"({"current_profile_id": "a", "profiles": [
                                 {"id": "a", "name": "A", "node_id": "17", "is_current": true}]})"),
              "profiles[0].node_id: expected an integer, got a string");
}

TEST(ProfilesResponseDecode, FailsWhenProfilesIsNotAnArray) {
    EXPECT_EQ(profilesFailure(R"({"current_profile_id": "a", "profiles": {}})"),
              "profiles: expected an array, got an object");
}

// Stream state.

TEST(PeltoBusStateDecode, MapsKnownCodesAndNamesInAnyCase) {
    EXPECT_EQ(stateOf("0"), PeltoBusState::noState);
    EXPECT_EQ(stateOf("1"), PeltoBusState::needsLogin);
    EXPECT_EQ(stateOf(R"("Stopped")"), PeltoBusState::stopped);
    EXPECT_EQ(stateOf("3"), PeltoBusState::starting);
    EXPECT_EQ(stateOf("4"), PeltoBusState::running);
    EXPECT_EQ(stateOf(R"("running")"), PeltoBusState::running);
    EXPECT_EQ(stateOf(R"("RUNNING")"), PeltoBusState::running);
    EXPECT_EQ(stateOf(R"("NeedsLogin")"), PeltoBusState::needsLogin);
}

TEST(PeltoBusStateDecode, MapsUnknownCodesAndNamesToNoState) {
    EXPECT_EQ(stateOf("7"), PeltoBusState::noState);
    EXPECT_EQ(stateOf("-1"), PeltoBusState::noState);
    EXPECT_EQ(stateOf("18446744073709551615"), PeltoBusState::noState);
    EXPECT_EQ(stateOf(R"("bogus")"), PeltoBusState::noState);
    EXPECT_EQ(stateOf(R"("running ")"), PeltoBusState::noState);
}

TEST(PeltoBusStateDecode, FailsTheNotificationForOtherTypes) {
    EXPECT_EQ(notifyFailure(R"({"State": true})"),
              "State: expected a state code or name, got a boolean");
    EXPECT_THAT(notifyFailure(R"({"State": 1.5})"), HasSubstr("State: "));
    EXPECT_THAT(notifyFailure(R"({"State": 4.0})"), HasSubstr("State: "));
    EXPECT_THAT(notifyFailure(R"({"State": {}})"), HasSubstr("State: "));
    EXPECT_THAT(notifyFailure(R"({"State": []})"), HasSubstr("State: "));
}

TEST(PeltoBusStateDecode, TreatsNullAsAbsent) { EXPECT_EQ(stateOf("null"), std::nullopt); }

TEST(PeltoBusStateName, SpellsEachState) {
    EXPECT_EQ(name(PeltoBusState::noState), "NoState");
    EXPECT_EQ(name(PeltoBusState::needsLogin), "NeedsLogin");
    EXPECT_EQ(name(PeltoBusState::stopped), "Stopped");
    EXPECT_EQ(name(PeltoBusState::starting), "Starting");
    EXPECT_EQ(name(PeltoBusState::running), "Running");
}

// Stream notifications: strict, every member optional.

TEST(PeltoBusNotifyDecode, LeavesEveryFieldAbsentForAnEmptyObject) {
    EXPECT_EQ(notify("{}"), PeltoBusNotify{});
}

TEST(PeltoBusNotifyDecode, AcceptsALineEndingInCarriageReturn) {
    EXPECT_EQ(notify("{\"Version\":\"1.2\"}\r").version, "1.2");
}

TEST(PeltoBusNotifyDecode, TreatsNullMembersAsAbsent) {
    EXPECT_EQ(notify(R"({"Version":null,"NetMap":null,"Jailed":null,"ErrMessage":null})"),
              PeltoBusNotify{});
}

TEST(PeltoBusNotifyDecode, IgnoresUnknownMembersAndKeysOfAnotherCase) {
    EXPECT_EQ(notify(R"({"version":3,"Extra":{"Deep":[1,2]},"jailed":"x"})"), PeltoBusNotify{});
}

TEST(PeltoBusNotifyDecode, TakesTheFirstOfRepeatedKeys) {
    EXPECT_EQ(notify(R"({"Version":"1","Version":"2"})").version, "1");
}

TEST(PeltoBusNotifyDecode, FailsWhenAPresentOptionalMemberHasTheWrongType) {
    EXPECT_EQ(notifyFailure(R"({"Version":3})"), "Version: expected a string, got an integer");
    EXPECT_EQ(notifyFailure(R"({"Jailed":1})"), "Jailed: expected a boolean, got an integer");
    EXPECT_EQ(notifyFailure(R"({"NetMap":[]})"), "NetMap: expected an object, got an array");
    EXPECT_EQ(notifyFailure(R"({"NetMap":{"Peers":{}}})"),
              "NetMap.Peers: expected an array, got an object");
    EXPECT_EQ(notifyFailure(R"({"NetMap":{"UserProfiles":[]}})"),
              "NetMap.UserProfiles: expected an object, got an array");
}

TEST(PeltoBusNotifyDecode, DecodesAFullNotification) {
    const PeltoBusNotify decoded = notify(R"({
        "Version": "1.60.0", "ErrMessage": "", "State": "Running",
        "InteractiveLoginUrl": "https://login.example/a", "Jailed": false, "JailReason": "",
        "NetMap": {
            "SelfNode": {"Node": {"ID": 1, "Name": "lap.tw.net.", "Addresses": ["100.64.0.1/32"],
                                  "Key": "nodekey:aa", "AllowedIPs": ["100.64.0.1/32"],
                                  "Endpoints": [], "NodeKey": "nodekey:aa", "OS": "linux",
                                  "UserID": 10, "Online": true}},
            "NodeKey": "nodekey:aa", "PrivateWgKey": "privkey:bb",
            "Peers": [
                {"Node": {"ID": 2, "Name": "desk.tw.net.",
                          "Addresses": ["100.64.0.2/32", "fd42::2/128"],
                          "Endpoints": ["192.0.2.1:41641"], "OS": "windows", "UserID": 10}},
                {"Node": {"ID": 3, "UserID": 11, "Capabilities": null}}
            ],
            "DNSName": "lap.tw.net.",
            "UserProfiles": {"10": {"LoginName": "ann@example.com", "DisplayName": "Ann",
                                    "ProfileURL": "https://pic/ann"},
                             "11": {"LoginName": "bob@example.com"}}
        }
    })"
                                          "\r");
    static constexpr std::string_view kSelfAddresses[] = {"100.64.0.1/32"};
    static constexpr std::string_view kDeskAddresses[] = {"100.64.0.2/32", "fd42::2/128"};
    static constexpr std::string_view kDeskEndpoints[] = {"192.0.2.1:41641"};
    const Node self{1,         "lap.tw.net.", TextList(kSelfAddresses), "nodekey:aa",
                    TextList(kSelfAddresses), TextList(), "nodekey:aa",           "linux",
                    10};
    Node desk = node(2, 10);
    desk.name = "desk.tw.net.";
    desk.addresses = TextList(kDeskAddresses);
    desk.endpoints = TextList(kDeskEndpoints);
    desk.os = "windows";
    const PeltoBusNotify expected{
        .version = "1.60.0",
        .errMessage = "",
        .state = PeltoBusState::running,
        .netMap = NetworkMap{.selfNode = NodeView{self},
                             .nodeKey = "nodekey:aa",
                             .privateWgKey = "privkey:bb",
                             .peers = {{NodeView{desk}, NodeView{node(3, 11)}}},
                             .dnsName = "lap.tw.net.",
                             .userProfiles = {{
                                 {"10", {"ann@example.com", "Ann", "https://pic/ann"}},
                                 {"11", {"bob@example.com", std::nullopt, std::nullopt}},
                             }},
                             .buffers = {}},
        .interactiveLoginUrl = "https://login.example/a",
        .jailed = false,
        .jailReason = "",
        .buffers = {},
    };
    EXPECT_EQ(decoded, expected);
}

TEST(PeltoBusNotifyDecode, RefusesEveryLineThatIsNotValidJsonEvenWhereItIsNotRead) {
    for (const std::string_view line : {
             R"({"Extra":tru})", R"({"Extra":[1 2]})", R"({"Extra":{"a" 1}})", R"({"Extra":01})",
             R"({"Extra":nul})", R"({"Extra":"\q"})", R"({"Extra":{"\q":1}})", R"({"Version":"\x"})",
             R"({"Version":"1","Version":tru})", R"({"NetMap":{"Peers":[{"Extra":-}]}})",
             R"({"Version":"1"} x)", R"({}})", R"({"Version":"1")", R"({"Version":"1",})", "",
             R"({"Version":"a":}})", R"({"Extra":{"a":"b":}}})"}) {
        EXPECT_THAT(notifyFailure(line), testing::StartsWith("not valid JSON: ")) << line;
    }
}

TEST(PeltoBusNotifyDecode, UnescapesTextsAndNamesThatCarryEscapes) {
    const auto decoded = notify(R"({"\u0056ersion":"a\"b\u00e9","NetMap":{"Peers":[{"Node":{)"
                                R"("ID":1,"UserID":1,"Name":"x\ny","Addresses":["a\/b"]}}],)"
                                R"("UserProfiles":{"k\u0041":{"LoginName":"x"}}}})");
    EXPECT_EQ(decoded.version, "a\"b\u00e9");
    const auto& node = decoded.netMap->peers->at(0).node;
    EXPECT_EQ(node->name, "x\ny");
    EXPECT_THAT(*node->addresses, testing::ElementsAre("a/b"));
    EXPECT_EQ(decoded.netMap->userProfiles->count("kA"), 1u);
}

TEST(PeltoBusNotifyDecode, AMapKeepsItsTextsAfterItsLineAndNotificationAreGone) {
    NetworkMap map;
    {
        std::string line = R"({"NetMap":{"DNSName":"self.","Peers":[{"Node":{"ID":1,"UserID":2,)"
                           R"("Name":"peer","Addresses":["100.64.0.2/32"]}}]}})";
        map = notify(line).netMap.value();
        line.assign(line.size(), 'x');
    }
    EXPECT_EQ(map.dnsName, "self.");
    const auto& node = map.peers->at(0).node;
    EXPECT_EQ(node->name, "peer");
    EXPECT_THAT(*node->addresses, testing::ElementsAre("100.64.0.2/32"));
}

// Network map records.

TEST(NetworkMapDecode, GivesAPeerWithoutNodeMemberNoNode) {
    const auto decoded = notify(R"({"NetMap":{"Peers":[{}, {"Node":null}]}})");
    EXPECT_EQ(decoded.netMap->peers, (std::vector<NodeView>{{}, {}}));
}

TEST(NetworkMapDecode, FailsWhenAPeerIsNotAnObject) {
    EXPECT_EQ(notifyFailure(R"({"NetMap":{"Peers":[{}, "peer"]}})"),
              "NetMap.Peers[1]: expected an object, got a string");
}

TEST(NetworkMapDecode, KeysUserProfilesByMemberName) {
    const auto decoded = notify(R"({"NetMap":{"UserProfiles":{"ann":{"DisplayName":"Ann"}}}})");
    EXPECT_EQ(decoded.netMap->userProfiles,
              (std::map<std::string_view, UserProfile, std::less<>>{
                  {"ann", {std::nullopt, "Ann", std::nullopt}}}));
}

TEST(NetworkMapDecode, NamesTheUserProfileMemberThatIsWrong) {
    EXPECT_EQ(notifyFailure(R"({"NetMap":{"UserProfiles":{"ann":{"LoginName":true}}}})"),
              "NetMap.UserProfiles.ann.LoginName: expected a string, got a boolean");
}

TEST(NodeDecode, FailsWithoutItsRequiredIds) {
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":1)")), "NetMap.Peers[0].Node.UserID: missing");
    EXPECT_EQ(notifyFailure(nodeLine(R"("UserID":1)")), "NetMap.Peers[0].Node.ID: missing");
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":null,"UserID":1)")),
              "NetMap.Peers[0].Node.ID: expected an integer, got null");
}

TEST(NodeDecode, TakesIdsOnlyAsSigned64BitIntegers) {
    EXPECT_EQ(notify(nodeLine(R"("ID":-9223372036854775808,"UserID":9223372036854775807)"))
                  .netMap->peers->at(0)
                  .node,
              node(INT64_MIN, INT64_MAX));
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":9223372036854775808,"UserID":1)")),
              "NetMap.Peers[0].Node.ID: integer out of the signed 64-bit range");
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":4.0,"UserID":1)")),
              "NetMap.Peers[0].Node.ID: expected an integer, got a floating-point number");
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":"4","UserID":1)")),
              "NetMap.Peers[0].Node.ID: expected an integer, got a string");
}

TEST(NodeDecode, TakesAnEmptyListAsPresentAndEmpty) {
    const auto decoded = notify(nodeLine(R"("ID":1,"UserID":1,"Addresses":[],"Endpoints":["e"])"));
    const auto& node = decoded.netMap->peers->at(0).node;
    EXPECT_EQ(node->addresses, TextList());
    EXPECT_THAT(*node->endpoints, testing::ElementsAre("e"));
}

TEST(NodeDecode, KeepsEveryListWholeHoweverManyThereAre) {
    // Lists of one to nine addresses, enough of them that the pool they are kept in grows many
    // times, with lists that straddle its growth.
    std::string peers;
    for (int peer = 0; peer < 200; ++peer) {
        std::string addresses;
        for (int at = 0; at <= peer % 9; ++at) {
            addresses += (at ? ",\"" : "\"") + std::to_string(peer) + "." + std::to_string(at) + "\"";
        }
        peers += (peer ? "," : "") + std::string(R"({"Node":{"ID":1,"UserID":1,"Addresses":[)") +
                 addresses + "]}}";
    }
    const auto decoded = notify(R"({"NetMap":{"Peers":[)" + peers + "]}}");
    ASSERT_EQ(decoded.netMap->peers->size(), 200u);
    for (int peer = 0; peer < 200; ++peer) {
        const auto& addresses = *decoded.netMap->peers->at(peer).node->addresses;
        ASSERT_EQ(addresses.size(), static_cast<std::size_t>(peer % 9 + 1)) << peer;
        for (int at = 0; at <= peer % 9; ++at) {
            EXPECT_EQ(addresses[at], std::to_string(peer) + "." + std::to_string(at));
        }
    }
}

TEST(NodeDecode, FailsWhenAListHoldsANonString) {
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":1,"UserID":1,"Addresses":["100.64.0.1/32",5])")),
              "NetMap.Peers[0].Node.Addresses[1]: expected a string, got an integer");
    EXPECT_EQ(notifyFailure(nodeLine(R"("ID":1,"UserID":1,"AllowedIPs":"100.64.0.1/32")")),
              "NetMap.Peers[0].Node.AllowedIPs: expected an array, got a string");
}

}  // namespace
}  // namespace tw
