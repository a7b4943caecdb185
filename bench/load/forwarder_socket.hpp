#pragma once

// What the two reference forwarders share: their arguments and their one UDP socket.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The relay's receive buffer holds 2048 bytes; the forwarders take the same.
constexpr int kForwarderBufferSize = 2048;

struct ForwarderSetup {
    int listenPort = 0;
    sockaddr_in destination{};
};

// LISTEN_PORT DEST_IP DEST_PORT; 0, or -1 with a usage line on stderr.
inline int ParseForwarderArguments(int argc, char** argv, ForwarderSetup& setup) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT DEST_IP DEST_PORT\n", argv[0]);
        return -1;
    }
    setup.listenPort = std::atoi(argv[1]);
    setup.destination.sin_family = AF_INET;
    setup.destination.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[3])));
    if (::inet_pton(AF_INET, argv[2], &setup.destination.sin_addr) != 1) {
        std::fprintf(stderr, "%s: bad address %s\n", argv[0], argv[2]);
        return -1;
    }
    return 0;
}

// A UDP socket bound to every local address at port, as the relay's is; -1 on failure.
inline int OpenForwarderSocket(int port) {
    int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        std::perror("socket()");
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bind()");
        ::close(sock);
        return -1;
    }
    return sock;
}
