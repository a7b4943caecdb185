#include "net/udp_endpoint.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/error_report.hpp"

namespace {

std::atomic<bool> gSocketLayerStarted{false};
std::mutex gOpenSocketsLock;
std::vector<int> gOpenSockets;  // released by NetCleanup, as the socket layer's clean-up does

std::uint16_t lowSixteenBits(int port) {
    return static_cast<std::uint16_t>(port & 0xFFFF);
}

sockaddr_in makeAddress(std::uint32_t networkAddress, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(lowSixteenBits(port));
    address.sin_addr.s_addr = networkAddress;
    return address;
}

// Resolves a host name as the relay always has: the name first, then once more through the
// official (canonical) name of the first answer. Both look-ups must succeed.
int resolveHostName(const std::string& name, in_addr& result) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* first = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &first) != 0 || first == nullptr) return -2;
    std::string official = first->ai_canonname != nullptr ? first->ai_canonname : name;
    freeaddrinfo(first);
    hints.ai_flags = 0;
    addrinfo* second = nullptr;
    if (getaddrinfo(official.c_str(), nullptr, &hints, &second) != 0 || second == nullptr) {
        return -2;
    }
    result = reinterpret_cast<sockaddr_in*>(second->ai_addr)->sin_addr;
    freeaddrinfo(second);
    return 0;
}

}  // namespace

int NetStartup() {
    // Nothing needs starting on this host; the flag keeps start and clean-up paired.
    gSocketLayerStarted = true;
    return 0;
}

void NetCleanup() {
    if (gSocketLayerStarted) {
        std::lock_guard<std::mutex> guard(gOpenSocketsLock);
        for (int sock : gOpenSockets) ::close(sock);
        gOpenSockets.clear();
    }
    gSocketLayerStarted = false;
}

int InitTcp(int port, int& sock) {
    sockaddr_in bindAddress = makeAddress(htonl(INADDR_ANY), port);
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        int error = errno;
        ReportError("InitTcp: socket()...", "Error #" + std::to_string(error) +
                                                " occurred while creating socket!! (" +
                                                ErrnoText(error) + ")");
        return -3;
    }
    {
        std::lock_guard<std::mutex> guard(gOpenSocketsLock);
        gOpenSockets.push_back(fd);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&bindAddress), sizeof bindAddress) != 0) {
        int error = errno;
        ReportError("Server: bind()...", "Error #" + std::to_string(error) +
                                             " occurred while bind socket! port=[" +
                                             std::to_string(port) + "] (" + ErrnoText(error) + ")");
        return -4;
    }
    sock = fd;
    return 0;
}

int WaitForDatagram(int sock, int wakeFd) {
    pollfd fds[2] = {{sock, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int count = wakeFd >= 0 ? 2 : 1;
    if (::poll(fds, static_cast<nfds_t>(count), -1) <= 0) return 0;
    // A waiting datagram goes first, so a wake-up never overtakes it.
    if (fds[0].revents != 0) return 1;
    if (count == 2 && fds[1].revents != 0) {
        char drain[64];
        while (::read(wakeFd, drain, sizeof drain) > 0) {
        }
    }
    return 0;
}

int ReceiveData(int sock, char* buffer, int capacity, std::string& srcAddress, int& srcPort,
                sockaddr_in& srcSocketAddress) {
    socklen_t addressLength = sizeof srcSocketAddress;
    // MSG_TRUNC makes the receive report a datagram's real length, so one longer than the
    // buffer is noticed and dropped instead of being handed on cut short.
    ssize_t received = ::recvfrom(sock, buffer, static_cast<std::size_t>(capacity), MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&srcSocketAddress), &addressLength);
    if (received <= 0) return static_cast<int>(received);
    if (received > capacity) return -1;
    char text[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &srcSocketAddress.sin_addr, text, sizeof text) != nullptr) {
        srcAddress = text;
    }
    srcPort = ntohs(srcSocketAddress.sin_port);
    return static_cast<int>(received);
}

int SendData(int sock, const std::string& address, int port, const char* data, int length) {
    in_addr destination{};
    // inet_addr's all-ones failure value is also 255.255.255.255, which is therefore taken as a
    // host name, as it always has been.
    in_addr_t dotted = ::inet_addr(address.c_str());
    if (dotted != INADDR_NONE) {
        destination.s_addr = dotted;
    } else if (resolveHostName(address, destination) != 0) {
        return -2;
    }
    return SendToSocketAddress(sock, makeAddress(destination.s_addr, port), data, length);
}

int SendToSocketAddress(int sock, const sockaddr_in& destination, const char* data, int length) {
    if (length < 0) return -1;
    ssize_t sent = ::sendto(sock, data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    return sent < 0 ? -1 : static_cast<int>(sent);
}
