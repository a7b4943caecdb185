#pragma once

#include <netinet/in.h>

#include <string>

// The relay's one UDP socket: start-up and clean-up of the socket layer, opening the socket on
// every local address, receiving one datagram with its sender, and sending one datagram to a
// dotted address or a host name. Everything blocks; failures come back as result codes.

constexpr int kNoSocket = -1;

// 0 when the socket layer is started or was started already; -1 when it cannot start.
int NetStartup();

// Releases every socket that InitTcp opened; does nothing before a successful NetStartup.
void NetCleanup();

// Opens a UDP socket bound to port (its low 16 bits) on every local address.
// 0 and the socket in sock; -3 when it cannot be created, -4 when it cannot be bound. Both
// failures are reported to the user before the result is returned.
int InitTcp(int port, int& sock);

// ReceiveData's result when its wait was ended through the wake-up channel.
constexpr int kWokenUp = -100;

// Receives one datagram of at most capacity bytes, waiting for it when none is queued. Returns
// its length (above 0) with the sender's dotted address, port and socket address filled in; or
// 0 or a negative value for a failed receive, an empty datagram, or a datagram longer than
// capacity (which is discarded). When wakeFd (-1 for none) becomes readable during the wait, it
// is drained and the result is kWokenUp; a queued datagram always goes first.
int ReceiveData(int sock, char* buffer, int capacity, std::string& srcAddress, int& srcPort,
                sockaddr_in& srcSocketAddress, int wakeFd = -1);

// Sends length bytes to address (dotted quad or host name) and port (its low 16 bits).
// The number of bytes sent; -1 when the send fails; -2 when the name cannot be resolved.
int SendData(int sock, const std::string& address, int port, const char* data, int length);

// Sends length bytes to a socket address exactly as a receive gave it: bytes sent or -1.
int SendToSocketAddress(int sock, const sockaddr_in& destination, const char* data, int length);
