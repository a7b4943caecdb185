#include "platform/console_events.hpp"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace {

constexpr int kEventSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

sigset_t eventSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kEventSignals) sigaddset(&set, sig);
    return set;
}

void watchSignals(ConsoleEventHandler handler, sigset_t set) {
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        int type = ConsoleEventOfSignal(sig);
        if (type >= 0) handler(static_cast<std::uint32_t>(type));
    }
}

}  // namespace

int ConsoleEventOfSignal(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return kCtrlCEvent;
        case SIGQUIT:
            return kCtrlBreakEvent;
        case SIGHUP:
            return kCtrlCloseEvent;
        case SIGTERM:
            return kCtrlShutdownEvent;
        default:
            return -1;
    }
}

int SetConsoleCtrlHandler(ConsoleEventHandler handler) {
    for (int sig : kEventSignals) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
    sigset_t set = eventSignalSet();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    try {
        std::thread(watchSignals, handler, set).detach();
    } catch (...) {
        return -1;
    }
    return 0;
}
