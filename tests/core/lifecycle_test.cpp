#include "core/lifecycle.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "support/relay_process.hpp"
#include "support/udp_peer.hpp"

namespace {

using namespace std::chrono_literals;

TEST(ConsoleCtrlHandler, HandlesTheFiveConsoleEvents) {
    struct {
        std::uint32_t type;
        const char* text;
    } cases[] = {{0, "Ctrl-C event\n\n"},
                 {1, "Ctrl-Break event\n\n"},
                 {2, "Ctrl-Close event\n\n"},
                 {5, "Ctrl-Logoff event\n\n"},
                 {6, "Ctrl-Shutdown event\n\n"}};
    for (const auto& c : cases) {
        gRunning = true;
        testing::internal::CaptureStdout();
        EXPECT_EQ(ConsoleCtrlHandler(c.type), 1) << c.type;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.text);
        EXPECT_FALSE(gRunning) << c.type;
    }
    gRunning = true;
}

TEST(ConsoleCtrlHandler, OtherEventTypesAreNotHandledAndChangeNothing) {
    for (std::uint32_t type : {3u, 4u, 7u, 100u}) {
        for (bool running : {true, false}) {
            gRunning = running;
            testing::internal::CaptureStdout();
            EXPECT_EQ(ConsoleCtrlHandler(type), 0) << type;
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << type;
            EXPECT_EQ(gRunning, running) << "a stop under way is not cancelled, type " << type;
        }
    }
    gRunning = true;
}

struct StopCase {
    const char* name;
    int signal;
    const char* eventText;
    bool ignoredByShell;
};

class StopBySignal : public testing::TestWithParam<StopCase> {};

TEST_P(StopBySignal, PrintsEventReadsWakeUpAndClosesCleanly) {
    const StopCase& c = GetParam();
    int port = FindFreeUdpPort();
    RelayProcess relay({LoopbackSipCfg(port), std::nullopt, c.ignoredByShell});
    std::string serverLine = "Server(127.0.0.1:" + std::to_string(port) + ") ...\n";
    ASSERT_TRUE(relay.waitForConsole(serverLine)) << relay.console() << relay.errors();

    EXPECT_EQ(relay.stop(c.signal), 0);
    std::string console = relay.console();
    EXPECT_EQ(console, serverLine + c.eventText + "Close.\n");
    std::string log = relay.log();
    std::string wakeUp =
        "recv from '127.0.0.1:" + std::to_string(port) + "', len=4, method=\r\nquit";
    std::size_t start = log.find(": Start...\r\n");
    std::size_t wake = log.find(wakeUp);
    std::size_t close = log.find(": Close.\r\n");
    EXPECT_NE(start, std::string::npos) << log;
    EXPECT_NE(wake, std::string::npos) << log;
    EXPECT_NE(close, std::string::npos) << log;
    EXPECT_LT(start, wake);
    EXPECT_LT(wake, close);
    EXPECT_EQ(log.substr(log.size() - 8), "Close.\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Signals, StopBySignal,
    testing::Values(StopCase{"CtrlC", SIGINT, "Ctrl-C event\n\n", false},
                    StopCase{"CtrlBreak", SIGQUIT, "Ctrl-Break event\n\n", false},
                    StopCase{"ConsoleClosed", SIGHUP, "Ctrl-Close event\n\n", false},
                    StopCase{"Shutdown", SIGTERM, "Ctrl-Shutdown event\n\n", false},
                    StopCase{"CtrlCWhenStartedAsBackgroundJob", SIGINT, "Ctrl-C event\n\n", true},
                    StopCase{"CtrlBreakWhenStartedAsBackgroundJob", SIGQUIT, "Ctrl-Break event\n\n",
                             true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Lifecycle, StopsWithinASecondWhenTheWakeUpCannotArrive) {
    int port = FindFreeUdpPort();
    // An empty first address: the wake-up datagram has nowhere to go.
    RelayProcess relay({"myPort = " + std::to_string(port) + "\n"});
    ASSERT_TRUE(relay.waitForConsole("Server(:" + std::to_string(port) + ") ...\n"));
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(relay.stop(SIGINT, 5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_EQ(relay.log().find("recv from"), std::string::npos);
    EXPECT_NE(relay.log().find("Close.\r\n"), std::string::npos);
}

TEST(Lifecycle, PortInUseIsReportedAndExitsWithOneWithoutLog) {
    UdpPeer holder("127.0.0.1");
    RelayProcess relay({LoopbackSipCfg(holder.port())});
    EXPECT_EQ(relay.waitForExit(), 1);
    std::string port = std::to_string(holder.port());
    EXPECT_EQ(relay.console(), "OpenUdp(" + port + ") error!\n");
    EXPECT_NE(relay.errors().find("Server: bind()..."), std::string::npos) << relay.errors();
    EXPECT_NE(relay.errors().find("occurred while bind socket! port=[" + port + "]"),
              std::string::npos);
    EXPECT_FALSE(relay.dir().exists("sip_log.txt"));
}

TEST(Lifecycle, WithoutConfigurationTheSystemChoosesThePort) {
    RelayProcess relay({});
    ASSERT_TRUE(relay.waitForConsole("Server(:0) ...\n")) << relay.console() << relay.errors();
    EXPECT_EQ(relay.stop(SIGTERM), 0);
}

TEST(Lifecycle, RestartAppendsToTheLog) {
    int port = FindFreeUdpPort();
    RelayProcess relay({LoopbackSipCfg(port)});
    ASSERT_TRUE(relay.waitForConsole("Server("));
    ASSERT_EQ(relay.stop(SIGINT), 0);
    std::string first = relay.log();
    relay.start();
    ASSERT_TRUE(relay.waitForConsoleCount("Server(", 2));
    ASSERT_EQ(relay.stop(SIGINT), 0);
    std::string both = relay.log();
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_EQ(CountOccurrences(both, ": Start...\r\n"), 2);
    EXPECT_EQ(CountOccurrences(both, ": Close.\r\n"), 2);
}

TEST(Lifecycle, RunsWithoutLogWhenTheLogCannotBeCreated) {
    int port = FindFreeUdpPort();
    RelayProcess relay({LoopbackSipCfg(port)});
    // Start again in a directory where sip_log.txt is a directory.
    ASSERT_TRUE(relay.waitForConsole("Server("));
    ASSERT_EQ(relay.stop(SIGINT), 0);
    ::unlink(relay.dir().file("sip_log.txt").c_str());
    ::mkdir(relay.dir().file("sip_log.txt").c_str(), 0755);
    relay.start();
    ASSERT_TRUE(relay.waitForConsoleCount("Server(", 2));
    UdpPeer phone("127.0.0.20");
    phone.sendTo("127.0.0.1", port, "OPTIONS sip:x SIP/2.0\r\n\r\n");
    EXPECT_TRUE(relay.waitForConsole("Send len = "));
    EXPECT_EQ(relay.stop(SIGINT), 0);
    EXPECT_NE(relay.console().find("Close.\n"), std::string::npos);
}

TEST(Lifecycle, OverlongDatagramIsDroppedWithoutLogEntry) {
    int port = FindFreeUdpPort();
    RelayProcess relay({LoopbackSipCfg(port)});
    ASSERT_TRUE(relay.waitForConsole("Server("));
    UdpPeer phone("127.0.0.20");
    phone.sendTo("127.0.0.1", port, std::string(2049, 'x'));
    phone.sendTo("127.0.0.1", port, std::string(2048, 'y'));
    ASSERT_TRUE(relay.waitForLog("len=2048, method=\r\n" + std::string(2048, 'y')));
    ASSERT_EQ(relay.stop(SIGINT), 0);
    std::string log = relay.log();
    EXPECT_EQ(log.find("len=2049"), std::string::npos);
    EXPECT_EQ(log.find(std::string(100, 'x')), std::string::npos);
    EXPECT_EQ(CountOccurrences(log, "recv from '127.0.0.20:"), 1);
}

}  // namespace
