#include "net/udp_endpoint.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/udp_peer.hpp"

namespace {

class UdpEndpointTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(NetStartup(), 0);
        ASSERT_EQ(InitTcp(0, sock_), 0);
        sockaddr_in self{};
        socklen_t length = sizeof self;
        ::getsockname(sock_, reinterpret_cast<sockaddr*>(&self), &length);
        port_ = ntohs(self.sin_port);
    }
    void TearDown() override { NetCleanup(); }

    int sock_ = kNoSocket;
    int port_ = 0;
};

TEST_F(UdpEndpointTest, ReceivesDatagramOfExactlyCapacityAndDropsLongerOne) {
    UdpPeer phone("127.0.0.20");
    char buffer[2048];
    std::string address = "unchanged";
    int port = -1;
    sockaddr_in from{};

    phone.sendTo("127.0.0.1", port_, std::string(2049, 'a'));
    EXPECT_LT(ReceiveData(sock_, buffer, sizeof buffer, address, port, from), 0);
    EXPECT_EQ(address, "unchanged");

    phone.sendTo("127.0.0.1", port_, std::string(2048, 'b'));
    EXPECT_EQ(ReceiveData(sock_, buffer, sizeof buffer, address, port, from), 2048);
    EXPECT_EQ(std::string(buffer, 2048), std::string(2048, 'b'));
    EXPECT_EQ(address, "127.0.0.20");
    EXPECT_EQ(port, phone.port());
    EXPECT_EQ(ntohs(from.sin_port), phone.port());
}

TEST_F(UdpEndpointTest, EmptyDatagramGivesZeroAndKeepsSender) {
    UdpPeer phone("127.0.0.21");
    char buffer[16];
    std::string address = "earlier";
    int port = 7;
    sockaddr_in from{};
    phone.sendTo("127.0.0.1", port_, "");
    EXPECT_EQ(ReceiveData(sock_, buffer, sizeof buffer, address, port, from), 0);
    EXPECT_EQ(address, "earlier");
    EXPECT_EQ(port, 7);
}

TEST_F(UdpEndpointTest, SendsToDottedAddressHostNameAndLow16BitsOfPort) {
    UdpPeer phone("127.0.0.22");
    EXPECT_EQ(SendData(sock_, "127.0.0.22", phone.port(), "abc", 3), 3);
    auto got = phone.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "abc");
    EXPECT_EQ(got->fromPort, port_);

    EXPECT_EQ(SendData(sock_, "127.0.0.22", phone.port() + 65536, "wrap", 4), 4);
    got = phone.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "wrap");
}

TEST_F(UdpEndpointTest, WakeUpChannelEndsTheWaitButNeverOvertakesADatagram) {
    int wake[2];
    ASSERT_EQ(::pipe(wake), 0);
    char buffer[64];
    std::string address;
    int port = 0;
    sockaddr_in from{};
    ASSERT_EQ(::write(wake[1], "x", 1), 1);
    UdpPeer phone("127.0.0.23");
    phone.sendTo("127.0.0.1", port_, "first");
    ASSERT_TRUE(phone.receivesNothing(std::chrono::milliseconds(50)));  // let it arrive
    EXPECT_EQ(ReceiveData(sock_, buffer, sizeof buffer, address, port, from, wake[0]), 5);
    EXPECT_EQ(ReceiveData(sock_, buffer, sizeof buffer, address, port, from, wake[0]), kWokenUp);
    ::close(wake[0]);
    ::close(wake[1]);
}

TEST_F(UdpEndpointTest, ShortenedDottedFormsAreAddressesToo) {
    UdpPeer phone("127.0.0.1");
    EXPECT_EQ(SendData(sock_, "127.1", phone.port(), "short", 5), 5);
    auto got = phone.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "short");
}

TEST_F(UdpEndpointTest, HostNameIsResolved) {
    UdpPeer phone("127.0.0.1");
    EXPECT_EQ(SendData(sock_, "localhost", phone.port(), "by-name", 7), 7);
    auto got = phone.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "by-name");
}

TEST_F(UdpEndpointTest, FailedSendsGiveTheirCodes) {
    struct {
        const char* name;
        std::string address;
        int result;
    } cases[] = {
        {"UnresolvableNameIsMinusTwo", "no-such-host.invalid", -2},
        {"EmptyAddressIsMinusTwo", "", -2},
        {"AllOnesIsTakenAsNameAndCannotBeSentTo", "255.255.255.255", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SendData(sock_, c.address, 5060, "x", 1), c.result) << c.name;
    }
}

TEST(InitTcp, PortInUseIsReportedAndGivesMinusFour) {
    UdpPeer holder("127.0.0.1");
    NetStartup();
    int sock = 12345;
    testing::internal::CaptureStderr();
    EXPECT_EQ(InitTcp(holder.port(), sock), -4);
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("Server: bind()..."), std::string::npos) << report;
    EXPECT_NE(
        report.find("occurred while bind socket! port=[" + std::to_string(holder.port()) + "]"),
        std::string::npos)
        << report;
    EXPECT_EQ(sock, 12345) << "the socket is written only on success";
    NetCleanup();
}

TEST(NetStartup, StartsOnceAndCleanupWithoutStartDoesNothing) {
    NetCleanup();
    EXPECT_EQ(NetStartup(), 0);
    EXPECT_EQ(NetStartup(), 0);
    NetCleanup();
    NetCleanup();
}

}  // namespace
