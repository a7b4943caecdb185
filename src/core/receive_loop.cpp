#include "core/receive_loop.hpp"

#include <netinet/in.h>

#include <string>

#include "core/datagram_turn.hpp"
#include "core/lifecycle.hpp"
#include "net/udp_endpoint.hpp"
#include "platform/clock.hpp"

namespace {

constexpr int kReceiveCapacity = 2048;
constexpr int kFailedReceivePauseMs = 26;

}  // namespace

void ReceiveLoop(int sock, int wakeFd, TagRegUsers& users) {
    char buffer[kReceiveCapacity];
    std::string srcAddress;
    int srcPort = 0;
    sockaddr_in srcSocketAddress{};
    while (gRunning) {
        int length = ReceiveData(sock, buffer, kReceiveCapacity, srcAddress, srcPort,
                                 srcSocketAddress, wakeFd);
        if (length == kWokenUp) continue;  // test the running flag again
        if (length <= 0) {
            SleepMilliseconds(kFailedReceivePauseMs);
            continue;
        }
        HandleDatagram(users, sock, buffer, length, srcAddress, srcPort, srcSocketAddress);
    }
}
