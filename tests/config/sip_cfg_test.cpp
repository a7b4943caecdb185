#include "config/sip_cfg.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

struct Expected {
    std::string myIp1, myIp2;
    int myPort = 0;
    std::string msIp1, msIp2;
    int msPort = 0;
    std::string outProxyAddr;
    int outProxyPort = 0;
};

struct Case {
    const char* name;
    std::string file;
    Expected expected;
};

const std::string kLongComment(600, 'x');

const Case kCases[] = {
    {"SampleFileWithCommentsAndBlanks",
     "// relay's own addresses\n"
     "myIp1 = 192.168.10.2\n"
     "myIp2 = 127.0.0.1\n"
     "myPort = 5060\n"
     "// upstream server\n"
     "msIp1 = 10.20.0.5        // primary\n"
     "msIp2 = 10.20.0.6\n"
     "msPort = 5080\n"
     "// outbound proxy\n"
     "outProxyAddr = 10.20.0.9\n"
     "outProxyPort=5060\n",
     {"192.168.10.2", "127.0.0.1", 5060, "10.20.0.5", "10.20.0.6", 5080, "10.20.0.9", 5060}},
    {"KeysMatchInAnyLetterCase",
     "MYIP1 = 10.0.0.1\nmsport = 7\nOUTPROXYADDR=p\n",
     {"10.0.0.1", "", 0, "", "", 7, "p", 0}},
    {"KeyWithBlankInsideMatchesNothing", "my Ip1 = 10.0.0.1\n", {}},
    {"PortWithTrailingTextTakesLeadingDigits", "myPort = 50x60\n", {"", "", 50}},
    {"PortWithoutDigitsIsZero", "myPort = abc\n", {}},
    {"NegativePortKept", "myPort = -5\n", {"", "", -5}},
    {"PlusSignedPort", "myPort = +5060\n", {"", "", 5060}},
    {"EmptyPortIsZero", "myPort =\n", {}},
    {"PortBeyond32BitsClamps", "myPort = 99999999999\n", {"", "", 2147483647}},
    {"ValueMayHoldEquals", "outProxyAddr = a=b\n", {"", "", 0, "", "", 0, "a=b"}},
    {"SingleSlashStopsCommentRule", "myIp1 = 10.0.0.1/24 // note\n", {"10.0.0.1/24 // note"}},
    {"EqualsInsideCommentDoesNotCount", "// myIp1 = 10.0.0.1\nx // y = z\n", {}},
    {"LastOccurrenceWins", "myPort = 1\nmyPort = 2\n", {"", "", 2}},
    {"CrLfReadLikeLf", "myIp1 = 10.0.0.1\r\nmyPort = 5060\r\n", {"10.0.0.1", "", 5060}},
    {"TabsAroundKeyAndValueRemoved", "\tmyIp1\t=\t10.0.0.1\t\n", {"10.0.0.1"}},
    {"EmptyAddressValueSetsEmptyText", "msIp2 = x\nmsIp2 =\n", {}},
    {"HashAndSemicolonStartNoComment", "# myIp1 = x\n; myIp2 = y\nmyIp1 = a ; b\n", {"a ; b"}},
    {"SectionHeaderIgnored", "[server]\nmyPort = 9\n", {"", "", 9}},
    {"LongLineReadInPiecesLaterPieceIsSetting",
     std::string(511, 'x') + "myPort = 77\n",
     {"", "", 77}},
    {"PieceBoundaryAfter511Characters",
     "myIp1 = " + std::string(503, 'a') + "myIp2=b\n",
     {std::string(503, 'a'), "b"}},
    {"SubstituteByteEndsTheFile", "myPort = 1\n\x1amyPort = 2\n", {"", "", 1}},
    {"LastLineWithoutLineEnd", "myPort = 3", {"", "", 3}},
    {"LongAddressKeptWhole",
     "msIp1 = " + std::string(100, 'h') + "\n",
     {"", "", 0, std::string(100, 'h')}},
};

TEST(SipCfgLoad, CasesOfTheConfigurationFile) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("SipCfg.ini", c.file);
        TagSipCfg cfg(dir.file("SipCfg.ini"));
        EXPECT_EQ(cfg.myIp1, c.expected.myIp1);
        EXPECT_EQ(cfg.myIp2, c.expected.myIp2);
        EXPECT_EQ(cfg.myPort, c.expected.myPort);
        EXPECT_EQ(cfg.msIp1, c.expected.msIp1);
        EXPECT_EQ(cfg.msIp2, c.expected.msIp2);
        EXPECT_EQ(cfg.msPort, c.expected.msPort);
        EXPECT_EQ(cfg.outProxyAddr, c.expected.outProxyAddr);
        EXPECT_EQ(cfg.outProxyPort, c.expected.outProxyPort);
        EXPECT_EQ(cfg.Load(), 0);
    }
}

TEST(SipCfgLoad, MissingFileLeavesEverythingEmptyAndSaysNothing) {
    TempDir dir;
    testing::internal::CaptureStdout();
    TagSipCfg cfg(dir.file("SipCfg.ini"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cfg.Load(), -1);
    EXPECT_EQ(cfg.myIp1, "");
    EXPECT_EQ(cfg.myPort, 0);
    EXPECT_EQ(cfg.msPort, 0);
    EXPECT_EQ(cfg.outProxyAddr, "");
}

TEST(TrimBlanks, RemovesOnlyBlanksAndTabsAtTheEnds) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {{"", ""}, {" \t ", ""}, {"\t a b \t", "a b"}, {"a", "a"}, {" \r\n", "\r\n"}};
    for (const auto& c : cases) {
        std::string text = c.in;
        TrimBlanks(text);
        EXPECT_EQ(text, c.out) << "input [" << c.in << "]";
    }
}

}  // namespace
