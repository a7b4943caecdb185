#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "reg_test_support.hpp"
#include "registry/reg_users.hpp"

namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::string> expected;
};

TEST(RegistrySplitFields, Cases) {
    const SplitCase cases[] = {
        {"WrittenLineGivesSevenFields",
         "alice, 192.168.1.21, 5062, 192.168.1.21, 5062, <sip:alice@lan>, 3600",
         {"alice", "192.168.1.21", "5062", "192.168.1.21", "5062", "<sip:alice@lan>", "3600"}},
        {"TwoBlanksAfterCommaKeepOne", "a,  b", {"a", " b"}},
        {"OtherBlanksAreKept", " a , b ", {" a ", "b "}},
        {"CommaWithoutBlankLosesNextChar", "a,bc", {"a", "c"}},
        {"CommaAtEndOfTextGivesEmptyLastField", "a,", {"a", ""}},
        {"CommaBeforeLfGivesEmptyLastField", "a,\nb, c", {"a", ""}},
        {"CommaBeforeCrGivesEmptyLastField", "a,\r\n", {"a", ""}},
        {"EmptyFields", ", , ", {"", "", ""}},
        {"EmptyLineIsOneEmptyField", "", {""}},
        {"CrEndsLine", "a, b\rc, d", {"a", "b"}},
        {"LfEndsLine", "a, b\nc, d", {"a", "b"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Fields are appended after what the list already holds.
        std::vector<std::string> fields{"kept"};
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(SplitFields(c.line, fields), static_cast<int>(c.expected.size()));
        EXPECT_EQ(fields, expected);
    }
}

struct SaveCase {
    const char* name;
    std::vector<UpdateCall> calls;
    std::string expectedBytes;
};

TEST(RegistrySave, FileBytes) {
    const UpdateCall bob{"bob", "192.168.1.40", 5064, "192.168.1.40", 5064, "<sip:bob@lan>", 60};
    const UpdateCall alice{
        "alice", "192.168.1.21", 5062, "pc21.lan", 5070, "\"Alice\" <sip:alice@lan>;tag=1", 3600};
    const SaveCase cases[] = {
        {"EmptyTableGivesEmptyFile", {}, ""},
        {"LinesInNameOrderEndWithCrLf",
         {bob, alice},
         "alice, 192.168.1.21, 5062, pc21.lan, 5070, \"Alice\" <sip:alice@lan>;tag=1, 3600\r\n"
         "bob, 192.168.1.40, 5064, 192.168.1.40, 5064, <sip:bob@lan>, 60\r\n"},
        {"RemovedBindingDropsItsLine",
         {bob, alice, {"alice", "", 0, "", 0, "", 0}},
         "bob, 192.168.1.40, 5064, 192.168.1.40, 5064, <sip:bob@lan>, 60\r\n"},
        {"PercentSignsWrittenAsStored",
         {{"%s%n", "192.168.1.5", -1, "%d", 0, "<sip:100%25@lan>", 2147483647}},
         "%s%n, 192.168.1.5, -1, %d, 0, <sip:100%25@lan>, 2147483647\r\n"},
    };
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegTempDir dir;
        ASSERT_FALSE(dir.path.empty());
        TagRegUsers table(dir.File(), false);
        for (const UpdateCall& call : c.calls) Apply(table, call);
        EXPECT_EQ(table.Save(), 0);
        std::string bytes = ReadBytes(dir.File());
        EXPECT_EQ(bytes, c.expectedBytes);
        // Every file line reads exactly like the console listing line printed after it.
        EXPECT_EQ(WithCrLf(ListingOf(table)), bytes);
    }
}

struct LoadCase {
    const char* name;
    bool fileExists;
    std::string fileBytes;
    int expectedResult;
    std::string expectedStdout;  // "{file}" stands for the file's path
    std::string expectedListing;
};

std::string withFile(std::string text, const std::string& file) {
    for (std::size_t at = text.find("{file}"); at != std::string::npos; at = text.find("{file}"))
        text.replace(at, 6, file);
    return text;
}

TEST(RegistryLoad, Cases) {
    const std::string a = "a, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 60";
    const std::string b = "b, 192.168.1.2, 5062, pc2.lan, 5064, <sip:b@lan>, 120";
    const std::string longTo = "<sip:" + std::string(3000, 'x') + "@lan>";
    const std::string longLine = "c, 192.168.1.3, 5060, 192.168.1.3, 5060, " + longTo + ", 30";
    const std::string smith =
        "anna, 192.168.1.7, 5060, 192.168.1.7, 5060, \"Smith, Anna\" <sip:anna@lan>;tag=9, 3600";
    const LoadCase cases[] = {
        {"MissingFilePrintsNothing", false, "", -1, "", ""},
        {"EmptyFileLoadsNothing", true, "", 0, "read()...\n", ""},
        {"CrLfAndLfLinesAlike", true, a + "\r\n" + b + "\n", 0, "read()...\n" + a + "\n" + b + "\n",
         a + "\n" + b + "\n"},
        {"LastLineWithoutLineEnd", true, a + "\r\n" + b, 0, "read()...\n" + a + "\n" + b + "\n",
         a + "\n" + b + "\n"},
        {"ExpiresZeroIsPrintedNotStored", true,
         "z, 192.168.1.9, 5060, 192.168.1.9, 5060, <sip:z@lan>, 0\r\n" + a + "\r\n", 0,
         "read()...\nz, 192.168.1.9, 5060, 192.168.1.9, 5060, <sip:z@lan>, 0\n" + a + "\n",
         a + "\n"},
        {"LaterLineWins", true,
         a + "\r\na, 192.168.1.8, 5070, 192.168.1.8, 5070, <sip:a@lan>, 90\r\n", 0,
         "read()...\n" + a + "\na, 192.168.1.8, 5070, 192.168.1.8, 5070, <sip:a@lan>, 90\n",
         "a, 192.168.1.8, 5070, 192.168.1.8, 5070, <sip:a@lan>, 90\n"},
        {"LaterExpiresZeroLineRemoves", true,
         a + "\r\n" + b + "\r\na, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 0\r\n", 0,
         "read()...\n" + a + "\n" + b +
             "\na, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 0\n",
         b + "\n"},
        {"EmptyLineSkippedSilently", true, a + "\r\n\r\n" + b + "\r\n", 0,
         "read()...\n" + a + "\n" + b + "\n", a + "\n" + b + "\n"},
        {"ShortLineSkippedWithWarning", true, a + "\r\nb, 192.168.1.2, 5062\r\n" + b + "\r\n", 0,
         "read()...\n" + a + "\n{file} line 2: fewer than 7 fields, skipped\n" + b + "\n",
         a + "\n" + b + "\n"},
        {"BlankOnlyLineSkippedWithWarning", true, "  \r\n" + b + "\r\n", 0,
         "read()...\n{file} line 1: fewer than 7 fields, skipped\n" + b + "\n", b + "\n"},
        {"CommaInDisplayNameRestoredWhole", true, smith + "\r\n", 0, "read()...\n" + smith + "\n",
         smith + "\n"},
        {"LongLineReadWhole", true, longLine + "\r\n" + a + "\r\n", 0,
         "read()...\n" + longLine + "\n" + a + "\n", a + "\n" + longLine + "\n"},
        {"NumbersBeyond32BitsClamp", true,
         "a, 192.168.1.1, 99999999999, 192.168.1.1, -4294967296, <sip:a@lan>, 4294967297\r\n", 0,
         "read()...\na, 192.168.1.1, 2147483647, 192.168.1.1, -2147483648, <sip:a@lan>, "
         "2147483647\n",
         "a, 192.168.1.1, 2147483647, 192.168.1.1, -2147483648, <sip:a@lan>, 2147483647\n"},
        {"NegativeBeyond32BitsExpiresIsNotStored", true,
         "a, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, -99999999999\r\n", 0,
         "read()...\na, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, -2147483648\n", ""},
        {"SubstituteByteEndsFile", true, a + "\r\n\x1a" + b + "\r\n", 0, "read()...\n" + a + "\n",
         a + "\n"},
        {"NumericFieldsWithBlanksAndTrailingText", true,
         "a,  192.168.1.1,  5060, 192.168.1.1, 5060 , <sip:a@lan>, 60 s\r\n", 0,
         "read()...\na,  192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 60\n",
         "a,  192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 60\n"},
        {"EmptyUserName", true, ", 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:@lan>, 60\r\n", 0,
         "read()...\n, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:@lan>, 60\n",
         ", 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:@lan>, 60\n"},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegTempDir dir;
        ASSERT_FALSE(dir.path.empty());
        if (c.fileExists) {
            ASSERT_TRUE(WriteBytes(dir.File(), c.fileBytes));
        }
        TagRegUsers table(dir.File(), false);
        testing::internal::CaptureStdout();
        int result = table.Load();
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.expectedResult);
        EXPECT_EQ(printed, withFile(c.expectedStdout, dir.File()));
        EXPECT_EQ(ListingOf(table), c.expectedListing);
    }
}

// The server's table loads in its constructor.
TEST(RegistryLoad, ConstructorLoads) {
    RegTempDir dir;
    ASSERT_TRUE(
        WriteBytes(dir.File(), "a, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 60\r\n"));
    testing::internal::CaptureStdout();
    TagRegUsers table(dir.File());
    testing::internal::GetCapturedStdout();
    std::string address;
    int port = 0;
    EXPECT_EQ(table.FindByName("a", address, port), 1);
    EXPECT_EQ(address, "192.168.1.1");
}

struct RoundTripCase {
    const char* name;
    UpdateCall binding;
};

TEST(RegistryRoundTrip, SavedTableLoadsIdentical) {
    const RoundTripCase cases[] = {
        {"PlainBinding", {"alice", "192.168.1.21", 5062, "192.168.1.21", 5062, "<sip:a@lan>", 60}},
        {"CommaInDisplayName",
         {"anna", "192.168.1.7", 5060, "192.168.1.7", 5060, "\"Smith, Anna\" <sip:anna@lan>", 90}},
        {"SeveralCommasInToValue",
         {"bert", "192.168.1.8", 5060, "192.168.1.8", 5060, "\"B, C, D\" <sip:b@lan>;x=1, 2", 9}},
        {"PercentSigns",
         {"%s", "192.168.1.9", 5060, "%n.lan", 5060, "\"100%\" <sip:%25@lan>", 2147483647}},
        {"AddressesLongerThan31Chars",
         {"carl", "phone-of-carl.second-floor.example.lan", 5060,
          "via-of-carl.second-floor.example.lan", 5070, "<sip:carl@lan>", 3600}},
        {"EmptyName", {"", "192.168.1.10", 5060, "192.168.1.10", 5060, "<sip:@lan>", 1}},
        {"LongToValue",
         {"dora", "192.168.1.11", 5060, "192.168.1.11", 5060,
          "<sip:" + std::string(2000, 'd') + "@lan>", 30}},
    };
    RegTempDir dir;
    ASSERT_FALSE(dir.path.empty());
    TagRegUsers saved(dir.File(), false);
    for (const RoundTripCase& c : cases) Apply(saved, c.binding);
    ASSERT_EQ(saved.Save(), 0);

    testing::internal::CaptureStdout();
    TagRegUsers loaded(dir.File(), true);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(loaded.users.size(), std::size(cases));
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto it = loaded.users.find(c.binding.name);
        ASSERT_NE(it, loaded.users.end());
        const TagRegRec& rec = it->second;
        EXPECT_EQ(rec.srcIp, c.binding.srcIp);
        EXPECT_EQ(rec.srcPort, c.binding.srcPort);
        EXPECT_EQ(rec.viaIp, c.binding.viaIp);
        EXPECT_EQ(rec.viaPort, c.binding.viaPort);
        EXPECT_EQ(rec.toAcc, c.binding.toAcc);
        EXPECT_EQ(rec.expires, c.binding.expires);
    }
}

const UpdateCall kAlice{"alice", "192.168.1.21",    5062, "192.168.1.21",
                        5062,    "<sip:alice@lan>", 3600};
const UpdateCall kBob{"bob", "192.168.1.40", 5064, "192.168.1.40", 5064, "<sip:bob@lan>", 60};

struct SaveFailureCase {
    const char* name;
    std::string blockedPath;  // made a directory so that the replace cannot finish
};

TEST(RegistrySave, FailureKeepsFileAndNextSaveWritesAll) {
    const SaveFailureCase cases[] = {
        {"TargetIsDirectory", "RegUsers.txt"},
        // The replace writes its temporary file beside the target under this name.
        {"TemporaryFileCannotBeCreated", "RegUsers.txt.tmp"},
    };
    for (const SaveFailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegTempDir dir;
        ASSERT_FALSE(dir.path.empty());
        TagRegUsers table(dir.File(), false);
        Apply(table, kAlice);
        ASSERT_EQ(table.Save(), 0);
        const std::string before = ReadBytes(dir.File());

        Apply(table, kBob);
        const std::string blocked = dir.File(c.blockedPath);
        if (c.blockedPath == "RegUsers.txt") ::unlink(blocked.c_str());
        ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
        EXPECT_EQ(table.Save(), -1);
        if (c.blockedPath != "RegUsers.txt") {
            EXPECT_EQ(ReadBytes(dir.File()), before);
        }
        ASSERT_EQ(::rmdir(blocked.c_str()), 0);

        // Nothing changed since the failed Save, yet the file must catch up with the table.
        EXPECT_EQ(table.Save(), 0);
        EXPECT_EQ(ReadBytes(dir.File()), WithCrLf(ListingOf(table)));
    }
}

struct UnwritableCase {
    const char* name;
    UpdateCall binding;
};

TEST(RegistrySave, BindingThatCannotReadBackIsLeftOutOfTheFileButKept) {
    const UnwritableCase cases[] = {
        {"EndOfFileMarkInNameWouldCutTheFile",
         {"a\x1a", "192.168.1.5", 5060, "192.168.1.5", 5060, "<sip:a\x1a@lan>", 60}},
        {"CommaInNameWouldReadBackAsAnotherUser",
         {"bob,x", "192.168.1.5", 5060, "192.168.1.5", 5060, "<sip:bob,x@lan>", 60}},
        {"EndOfFileMarkInVia", {"carl", "192.168.1.5", 5060, "pc\x1a", 5060, "<sip:carl@lan>", 60}},
        {"EndOfFileMarkInTo", {"carl", "192.168.1.5", 5060, "192.168.1.5", 5060, "<\x1a>", 60}},
    };
    for (const UnwritableCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegTempDir dir;
        ASSERT_FALSE(dir.path.empty());
        TagRegUsers table(dir.File(), false);
        Apply(table, kAlice);
        Apply(table, c.binding);
        Apply(table, kBob);
        ASSERT_EQ(table.Save(), 0);

        TagRegUsers loaded(dir.File(), false);
        ASSERT_EQ(loaded.Load(), 0);
        EXPECT_EQ(loaded.users.size(), 2u);
        EXPECT_EQ(loaded.users.count("alice"), 1u);
        ASSERT_EQ(loaded.users.count("bob"), 1u);
        EXPECT_EQ(loaded.users["bob"].srcIp, kBob.srcIp);
        std::string address;
        int port = 0;
        EXPECT_EQ(table.FindByName(c.binding.name, address, port), 1);
    }
}

struct SaveSkipCase {
    const char* name;
    UpdateCall change;
    bool expectRewrite;
};

TEST(RegistrySave, RewritesOnlyWhenWrittenContentChanged) {
    UpdateCall otherExpires = kBob;
    otherExpires.expires = 61;
    UpdateCall otherTo = kBob;
    otherTo.toAcc = "<sip:bob@lan>;tag=2";
    const SaveSkipCase cases[] = {
        {"RefreshWithSameFields", kBob, false},
        {"RemovingAbsentName", {"carl", "", 0, "", 0, "", 0}, false},
        {"NewBinding",
         {"carl", "192.168.1.50", 5060, "192.168.1.50", 5060, "<sip:c@lan>", 60},
         true},
        {"OtherExpires", otherExpires, true},
        {"OtherToValue", otherTo, true},
        {"RemovedBinding", {"bob", "", 0, "", 0, "", 0}, true},
    };
    for (const SaveSkipCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegTempDir dir;
        ASSERT_FALSE(dir.path.empty());
        TagRegUsers table(dir.File(), false);
        Apply(table, kAlice);
        Apply(table, kBob);
        ASSERT_EQ(table.Save(), 0);
        const ino_t first = InodeOf(dir.File());
        ASSERT_NE(first, 0u);
        EXPECT_EQ(table.Save(), 0);
        EXPECT_EQ(InodeOf(dir.File()), first) << "unchanged table rewritten";

        Apply(table, c.change);
        ListingOf(table);  // the console listing after a REGISTER must not count as saved
        EXPECT_EQ(table.Save(), 0);
        EXPECT_EQ(InodeOf(dir.File()) != first, c.expectRewrite);
        EXPECT_EQ(ReadBytes(dir.File()), WithCrLf(ListingOf(table)));
    }
}

struct LoadThenSaveCase {
    const char* name;
    std::string fileBytes;
    bool expectRewrite;
};

TEST(RegistrySave, AfterLoadRewritesOnlyWhenFileDiffers) {
    const std::string a = "a, 192.168.1.1, 5060, 192.168.1.1, 5060, <sip:a@lan>, 60";
    const std::string b = "b, 192.168.1.2, 5062, pc2.lan, 5064, <sip:b@lan>, 120";
    const LoadThenSaveCase cases[] = {
        {"ExactlyAsWritten", a + "\r\n" + b + "\r\n", false},
        {"EmptyFile", "", false},
        {"LfLineEnds", a + "\n" + b + "\n", true},
        {"LinesOutOfOrder", b + "\r\n" + a + "\r\n", true},
        {"SkippedLine", a + "\r\n\r\n" + b + "\r\n", true},
        {"ExpiresZeroLine", a + "\r\n" + b + "\r\nc, 1, 1, 1, 1, <sip:c@lan>, 0\r\n", true},
        {"TextAfterSubstituteByte", a + "\r\n" + b + "\r\n\x1a" + "junk", true},
        {"LastLineWithoutLineEnd", a + "\r\n" + b, true},
    };
    for (const LoadThenSaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegTempDir dir;
        ASSERT_FALSE(dir.path.empty());
        ASSERT_TRUE(WriteBytes(dir.File(), c.fileBytes));
        const ino_t first = InodeOf(dir.File());
        testing::internal::CaptureStdout();
        TagRegUsers table(dir.File(), true);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(table.Save(), 0);
        EXPECT_EQ(InodeOf(dir.File()) != first, c.expectRewrite);
        EXPECT_EQ(ReadBytes(dir.File()), WithCrLf(ListingOf(table)));
    }
}

}  // namespace
