#include "core/datagram_turn.hpp"

#include <cstdio>

#include "core/routing.hpp"
#include "core/traffic_log.hpp"
#include "platform/clock.hpp"
#include "sip/req_proc.hpp"

namespace {

constexpr int kEmptyMethodPauseMs = 20;

std::string receivedLine(const std::string& srcAddress, int srcPort, int length,
                         const std::string& method) {
    return "recv from '" + srcAddress + ":" + std::to_string(srcPort) +
           "', len=" + std::to_string(length) + ", method=" + method;
}

}  // namespace

void HandleDatagram(TagRegUsers& users, int sock, char* buffer, int length,
                    const std::string& srcAddress, int srcPort,
                    const sockaddr_in& srcSocketAddress) {
    TagReqProc message(buffer, length);
    message.Dump(stdout);
    LogLine(receivedLine(srcAddress, srcPort, length, message.method));
    LogData(buffer, length);
    if (message.method.empty()) {
        std::fflush(stdout);
        SleepMilliseconds(kEmptyMethodPauseMs);
        return;
    }
    int sent =
        RouteMessage(users, sock, message, buffer, length, srcAddress, srcPort, srcSocketAddress);
    std::printf("Send len = %d.\n", sent);
    // One flush per turn keeps piped console output live without a write per line.
    std::fflush(stdout);
}
