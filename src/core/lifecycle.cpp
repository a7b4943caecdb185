#include "core/lifecycle.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "config/sip_cfg.hpp"
#include "core/receive_loop.hpp"
#include "core/traffic_log.hpp"
#include "core/working_values.hpp"
#include "net/udp_endpoint.hpp"
#include "platform/console_events.hpp"
#include "registry/reg_users.hpp"

std::atomic<bool> gRunning{true};
std::atomic<int> gServerSocket{kNoSocket};

namespace {

const TagSipCfg* gConfigRecord = nullptr;  // the handler addresses the wake-up from it

// A private channel that ends the loop's wait when the wake-up datagram cannot reach the
// socket (the relay's first address is not local, or the send failed).
int gWakePipe[2] = {-1, -1};

std::mutex gLoopEndLock;
std::condition_variable gLoopEndSignal;
bool gLoopEnded = false;

constexpr auto kWakeFallbackDelay = std::chrono::milliseconds(1000);

const char* eventText(std::uint32_t eventType) {
    switch (eventType) {
        case kCtrlCEvent:
            return "Ctrl-C event\n\n";
        case kCtrlBreakEvent:
            return "Ctrl-Break event\n\n";
        case kCtrlCloseEvent:
            return "Ctrl-Close event\n\n";
        case kCtrlLogoffEvent:
            return "Ctrl-Logoff event\n\n";
        case kCtrlShutdownEvent:
            return "Ctrl-Shutdown event\n\n";
        default:
            return nullptr;
    }
}

void markLoopEnded() {
    std::lock_guard<std::mutex> guard(gLoopEndLock);
    gLoopEnded = true;
    gLoopEndSignal.notify_all();
}

// Runs on the event thread. The wake-up datagram normally ends the loop's wait; the pipe is
// used only if the loop has not ended a second later, so it never overtakes that datagram.
int onConsoleEvent(std::uint32_t eventType) {
    int handled = ConsoleCtrlHandler(eventType);
    if (handled == 0) return 0;
    std::unique_lock<std::mutex> guard(gLoopEndLock);
    if (!gLoopEndSignal.wait_for(guard, kWakeFallbackDelay, [] { return gLoopEnded; })) {
        if (gWakePipe[1] >= 0) {
            char byte = 1;
            [[maybe_unused]] ssize_t n = ::write(gWakePipe[1], &byte, 1);
        }
    }
    return handled;
}

void openWakePipe() {
    if (::pipe2(gWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) gWakePipe[0] = gWakePipe[1] = -1;
}

}  // namespace

int ConsoleCtrlHandler(std::uint32_t eventType) {
    // An event that is not ours leaves the flag alone, so it can neither stop the relay nor
    // cancel a stop already under way.
    const char* text = eventText(eventType);
    if (text == nullptr) return 0;
    gRunning = false;
    std::fputs(text, stdout);
    std::fflush(stdout);
    if (gConfigRecord != nullptr) {
        static const char kWakeUp[] = {'q', 'u', 'i', 't'};
        SendData(gServerSocket, gConfigRecord->myIp1, gConfigRecord->myPort, kWakeUp,
                 sizeof kWakeUp);
    }
    return 1;
}

int RunServer(const TagSipCfg& cfg, TagRegUsers& users) {
    gConfigRecord = &cfg;
    openWakePipe();
    SetConsoleCtrlHandler(onConsoleEvent);
    CopyWorkingValues(cfg);
    users.logLine = LogLine;
    users.exitPauseMs = 500;
    NetStartup();
    int sock = kNoSocket;
    if (InitTcp(gMyPort, sock) < 0) {
        std::printf("OpenUdp(%d) error!\n", gMyPort);
        std::fflush(stdout);
        NetCleanup();
        return 1;
    }
    gServerSocket = sock;
    LogOpen();
    std::printf("Server(%s:%d) ...\n", gMyIp1.c_str(), gMyPort);
    std::fflush(stdout);
    LogLine("Start...");
    LogFlush();  // so that a new run shows in the log at once

    ReceiveLoop(sock, gWakePipe[0], users);
    markLoopEnded();

    LogLine("Close.");
    LogClose();
    NetCleanup();
    std::printf("Close.\n");
    std::fflush(stdout);
    return 0;
}
