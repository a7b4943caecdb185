#include <gtest/gtest.h>

#include <string_view>

#include "message_fixture.hpp"

using namespace std::string_view_literals;

namespace {

struct ParseCase {
    const char* name;
    std::string_view datagram;
    std::string_view firstLine;
    std::string_view method;
    Entries headers;  // in map order
    int lineEnds;
};

const ParseCase kParseCases[] = {
    {"ColonInRequestLineDropsNextByte",
     "REGISTER sip:10.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.7:5060\r\nTo: 1001\r\n\r\n",
     "REGISTER sip0.0.0.1 SIP/2.0",
     "REGISTER",
     {{"To", "1001"}, {"Via", "SIP/2.0/UDP 10.0.0.7:5060"}},
     8},
    {"BareLfStoresSecondLineUnderFirstLine",
     "REGISTER sip:10.0.0.1 SIP/2.0\nVia: SIP/2.0/UDP 10.0.0.7:5060\nTo: 1001\n\n",
     "REGISTER sip0.0.0.1 SIP/2.0",
     "REGISTER",
     {{"REGISTER sip0.0.0.1 SIP/2.0", "Via: SIP/2.0/UDP 10.0.0.7:5060"}, {"To", "1001"}},
     4},
    {"BareCrReadsLikeBareLf",
     "INVITE x SIP/2.0\rVia: a\rTo: b\r",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"INVITE x SIP/2.0", "Via: a"}, {"To", "b"}},
     3},
    {"StatusLineIsStoredWhole",
     "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 10.0.0.7:5060\r\n\r\n",
     "SIP/2.0 200 OK",
     "SIP/2.0",
     {{"Via", "SIP/2.0/UDP 10.0.0.7:5060"}},
     6},
    {"LastViaWithValueWins",
     "INVITE x SIP/2.0\r\nVia: a\r\nVia: b\r\nVia: \r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", "b"}},
     8},
    {"ColonWithoutBlankIsDroppedAndNameGoesOn",
     "INVITE x SIP/2.0\r\nX:Y\r\nVia: a\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"XVia", "a"}},
     6},
    {"FoldedLinePrefixesNextName",
     "INVITE x SIP/2.0\r\nSubject: hi\r\n there\r\nTo: t\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{" thereTo", "t"}, {"Subject", "hi"}},
     8},
    {"NamesAreExactAndOneBlankIsTaken",
     "INVITE x SIP/2.0\r\nVia:  a\r\nv: b\r\nvia: c\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", " a"}, {"v", "b"}, {"via", "c"}},
     8},
    {"BlankBeforeColonBelongsToName",
     "INVITE x SIP/2.0\r\nTo : t\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"To ", "t"}},
     4},
    {"LastLineWithoutLineEndStoresNothing",
     "INVITE x SIP/2.0\r\nTo: abc",
     "INVITE x SIP/2.0",
     "INVITE",
     {},
     2},
    {"FirstLineWithoutBlankHasNoMethod", "INVITE\r\nVia: a\r\n", "INVITE", "", {{"Via", "a"}}, 4},
    {"ColonAndBlankInFirstLineGiveEmptyName",
     "Foo: bar baz\r\nVia: a\r\n",
     "",
     "",
     {{"", "bar baz"}, {"Via", "a"}},
     4},
    {"ColonAndBlankInBareLfFirstLineJoinSecondLine",
     "Foo: bar baz\nVia: a\n",
     "",
     "",
     {{"", "bar bazVia: a"}},
     2},
    {"WakeUpDatagramGivesNothing", "quit", "", "", {}, 0},
    {"LeadingColonGivesEmptyName",
     "INVITE x SIP/2.0\r\n: v\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"", "v"}},
     4},
    {"BodyWithoutColonBlankAddsNothing",
     "INVITE x SIP/2.0\r\nVia: a\r\n\r\nv=0\r\no=x\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", "a"}},
     10},
    {"BodyLineJoinsNextName",
     "INVITE x SIP/2.0\r\nVia: a\r\n\r\nline one\r\nKey: val\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", "a"}, {"line oneKey", "val"}},
     10},
    {"ZeroByteEndsValue",
     "INVITE x SIP/2.0\r\nTo: ab\0cd\r\n"sv,
     "INVITE x SIP/2.0",
     "INVITE",
     {{"To", "ab"}},
     4},
    {"ZeroByteEndsName",
     "INVITE x SIP/2.0\r\nT\0o: v\r\n"sv,
     "INVITE x SIP/2.0",
     "INVITE",
     {{"T", "v"}},
     4},
    {"ZeroByteEndsFirstLine", "INV\0ITE x SIP/2.0\r\nVia: a\r\n"sv, "INV", "", {{"Via", "a"}}, 4},
    // The value has bytes, so it is stored, and what is stored is the text before the zero.
    {"ValueBeginningWithZeroByteStoresEmptyText",
     "INVITE x SIP/2.0\r\nVia: a\r\nVia: \0b\r\n"sv,
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", ""}},
     6},
    // The colon takes the CR with it: that CR neither ends the line nor counts.
    {"ColonSwallowsFollowingCr",
     "INVITE x SIP/2.0\r\nTo:\r\nVia: a\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"ToVia", "a"}},
     5},
    {"ColonBeforeBareLfJoinsLines",
     "INVITE x SIP/2.0\nTo: t\nX:\nVia: a\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"INVITE x SIP/2.0", "To: t"}, {"XVia", "a"}},
     3},
    {"ColonAsLastByteIsDropped",
     "INVITE x SIP/2.0\r\nVia: a\r\nX:",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"Via", "a"}},
     4},
    {"NamesSortByUnsignedBytes",
     "INVITE x SIP/2.0\r\nzeta: 1\r\n\xE9t\xE9: 2\r\nCall-ID: c\r\nCSeq: 1\r\n",
     "INVITE x SIP/2.0",
     "INVITE",
     {{"CSeq", "1"}, {"Call-ID", "c"}, {"zeta", "1"}, {"\xE9t\xE9", "2"}},
     10},
};

TEST(ParseTest, TableOfDatagrams) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        TagReqProc message = ParseBytes(c.datagram);
        EXPECT_EQ(message.firstLine, c.firstLine);
        EXPECT_EQ(message.method, c.method);
        EXPECT_EQ(EntriesOf(message), c.headers);
        EXPECT_EQ(message.rawLength, static_cast<int>(c.datagram.size()));
        EXPECT_EQ(message.rawData, c.datagram);
        // Parsing again gives the same line-end count and the same message.
        EXPECT_EQ(message.Parse(), c.lineEnds);
        EXPECT_EQ(EntriesOf(message), c.headers);
    }
}

struct DumpCase {
    const char* name;
    std::string_view datagram;
    std::string_view printed;
};

const DumpCase kDumpCases[] = {
    {"FirstLineThenEntriesInMapOrder",
     "REGISTER sip:10.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.7:5060\r\nTo: 1001\r\n\r\n",
     "firstLine: REGISTER sip0.0.0.1 SIP/2.0\n[To]: [1001]\n[Via]: [SIP/2.0/UDP "
     "10.0.0.7:5060]\n\n"},
    {"NoEntriesPrintsFirstLineAndEmptyLine", "SIP/2.0 200 OK\r\n", "firstLine: SIP/2.0 200 OK\n\n"},
    {"EmptyNamePrintsEmptyBrackets", "INVITE x SIP/2.0\r\n: v\r\n",
     "firstLine: INVITE x SIP/2.0\n[]: [v]\n\n"},
    {"PercentSignsPrintLiterally", "INVITE %s SIP/2.0\r\nSubject: 100%s %d %n\r\n",
     "firstLine: INVITE %s SIP/2.0\n[Subject]: [100%s %d %n]\n\n"},
    {"EmptyFirstLinePrintsNothing", "Foo: bar baz\r\nVia: a\r\n", ""},
    {"WakeUpDatagramPrintsNothing", "quit", ""},
    {"FirstLineBeginningWithBlankPrintsNothing", " INVITE x SIP/2.0\r\nVia: a\r\n", ""},
};

TEST(DumpTest, ConsoleLines) {
    for (const DumpCase& c : kDumpCases) {
        SCOPED_TRACE(c.name);
        const TagReqProc message = ParseBytes(c.datagram);
        EXPECT_EQ(CaptureOutput([&](std::FILE* out) { message.Dump(out); }), c.printed);
    }
}

}  // namespace

namespace {

// The relay reads every datagram into one kept message; reading again must leave nothing of the
// message before: no header entry, no first line, no method, whatever order the messages come in.
TEST(Reparse, ReadingAgainGivesWhatAFreshMessageGives) {
    const std::string_view sequence[] = {
        "REGISTER sip:10.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.7:5060\r\nTo: 1001\r\n"
        "Expires: 3600\r\nCall-ID: c1\r\n\r\n",
        "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 10.0.0.9:5062\r\n\r\n",
        "quit",
        "INVITE x SIP/2.0\nVia: a\nTo: b\n",
        "Foo: bar baz\r\nVia: a\r\n",
        "INVITE x SIP/2.0\r\nTo: \0zero\r\nVia: \r\nX:Y\r\nVia: c\r\n"sv,
        "REGISTER sip:10.0.0.1 SIP/2.0\r\nTo: 1001\r\n\r\n",
    };
    TagReqProc kept(nullptr, 0);
    std::string answer;
    for (std::string_view bytes : sequence) {
        SCOPED_TRACE(std::string(bytes));
        kept.rawData.assign(bytes);
        kept.rawLength = static_cast<int>(bytes.size());
        int lineEnds = kept.Parse();
        TagReqProc fresh = ParseBytes(bytes);
        EXPECT_EQ(lineEnds, fresh.Parse());
        EXPECT_EQ(kept.firstLine, fresh.firstLine);
        EXPECT_EQ(kept.method, fresh.method);
        EXPECT_EQ(EntriesOf(kept), EntriesOf(fresh));
        // The answer's look-ups add empty entries; the next message must not see them.
        kept.BuildResponse("200", "OK", "", answer);
    }
}

}  // namespace
