// A received datagram through everything the relay does with it before a send: parse, console
// dump, the header reads of the routing, the 200 OK and the routing decision. The table's answer
// and the relay's settings come from the input's first bytes, so that every way of routing and
// every fall-back is reached, also with settings that name the message's own addresses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/routing.hpp"
#include "sip/req_proc.hpp"

namespace {

std::FILE* devNull() {
    static std::FILE* out = std::fopen("/dev/null", "w");
    return out;
}

// Bits of the control byte.
constexpr std::uint8_t kTableFinds = 1 << 0;
constexpr std::uint8_t kRelayIsVia = 1 << 1;
constexpr std::uint8_t kSenderIsVia = 1 << 2;
constexpr std::uint8_t kSenderIsUpstream = 1 << 3;
constexpr std::uint8_t kSecondAddresses = 1 << 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t control = data[0];
    const int port = (data[1] << 8) | data[2];
    const char* bytes = reinterpret_cast<const char*>(data + 3);
    const int length = static_cast<int>(size - 3);

    TagReqProc message(bytes, length);
    if (message.rawLength != std::min(length, TagReqProc::kMaxLength)) std::abort();
    message.Dump(devNull());

    std::string expires;
    message.GetHeader("Expires", expires);
    std::string toUser;
    std::string toValue;
    message.GetToName(toUser, toValue, devNull());

    ForwardFacts facts;
    facts.viaFound = message.GetViaAddr(facts.viaAddress, facts.viaPort, devNull()) == 1;
    facts.isRequest = message.method != "SIP/2.0";

    WorkingValues wv;
    wv.myIp1 = "127.0.0.1";
    wv.myIp2 = "127.0.0.2";
    wv.myPort = 5060;
    wv.msIp1 = "127.0.0.30";
    wv.msPort = 5080;
    wv.outProxyAddr = "127.0.0.40";
    wv.outProxyPort = 5090;
    if (control & kRelayIsVia) {
        ((control & kSecondAddresses) ? wv.myIp2 : wv.myIp1) = facts.viaAddress;
        wv.myPort = facts.viaPort;
    }
    facts.srcAddress = "127.0.0.20";
    facts.srcPort = port;
    if (control & kSenderIsVia) {
        facts.srcAddress = facts.viaAddress;
        facts.srcPort = facts.viaPort;
    }
    if (control & kSenderIsUpstream) {
        ((control & kSecondAddresses) ? wv.msIp2 : wv.msIp1) = facts.srcAddress;
        wv.msPort = facts.srcPort;
    }
    facts.fromUpstream = IsFromUpstreamServer(facts.srcAddress, facts.srcPort, wv);

    if (IsAnsweredLocally(message.method)) {
        std::string response;
        int written = message.BuildResponse("200", "OK", "", response);
        if (written != static_cast<int>(response.size())) std::abort();
        if (response.compare(0, 15, "SIP/2.0 200 OK\r") != 0) std::abort();
        return 0;
    }

    RouteWay way = ChooseRouteWay(facts, wv);
    TableAnswer answer;
    if (control & kTableFinds) {
        answer.found = true;
        answer.address = toUser.substr(0, 31);
        answer.port = port;
    }
    Destination destination = ChooseDestination(way, facts, answer, wv);
    // A found binding always wins; without one the fall-back is one of the known places.
    if (answer.found && destination.address != answer.address) std::abort();
    if (!answer.found && way == RouteWay::ByVia && destination.address != facts.viaAddress) {
        std::abort();
    }
    (void)IsRelayItself(destination, wv);
    return 0;
}
