#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// A UDP socket on a chosen loopback address, playing a phone, the upstream server or a proxy.
class UdpPeer {
  public:
    struct Datagram {
        std::string bytes;
        std::string fromAddress;
        int fromPort = 0;
    };

    // Binds address:port; port 0 lets the system choose. Throws when the bind fails.
    explicit UdpPeer(const std::string& address, int port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    const std::string& address() const { return address_; }
    int port() const { return port_; }

    // Sends bytes to address:port; returns the bytes sent or -1.
    int sendTo(const std::string& address, int port, std::string_view bytes) const;

    // The next datagram, or nothing when none arrives within timeout.
    std::optional<Datagram> receive(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const;

    // True when no datagram arrives within the (short) wait.
    bool receivesNothing(std::chrono::milliseconds wait = std::chrono::milliseconds(300)) const {
        return !receive(wait).has_value();
    }

  private:
    int fd_ = -1;
    std::string address_;
    int port_ = 0;
};

// A UDP port that was free on 127.0.0.1 a moment ago.
int FindFreeUdpPort();
