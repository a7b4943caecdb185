// The I/O-equivalent reference forwarder: per datagram it does the I/O the relay must do and no
// SIP work. It receives the datagram, writes it to the console (as long as the relay's dump),
// appends a time-stamped "recv from" line and the raw bytes to sip_log.txt and flushes, sends the
// datagram to one fixed address, buffers the "sned to" line and flushes the console once. The
// gap between its rate and the relay's is what the relay's own logic costs.
// Usage: io_forwarder LISTEN_PORT DEST_IP DEST_PORT (run in the directory of the log)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "forwarder_socket.hpp"

namespace {

std::FILE* gLog = nullptr;

// One "YYYY-MM-DD hh:mm:ss.ms: text\r\n" line through the log's buffer, formatted afresh from
// the clock, as a plain implementation of a time-stamped log does.
void logLine(const char* text) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm t{};
    ::localtime_r(&now.tv_sec, &t);
    std::fprintf(gLog, "%d-%02d-%02d %02d:%02d:%02d.%d: %s\r\n", t.tm_year + 1900, t.tm_mon + 1,
                 t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(now.tv_nsec / 1000000),
                 text);
}

}  // namespace

int main(int argc, char** argv) {
    ForwarderSetup setup;
    if (ParseForwarderArguments(argc, argv, setup) != 0) return 2;
    int sock = OpenForwarderSocket(setup.listenPort);
    if (sock < 0) return 1;
    // Same buffering as the relay's log: 64 KB, one write per flush.
    gLog = std::fopen("sip_log.txt", "ab");
    if (gLog == nullptr) {
        std::perror("sip_log.txt");
        return 1;
    }
    auto logBuffer = std::make_unique<char[]>(64 * 1024);
    std::setvbuf(gLog, logBuffer.get(), _IOFBF, 64 * 1024);
    char destination[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &setup.destination.sin_addr, destination, sizeof destination);
    const int destinationPort = ntohs(setup.destination.sin_port);
    std::puts("ready");
    std::fflush(stdout);

    char buffer[kForwarderBufferSize];
    char line[1024];
    for (;;) {
        sockaddr_in source{};
        socklen_t sourceLength = sizeof source;
        ssize_t n = ::recvfrom(sock, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source),
                               &sourceLength);
        if (n <= 0) continue;
        const int length = static_cast<int>(n);
        char sourceText[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &source.sin_addr, sourceText, sizeof sourceText);

        std::fwrite(buffer, 1, static_cast<std::size_t>(length), stdout);
        std::snprintf(line, sizeof line, "recv from '%s:%d', len=%d", sourceText,
                      ntohs(source.sin_port), length);
        logLine(line);
        std::fwrite(buffer, 1, static_cast<std::size_t>(length), gLog);
        std::fflush(gLog);
        ssize_t sent = ::sendto(sock, buffer, static_cast<std::size_t>(length), 0,
                                reinterpret_cast<const sockaddr*>(&setup.destination),
                                sizeof setup.destination);
        std::snprintf(line, sizeof line, "sned to '%s:%d', len=%d", destination, destinationPort,
                      static_cast<int>(sent));
        logLine(line);
        std::printf("Send len = %d.\n", static_cast<int>(sent));
        std::fflush(stdout);
    }
}
