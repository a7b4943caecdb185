#include "core/datagram_turn.hpp"

#include <algorithm>
#include <cstdio>

#include "core/routing.hpp"
#include "core/traffic_log.hpp"
#include "platform/clock.hpp"
#include "platform/decimal.hpp"
#include "sip/req_proc.hpp"

namespace {

constexpr int kEmptyMethodPauseMs = 20;

// "recv from '%s:%d', len=%d, method=%s", formatted into line.
void formatReceivedLine(std::string& line, const std::string& srcAddress, int srcPort, int length,
                        const std::string& method) {
    line.assign("recv from '").append(srcAddress).append(":");
    AppendDecimal(line, srcPort);
    line.append("', len=");
    AppendDecimal(line, length);
    line.append(", method=").append(method);
}

// The message of the turn. Every turn reads its datagram into this one object afresh, so that
// the texts and header entries of the previous datagram lend their memory to the new ones
// instead of being freed and allocated again.
TagReqProc& turnMessage() {
    static TagReqProc message(nullptr, 0);
    return message;
}

}  // namespace

void HandleDatagram(TagRegUsers& users, int sock, char* buffer, int length,
                    const std::string& srcAddress, int srcPort,
                    const sockaddr_in& srcSocketAddress) {
    TagReqProc& message = turnMessage();
    const int kept = std::clamp(length, 0, TagReqProc::kMaxLength);
    message.rawData.assign(buffer, static_cast<std::size_t>(kept));
    message.rawLength = kept;
    message.Parse();

    message.Dump(stdout);
    static std::string line;  // the turn's log line buffer
    formatReceivedLine(line, srcAddress, srcPort, length, message.method);
    LogLine(line);
    LogData(buffer, length);
    if (message.method.empty()) {
        LogFlush();
        std::fflush(stdout);
        SleepMilliseconds(kEmptyMethodPauseMs);
        return;
    }
    int sent =
        RouteMessage(users, sock, message, buffer, length, srcAddress, srcPort, srcSocketAddress);
    line.assign("Send len = ");
    AppendDecimal(line, sent);
    line.append(".\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
    // One flush per turn keeps the log and piped console output live without a write per line.
    LogFlush();
    std::fflush(stdout);
}
