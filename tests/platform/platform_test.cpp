#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "platform/console_events.hpp"
#include "platform/decimal.hpp"
#include "platform/text_file.hpp"
#include "support/temp_dir.hpp"

namespace {

TEST(ParseDecimal, ReadsLeadingNumberAndClamps) {
    struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"3600", 3600},
        {"  \t42", 42},
        {"+5060", 5060},
        {"-5", -5},
        {"50x60", 50},
        {"- 5", 0},
        {"+-5", 0},
        {"0003", 3},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"99999999999999999999999999", 2147483647},
        {"\n7", 7},
        {"7 8", 7},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << "[" << c.text << "]";
}

TEST(TextFile, ReadingDropsCarriageReturnsAndStopsAtSubstitute) {
    TempDir dir;
    dir.write("f.txt", std::string("a\r\nb\rc\n\x1a"
                                   "after",
                                   12));
    std::string content;
    ASSERT_EQ(ReadTextFile(dir.file("f.txt"), content), 0);
    EXPECT_EQ(content, "a\nbc\n");
    EXPECT_EQ(ReadTextFile(dir.file("missing.txt"), content), -1);
}

TEST(TextFile, WritingTurnsEachLineFeedIntoCrLf) {
    EXPECT_EQ(ToTextModeBytes("a\nb\n\n"), "a\r\nb\r\n\r\n");
    EXPECT_EQ(ToTextModeBytes(""), "");
}

TEST(TextFile, AtomicReplaceKeepsOldContentWhenItFails) {
    TempDir dir;
    dir.write("RegUsers.txt", "old");
    ASSERT_EQ(ReplaceFileAtomically(dir.file("RegUsers.txt"), "new"), 0);
    EXPECT_EQ(dir.read("RegUsers.txt"), "new");
    EXPECT_FALSE(dir.exists("RegUsers.txt.tmp"));
    // A directory where the file should be makes the rename fail.
    ASSERT_EQ(::mkdir(dir.file("blocked").c_str(), 0755), 0);
    EXPECT_EQ(ReplaceFileAtomically(dir.file("blocked"), "x"), -1);
    EXPECT_FALSE(dir.exists("blocked.tmp"));
    EXPECT_EQ(ReplaceFileAtomically(dir.file("no/such/dir/file"), "x"), -1);
}

TEST(TextFile, AtomicReplaceKeepsThePermissionsOfTheOldFile) {
    TempDir dir;
    dir.write("RegUsers.txt", "old");
    ASSERT_EQ(::chmod(dir.file("RegUsers.txt").c_str(), 0600), 0);
    ASSERT_EQ(ReplaceFileAtomically(dir.file("RegUsers.txt"), "new"), 0);
    struct stat after {};
    ASSERT_EQ(::stat(dir.file("RegUsers.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0600u);
}

TEST(ConsoleEvents, SignalsMapToConsoleEventTypes) {
    EXPECT_EQ(ConsoleEventOfSignal(SIGINT), 0);
    EXPECT_EQ(ConsoleEventOfSignal(SIGQUIT), 1);
    EXPECT_EQ(ConsoleEventOfSignal(SIGHUP), 2);
    EXPECT_EQ(ConsoleEventOfSignal(SIGTERM), 6);
    EXPECT_EQ(ConsoleEventOfSignal(SIGUSR1), -1);
}

}  // namespace
