#pragma once

#include <atomic>
#include <cstdint>

class TagSipCfg;
class TagRegUsers;

// Cleared by a console event; the receive loop runs while it is set.
extern std::atomic<bool> gRunning;

// The server socket, kNoSocket until it is open.
extern std::atomic<int> gServerSocket;

// Handles a console control event: prints its text, clears the running flag and sends the
// wake-up datagram "quit" to the relay's own address. Returns 1 for the five console events,
// 0 (leaving the flag set) for any other type.
int ConsoleCtrlHandler(std::uint32_t eventType);

// The whole life of the server: start-up, the receive loop and shutdown.
// Returns the exit code: 0 after an orderly stop, 1 when the UDP socket cannot be opened.
int RunServer(const TagSipCfg& cfg, TagRegUsers& users);
