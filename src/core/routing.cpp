#include "core/routing.hpp"

#include <cstdio>

#include "core/traffic_log.hpp"
#include "net/udp_endpoint.hpp"
#include "platform/decimal.hpp"
#include "registry/reg_users.hpp"
#include "sip/req_proc.hpp"

bool IsAnsweredLocally(std::string_view method) {
    return method == "REGISTER" || method == "SUBSCRIBE";
}

bool IsFromUpstreamServer(std::string_view srcAddress, int srcPort, const WorkingValues& wv) {
    return (srcAddress == wv.msIp1 || srcAddress == wv.msIp2) && srcPort == wv.msPort;
}

RouteWay ChooseRouteWay(const ForwardFacts& facts, const WorkingValues& wv) {
    if (facts.isRequest) return RouteWay::ByTo;
    // Only the upstream server's responses without Via go by To; a phone's go by Via.
    if (facts.fromUpstream && !facts.viaFound) return RouteWay::ByTo;
    bool viaIsRelay = (facts.viaAddress == wv.myIp1 || facts.viaAddress == wv.myIp2) &&
                      facts.viaPort == wv.myPort;
    if (viaIsRelay) return RouteWay::ByTo;
    bool viaIsSender = facts.viaAddress == facts.srcAddress && facts.viaPort == facts.srcPort;
    if (viaIsSender) return RouteWay::ByTo;
    return RouteWay::ByVia;
}

Destination ChooseDestination(RouteWay way, const ForwardFacts& facts, const TableAnswer& answer,
                              const WorkingValues& wv) {
    if (answer.found) return {answer.address, answer.port};
    if (way == RouteWay::ByVia) return {facts.viaAddress, facts.viaPort};
    if (facts.fromUpstream) return {wv.outProxyAddr, wv.outProxyPort};
    return {wv.msIp1, wv.msPort};
}

bool IsRelayItself(const Destination& destination, const WorkingValues& wv) {
    // Ports are compared as they reach the wire: their low 16 bits.
    if ((destination.port & 0xFFFF) != (wv.myPort & 0xFFFF)) return false;
    const std::string& a = destination.address;
    return a == wv.myIp1 || a == wv.myIp2 || a == "0.0.0.0" || a.starts_with("127.");
}

namespace {

// The relay's own answer: 200 OK straight back to the socket address the request came from.
// A REGISTER also stores, replaces or removes the sender's binding and saves the table.
int answerLocally(TagRegUsers& users, int sock, TagReqProc& message, const std::string& srcAddress,
                  int srcPort, const sockaddr_in& srcSocketAddress) {
    if (message.method == "REGISTER") {
        std::string expiresText;
        message.GetHeader("Expires", expiresText);
        int expires = ParseDecimal(expiresText);
        std::string toUser;
        std::string toValue;
        message.GetToName(toUser, toValue);
        std::string viaAddress;
        int viaPort = 5060;
        message.GetViaAddr(viaAddress, viaPort);
        users.Update(toUser, srcAddress, srcPort, viaAddress, viaPort, toValue, expires);
        users.Save();
        users.WriteAll(stdout);
    }
    std::string response;
    int length = message.BuildResponse("200", "OK", "", response);
    LogData(response.data(), length);
    return SendToSocketAddress(sock, srcSocketAddress, response.data(), length);
}

// Asks the table what the way of routing needs; routing by To also prints the To line.
TableAnswer askTable(TagRegUsers& users, RouteWay way, const TagReqProc& message,
                     const ForwardFacts& facts) {
    TableAnswer answer;
    if (way == RouteWay::ByTo) {
        // Kept between datagrams so that their memory is reused.
        thread_local std::string toUser;
        thread_local std::string toValue;
        message.GetToName(toUser, toValue);
        answer.found = users.FindByName(toUser, answer.address, answer.port) == 1;
    } else {
        answer.found =
            users.FindByVia(facts.viaAddress, facts.viaPort, answer.address, answer.port) == 1;
    }
    return answer;
}

// "sned to '%s:%d', len=%d", formatted into a line kept between datagrams so that its memory is
// reused.
void logSentLine(const Destination& destination, int sent) {
    thread_local std::string line;
    line.assign("sned to '").append(destination.address).append(":");
    AppendDecimal(line, destination.port);
    line.append("', len=");
    AppendDecimal(line, sent);
    LogLine(line);
}

int forward(TagRegUsers& users, int sock, const TagReqProc& message, const char* buffer, int length,
            const std::string& srcAddress, int srcPort) {
    ForwardFacts facts;
    facts.fromUpstream = IsFromUpstreamServer(srcAddress, srcPort, gWorkingValues);
    facts.viaFound = message.GetViaAddr(facts.viaAddress, facts.viaPort) == 1;
    facts.isRequest = message.method != "SIP/2.0";
    facts.srcAddress = srcAddress;
    facts.srcPort = srcPort;

    RouteWay way = ChooseRouteWay(facts, gWorkingValues);
    TableAnswer answer = askTable(users, way, message, facts);
    Destination destination = ChooseDestination(way, facts, answer, gWorkingValues);

    int sent = IsRelayItself(destination, gWorkingValues)
                   ? -1
                   : SendData(sock, destination.address, destination.port, buffer, length);
    logSentLine(destination, sent);
    return sent;
}

}  // namespace

int RouteMessage(TagRegUsers& users, int sock, TagReqProc& message, const char* buffer, int length,
                 const std::string& srcAddress, int srcPort, const sockaddr_in& srcSocketAddress) {
    if (IsAnsweredLocally(message.method)) {
        return answerLocally(users, sock, message, srcAddress, srcPort, srcSocketAddress);
    }
    return forward(users, sock, message, buffer, length, srcAddress, srcPort);
}
