#include <gtest/gtest.h>

#include <string>

#include "message_fixture.hpp"

namespace {

// Lines longer than any fixed work area are held whole.
struct LongCase {
    const char* name;
    std::string datagram;
    std::string firstLine;
    std::string method;
    Entries headers;
};

const std::string kLongToken(1485, 'a');
const std::string kLongName(600, 'N');
const std::string kLongBodyLine(900, 'b');

const LongCase kLongCases[] = {
    {"FirstLineOf1500Characters",
     "INVITE " + kLongToken + " SIP/2.0\r\nVia: a\r\n",
     "INVITE " + kLongToken + " SIP/2.0",
     "INVITE",
     {{"Via", "a"}}},
    {"HeaderNameOver511Bytes",
     "INVITE x SIP/2.0\r\n" + kLongName + ": v\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{kLongName, "v"}}},
    {"BodyLineOver511BytesPrefixesNextName",
     "INVITE x SIP/2.0\r\nVia: a\r\n\r\n" + kLongBodyLine + "\r\nKey: val\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", "a"}, {kLongBodyLine + "Key", "val"}}},
};

TEST(LongInputTest, LongLinesAreHeldWhole) {
    for (const LongCase& c : kLongCases) {
        SCOPED_TRACE(c.name);
        const TagReqProc message = ParseBytes(c.datagram);
        EXPECT_EQ(message.firstLine, c.firstLine);
        EXPECT_EQ(message.method, c.method);
        EXPECT_EQ(EntriesOf(message), c.headers);
    }
}

// A Via of about 2000 bytes goes whole through the header reads and into a response that is
// longer than a datagram.
TEST(LongInputTest, ValueOfNearlyWholeDatagramReachesResponse) {
    const std::string head = "REGISTER sip:10.0.0.1 SIP/2.0\r\nCSeq: 1 REGISTER\r\nVia: ";
    const std::string viaStart = "SIP/2.0/UDP 10.0.0.7:5080;branch=";
    const std::string via = viaStart + std::string(2048 - head.size() - viaStart.size() - 2, 'z');
    const std::string datagram = head + via + "\r\n";
    ASSERT_EQ(datagram.size(), 2048u);
    ASSERT_GT(via.size(), 1950u);

    TagReqProc message = ParseBytes(datagram);
    std::string value;
    EXPECT_EQ(message.GetHeader("Via", value), 1);
    EXPECT_EQ(value, via);

    std::string address;
    int port = 0;
    CaptureOutput([&](std::FILE* out) { message.GetViaAddr(address, port, out); });
    EXPECT_EQ(address, "10.0.0.7");
    EXPECT_EQ(port, 5080);

    std::string response;
    const int length = message.BuildResponse("200", "OK", "", response);
    EXPECT_EQ(length, static_cast<int>(119 + via.size() + 10));
    EXPECT_GT(length, 2048);
    EXPECT_EQ(response, "SIP/2.0 200 OK\r\nVia: " + via +
                            "\r\nFrom: \r\nTo: ;tag=qarvimet\r\nMax-Forwards: 70\r\nContact: \r\n"
                            "Call-ID: \r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n");
}

// Bytes past the 2048th are not read: the Via line whose line end falls beyond is never stored.
TEST(LongInputTest, InputLongerThanDatagramIsCut) {
    const std::string start = "INVITE x SIP/2.0\r\nTo: t\r\nX-Pad: ";
    const std::string pad(2040 - start.size(), 'p');
    const std::string datagram = start + pad + "\r\nVia: a\r\nFrom: f\r\n" + std::string(900, 'q');
    ASSERT_EQ(datagram.substr(2040, 10), "\r\nVia: a\r\n");

    const TagReqProc message = ParseBytes(datagram);
    EXPECT_EQ(message.rawLength, 2048);
    EXPECT_EQ(message.rawData, datagram.substr(0, 2048));
    EXPECT_EQ(EntriesOf(message), (Entries{{"To", "t"}, {"X-Pad", pad}}));
}

TEST(LongInputTest, NegativeLengthCountsAsZero) {
    const char bytes[] = "INVITE x SIP/2.0\r\nVia: a\r\n";
    const TagReqProc message(bytes, -1);
    EXPECT_EQ(message.rawLength, 0);
    EXPECT_EQ(message.rawData, "");
    EXPECT_EQ(message.firstLine, "");
    EXPECT_EQ(message.method, "");
    EXPECT_TRUE(message.headers.empty());
}

}  // namespace
