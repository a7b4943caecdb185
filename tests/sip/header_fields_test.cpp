#include <gtest/gtest.h>

#include <string>

#include "message_fixture.hpp"

namespace {

// A REGISTER whose header lines are the case's own.
std::string RegisterWith(const std::string& headerLines) {
    return "REGISTER sip:10.0.0.1 SIP/2.0\r\n" + headerLines + "Call-ID: c1\r\n\r\n";
}

struct HeaderCase {
    const char* name;
    const char* headerLines;
    const char* asked;
    const char* value;
    int result;
};

const HeaderCase kHeaderCases[] = {
    {"PresentGivesWholeValue", "Expires: 3600\r\n", "Expires", "3600", 1},
    {"ValueKeepsExtraBlanks", "Expires:  60 \r\n", "Expires", " 60 ", 1},
    {"AbsentGivesEmptyText", "", "Expires", "", 0},
    {"LowerCaseNameIsAnotherName", "expires: 60\r\n", "Expires", "", 0},
};

TEST(GetHeaderTest, PlainLookupByExactName) {
    for (const HeaderCase& c : kHeaderCases) {
        SCOPED_TRACE(c.name);
        const TagReqProc message = ParseBytes(RegisterWith(c.headerLines));
        const std::size_t entriesBefore = message.headers.size();
        std::string value = "left over";
        EXPECT_EQ(message.GetHeader(c.asked, value), c.result);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(message.headers.size(), entriesBefore);  // the lookup inserts nothing
    }
}

struct ViaCase {
    const char* name;
    const char* headerLines;
    const char* address;
    int port;
    int result;
};

const ViaCase kViaCases[] = {
    {"PortEndsAddressAtColon", "Via: SIP/2.0/UDP 10.0.0.7:5080;branch=x1\r\n", "10.0.0.7", 5080, 1},
    {"ViaWithoutPortStopsAtSemicolon", "Via: SIP/2.0/UDP 10.0.0.7;branch=x1;rport\r\n", "10.0.0.7",
     5060, 1},
    {"ViaWithoutPortOrParametersTakesRest", "Via: SIP/2.0/UDP 10.0.0.7\r\n", "10.0.0.7", 5060, 1},
    {"ViaWithoutPortDropsTrailingBlanksAndTabs", "Via: SIP/2.0/UDP 10.0.0.7 \t;branch=x1\r\n",
     "10.0.0.7", 5060, 1},
    {"ColonInParameterIsNoPort", "Via: SIP/2.0/UDP 10.0.0.7;branch=a:b\r\n", "10.0.0.7", 5060, 1},
    {"ColonInLaterViaOfListIsNoPort", "Via: SIP/2.0/UDP 10.0.0.7, SIP/2.0/UDP 10.0.0.9:5080\r\n",
     "10.0.0.7", 5060, 1},
    {"ListTakesFirstAddressAndPort",
     "Via: SIP/2.0/UDP 10.0.0.7:5060, SIP/2.0/UDP 10.0.0.9:5080\r\n", "10.0.0.7", 5060, 1},
    {"NoBlankGivesEmptyAddress", "Via: SIP/2.0/UDP\r\n", "", 5060, 1},
    {"PortWithoutDigitsGivesZero", "Via: SIP/2.0/UDP 10.0.0.7:abc\r\n", "10.0.0.7", 0, 1},
    {"SecondBlankStaysInAddress", "Via: SIP/2.0/UDP  10.0.0.7:5060\r\n", " 10.0.0.7", 5060, 1},
    {"ColonBeforeBlankGivesPortAndLeavesHostWhole", "Via: SIP/2.0/UDP:5070 10.0.0.7\r\n",
     "10.0.0.7", 5070, 1},
    {"ColonBeforeBlankStillStopsAtSemicolon", "Via: SIP/2.0/UDP:5070 10.0.0.7;branch=x1\r\n",
     "10.0.0.7", 5070, 1},
    {"LastViaLineCounts",
     "Via: SIP/2.0/UDP 10.0.0.9:5090\r\nVia: SIP/2.0/UDP 10.0.0.7:5080;branch=x1\r\n", "10.0.0.7",
     5080, 1},
    {"PercentSignInAddressIsText", "Via: SIP/2.0/UDP 10.0.%d.7:5080\r\n", "10.0.%d.7", 5080, 1},
    {"NoViaEntry", "", "", 5060, 0},
    {"LowerCaseViaIsNotFound", "via: SIP/2.0/UDP 10.0.0.7:5080\r\n", "", 5060, 0},
    {"CompactViaIsNotFound", "v: SIP/2.0/UDP 10.0.0.7:5080\r\n", "", 5060, 0},
};

TEST(GetViaAddrTest, AddressPortAndConsoleLine) {
    for (const ViaCase& c : kViaCases) {
        SCOPED_TRACE(c.name);
        const TagReqProc message = ParseBytes(RegisterWith(c.headerLines));
        std::string address = "left over";
        int port = -1;
        int result = -1;
        const std::string printed =
            CaptureOutput([&](std::FILE* out) { result = message.GetViaAddr(address, port, out); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(printed, "ViaIp: " + std::string(c.address) +
                               ", ViaPort: " + std::to_string(c.port) + "\n");
    }
}

TEST(GetViaAddrTest, ConsoleLineOfUsualVia) {
    const TagReqProc message =
        ParseBytes(RegisterWith("Via: SIP/2.0/UDP 10.0.0.7:5080;branch=x1\r\n"));
    std::string address;
    int port = 0;
    EXPECT_EQ(CaptureOutput([&](std::FILE* out) { message.GetViaAddr(address, port, out); }),
              "ViaIp: 10.0.0.7, ViaPort: 5080\n");
}

struct ToCase {
    const char* name;
    const char* headerLines;
    const char* userName;
    const char* toValue;
    int result;
};

const ToCase kToCases[] = {
    {"UserPartWithDisplayNameAndTag", "To: \"Bob\" <sip:1001@10.0.0.1>;tag=b2\r\n", "1001",
     "\"Bob\" <sip:1001@10.0.0.1>;tag=b2", 1},
    {"UserPartWithoutDisplayName", "To: <sip:1002@10.0.0.1>\r\n", "1002", "<sip:1002@10.0.0.1>", 1},
    {"NoColonGivesWholeValue", "To: 1001\r\n", "1001", "1001", 1},
    {"NoUserPartKeepsColonAndRest", "To: <sip:10.0.0.1>\r\n", ":10.0.0.1>", "<sip:10.0.0.1>", 1},
    {"AtSignRightAfterColonGivesEmptyUser", "To: <sip:@10.0.0.1>\r\n", "", "<sip:@10.0.0.1>", 1},
    {"ColonInDisplayNameStartsUserThere", "To: \"a:b\" <sip:1001@10.0.0.1>\r\n", "b\" <sip:1001",
     "\"a:b\" <sip:1001@10.0.0.1>", 1},
    {"PercentSignInValueIsText", "To: <sip:%s%n@10.0.0.1>\r\n", "%s%n", "<sip:%s%n@10.0.0.1>", 1},
    {"NoToEntry", "", "", "", 0},
    {"LowerCaseToIsNotFound", "to: <sip:1001@10.0.0.1>\r\n", "", "", 0},
    {"CompactToIsNotFound", "t: <sip:1001@10.0.0.1>\r\n", "", "", 0},
};

TEST(GetToNameTest, UserNameValueAndConsoleLine) {
    for (const ToCase& c : kToCases) {
        SCOPED_TRACE(c.name);
        const TagReqProc message = ParseBytes(RegisterWith(c.headerLines));
        std::string userName = "left over";
        std::string toValue = "left over";
        int result = -1;
        const std::string printed = CaptureOutput(
            [&](std::FILE* out) { result = message.GetToName(userName, toValue, out); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(userName, c.userName);
        EXPECT_EQ(toValue, c.toValue);
        EXPECT_EQ(printed, "ToName: " + std::string(c.userName) + ", ToAcc: " + c.toValue + "\n");
    }
}

}  // namespace
