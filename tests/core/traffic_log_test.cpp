#include "core/traffic_log.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "support/temp_dir.hpp"

namespace {

TEST(TrafficLog, LineFormatPadsFieldsButNotMilliseconds) {
    struct {
        int ms;
        const char* expected;
    } cases[] = {
        {5, "2026-03-07 09:07:03.5: Start...\r\n"},
        {70, "2026-03-07 09:07:03.70: Start...\r\n"},
        {500, "2026-03-07 09:07:03.500: Start...\r\n"},
        {0, "2026-03-07 09:07:03.0: Start...\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLogLine(2026, 3, 7, 9, 7, 3, c.ms, "Start..."), c.expected);
    }
}

TEST(TrafficLog, WritesLinesAndRawDataAppendingToEarlierContent) {
    TempDir dir;
    dir.write("sip_log.txt", "earlier\r\n");
    ASSERT_NE(LogOpen(dir.file("sip_log.txt")), nullptr);
    LogLine("100% %s %d");
    LogData("quit", 4);
    LogData(std::string("a\0b", 3).data(), 3);
    LogLine("Close.");
    LogClose();
    std::string log = dir.read("sip_log.txt");
    std::regex shape(
        "earlier\r\n"
        "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{1,3}: 100% %s %d\r\n"
        "quita"
        ".b"  // the zero byte
        "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{1,3}: Close\\.\r\n");
    EXPECT_TRUE(std::regex_match(log, shape)) << log;
    EXPECT_EQ(log[log.find("quita") + 5], '\0');
}

TEST(TrafficLog, WithoutAnOpenLogNothingIsWritten) {
    TempDir dir;
    LogClose();
    LogLine("lost");
    LogData("lost", 4);
    // A directory in the log file's place cannot be opened as a file.
    dir.write("x", "");
    EXPECT_EQ(LogOpen(dir.path()), nullptr);
    LogLine("still nothing");
    LogClose();
    EXPECT_EQ(dir.read("x"), "");
}

}  // namespace
