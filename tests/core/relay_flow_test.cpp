// The relay end to end: phones, the upstream server and the outbound proxy are UDP sockets on
// 127.0.0.x that exchange real datagrams with the running binary.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "registry/reg_users.hpp"
#include "support/relay_process.hpp"
#include "support/udp_peer.hpp"

namespace {

std::string request(const std::string& method, const std::string& to, const UdpPeer& from,
                    const std::string& extra = "") {
    return method + " sip:" + to + "@127.0.0.1 SIP/2.0\r\n" + "Via: SIP/2.0/UDP " + from.address() +
           ":" + std::to_string(from.port()) + ";branch=z9hG4bK-" + method + "\r\n" +
           "From: <sip:caller@127.0.0.1>;tag=a1\r\n" + "To: <sip:" + to + "@127.0.0.1>\r\n" +
           "Call-ID: call-" + method + "\r\n" + "CSeq: 1 " + method + "\r\n" + extra +
           "Content-Length: 0\r\n\r\n";
}

std::string registerFrom(const UdpPeer& phone, const std::string& user,
                         const std::string& expiresLine = "Expires: 3600\r\n") {
    return request("REGISTER", user, phone, expiresLine);
}

// A response that carries the Via of the request it answers.
std::string responseTo(const std::string& status, const std::string& via, const std::string& to) {
    return "SIP/2.0 " + status + "\r\nVia: " + via + "\r\nFrom: <sip:caller@127.0.0.1>;tag=a1\r\n" +
           "To: <sip:" + to + "@127.0.0.1>;tag=b2\r\nCall-ID: call-INVITE\r\nCSeq: 1 INVITE\r\n" +
           "Content-Length: 0\r\n\r\n";
}

std::string viaOf(const UdpPeer& peer) {
    return "SIP/2.0/UDP " + peer.address() + ":" + std::to_string(peer.port()) +
           ";branch=z9hG4bK-1";
}

std::string registrationLine(const std::string& user, const UdpPeer& phone,
                             const std::string& toValue, int expires) {
    std::string address = phone.address() + ", " + std::to_string(phone.port());
    return user + ", " + address + ", " + address + ", " + toValue + ", " + std::to_string(expires);
}

class RelayFlow : public testing::Test {
  protected:
    void SetUp() override {
        startRelay(
            LoopbackSipCfg(port_, "127.0.0.30", upstream_.port(), "127.0.0.40", proxy_.port()));
    }

    void startRelay(const std::string& sipCfg) {
        relay_ = std::make_unique<RelayProcess>(RelayProcess::Options{sipCfg});
        ASSERT_TRUE(relay_->waitForConsole("Server(")) << relay_->console() << relay_->errors();
    }

    // Sends bytes from peer to the relay and returns what arrives at target.
    std::optional<UdpPeer::Datagram> relayed(const UdpPeer& from, const std::string& bytes,
                                             const UdpPeer& target) {
        from.sendTo("127.0.0.1", port_, bytes);
        return target.receive();
    }

    void registerPhone(const UdpPeer& phone, const std::string& user) {
        auto answer = relayed(phone, registerFrom(phone, user), phone);
        ASSERT_TRUE(answer) << "no 200 OK for " << user;
        ASSERT_EQ(answer->bytes.rfind("SIP/2.0 200 OK\r\n", 0), 0u);
    }

    int port_ = FindFreeUdpPort();
    UdpPeer phoneA_{"127.0.0.20"};
    UdpPeer phoneB_{"127.0.0.21"};
    UdpPeer upstream_{"127.0.0.30"};
    UdpPeer proxy_{"127.0.0.40"};
    std::unique_ptr<RelayProcess> relay_;
};

TEST_F(RelayFlow, RegisterIsAnsweredStoredSavedAndListed) {
    std::string req =
        "REGISTER sip:127.0.0.1 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.20:" +
        std::to_string(phoneA_.port()) +
        ";branch=x1\r\n"
        "From: 1001;tag=a1\r\nTo: 1001\r\nContact: sip:1001\r\nCall-ID: c1\r\n"
        "CSeq: 1 REGISTER\r\nExpires: 3600\r\n\r\n";
    auto answer = relayed(phoneA_, req, phoneA_);
    ASSERT_TRUE(answer);
    std::string expected =
        "SIP/2.0 200 OK\r\n"
        "Via: SIP/2.0/UDP 127.0.0.20:" +
        std::to_string(phoneA_.port()) +
        ";branch=x1\r\n"
        "From: 1001;tag=a1\r\nTo: 1001;tag=qarvimet\r\nMax-Forwards: 70\r\n"
        "Contact: sip:1001\r\nCall-ID: c1\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
    EXPECT_EQ(answer->bytes, expected);
    EXPECT_EQ(answer->fromPort, port_);

    std::string line = registrationLine("1001", phoneA_, "1001", 3600);
    ASSERT_TRUE(relay_->waitForConsole("Send len = " + std::to_string(expected.size()) + ".\n"));
    EXPECT_EQ(relay_->regUsers(), line + "\r\n");
    std::string console = relay_->console();
    std::string via = "ViaIp: 127.0.0.20, ViaPort: " + std::to_string(phoneA_.port()) + "\n";
    EXPECT_NE(console.find("ToName: 1001, ToAcc: 1001\n" + via + line + "\nSend len = "),
              std::string::npos)
        << console;

    ASSERT_EQ(relay_->stop(SIGINT), 0);
    std::string log = relay_->log();
    std::size_t recv = log.find("recv from '127.0.0.20:");
    std::size_t raw = log.find(req);
    std::size_t reply = log.find(expected);
    ASSERT_NE(recv, std::string::npos);
    EXPECT_LT(recv, raw);
    EXPECT_LT(raw, reply);
    EXPECT_EQ(log.find("sned to"), std::string::npos);
}

TEST_F(RelayFlow, ExpiresDecidesWhetherTheBindingStays) {
    struct {
        const char* name;
        std::string expiresLine;
        bool stays;
    } cases[] = {
        {"Expires3600Stores", "Expires: 3600\r\n", true},
        {"ExpiresZeroRemoves", "Expires: 0\r\n", false},
        {"MissingExpiresRemoves", "", false},
        {"LowerCaseExpiresIsNotFoundAndRemoves", "expires: 3600\r\n", false},
        {"NegativeExpiresRemoves", "Expires: -1\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        registerPhone(phoneA_, "1001");
        auto answer = relayed(phoneA_, registerFrom(phoneA_, "1001", c.expiresLine), phoneA_);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->bytes.rfind("SIP/2.0 200 OK\r\n", 0), 0u);
        std::string file = relay_->regUsers();
        std::string line = registrationLine("1001", phoneA_, "<sip:1001@127.0.0.1>", 3600);
        EXPECT_EQ(file, c.stays ? line + "\r\n" : "");
    }
}

TEST_F(RelayFlow, SubscribeIsOnlyAnswered) {
    auto answer =
        relayed(phoneA_, request("SUBSCRIBE", "1001", phoneA_, "Expires: 60\r\n"), phoneA_);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->bytes.rfind("SIP/2.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(answer->bytes.find("To: <sip:1001@127.0.0.1>;tag=qarvimet\r\n"), std::string::npos);
    ASSERT_TRUE(relay_->waitForConsole("Send len = "));
    EXPECT_FALSE(relay_->dir().exists("RegUsers.txt"));
    EXPECT_EQ(relay_->console().find("ToName:"), std::string::npos);
    EXPECT_TRUE(upstream_.receivesNothing());
}

TEST_F(RelayFlow, PhoneCallsPhoneAndAnswersComeBackByVia) {
    registerPhone(phoneA_, "1001");
    registerPhone(phoneB_, "1002");

    std::string invite = request("INVITE", "1002", phoneA_);
    auto atB = relayed(phoneA_, invite, phoneB_);
    ASSERT_TRUE(atB);
    EXPECT_EQ(atB->bytes, invite) << "forwarded byte for byte";
    EXPECT_EQ(atB->fromPort, port_);

    for (const char* status : {"180 Ringing", "200 OK"}) {
        std::string response = responseTo(status, viaOf(phoneA_), "1002");
        auto atA = relayed(phoneB_, response, phoneA_);
        ASSERT_TRUE(atA) << status;
        EXPECT_EQ(atA->bytes, response);
    }
    for (const char* method : {"ACK", "BYE"}) {
        std::string next = request(method, "1002", phoneA_);
        auto got = relayed(phoneA_, next, phoneB_);
        ASSERT_TRUE(got) << method;
        EXPECT_EQ(got->bytes, next);
    }
    ASSERT_TRUE(relay_->waitForConsoleCount("Send len = ", 6));
    ASSERT_EQ(relay_->stop(SIGINT), 0);
    std::string log = relay_->log();
    EXPECT_EQ(CountOccurrences(log, "Found Via."), 2);
    std::string toB = "sned to '127.0.0.21:" + std::to_string(phoneB_.port()) +
                      "', len=" + std::to_string(invite.size()) + "\r\n";
    EXPECT_NE(log.find(toB), std::string::npos) << log;
    EXPECT_EQ(CountOccurrences(log, "sned to '127.0.0.20:" + std::to_string(phoneA_.port())), 2);
}

TEST_F(RelayFlow, CallToUnboundUserGoesUpstreamAndItsAnswerComesBack) {
    registerPhone(phoneA_, "1001");
    std::string invite = request("INVITE", "2000", phoneA_);
    auto atUpstream = relayed(phoneA_, invite, upstream_);
    ASSERT_TRUE(atUpstream);
    EXPECT_EQ(atUpstream->bytes, invite);
    std::string ringing = responseTo("180 Ringing", viaOf(phoneA_), "2000");
    auto atA = relayed(upstream_, ringing, phoneA_);
    ASSERT_TRUE(atA);
    EXPECT_EQ(atA->bytes, ringing);
    EXPECT_TRUE(proxy_.receivesNothing());
    // Each turn's entries reach the log when the turn ends, not with the next datagram.
    EXPECT_TRUE(relay_->waitForLog("sned to '127.0.0.20:" + std::to_string(phoneA_.port()) +
                                   "', len=" + std::to_string(ringing.size()) + "\r\n"));
}

TEST_F(RelayFlow, UpstreamCallsReachBoundPhonesOrTheOutboundProxy) {
    registerPhone(phoneA_, "1001");
    std::string toBound = request("INVITE", "1001", upstream_);
    auto atA = relayed(upstream_, toBound, phoneA_);
    ASSERT_TRUE(atA);
    EXPECT_EQ(atA->bytes, toBound);

    // The phone answers with the upstream server's Via alone: no binding holds it.
    std::string ok = responseTo("200 OK", viaOf(upstream_), "1001");
    auto atUpstream = relayed(phoneA_, ok, upstream_);
    ASSERT_TRUE(atUpstream);
    EXPECT_EQ(atUpstream->bytes, ok);

    std::string toUnbound = request("INVITE", "3000", upstream_);
    auto atProxy = relayed(upstream_, toUnbound, proxy_);
    ASSERT_TRUE(atProxy);
    EXPECT_EQ(atProxy->bytes, toUnbound);
    ASSERT_TRUE(relay_->waitForConsoleCount("Send len = ", 4));
    ASSERT_EQ(relay_->stop(SIGINT), 0);
    EXPECT_EQ(CountOccurrences(relay_->log(), "Via not Found."), 1);
}

TEST_F(RelayFlow, OneForwardingTurnWritesItsEntriesInOrder) {
    std::string invite = request("INVITE", "2000", phoneA_);
    ASSERT_TRUE(relayed(phoneA_, invite, upstream_));
    std::string response = responseTo("180 Ringing", viaOf(phoneB_), "2000");
    ASSERT_TRUE(relayed(upstream_, response, phoneB_));
    ASSERT_TRUE(relay_->waitForConsoleCount("Send len = ", 2));
    ASSERT_EQ(relay_->stop(SIGINT), 0);

    std::string log = relay_->log();
    std::string upstream = "127.0.0.30:" + std::to_string(upstream_.port());
    std::vector<std::string> inOrder = {
        "recv from '127.0.0.20:" + std::to_string(phoneA_.port()) +
            "', len=" + std::to_string(invite.size()) + ", method=INVITE\r\n" + invite,
        ": sned to '" + upstream + "', len=" + std::to_string(invite.size()) + "\r\n",
        "recv from '" + upstream + "', len=" + std::to_string(response.size()) +
            ", method=SIP/2.0\r\n" + response,
        ": Via not Found.\r\n",
        ": sned to '127.0.0.21:" + std::to_string(phoneB_.port()) + "', len=",
    };
    std::size_t at = 0;
    for (const std::string& entry : inOrder) {
        std::size_t found = log.find(entry, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << entry << "\n" << log;
        at = found + entry.size();
    }

    // Console: the dump (its first line loses the colon and the byte after it), the Via
    // line, the To line, then the send result.
    std::string console = relay_->console();
    std::size_t dump = console.find("firstLine: INVITE sip000@127.0.0.1 SIP/2.0\n");
    std::size_t via = console.find("ViaIp: 127.0.0.20, ViaPort: ", dump);
    std::size_t to = console.find("ToName: 2000, ToAcc: <sip:2000@127.0.0.1>\n", via);
    std::size_t sent = console.find("Send len = " + std::to_string(invite.size()) + ".\n", to);
    EXPECT_NE(dump, std::string::npos) << console;
    EXPECT_NE(via, std::string::npos) << console;
    EXPECT_NE(to, std::string::npos) << console;
    EXPECT_NE(sent, std::string::npos) << console;
}

TEST_F(RelayFlow, DatagramWithoutMethodIsLoggedButNeitherRoutedNorAnswered) {
    for (std::string bytes :
         {std::string("quit"), std::string("INVITE\r\nVia: a\r\n"), std::string("\r\n\r\n")}) {
        phoneA_.sendTo("127.0.0.1", port_, bytes);
        EXPECT_TRUE(
            relay_->waitForLog("', len=" + std::to_string(bytes.size()) + ", method=\r\n" + bytes));
    }
    EXPECT_TRUE(upstream_.receivesNothing());
    EXPECT_TRUE(phoneA_.receivesNothing(std::chrono::milliseconds(50)));
    EXPECT_EQ(relay_->console().find("Send len"), std::string::npos);
}

TEST_F(RelayFlow, RegistrationsSurviveARestart) {
    registerPhone(phoneA_, "1001");
    registerPhone(phoneB_, "1002");
    ASSERT_EQ(relay_->stop(SIGINT), 0);
    std::string file = relay_->regUsers();
    relay_->start();
    ASSERT_TRUE(relay_->waitForConsoleCount("Server(", 2));
    std::string lines = registrationLine("1001", phoneA_, "<sip:1001@127.0.0.1>", 3600) + "\n" +
                        registrationLine("1002", phoneB_, "<sip:1002@127.0.0.1>", 3600) + "\n";
    EXPECT_NE(relay_->console().find("read()...\n" + lines + "Server("), std::string::npos)
        << relay_->console();
    std::string invite = request("INVITE", "1002", phoneA_);
    auto atB = relayed(phoneA_, invite, phoneB_);
    ASSERT_TRUE(atB);
    EXPECT_EQ(relay_->regUsers(), file);
}

TEST(RelayLoopGuard, DestinationThatIsTheRelayItselfIsNotSent) {
    int port = FindFreeUdpPort();
    // The upstream server set to the relay's own address by mistake.
    RelayProcess relay({LoopbackSipCfg(port, "127.0.0.1", port)});
    ASSERT_TRUE(relay.waitForConsole("Server("));
    UdpPeer phone("127.0.0.20");
    phone.sendTo("127.0.0.1", port, request("INVITE", "2000", phone));
    ASSERT_TRUE(relay.waitForConsole("Send len = -1.\n"));
    ASSERT_EQ(relay.stop(SIGINT), 0);
    std::string log = relay.log();
    EXPECT_NE(log.find("sned to '127.0.0.1:" + std::to_string(port) + "', len=-1\r\n"),
              std::string::npos);
    // One INVITE received, and then only the wake-up: nothing circled.
    EXPECT_EQ(CountOccurrences(log, "recv from"), 2);
}

}  // namespace
