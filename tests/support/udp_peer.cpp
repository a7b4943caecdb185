#include "support/udp_peer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

sockaddr_in loopbackAddress(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    // Test traffic never leaves the machine.
    if ((ntohl(a.sin_addr.s_addr) >> 24) != 127) {
        throw std::runtime_error("test peers use 127.0.0.0/8 only: " + address);
    }
    return a;
}

}  // namespace

UdpPeer::UdpPeer(const std::string& address, int port) : address_(address) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket() failed");
    int size = 4 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a = loopbackAddress(address, port);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        throw std::runtime_error("bind() failed for " + address + ":" + std::to_string(port));
    }
    socklen_t length = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
}

UdpPeer::~UdpPeer() {
    if (fd_ >= 0) ::close(fd_);
}

int UdpPeer::sendTo(const std::string& address, int port, std::string_view bytes) const {
    sockaddr_in a = loopbackAddress(address, port);
    ssize_t n =
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return static_cast<int>(n);
}

std::optional<UdpPeer::Datagram> UdpPeer::receive(std::chrono::milliseconds timeout) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    std::string buffer(65536, '\0');
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                           &length);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    return Datagram{std::move(buffer), text, ntohs(from.sin_port)};
}

int FindFreeUdpPort() {
    UdpPeer probe("127.0.0.1", 0);
    return probe.port();
}
