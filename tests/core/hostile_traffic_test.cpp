// Whatever anyone on the LAN sends to the relay's port: random bytes, broken and oversized
// messages, mixed with the REGISTERs of real phones. The relay must go on answering, keep every
// binding in its file and log every datagram it accepted.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "registry/reg_users.hpp"
#include "sip/req_proc.hpp"
#include "support/relay_process.hpp"
#include "support/udp_peer.hpp"

namespace {

using namespace std::chrono_literals;

struct Hostile {
    std::string name;
    std::string bytes;
};

std::string padTo(std::string text, std::size_t size, std::string_view end) {
    text.append(size - text.size() - end.size(), 'v');
    text.append(end);
    return text;
}

// A response goes back to the address of its Via. Only messages that would send to the loopback
// range or to a name that can never resolve are sent to the relay.
bool staysOnLoopback(const std::string& bytes) {
    TagReqProc message(bytes.data(), static_cast<int>(bytes.size()));
    if (message.method != "SIP/2.0") return true;
    std::string address;
    int port = 0;
    std::FILE* devNull = std::fopen("/dev/null", "w");
    message.GetViaAddr(address, port, devNull);
    if (devNull != nullptr) std::fclose(devNull);
    if (address.ends_with(".invalid")) return true;
    in_addr_t dotted = ::inet_addr(address.c_str());
    return dotted != INADDR_NONE && (ntohl(dotted) >> 24) == 127;
}

std::vector<Hostile> craftedMessages() {
    std::string manyVias = "SIP/2.0 200 OK\r\n";
    for (int i = 0; i < 250; ++i) manyVias += "Via: u\r\n";
    manyVias += "Via: SIP/2.0/UDP 127.0.0.9:5099\r\nTo: <sip:x@127.0.0.1>\r\n\r\n";
    return {
        {"OneZeroByte", std::string(1, '\0')},
        {"ZeroBytes", std::string(300, '\0')},
        {"ZeroBytesFull", std::string(2048, '\0')},
        {"NoLineEnd", "INVITE sip:nobody@127.0.0.1 SIP/2.0"},
        {"OnlyLineEnds", std::string(1000, '\n')},
        {"OnlyCrLf", "\r\n\r\n\r\n\r\n"},
        {"OneCr", "\r"},
        {"HeaderValueFillsDatagram",
         padTo("OPTIONS sip:x@127.0.0.1 SIP/2.0\r\nSubject: ", 2048, "\r\n\r\n")},
        {"OverlongByOne", padTo("OPTIONS sip:x@127.0.0.1 SIP/2.0\r\nSubject: ", 2049, "\r\n\r\n")},
        {"LongFirstLine", "INVITE sip:" + std::string(1500 - 19, 'f') + " SIP/2.0\r\n\r\n"},
        {"HundredsOfVias", manyVias},
        {"ControlBytesAndCommasInTo",
         "INVITE sip:x SIP/2.0\r\nTo: \"a,b\x01\x1a\" <sip:ev,il\x07\x1a\x7f@127.0.0.1>,x\r\n"
         "Via: SIP/2.0/UDP 127.0.0.9:5099\r\n\r\n"},
        // Its binding cannot be written to the file; it must not cost the others theirs.
        {"RegisterWithControlBytesAndCommaInUser",
         "REGISTER sip:127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.29:5099\r\n"
         "To: <sip:huge,x\x01\x1a@127.0.0.1>\r\nCall-ID: evil\r\nExpires: 60\r\n\r\n"},
        {"PercentSigns",
         "OPTIONS sip:%s%n%d SIP/2.0\r\nTo: <sip:%s%n%x@127.0.0.1>\r\nFrom: %s%s%s%n\r\n\r\n"},
        {"PercentSignsInResponseVia",
         "SIP/2.0 %s%n\r\nVia: SIP/2.0/UDP %n%s.invalid\r\nTo: %s\r\n\r\n"},
        {"ColonsWithoutBlank", "SIP/2.0 180 x\r\nVia:SIP/2.0/UDP:127.0.0.9\r\n:\r\n::\r\n: \r\n"},
        {"ResponseWithoutVia", "SIP/2.0 200 OK\r\nTo: <sip:nobody@127.0.0.1>\r\n\r\n"},
    };
}

// Random bytes with a fixed seed; every other one behind a request line, so that it reaches the
// routing and not only the parser.
std::vector<Hostile> randomMessages(int count) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(1, 2048);
    std::vector<Hostile> out;
    while (static_cast<int>(out.size()) < count) {
        std::string bytes = out.size() % 2 == 0 ? std::string() : "OPTIONS sip:r SIP/2.0\r\n";
        std::size_t size = static_cast<std::size_t>(length(random));
        while (bytes.size() < size) bytes.push_back(static_cast<char>(byte(random)));
        bytes.resize(size);
        if (!staysOnLoopback(bytes)) continue;
        out.push_back({"Random" + std::to_string(out.size()), bytes});
    }
    return out;
}

struct Binding {
    std::string name;
    std::string toValue;
    std::string expires;  // as sent
    int storedExpires = 0;
    const UdpPeer* phone = nullptr;
};

std::string registerFor(const Binding& b, int sequence) {
    std::string via = b.phone->address() + ":" + std::to_string(b.phone->port());
    return "REGISTER sip:127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP " + via + ";branch=z9hG4bK" +
           std::to_string(sequence) + "\r\nFrom: " + b.toValue + ";tag=1\r\nTo: " + b.toValue +
           "\r\nCall-ID: reg" + std::to_string(sequence) +
           "\r\nCSeq: 1 REGISTER\r\nContact: <sip:" + via + ">\r\nExpires: " + b.expires +
           "\r\nContent-Length: 0\r\n\r\n";
}

// Sends the REGISTER and waits for its 200 OK; since the relay takes datagrams in order, the
// answer also means that everything sent before it has been handled.
bool registerAndWait(const Binding& b, int sequence, int relayPort) {
    b.phone->sendTo("127.0.0.1", relayPort, registerFor(b, sequence));
    std::string callId = "Call-ID: reg" + std::to_string(sequence) + "\r\n";
    for (int i = 0; i < 50; ++i) {
        auto answer = b.phone->receive(5000ms);
        if (!answer) return false;
        if (answer->bytes.starts_with("SIP/2.0 200 OK\r\n") &&
            answer->bytes.find(callId) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(HostileTraffic, RelayKeepsAnsweringKeepsEveryBindingAndLogsEveryAcceptedDatagram) {
    int port = FindFreeUdpPort();
    RelayProcess relay({LoopbackSipCfg(port)});
    ASSERT_TRUE(relay.waitForConsole("Server(")) << relay.errors();

    UdpPeer attacker("127.0.0.29");
    std::vector<std::unique_ptr<UdpPeer>> phones;
    for (int i = 21; i <= 24; ++i) {
        phones.push_back(std::make_unique<UdpPeer>("127.0.0.2" + std::to_string(i - 20)));
    }

    std::vector<Hostile> hostile = craftedMessages();
    for (Hostile& h : randomMessages(2400)) hostile.push_back(std::move(h));

    // Bindings that must survive: plain ones, and the awkward but representable ones.
    std::vector<Binding> bindings = {
        {"huge", "<sip:huge@127.0.0.1>", "99999999999", 2147483647, phones[0].get()},
        {"anna", "\"Smith, Anna\" <sip:anna@127.0.0.1>", "3600", 3600, phones[1].get()},
        {"100%25%s%n", "<sip:100%25%s%n@127.0.0.1>", "60", 60, phones[2].get()},
    };
    const std::size_t chunk = 16;
    for (std::size_t i = 0; i * chunk < hostile.size(); ++i) {
        std::string name = "user" + std::to_string(i);
        bindings.push_back({name, "<sip:" + name + "@127.0.0.1>", std::to_string(60 + i),
                            static_cast<int>(60 + i), phones[i % phones.size()].get()});
    }

    int accepted = 0;
    std::size_t next = 0;
    for (std::size_t b = 0; b < bindings.size(); ++b) {
        for (std::size_t k = 0; k < chunk && next < hostile.size(); ++k, ++next) {
            const Hostile& h = hostile[next];
            ASSERT_EQ(attacker.sendTo("127.0.0.1", port, h.bytes), static_cast<int>(h.bytes.size()))
                << h.name;
            if (h.bytes.size() <= 2048) ++accepted;
        }
        ASSERT_TRUE(registerAndWait(bindings[b], static_cast<int>(b), port))
            << "no 200 OK after " << hostile[next - 1].name;
    }
    ASSERT_EQ(next, hostile.size());

    // Still answering, then an orderly stop.
    Binding last{"last", "<sip:last@127.0.0.1>", "30", 30, phones[3].get()};
    ASSERT_TRUE(registerAndWait(last, 99999, port));
    bindings.push_back(last);
    EXPECT_EQ(relay.stop(SIGINT), 0);

    EXPECT_EQ(CountOccurrences(relay.log(), "recv from '127.0.0.29:"), accepted);
    EXPECT_EQ(relay.log().find("len=2049"), std::string::npos);

    TagRegUsers loaded(relay.dir().file("RegUsers.txt"));
    EXPECT_EQ(loaded.users.size(), bindings.size());
    for (const Binding& b : bindings) {
        SCOPED_TRACE(b.name);
        auto found = loaded.users.find(b.name);
        ASSERT_NE(found, loaded.users.end());
        const TagRegRec& rec = found->second;
        EXPECT_EQ(rec.srcIp, b.phone->address());
        EXPECT_EQ(rec.srcPort, b.phone->port());
        EXPECT_EQ(rec.viaIp, b.phone->address());
        EXPECT_EQ(rec.viaPort, b.phone->port());
        EXPECT_EQ(rec.toAcc, b.toValue);
        EXPECT_EQ(rec.expires, b.storedExpires);
    }
}

}  // namespace
