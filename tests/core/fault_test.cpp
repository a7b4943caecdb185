// Faults of the disk and the network while the relay runs: what survives them, and that the relay
// goes on answering. (A traffic log that cannot be opened is shown in lifecycle_test.cpp.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/relay_process.hpp"
#include "support/udp_peer.hpp"

namespace {

using namespace std::chrono_literals;

std::string registerFrom(const UdpPeer& phone, const std::string& user, int sequence) {
    std::string via = phone.address() + ":" + std::to_string(phone.port());
    std::string to = "<sip:" + user + "@127.0.0.1>";
    return "REGISTER sip:127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP " + via + "\r\nFrom: " + to +
           "\r\nTo: " + to + "\r\nCall-ID: f" + std::to_string(sequence) +
           "\r\nCSeq: 1 REGISTER\r\nExpires: 60\r\n\r\n";
}

bool answeredWithOk(const UdpPeer& phone) {
    auto answer = phone.receive(3000ms);
    return answer && answer->bytes.starts_with("SIP/2.0 200 OK\r\n");
}

std::string bindingLine(const UdpPeer& phone, const std::string& user) {
    std::string port = std::to_string(phone.port());
    return user + ", " + phone.address() + ", " + port + ", " + phone.address() + ", " + port +
           ", <sip:" + user + "@127.0.0.1>, 60\r\n";
}

// Puts the test process in a mount namespace of its own, so that the mounts below are seen only
// by it and the relay it starts, and vanish with it. Empty text when that worked, else the reason.
std::string privateMountNamespace() {
    if (::geteuid() != 0) return "needs root to mount a small file system";
    if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("mount private: ") + std::strerror(errno);
    }
    return "";
}

// Fills the file system of dir to the last block; the file is removed to free the space again.
void fillUp(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    while (::write(fd, block.data(), 1) > 0) {
    }
    ::close(fd);
}

TEST(Fault, FullFileSystemKeepsTheLastGoodFileAndTheNextSaveWritesTheWholeTable) {
    std::string reason = privateMountNamespace();
    if (!reason.empty()) GTEST_SKIP() << reason;

    int port = FindFreeUdpPort();
    std::string mounted;
    RelayProcess relay({LoopbackSipCfg(port), std::nullopt, false, [&](const std::string& dir) {
                            if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") == 0) {
                                mounted = dir;
                            }
                        }});
    ASSERT_FALSE(mounted.empty()) << "mount tmpfs: " << std::strerror(errno);
    ASSERT_TRUE(relay.waitForConsole("Server(")) << relay.errors();

    UdpPeer alice("127.0.0.21");
    UdpPeer bob("127.0.0.22");
    UdpPeer carol("127.0.0.23");
    alice.sendTo("127.0.0.1", port, registerFrom(alice, "alice", 1));
    ASSERT_TRUE(answeredWithOk(alice));
    const std::string good = bindingLine(alice, "alice");
    ASSERT_EQ(relay.regUsers(), good);

    fillUp(relay.dir().file("filler"));
    // While the disk is full: REGISTERs are answered, requests are forwarded, the file keeps
    // its last good content.
    bob.sendTo("127.0.0.1", port, registerFrom(bob, "bob", 2));
    EXPECT_TRUE(answeredWithOk(bob));
    carol.sendTo("127.0.0.1", port,
                 "MESSAGE sip:bob@127.0.0.1 SIP/2.0\r\nTo: <sip:bob@127.0.0.1>\r\n\r\n");
    auto forwarded = bob.receive(3000ms);
    ASSERT_TRUE(forwarded.has_value());
    EXPECT_TRUE(forwarded->bytes.starts_with("MESSAGE sip:bob@127.0.0.1 SIP/2.0\r\n"));
    EXPECT_EQ(relay.regUsers(), good);

    // Space again: the next REGISTER's save writes every binding, the one of the full disk too.
    ASSERT_EQ(::unlink(relay.dir().file("filler").c_str()), 0);
    carol.sendTo("127.0.0.1", port, registerFrom(carol, "carol", 3));
    EXPECT_TRUE(answeredWithOk(carol));
    EXPECT_EQ(relay.regUsers(),
              bindingLine(alice, "alice") + bindingLine(bob, "bob") + bindingLine(carol, "carol"));
    EXPECT_FALSE(relay.dir().exists("RegUsers.txt.tmp"));

    EXPECT_EQ(relay.stop(SIGINT), 0);
    // Lazily, so that the temporary directory below it can be removed.
    ::umount2(mounted.c_str(), MNT_DETACH);
}

TEST(Fault, UnresolvableUpstreamNameFailsTheSendAndTheRelayGoesOn) {
    int port = FindFreeUdpPort();
    RelayProcess relay({LoopbackSipCfg(port, "no-such-host.invalid", 5080)});
    ASSERT_TRUE(relay.waitForConsole("Server(")) << relay.errors();

    UdpPeer phone("127.0.0.21");
    // A request for a user who is not registered goes to the upstream server.
    phone.sendTo("127.0.0.1", port,
                 "INVITE sip:nobody@lan SIP/2.0\r\nTo: <sip:nobody@lan>\r\n\r\n");
    ASSERT_TRUE(relay.waitForConsole("Send len = -2.\n", 15000ms)) << relay.console();

    phone.sendTo("127.0.0.1", port, registerFrom(phone, "alice", 1));
    EXPECT_TRUE(answeredWithOk(phone));
    EXPECT_EQ(relay.stop(SIGINT), 0);
    // The line of the failed send is in the log once the next datagram has flushed it.
    EXPECT_NE(relay.log().find("sned to 'no-such-host.invalid:5080', len=-2\r\n"),
              std::string::npos)
        << relay.log();
}

}  // namespace
