#include "support/relay_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

void redirect(const std::string& path, int targetFd) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        ::dup2(fd, targetFd);
        ::close(fd);
    }
}

}  // namespace

RelayProcess::RelayProcess(Options options) : options_(std::move(options)) {
    if (options_.prepareDir) options_.prepareDir(dir_.path());
    if (!options_.sipCfg.empty()) dir_.write("SipCfg.ini", options_.sipCfg);
    if (options_.regUsers) dir_.write("RegUsers.txt", *options_.regUsers);
    start();
}

RelayProcess::~RelayProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void RelayProcess::start() {
    if (pid_ > 0) throw std::logic_error("relay already running");
    pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        if (::chdir(dir_.path().c_str()) != 0) ::_exit(127);
        redirect("console.txt", STDOUT_FILENO);
        redirect("stderr.txt", STDERR_FILENO);
        int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (options_.ignoreStopSignals) {
            ::signal(SIGINT, SIG_IGN);
            ::signal(SIGQUIT, SIG_IGN);
        }
        ::execl(SIPRELAY_BINARY, SIPRELAY_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = child;
}

bool RelayProcess::waitForConsole(std::string_view text, std::chrono::milliseconds timeout) const {
    return waitForConsoleCount(text, 1, timeout);
}

bool RelayProcess::waitForConsoleCount(std::string_view text, int count,
                                       std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return CountOccurrences(console(), text) >= count; }, timeout);
}

bool RelayProcess::waitForLog(std::string_view text, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return log().find(text) != std::string::npos; }, timeout);
}

int RelayProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    return waitForExit(timeout);
}

int RelayProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    int status = 0;
    bool ended = waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

std::string LoopbackSipCfg(int myPort, const std::string& msIp1, int msPort,
                           const std::string& proxyIp, int proxyPort, const std::string& msIp2) {
    return "myIp1 = 127.0.0.1\nmyIp2 = 127.0.0.2\nmyPort = " + std::to_string(myPort) +
           "\nmsIp1 = " + msIp1 + "\nmsIp2 = " + msIp2 + "\nmsPort = " + std::to_string(msPort) +
           "\noutProxyAddr = " + proxyIp + "\noutProxyPort = " + std::to_string(proxyPort) + "\n";
}

int CountOccurrences(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return 0;
    int count = 0;
    for (std::size_t pos = haystack.find(needle); pos != std::string_view::npos;
         pos = haystack.find(needle, pos + needle.size())) {
        ++count;
    }
    return count;
}
