#include "core/routing.hpp"

#include <gtest/gtest.h>

namespace {

// Decision cases use the addresses of a typical office network; nothing is sent.
WorkingValues office() {
    WorkingValues wv;
    wv.myIp1 = "192.168.10.2";
    wv.myIp2 = "127.0.0.1";
    wv.myPort = 5060;
    wv.msIp1 = "10.20.0.5";
    wv.msIp2 = "10.20.0.6";
    wv.msPort = 5080;
    wv.outProxyAddr = "10.20.0.9";
    wv.outProxyPort = 5070;
    return wv;
}

const TableAnswer kNone{};
TableAnswer bound(const char* address, int port) {
    return {true, address, port};
}

struct Case {
    const char* name;
    const char* method;
    const char* srcAddress;
    int srcPort;
    bool viaFound;
    const char* viaAddress;
    int viaPort;
    TableAnswer byName;  // what FindByName would answer
    TableAnswer byVia;   // what FindByVia would answer
    RouteWay way;
    Destination destination;
    WorkingValues (*settings)() = office;
};

WorkingValues emptyFirstAddress() {
    WorkingValues wv = office();
    wv.myIp1 = "";
    return wv;
}
WorkingValues hostNames() {
    WorkingValues wv = office();
    wv.msIp1 = "sip.example.net";
    wv.msIp2 = "sip2.example.net";
    return wv;
}

// clang-format off
const Case kCases[] = {
    // The eight rows: sender class x way of routing x table answer.
    {"UpstreamRequestToBoundUserGoesToBinding",
     "INVITE", "10.20.0.5", 5080, true, "10.20.0.5", 5080,
     bound("192.168.1.20", 5060), kNone, RouteWay::ByTo, {"192.168.1.20", 5060}},
    {"UpstreamRequestToUnboundUserGoesToOutboundProxy",
     "INVITE", "10.20.0.5", 5080, true, "10.20.0.5", 5080,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.9", 5070}},
    {"UpstreamResponseWithPhonesViaGoesToPhonesBinding",
     "SIP/2.0", "10.20.0.5", 5080, true, "192.168.1.20", 5060,
     kNone, bound("192.168.1.20", 5062), RouteWay::ByVia, {"192.168.1.20", 5062}},
    {"UpstreamResponseWithUnknownViaGoesToVia",
     "SIP/2.0", "10.20.0.5", 5080, true, "192.168.1.77", 5066,
     kNone, kNone, RouteWay::ByVia, {"192.168.1.77", 5066}},
    {"PhoneRequestToBoundUserGoesToBinding",
     "INVITE", "192.168.1.20", 5060, true, "192.168.1.20", 5060,
     bound("192.168.1.21", 5060), kNone, RouteWay::ByTo, {"192.168.1.21", 5060}},
    {"PhoneRequestToUnboundUserGoesToUpstreamServer",
     "INVITE", "192.168.1.20", 5060, true, "192.168.1.20", 5060,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.5", 5080}},
    {"PhoneResponseWithCallersViaGoesToCallersBinding",
     "SIP/2.0", "192.168.1.21", 5060, true, "192.168.1.20", 5060,
     kNone, bound("192.168.1.20", 5060), RouteWay::ByVia, {"192.168.1.20", 5060}},
    {"PhoneResponseWithUpstreamViaGoesToThatVia",
     "SIP/2.0", "192.168.1.21", 5060, true, "10.20.0.5", 5080,
     kNone, kNone, RouteWay::ByVia, {"10.20.0.5", 5080}},
    // Responses routed by To like requests.
    {"ResponseWithRelaysFirstAddressIsRoutedByTo",
     "SIP/2.0", "192.168.1.21", 5060, true, "192.168.10.2", 5060,
     bound("192.168.1.20", 5060), kNone, RouteWay::ByTo, {"192.168.1.20", 5060}},
    {"ResponseWithRelaysSecondAddressIsRoutedByTo",
     "SIP/2.0", "192.168.1.21", 5060, true, "127.0.0.1", 5060,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.5", 5080}},
    {"ResponseWithRelaysAddressButOtherPortIsRoutedByVia",
     "SIP/2.0", "192.168.1.21", 5060, true, "192.168.10.2", 5061,
     kNone, kNone, RouteWay::ByVia, {"192.168.10.2", 5061}},
    {"ResponseWhoseViaIsItsSenderIsRoutedByTo",
     "SIP/2.0", "192.168.1.21", 5064, true, "192.168.1.21", 5064,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.5", 5080}},
    {"UpstreamResponseWithoutViaIsRoutedByTo",
     "SIP/2.0", "10.20.0.6", 5080, false, "", 5060,
     bound("192.168.1.20", 5060), kNone, RouteWay::ByTo, {"192.168.1.20", 5060}},
    {"UpstreamResponseWithoutViaToUnboundGoesToProxy",
     "SIP/2.0", "10.20.0.6", 5080, false, "", 5060,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.9", 5070}},
    {"PhoneResponseWithoutViaIsRoutedByVia",
     "SIP/2.0", "192.168.1.21", 5060, false, "", 5060,
     kNone, kNone, RouteWay::ByVia, {"", 5060}},
    {"PhoneResponseWithoutViaIsRoutedByToWhenFirstAddressEmptyAndPort5060",
     "SIP/2.0", "192.168.1.21", 5060, false, "", 5060,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.5", 5080}, emptyFirstAddress},
    // Sender class.
    {"UpstreamRecognisedOnSecondAddress",
     "INVITE", "10.20.0.6", 5080, true, "10.20.0.6", 5080,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.9", 5070}},
    {"UpstreamAddressWithOtherPortIsAPhone",
     "INVITE", "10.20.0.5", 5081, true, "10.20.0.5", 5081,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.5", 5080}},
    {"UpstreamPortFromOtherAddressIsAPhone",
     "INVITE", "10.20.0.7", 5080, true, "10.20.0.7", 5080,
     kNone, kNone, RouteWay::ByTo, {"10.20.0.5", 5080}},
    {"HostNamesNeverRecogniseTheSenderButStayTheDestination",
     "INVITE", "10.20.0.5", 5080, true, "10.20.0.5", 5080,
     kNone, kNone, RouteWay::ByTo, {"sip.example.net", 5080}, hostNames},
    // Method test.
    {"LowerCaseRegisterIsForwardedByTo",
     "register", "192.168.1.20", 5060, true, "192.168.1.20", 5060,
     bound("192.168.1.21", 5060), kNone, RouteWay::ByTo, {"192.168.1.21", 5060}},
    {"RequestToBoundUserGoesThereEvenWhenThatIsTheSender",
     "MESSAGE", "192.168.1.20", 5060, true, "192.168.1.20", 5060,
     bound("192.168.1.20", 5060), kNone, RouteWay::ByTo, {"192.168.1.20", 5060}},
};
// clang-format on

TEST(ForwardingDecision, TableOfCases) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        WorkingValues wv = c.settings();
        EXPECT_FALSE(IsAnsweredLocally(c.method));
        ForwardFacts facts;
        facts.isRequest = std::string_view(c.method) != "SIP/2.0";
        facts.fromUpstream = IsFromUpstreamServer(c.srcAddress, c.srcPort, wv);
        facts.viaFound = c.viaFound;
        facts.viaAddress = c.viaAddress;
        facts.viaPort = c.viaPort;
        facts.srcAddress = c.srcAddress;
        facts.srcPort = c.srcPort;

        RouteWay way = ChooseRouteWay(facts, wv);
        EXPECT_EQ(way, c.way);
        const TableAnswer& answer = way == RouteWay::ByTo ? c.byName : c.byVia;
        Destination d = ChooseDestination(way, facts, answer, wv);
        EXPECT_EQ(d.address, c.destination.address);
        EXPECT_EQ(d.port, c.destination.port);
    }
}

TEST(ForwardingDecision, OnlyExactRegisterAndSubscribeAreAnsweredLocally) {
    for (const char* method : {"REGISTER", "SUBSCRIBE"}) EXPECT_TRUE(IsAnsweredLocally(method));
    for (const char* method :
         {"register", "Register", "SUBSCRIBE2", "REGISTE", "SIP/2.0", "", "INVITE", "NOTIFY"}) {
        EXPECT_FALSE(IsAnsweredLocally(method)) << method;
    }
}

TEST(ForwardingDecision, NeverSendsToTheRelaysOwnSocket) {
    WorkingValues wv = office();
    struct {
        Destination destination;
        bool relayItself;
    } cases[] = {
        {{"192.168.10.2", 5060}, true},      {{"127.0.0.1", 5060}, true},
        {{"0.0.0.0", 5060}, true},           {{"127.0.0.53", 5060}, true},
        {{"192.168.10.2", 5061}, false},     {{"127.0.0.1", 5080}, false},
        {{"10.20.0.5", 5060}, false},        {{"", 5060}, false},
        {{"127.0.0.1", 5060 + 65536}, true},  // the same port on the wire
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsRelayItself(c.destination, wv), c.relayItself)
            << c.destination.address << ":" << c.destination.port;
    }
}

}  // namespace
