#include <gtest/gtest.h>

#include <string>

#include "message_fixture.hpp"

namespace {

struct ResponseCase {
    const char* name;
    const char* request;
    const char* statusCode;
    const char* reason;
    const char* extraHeaders;
    const char* response;
    int length;
};

const ResponseCase kResponseCases[] = {
    {"EchoesTheSixHeaders",
     "REGISTER sip:10.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.7:5060;branch=x1\r\n"
     "From: 1001;tag=a1\r\nTo: 1001\r\nContact: sip:1001\r\nCall-ID: c1\r\n"
     "CSeq: 1 REGISTER\r\nExpires: 3600\r\n\r\n",
     "200", "OK", "",
     "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 10.0.0.7:5060;branch=x1\r\nFrom: 1001;tag=a1\r\n"
     "To: 1001;tag=qarvimet\r\nMax-Forwards: 70\r\nContact: sip:1001\r\nCall-ID: c1\r\n"
     "CSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n",
     189},
    {"MissingHeadersGiveEmptyLines", "REGISTER sip:10.0.0.1 SIP/2.0\r\n\r\n", "200", "OK", "",
     "SIP/2.0 200 OK\r\nVia: \r\nFrom: \r\nTo: ;tag=qarvimet\r\nMax-Forwards: 70\r\n"
     "Contact: \r\nCall-ID: \r\nCSeq: \r\nContent-Length: 0\r\n\r\n",
     119},
    {"ToWithTagGetsSecondTag", "REGISTER sip:10.0.0.1 SIP/2.0\r\nTo: 1001;tag=b2\r\n\r\n", "200",
     "OK", "",
     "SIP/2.0 200 OK\r\nVia: \r\nFrom: \r\nTo: 1001;tag=b2;tag=qarvimet\r\nMax-Forwards: 70\r\n"
     "Contact: \r\nCall-ID: \r\nCSeq: \r\nContent-Length: 0\r\n\r\n",
     130},
    {"OnlyLastViaIsEchoed",
     "SUBSCRIBE sip:10.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.9:5090\r\n"
     "Via: SIP/2.0/UDP 10.0.0.7:5060\r\n\r\n",
     "200", "OK", "",
     "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 10.0.0.7:5060\r\nFrom: \r\nTo: ;tag=qarvimet\r\n"
     "Max-Forwards: 70\r\nContact: \r\nCall-ID: \r\nCSeq: \r\nContent-Length: 0\r\n\r\n",
     144},
    {"CompactHeadersEchoAsEmpty",
     "REGISTER sip:10.0.0.1 SIP/2.0\r\nv: SIP/2.0/UDP 10.0.0.7\r\nf: 1001\r\nt: 1001\r\n"
     "m: sip:1001\r\ni: c1\r\nCSeq: 1 REGISTER\r\n\r\n",
     "200", "OK", "",
     "SIP/2.0 200 OK\r\nVia: \r\nFrom: \r\nTo: ;tag=qarvimet\r\nMax-Forwards: 70\r\n"
     "Contact: \r\nCall-ID: \r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n",
     129},
    {"LeadingBlanksOfValuesAreKept", "REGISTER sip:10.0.0.1 SIP/2.0\r\nCall-ID:   c1\r\n\r\n",
     "200", "OK", "",
     "SIP/2.0 200 OK\r\nVia: \r\nFrom: \r\nTo: ;tag=qarvimet\r\nMax-Forwards: 70\r\n"
     "Contact: \r\nCall-ID:   c1\r\nCSeq: \r\nContent-Length: 0\r\n\r\n",
     123},
    {"ReasonAndExtraLinesAreWrittenAsGiven",
     "REGISTER sip:10.0.0.1 SIP/2.0\r\nCall-ID: c1\r\nCSeq: 2 REGISTER\r\n\r\n", "486", "Busy Here",
     "Expires: 0\r\nX-Note: 100%\r\n",
     "SIP/2.0 486 Busy Here\r\nVia: \r\nFrom: \r\nTo: ;tag=qarvimet\r\nMax-Forwards: 70\r\n"
     "Contact: \r\nCall-ID: c1\r\nCSeq: 2 REGISTER\r\nExpires: 0\r\nX-Note: 100%\r\n"
     "Content-Length: 0\r\n\r\n",
     164},
};

TEST(BuildResponseTest, ExactBytes) {
    for (const ResponseCase& c : kResponseCases) {
        SCOPED_TRACE(c.name);
        TagReqProc message = ParseBytes(c.request);
        std::string out = "left over";
        EXPECT_EQ(message.BuildResponse(c.statusCode, c.reason, c.extraHeaders, out), c.length);
        EXPECT_EQ(out, c.response);
    }
}

// The six headers are read with the subscript lookup: those the request lacked are now present,
// empty, and a later plain lookup finds them.
TEST(BuildResponseTest, AddsMissingHeadersAsEmptyEntries) {
    TagReqProc message = ParseBytes("REGISTER sip:10.0.0.1 SIP/2.0\r\nCall-ID: c1\r\n\r\n");
    std::string out;
    message.BuildResponse("200", "OK", "", out);
    EXPECT_EQ(EntriesOf(message), (Entries{{"CSeq", ""},
                                           {"Call-ID", "c1"},
                                           {"Contact", ""},
                                           {"From", ""},
                                           {"To", ""},
                                           {"Via", ""}}));
    std::string via = "left over";
    EXPECT_EQ(message.GetHeader("Via", via), 1);
    EXPECT_EQ(via, "");
}

}  // namespace
