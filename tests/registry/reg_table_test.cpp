#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "reg_test_support.hpp"
#include "registry/reg_users.hpp"

namespace {

struct UpdateStep {
    UpdateCall call;
    int expectedResult;
};

struct UpdateCase {
    const char* name;
    std::vector<UpdateStep> steps;
    std::string expectedListing;
};

const UpdateCall kAlice{"alice", "192.168.1.21",    5062, "192.168.1.21",
                        5062,    "<sip:alice@lan>", 3600};

UpdateCall with(UpdateCall call, const std::string& name, int expires) {
    call.name = name;
    call.expires = expires;
    return call;
}

TEST(RegistryUpdate, Cases) {
    const std::string aliceLine =
        "alice, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n";
    const UpdateCase cases[] = {
        {"StoresNewBinding", {{kAlice, 1}}, aliceLine},
        {"ReplaceTakesEveryField",
         {{kAlice, 1},
          {{"alice", "192.168.1.30", 5070, "pc30.lan", 5080, "\"Alice\" <sip:alice@lan>", 60}, 1}},
         "alice, 192.168.1.30, 5070, pc30.lan, 5080, \"Alice\" <sip:alice@lan>, 60\n"},
        {"ReplaceKeepsPlaceInNameOrder",
         {{with(kAlice, "bob", 3600), 1}, {kAlice, 1}, {with(kAlice, "alice", 120), 1}},
         "alice, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 120\n"
         "bob, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n"},
        {"ExpiresZeroRemovesPresentName", {{kAlice, 1}, {with(kAlice, "alice", 0), 0}}, ""},
        {"ExpiresMinusOneRemovesPresentName", {{kAlice, 1}, {with(kAlice, "alice", -1), 0}}, ""},
        {"RemovingAbsentNameChangesNothing", {{kAlice, 1}, {with(kAlice, "bob", 0), 0}}, aliceLine},
        {"ExpiresMinusOneForAbsentNameStoresNothing", {{with(kAlice, "alice", -1), 0}}, ""},
        {"NamesDifferingInCaseAreSeparateUsers",
         {{kAlice, 1}, {with(kAlice, "Alice", 3600), 1}},
         "Alice, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n" + aliceLine},
        {"EmptyNameIsOrdinaryKeyAndSortsFirst",
         {{kAlice, 1}, {with(kAlice, "", 3600), 1}},
         ", 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n" + aliceLine},
        {"NamesSortAsUnsignedBytes",
         {{with(kAlice, "\xc3\xa9lise", 3600), 1}, {with(kAlice, "zed", 3600), 1}},
         "zed, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n"
         "\xc3\xa9lise, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n"},
        {"ShorterPrefixSortsFirst",
         {{with(kAlice, "al", 3600), 1}, {kAlice, 1}},
         "al, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600\n" + aliceLine},
    };
    for (const UpdateCase& c : cases) {
        SCOPED_TRACE(c.name);
        TagRegUsers table("unused-RegUsers.txt", false);
        for (const UpdateStep& step : c.steps)
            EXPECT_EQ(Apply(table, step.call), step.expectedResult);
        EXPECT_EQ(ListingOf(table), c.expectedListing);
    }
}

// regTime is in memory only, so it is observed through the public table.
TEST(RegistryUpdate, RefreshTakesNewRegTime) {
    TagRegUsers table("unused-RegUsers.txt", false);
    ASSERT_EQ(Apply(table, kAlice), 1);
    table.users.at("alice").regTime = 0;
    std::time_t before = std::time(nullptr);
    ASSERT_EQ(Apply(table, kAlice), 1);
    EXPECT_GE(table.users.at("alice").regTime, before);
}

struct FindByNameCase {
    const char* name;
    std::vector<UpdateCall> setup;
    std::string query;
    int expectedResult;
    std::string expectedAddress;
    int expectedPort;
};

TEST(RegistryFindByName, Cases) {
    const FindByNameCase cases[] = {
        {"FoundGivesSourceNotVia",
         {{"alice", "192.168.1.21", 5062, "pc21.lan", 5070, "<sip:alice@lan>", 60}},
         "alice",
         1,
         "192.168.1.21",
         5062},
        {"AbsentLeavesOutputs", {kAlice}, "bob", 0, "unset", -7},
        {"CaseMatters", {kAlice}, "Alice", 0, "unset", -7},
        {"EmptyTable", {}, "alice", 0, "unset", -7},
        {"EmptyNameIsFound",
         {{"", "192.168.1.9", 5060, "192.168.1.9", 5060, "<sip:@lan>", 60}},
         "",
         1,
         "192.168.1.9",
         5060},
        {"LongAddressComesWhole",
         {{"alice", "phone-of-alice.second-floor.example.lan", 5060, "x", 5060, "<sip:a>", 60}},
         "alice",
         1,
         "phone-of-alice.second-floor.example.lan",
         5060},
        {"RemovedNameIsGone", {kAlice, with(kAlice, "alice", 0)}, "alice", 0, "unset", -7},
    };
    for (const FindByNameCase& c : cases) {
        SCOPED_TRACE(c.name);
        TagRegUsers table("unused-RegUsers.txt", false);
        for (const UpdateCall& call : c.setup) Apply(table, call);
        std::string address = "unset";
        int port = -7;
        EXPECT_EQ(table.FindByName(c.query, address, port), c.expectedResult);
        EXPECT_EQ(address, c.expectedAddress);
        EXPECT_EQ(port, c.expectedPort);
    }
}

std::vector<std::string> gLogged;

void recordLogLine(std::string_view text) {
    gLogged.emplace_back(text);
}

struct FindByViaCase {
    const char* name;
    std::vector<UpdateCall> setup;
    std::string viaIp;
    int viaPort;
    int expectedResult;
    std::string expectedAddress;
    int expectedPort;
    std::string expectedLog;
};

TEST(RegistryFindByVia, Cases) {
    // Two accounts behind one phone: same Via, different source ports.
    const UpdateCall bob{"bob", "192.168.1.40", 5064, "pc40.lan", 5060, "<sip:bob@lan>", 60};
    const UpdateCall anna{"anna", "192.168.1.40", 5066, "pc40.lan", 5060, "<sip:anna@lan>", 60};
    const UpdateCall carl{"carl", "192.168.1.41", 5068, "pc41.lan", 5060, "<sip:carl@lan>", 60};
    UpdateCall annaMoved = anna;
    annaMoved.viaIp = "pc41.lan";

    const FindByViaCase cases[] = {
        {"AnswersSourceOfTheMatch",
         {carl},
         "pc41.lan",
         5060,
         1,
         "192.168.1.41",
         5068,
         "Found Via."},
        {"FirstInNameOrderAnswers",
         {bob, anna, carl},
         "pc40.lan",
         5060,
         1,
         "192.168.1.40",
         5066,
         "Found Via."},
        {"NextAnswersWhenFirstIsRemoved",
         {bob, anna, carl, with(anna, "anna", 0)},
         "pc40.lan",
         5060,
         1,
         "192.168.1.40",
         5064,
         "Found Via."},
        {"ReplacedViaNoLongerFindsOldPlace",
         {anna, annaMoved},
         "pc40.lan",
         5060,
         0,
         "unset",
         -7,
         "Via not Found."},
        {"ReplacedViaFindsNewPlace",
         {carl, anna, annaMoved},
         "pc41.lan",
         5060,
         1,
         "192.168.1.40",
         5066,
         "Found Via."},
        {"LetterCaseDiffers", {bob}, "PC40.lan", 5060, 0, "unset", -7, "Via not Found."},
        {"TrailingBlankDiffers", {bob}, "pc40.lan ", 5060, 0, "unset", -7, "Via not Found."},
        {"OtherPortDiffers", {bob}, "pc40.lan", 5061, 0, "unset", -7, "Via not Found."},
        {"EmptyTable", {}, "pc40.lan", 5060, 0, "unset", -7, "Via not Found."},
        {"AllWithViaRemoved",
         {bob, with(bob, "bob", 0)},
         "pc40.lan",
         5060,
         0,
         "unset",
         -7,
         "Via not Found."},
    };
    for (const FindByViaCase& c : cases) {
        SCOPED_TRACE(c.name);
        TagRegUsers table("unused-RegUsers.txt", false);
        table.logLine = recordLogLine;
        for (const UpdateCall& call : c.setup) Apply(table, call);
        gLogged.clear();
        std::string address = "unset";
        int port = -7;
        EXPECT_EQ(table.FindByVia(c.viaIp, c.viaPort, address, port), c.expectedResult);
        EXPECT_EQ(address, c.expectedAddress);
        EXPECT_EQ(port, c.expectedPort);
        EXPECT_EQ(gLogged, std::vector<std::string>{c.expectedLog});
    }
}

}  // namespace
