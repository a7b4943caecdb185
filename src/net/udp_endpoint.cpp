#include "net/udp_endpoint.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
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

// Waits until sock can be read (1) or wakeFd became readable and was drained (0). An interrupted
// wait counts as readable: the receive that follows finds out.
int waitReadable(int sock, int wakeFd) {
    pollfd fds[2] = {{sock, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    nfds_t count = wakeFd >= 0 ? 2 : 1;
    if (::poll(fds, count, -1) <= 0) return 1;
    if (fds[0].revents != 0 || count == 1) return 1;
    // One read empties the channel: it only ever holds a byte or a few.
    char drain[64];
    [[maybe_unused]] ssize_t n = ::read(wakeFd, drain, sizeof drain);
    return 0;
}

// The sender's address as dotted-quad text, written without the C library's locale machinery.
void formatDottedAddress(in_addr address, std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
    char out[16];
    char* at = out;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) *at++ = '.';
        at = std::to_chars(at, out + sizeof out, bytes[i]).ptr;
    }
    text.assign(out, at);
}

// inet_addr as the relay has always read a destination: besides the strict dotted quad it takes
// shortened and octal or hex forms, and its all-ones failure value makes 255.255.255.255 a host
// name. The strict form, by far the most common, is read first with the cheaper inet_pton.
in_addr_t readDottedAddress(const std::string& text) {
    in_addr strict{};
    if (::inet_pton(AF_INET, text.c_str(), &strict) == 1) {
        return strict.s_addr;  // all ones here too for 255.255.255.255, as inet_addr gives
    }
    return ::inet_addr(text.c_str());
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

int ReceiveData(int sock, char* buffer, int capacity, std::string& srcAddress, int& srcPort,
                sockaddr_in& srcSocketAddress, int wakeFd) {
    ssize_t received = 0;
    for (;;) {
        socklen_t addressLength = sizeof srcSocketAddress;
        // MSG_TRUNC makes the receive report a datagram's real length, so one longer than the
        // buffer is noticed and dropped instead of being handed on cut short. The receive does
        // not block: under load a datagram is nearly always queued, and the wait below then
        // costs no system call.
        received =
            ::recvfrom(sock, buffer, static_cast<std::size_t>(capacity), MSG_TRUNC | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&srcSocketAddress), &addressLength);
        if (received >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
        if (waitReadable(sock, wakeFd) == 0) return kWokenUp;
    }
    if (received <= 0) return static_cast<int>(received);
    if (received > capacity) return -1;
    formatDottedAddress(srcSocketAddress.sin_addr, srcAddress);
    srcPort = ntohs(srcSocketAddress.sin_port);
    return static_cast<int>(received);
}

int SendData(int sock, const std::string& address, int port, const char* data, int length) {
    in_addr destination{};
    // inet_addr's all-ones failure value is also 255.255.255.255, which is therefore taken as a
    // host name, as it always has been.
    in_addr_t dotted = readDottedAddress(address);
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
