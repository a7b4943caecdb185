// Throughput of siprelay against two reference forwarders on the loopback.
//
// For each scenario and round the tool starts one forwarder (siprelay, the bare forwarder or the
// I/O-equivalent one) in a fresh directory with its console sent to a file, drives it with a
// closed loop of at most `window` outstanding datagrams, and counts the datagrams that come back
// to its sink. The forwarder runs pinned to one core, this tool to another. Prints one table.
//
// Usage: load_bench --relay PATH --bare PATH --io PATH [--rounds N] [--warmup-ms N]
//                   [--measure-ms N] [--window N] [--load-cpu N] [--forwarder-cpu N]
//                   [--work DIR] [--only ID,ID...] [--forwarders relay,bare,io]
//                   [--verbose] [--relay-prefix "COMMAND ARGS"]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Loopback addresses of the set-up. The relay (or a reference forwarder) listens on every
// address at kForwarderPort; the generator plays the calling phone, the sink the called one.
constexpr int kForwarderPort = 5070;
constexpr const char* kGeneratorIp = "127.0.0.10";
constexpr int kGeneratorPort = 40010;
constexpr const char* kSinkIp = "127.0.0.20";
constexpr int kSinkPort = 40020;

constexpr int kBatch = 32;  // datagrams per sendmmsg / recvmmsg
constexpr int kMaxDatagram = 2048;

enum class Traffic { InviteByTo, ResponseByVia, RegisterRefresh, RegisterNew };
enum class Forwarder { Relay, Bare, Io };
constexpr std::array<Forwarder, 3> kForwarders = {Forwarder::Relay, Forwarder::Bare, Forwarder::Io};
constexpr std::array<const char*, 3> kForwarderKeys = {"relay", "bare", "io"};

struct Scenario {
    const char* id;
    const char* title;
    Traffic traffic;
    int bindings;
    long maxMessages;  // bounds the measured count; 0 for none
};

// A REGISTER lists the whole table on the console; with 10,000 bindings that is about 800 KB a
// datagram, so that scenario is bounded by count as well as by time.
const Scenario kScenarios[] = {
    {"1", "INVITE routed by To, 10 bindings", Traffic::InviteByTo, 10, 0},
    {"2", "200 OK routed by Via, 10 bindings", Traffic::ResponseByVia, 10, 0},
    {"3a", "REGISTER refresh, 10 bindings", Traffic::RegisterRefresh, 10, 0},
    {"3b", "REGISTER refresh, 1,000 bindings", Traffic::RegisterRefresh, 1000, 0},
    {"3c", "REGISTER refresh, 10,000 bindings", Traffic::RegisterRefresh, 10000, 1500},
    {"4", "REGISTER new user, 1,000 bindings", Traffic::RegisterNew, 1000, 2000},
    {"5", "INVITE routed by To, 100,000 bindings", Traffic::InviteByTo, 100000, 0},
};

struct Options {
    std::string relay, bare, io;
    int rounds = 3;
    int warmupMs = 300;
    int measureMs = 1200;
    int window = 32;
    int loadCpu = 0;
    int forwarderCpu = 1;
    std::string work = "/tmp";
    std::vector<std::string> only;
    std::string forwarders = "relay,bare,io";  // which of the three run
    bool verbose = false;                      // tells each forwarder's pid, for profiling
    std::string relayPrefix;                   // a command the relay runs under, such as a profiler
};

struct RunResult {
    double rate = 0;
    double cpuMicrosPerMessage = 0;
    long received = 0;
    long lost = 0;
    long bad = 0;
    long peakRssKiB = 0;
    bool regFileRewritten = false;
    bool ok = false;
};

const char* forwarderName(Forwarder f) {
    switch (f) {
        case Forwarder::Relay:
            return "siprelay";
        case Forwarder::Bare:
            return "bare";
        case Forwarder::Io:
            return "I/O-equivalent";
    }
    return "";
}

bool isRegister(Traffic t) {
    return t == Traffic::RegisterRefresh || t == Traffic::RegisterNew;
}

// ---- messages -------------------------------------------------------------------------------

std::string withBody(std::string head, const std::string& body) {
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    return head + body;
}

const std::string kSdp =
    "v=0\r\n"
    "o=- 3876543210 3876543210 IN IP4 127.0.0.10\r\n"
    "s=call\r\n"
    "c=IN IP4 127.0.0.10\r\n"
    "t=0 0\r\n"
    "m=audio 40000 RTP/AVP 0 8 101\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=rtpmap:8 PCMA/8000\r\n"
    "a=rtpmap:101 telephone-event/8000\r\n"
    "a=fmtp:101 0-16\r\n"
    "a=sendrecv\r\n";

// A phone's INVITE to bob, about 600 bytes.
std::string inviteToBob() {
    return withBody(
        "INVITE sip:bob@127.0.0.1:5070 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.10:40010;branch=z9hG4bK-524287-1---a8b4c1e0f3d2;rport\r\n"
        "Max-Forwards: 70\r\n"
        "Contact: <sip:alice@127.0.0.10:40010>\r\n"
        "To: <sip:bob@127.0.0.1>\r\n"
        "From: \"Desk alice\" <sip:alice@127.0.0.1>;tag=4f2a9c1b\r\n"
        "Call-ID: 8d1e6f0a7b3c45e2a9d0c4b1e7f6a3d2@127.0.0.10\r\n"
        "CSeq: 1 INVITE\r\n"
        "Allow: INVITE, ACK, CANCEL, BYE, OPTIONS\r\n"
        "Content-Type: application/sdp\r\n"
        "User-Agent: DeskPhone 2.4\r\n",
        kSdp);
}

// A phone's 200 OK to an INVITE of carol's, carrying carol's Via: routed by Via to carol.
std::string okToCarol() {
    return withBody(
        "SIP/2.0 200 OK\r\n"
        "Via: SIP/2.0/UDP 127.0.0.21:5062;branch=z9hG4bK-77aa31c90e;rport\r\n"
        "Contact: <sip:dave@127.0.0.10:40010>\r\n"
        "To: <sip:dave@127.0.0.1>;tag=99e1f2d3\r\n"
        "From: \"Desk carol\" <sip:carol@127.0.0.1>;tag=4f2a9c1b\r\n"
        "Call-ID: 0c9b8a7f6e5d4c3b2a19f8e7d6c5b4a3@127.0.0.21\r\n"
        "CSeq: 1 INVITE\r\n"
        "Allow: INVITE, ACK, CANCEL, BYE, OPTIONS\r\n"
        "Content-Type: application/sdp\r\n"
        "User-Agent: DeskPhone 2.4\r\n",
        kSdp);
}

// A REGISTER of user from the generator's address, with its Via naming that address.
std::string registerOf(const std::string& user) {
    return "REGISTER sip:127.0.0.1:5070 SIP/2.0\r\n"
           "Via: SIP/2.0/UDP 127.0.0.10:40010;branch=z9hG4bK-reg-" +
           user +
           ";rport\r\n"
           "Max-Forwards: 70\r\n"
           "Contact: <sip:" +
           user +
           "@127.0.0.10:40010>\r\n"
           "To: <sip:" +
           user +
           "@127.0.0.1>\r\n"
           "From: <sip:" +
           user +
           "@127.0.0.1>;tag=a1b2c3\r\n"
           "Call-ID: reg-" +
           user +
           "@127.0.0.10\r\n"
           "CSeq: 2 REGISTER\r\n"
           "Expires: 3600\r\n"
           "User-Agent: DeskPhone 2.4\r\n"
           "Content-Length: 0\r\n\r\n";
}

std::string newUserName(long i) {
    char name[32];
    std::snprintf(name, sizeof name, "new%07ld", i);
    return name;
}

// ---- the relay's files ----------------------------------------------------------------------

const char* const kSipCfg =
    "myIp1 = 127.0.0.1\r\n"
    "myIp2 = 127.0.0.2\r\n"
    "myPort = 5070\r\n"
    "msIp1 = 127.0.0.30\r\n"
    "msIp2 =\r\n"
    "msPort = 5080\r\n"
    "outProxyAddr = 127.0.0.40\r\n"
    "outProxyPort = 5090\r\n";

// RegUsers.txt exactly as the relay writes it (name order, CR LF), so that loading it leaves
// nothing to rewrite. alice is the generator, bob and carol are reached at the sink; the other
// bindings only fill the table.
std::string regUsersFile(int bindings) {
    std::string text;
    text.reserve(static_cast<std::size_t>(bindings) * 90);
    auto line = [&text](const std::string& name, const std::string& src, int srcPort,
                        const std::string& via, int viaPort) {
        text += name + ", " + src + ", " + std::to_string(srcPort) + ", " + via + ", " +
                std::to_string(viaPort) + ", <sip:" + name + "@127.0.0.1>, 3600\r\n";
    };
    line("alice", kGeneratorIp, kGeneratorPort, kGeneratorIp, kGeneratorPort);
    line("bob", kSinkIp, kSinkPort, "127.0.0.22", 5064);
    line("carol", kSinkIp, kSinkPort, "127.0.0.21", 5062);
    for (int i = 0; i < bindings - 3; ++i) {
        std::string ip =
            "127.0." + std::to_string(1 + i / 250 % 250) + "." + std::to_string(i % 250 + 1);
        line("user" + std::to_string(1000000 + i), ip, 20000 + i % 10000, ip, 20000 + i % 10000);
    }
    return text;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// ---- processes ------------------------------------------------------------------------------

void pinTo(int cpu) {
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (::sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity()");
}

// Starts program in dir with its console in console.txt and its errors in stderr.txt.
pid_t startIn(const std::string& dir, const std::vector<std::string>& argv, int cpu) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    pinTo(cpu);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// Waits until file holds marker; reads only what was appended since the last look, since the
// relay echoes every loaded binding first.
bool waitForMarker(const std::string& file, std::string_view marker, pid_t& pid,
                   std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    std::string tail;
    long offset = 0;
    while (Clock::now() < end) {
        if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
            std::fseek(f, offset, SEEK_SET);
            char chunk[65536];
            std::size_t n = 0;
            while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
                tail.append(chunk, n);
                offset += static_cast<long>(n);
                if (tail.find(marker) != std::string::npos) {
                    std::fclose(f);
                    return true;
                }
                if (tail.size() > marker.size()) tail.erase(0, tail.size() - marker.size());
            }
            std::fclose(f);
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;  // reaped: nothing left to stop
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// CPU time the process's main thread has run, in nanoseconds; every forwarder does its work there.
long long cpuNanoseconds(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = 0;
    schedstat >> ns;
    return ns;
}

long peakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word) {
        if (word == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

// Sends sig and waits for the exit; kills the process when it has not ended within timeout.
void stopProcess(pid_t pid, int sig, std::chrono::milliseconds timeout) {
    ::kill(pid, sig);
    const auto end = Clock::now() + timeout;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::fprintf(stderr, "load_bench: process %d did not stop; killed\n", static_cast<int>(pid));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

// ---- sockets --------------------------------------------------------------------------------

sockaddr_in addressOf(const char* ip, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

int boundSocket(const char* ip, int port) {
    int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    int size = 4 * 1024 * 1024;
    ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a = addressOf(ip, port);
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        std::fprintf(stderr, "load_bench: bind(%s:%d) failed: %s\n", ip, port,
                     std::strerror(errno));
        ::close(sock);
        return -1;
    }
    return sock;
}

// ---- the closed loop ------------------------------------------------------------------------

// Keeps at most window datagrams outstanding: whenever replies come back, as many new ones are
// sent. The forwarder's queue therefore never runs dry and never overflows, and the rate is
// the forwarder's own. Datagrams that do not come back within stallTimeout count as lost and
// leave the window; the time they cost stays in the measurement.
struct LoopOutcome {
    double rate = 0;
    double cpuMicrosPerMessage = 0;
    long received = 0;
    long lost = 0;
    long bad = 0;
};

LoopOutcome driveClosedLoop(const Options& o, const Scenario& s, Forwarder f, pid_t pid, int gen,
                            int sink) {
    const int rx = isRegister(s.traffic) ? gen : sink;
    const sockaddr_in target = addressOf("127.0.0.1", kForwarderPort);
    std::string fixed;
    switch (s.traffic) {
        case Traffic::InviteByTo:
            fixed = inviteToBob();
            break;
        case Traffic::ResponseByVia:
            fixed = okToCarol();
            break;
        case Traffic::RegisterRefresh:
            fixed = registerOf("alice");
            break;
        case Traffic::RegisterNew:
            break;
    }

    std::vector<std::string> out(kBatch);
    std::array<mmsghdr, kBatch> sendHeaders{};
    std::array<iovec, kBatch> sendVectors{};
    std::vector<std::array<char, kMaxDatagram>> in(kBatch);
    std::array<mmsghdr, kBatch> recvHeaders{};
    std::array<iovec, kBatch> recvVectors{};
    for (int i = 0; i < kBatch; ++i) {
        recvVectors[i] = {in[i].data(), in[i].size()};
        recvHeaders[i].msg_hdr.msg_iov = &recvVectors[i];
        recvHeaders[i].msg_hdr.msg_iovlen = 1;
    }

    // What must come back: the datagram itself, or the relay's 200 OK to a REGISTER.
    auto isExpected = [&](std::string_view got) {
        if (isRegister(s.traffic)) {
            if (f == Forwarder::Relay) return got.starts_with("SIP/2.0 200 OK\r\n");
            return got.starts_with("REGISTER ");
        }
        return got == fixed;
    };

    // Only the relay lists its table and grows it; the references need no bound.
    const long limit = f == Forwarder::Relay ? s.maxMessages : 0;
    const auto stallTimeout = std::chrono::milliseconds(500);
    long sent = 0, received = 0, lost = 0, bad = 0, nextUser = 0;
    const auto start = Clock::now();
    const auto warmEnd = start + std::chrono::milliseconds(o.warmupMs);
    bool measuring = false;
    long base = 0;
    long long cpuBase = 0;
    Clock::time_point t0 = start, now = start, lastProgress = start;
    for (;;) {
        now = Clock::now();
        if (!measuring && now >= warmEnd) {
            measuring = true;
            base = received;
            cpuBase = cpuNanoseconds(pid);
            t0 = now;
        }
        if (measuring && (now - t0 >= std::chrono::milliseconds(o.measureMs) ||
                          (limit > 0 && received - base >= limit))) {
            break;
        }
        long outstanding = std::max(0L, sent - received - lost);
        if (outstanding < o.window) {
            int n = static_cast<int>(std::min<long>(o.window - outstanding, kBatch));
            for (int i = 0; i < n; ++i) {
                out[i] =
                    s.traffic == Traffic::RegisterNew ? registerOf(newUserName(nextUser++)) : fixed;
                sendVectors[i] = {out[i].data(), out[i].size()};
                sendHeaders[i].msg_hdr = {};
                sendHeaders[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&target);
                sendHeaders[i].msg_hdr.msg_namelen = sizeof target;
                sendHeaders[i].msg_hdr.msg_iov = &sendVectors[i];
                sendHeaders[i].msg_hdr.msg_iovlen = 1;
            }
            int done = ::sendmmsg(gen, sendHeaders.data(), static_cast<unsigned>(n), 0);
            if (done > 0) sent += done;
        }
        pollfd p{rx, POLLIN, 0};
        ::poll(&p, 1, 2);
        for (;;) {
            int got = ::recvmmsg(rx, recvHeaders.data(), kBatch, MSG_DONTWAIT, nullptr);
            if (got <= 0) break;
            for (int i = 0; i < got; ++i) {
                std::string_view d(in[i].data(), recvHeaders[i].msg_len);
                if (!isExpected(d)) ++bad;
            }
            received += got;
            lastProgress = Clock::now();
        }
        if (Clock::now() - lastProgress > stallTimeout) {
            lost += std::max(0L, sent - received - lost);
            lastProgress = Clock::now();
        }
    }
    LoopOutcome r;
    r.received = received - base;
    if (r.received > 0) {
        r.cpuMicrosPerMessage = static_cast<double>(cpuNanoseconds(pid) - cpuBase) / 1000.0 /
                                static_cast<double>(r.received);
    }
    r.rate = static_cast<double>(r.received) / std::chrono::duration<double>(now - t0).count();
    r.lost = lost;
    r.bad = bad;
    return r;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

RunResult runOnce(const Options& o, const Scenario& s, Forwarder f) {
    RunResult result;
    std::string pattern = o.work + "/siprelay-load-XXXXXX";
    std::vector<char> dirName(pattern.begin(), pattern.end());
    dirName.push_back('\0');
    if (::mkdtemp(dirName.data()) == nullptr) {
        std::perror("mkdtemp()");
        return result;
    }
    const std::string dir = dirName.data();
    const std::string regFile = dir + "/RegUsers.txt";

    std::vector<std::string> argv;
    const bool back = isRegister(s.traffic);
    const std::string destIp = back ? kGeneratorIp : kSinkIp;
    const std::string destPort = std::to_string(back ? kGeneratorPort : kSinkPort);
    switch (f) {
        case Forwarder::Relay:
            writeFile(dir + "/SipCfg.ini", kSipCfg);
            writeFile(regFile, regUsersFile(s.bindings));
            {
                std::stringstream prefix(o.relayPrefix);
                std::string word;
                while (prefix >> word) argv.push_back(word);
            }
            argv.push_back(o.relay);
            break;
        case Forwarder::Bare:
            argv = {o.bare, std::to_string(kForwarderPort), destIp, destPort};
            break;
        case Forwarder::Io:
            argv = {o.io, std::to_string(kForwarderPort), destIp, destPort};
            break;
    }
    const ino_t regInode = inodeOf(regFile);

    int gen = boundSocket(kGeneratorIp, kGeneratorPort);
    int sink = boundSocket(kSinkIp, kSinkPort);
    pid_t pid = -1;
    if (gen >= 0 && sink >= 0) pid = startIn(dir, argv, o.forwarderCpu);
    const char* marker = f == Forwarder::Relay ? "Server(" : "ready";
    if (pid > 0 &&
        waitForMarker(dir + "/console.txt", marker, pid, std::chrono::milliseconds(60000))) {
        if (o.verbose) {
            std::fprintf(stderr, "load_bench: %s runs as pid %d in %s\n", forwarderName(f),
                         static_cast<int>(pid), dir.c_str());
        }
        LoopOutcome loop = driveClosedLoop(o, s, f, pid, gen, sink);
        result.rate = loop.rate;
        result.cpuMicrosPerMessage = loop.cpuMicrosPerMessage;
        result.received = loop.received;
        result.lost = loop.lost;
        result.bad = loop.bad;
        result.peakRssKiB = peakRssKiB(pid);
        result.ok = true;
    } else {
        std::fprintf(stderr, "load_bench: %s did not start (see %s)\n", forwarderName(f),
                     dir.c_str());
    }
    if (pid > 0) {
        // The relay stops as a console Ctrl-C would stop it; the references have no orderly stop.
        stopProcess(pid, f == Forwarder::Relay ? SIGINT : SIGKILL, std::chrono::seconds(30));
    }
    if (f == Forwarder::Relay) result.regFileRewritten = inodeOf(regFile) != regInode;
    if (gen >= 0) ::close(gen);
    if (sink >= 0) ::close(sink);
    if (result.ok) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return result;
}

// ---- report ---------------------------------------------------------------------------------

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
}

std::string rateText(double r) {
    char text[32];
    if (r >= 10000) {
        std::snprintf(text, sizeof text, "%.0fk", r / 1000);
    } else if (r >= 1000) {
        std::snprintf(text, sizeof text, "%.1fk", r / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.0f", r);
    }
    return text;
}

std::string summary(const std::vector<double>& v) {
    if (v.empty()) return "-";
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return rateText(median(v)) + " (" + rateText(*lo) + "–" + rateText(*hi) + ")";
}

bool selected(const Options& o, const Scenario& s) {
    if (o.only.empty()) return true;
    return std::find(o.only.begin(), o.only.end(), s.id) != o.only.end();
}

int parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--verbose") {
            o.verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "load_bench: %s needs a value\n", a.c_str());
            return -1;
        }
        std::string v = argv[++i];
        if (a == "--relay") {
            o.relay = v;
        } else if (a == "--bare") {
            o.bare = v;
        } else if (a == "--io") {
            o.io = v;
        } else if (a == "--rounds") {
            o.rounds = std::atoi(v.c_str());
        } else if (a == "--warmup-ms") {
            o.warmupMs = std::atoi(v.c_str());
        } else if (a == "--measure-ms") {
            o.measureMs = std::atoi(v.c_str());
        } else if (a == "--window") {
            o.window = std::clamp(std::atoi(v.c_str()), 1, 256);
        } else if (a == "--load-cpu") {
            o.loadCpu = std::atoi(v.c_str());
        } else if (a == "--forwarder-cpu") {
            o.forwarderCpu = std::atoi(v.c_str());
        } else if (a == "--work") {
            o.work = v;
        } else if (a == "--relay-prefix") {
            o.relayPrefix = v;
        } else if (a == "--forwarders") {
            o.forwarders = v;
        } else if (a == "--only") {
            std::stringstream ids(v);
            std::string id;
            while (std::getline(ids, id, ',')) o.only.push_back(id);
        } else {
            std::fprintf(stderr, "load_bench: unknown option %s\n", a.c_str());
            return -1;
        }
    }
    if (o.relay.empty() || o.bare.empty() || o.io.empty()) {
        std::fprintf(stderr, "usage: load_bench --relay PATH --bare PATH --io PATH [...]\n");
        return -1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (parseOptions(argc, argv, o) != 0) return 2;
    // The forwarders start in directories of their own.
    for (std::string* path : {&o.relay, &o.bare, &o.io}) {
        *path = std::filesystem::absolute(*path).string();
    }
    if (std::thread::hardware_concurrency() < 2) o.loadCpu = o.forwarderCpu = -1;
    pinTo(o.loadCpu);
    ::signal(SIGPIPE, SIG_IGN);

    struct Rates {
        std::array<std::vector<double>, 3> byForwarder;
        std::array<std::vector<double>, 3> cpuByForwarder;
        long lost = 0, bad = 0, peakRssKiB = 0;
        bool regFileRewritten = false;
    };
    std::vector<Rates> rates(std::size(kScenarios));
    bool failed = false;
    for (int round = 0; round < o.rounds; ++round) {
        for (std::size_t si = 0; si < std::size(kScenarios); ++si) {
            const Scenario& s = kScenarios[si];
            if (!selected(o, s)) continue;
            // The order of the three forwarders turns each round, so none always goes first.
            for (std::size_t k = 0; k < kForwarders.size(); ++k) {
                const std::size_t fi = (k + static_cast<std::size_t>(round)) % kForwarders.size();
                const Forwarder f = kForwarders[fi];
                if (o.forwarders.find(kForwarderKeys[fi]) == std::string::npos) continue;
                RunResult r = runOnce(o, s, f);
                std::fprintf(stderr,
                             "round %d  %-3s %-15s %10.0f msg/s %8.2f CPU us/msg  (%ld received, "
                             "%ld lost, %ld unexpected, peak RSS %ld KiB)\n",
                             round + 1, s.id, forwarderName(f), r.rate, r.cpuMicrosPerMessage,
                             r.received, r.lost, r.bad, r.peakRssKiB);
                if (!r.ok) {
                    failed = true;
                    continue;
                }
                Rates& into = rates[si];
                into.byForwarder[fi].push_back(r.rate);
                into.cpuByForwarder[fi].push_back(r.cpuMicrosPerMessage);
                into.lost += r.lost;
                into.bad += r.bad;
                if (f == Forwarder::Relay) {
                    into.peakRssKiB = std::max(into.peakRssKiB, r.peakRssKiB);
                    into.regFileRewritten = into.regFileRewritten || r.regFileRewritten;
                }
            }
        }
    }

    std::printf(
        "| scenario | siprelay msg/s | bare msg/s | I/O-equivalent msg/s | siprelay / bare | "
        "siprelay / I/O-eq. | siprelay peak RSS |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    auto relayMedian = [&](const char* id) {
        for (std::size_t si = 0; si < std::size(kScenarios); ++si) {
            if (std::string_view(kScenarios[si].id) == id) return median(rates[si].byForwarder[0]);
        }
        return 0.0;
    };
    for (std::size_t si = 0; si < std::size(kScenarios); ++si) {
        const Scenario& s = kScenarios[si];
        if (!selected(o, s)) continue;
        const Rates& r = rates[si];
        const double relay = median(r.byForwarder[0]);
        const double bare = median(r.byForwarder[1]);
        const double io = median(r.byForwarder[2]);
        std::printf("| (%s) %s | %s | %s | %s | %.2f | %.2f | %.1f MiB |\n", s.id, s.title,
                    summary(r.byForwarder[0]).c_str(), summary(r.byForwarder[1]).c_str(),
                    summary(r.byForwarder[2]).c_str(), bare > 0 ? relay / bare : 0.0,
                    io > 0 ? relay / io : 0.0, static_cast<double>(r.peakRssKiB) / 1024.0);
        if (r.lost > 0 || r.bad > 0) {
            std::printf("|   lost %ld, unexpected %ld | | | | | | |\n", r.lost, r.bad);
            failed = true;
        }
        if (s.traffic == Traffic::RegisterRefresh && r.regFileRewritten) {
            std::printf(
                "|   RegUsers.txt was rewritten by refreshes that changed nothing | | | | | | |\n");
        }
    }
    std::printf("\nMedians of %d rounds; min–max in brackets; ratios are of the medians.\n",
                o.rounds);

    // The CPU time each forwarder spent per datagram does not depend on what else the machine
    // runs, so it shows where the cost lies even when the rates are disturbed.
    std::printf(
        "\n| scenario | siprelay CPU µs/msg | bare | I/O-equivalent | I/O-eq. / siprelay |\n");
    std::printf("|---|---|---|---|---|\n");
    for (std::size_t si = 0; si < std::size(kScenarios); ++si) {
        const Scenario& s = kScenarios[si];
        if (!selected(o, s)) continue;
        const Rates& r = rates[si];
        const double relay = median(r.cpuByForwarder[0]);
        const double io = median(r.cpuByForwarder[2]);
        std::printf("| (%s) | %.2f | %.2f | %.2f | %.2f |\n", s.id, relay,
                    median(r.cpuByForwarder[1]), io, relay > 0 ? io / relay : 0.0);
    }
    std::printf("\n");
    const double r1 = relayMedian("1"), r3a = relayMedian("3a"), r3b = relayMedian("3b"),
                 r3c = relayMedian("3c"), r5 = relayMedian("5");
    if (r3a > 0 && r3b > 0) {
        std::printf("REGISTER refresh, 1,000 / 10 bindings: %.2f; 10,000 / 10 bindings: %.2f\n",
                    r3b / r3a, r3c / r3a);
    }
    if (r1 > 0 && r5 > 0) std::printf("INVITE by To, 100,000 / 10 bindings: %.2f\n", r5 / r1);
    return failed ? 1 : 0;
}
