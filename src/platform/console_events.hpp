#pragma once

#include <cstdint>

// Console control events as the relay knows them. On this host they arrive as signals:
// SIGINT is Ctrl-C, SIGQUIT is Ctrl-Break, SIGHUP is the console window closed and SIGTERM is
// the system shutting down. There is no signal for the user logging off.
enum ConsoleEvent : std::uint32_t {
    kCtrlCEvent = 0,
    kCtrlBreakEvent = 1,
    kCtrlCloseEvent = 2,
    kCtrlLogoffEvent = 5,
    kCtrlShutdownEvent = 6,
};

using ConsoleEventHandler = int (*)(std::uint32_t eventType);

// Makes the four signals reach handler on a thread of its own, as a console delivers its events.
// The signals are blocked in the calling thread (and so in every thread it starts later) and a
// watcher thread takes them with sigwait; nothing runs inside an asynchronous signal handler.
// The signals' dispositions are set explicitly first: a process started in the background by a
// shell inherits SIGINT and SIGQUIT ignored, and an ignored signal is never delivered.
// Call it before any other thread exists. Returns 0, or -1 when the watcher cannot start.
int SetConsoleCtrlHandler(ConsoleEventHandler handler);

// The event type of a signal number, or -1 for a signal that is no console event.
int ConsoleEventOfSignal(int signalNumber);
