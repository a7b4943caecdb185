// The bare reference forwarder: receives a datagram and sends it to one fixed address, nothing
// else. Its rate is what the loopback and two system calls per datagram allow on this machine.
// Usage: bare_forwarder LISTEN_PORT DEST_IP DEST_PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

#include "forwarder_socket.hpp"

int main(int argc, char** argv) {
    ForwarderSetup setup;
    if (ParseForwarderArguments(argc, argv, setup) != 0) return 2;
    int sock = OpenForwarderSocket(setup.listenPort);
    if (sock < 0) return 1;
    std::puts("ready");
    std::fflush(stdout);

    char buffer[kForwarderBufferSize];
    for (;;) {
        ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n <= 0) continue;
        ::sendto(sock, buffer, static_cast<std::size_t>(n), 0,
                 reinterpret_cast<const sockaddr*>(&setup.destination), sizeof setup.destination);
    }
}
