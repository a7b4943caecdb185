#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "support/temp_dir.hpp"

// The built siprelay binary running in a fresh temporary directory: its SipCfg.ini (and
// RegUsers.txt, when given) are written first; its console goes to console.txt and its error
// reports to stderr.txt in that directory. The process is killed if a test leaves it running.
class RelayProcess {
  public:
    struct Options {
        std::string sipCfg;                   // content of SipCfg.ini; none when empty
        std::optional<std::string> regUsers;  // content of RegUsers.txt
        bool ignoreStopSignals = false;       // start with SIGINT and SIGQUIT ignored, as a shell's
                                              // background job does
        // Called with the directory before its files are written, e.g. to mount a small file
        // system there.
        std::function<void(const std::string& dir)> prepareDir;
    };

    explicit RelayProcess(Options options);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // Starts the binary (again, after a stop) in the same directory.
    void start();

    // Waits until the console holds text; false on time-out or when the process ended.
    bool waitForConsole(std::string_view text,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    // Waits until the console holds text count times.
    bool waitForConsoleCount(
        std::string_view text, int count,
        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    // Waits until sip_log.txt holds text.
    bool waitForLog(std::string_view text,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

    // Sends signal and waits for the exit; returns the exit code, or -1 when it did not end
    // within timeout (it is then killed).
    int stop(int signal, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    // Waits for the process to end by itself; its exit code, or -1 on time-out.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    std::string console() const { return dir_.read("console.txt"); }
    std::string errors() const { return dir_.read("stderr.txt"); }
    std::string log() const { return dir_.read("sip_log.txt"); }
    std::string regUsers() const { return dir_.read("RegUsers.txt"); }
    const TempDir& dir() const { return dir_; }

  private:
    Options options_;
    TempDir dir_;
    pid_t pid_ = -1;
};

// A loopback SipCfg.ini: the relay on 127.0.0.1 (and 127.0.0.2) at myPort, the upstream server
// at msIp1:msPort (msIp2 empty unless given) and the outbound proxy at proxyIp:proxyPort.
std::string LoopbackSipCfg(int myPort, const std::string& msIp1 = "127.0.0.30", int msPort = 5080,
                           const std::string& proxyIp = "127.0.0.40", int proxyPort = 5090,
                           const std::string& msIp2 = "");

// Number of times needle occurs in haystack.
int CountOccurrences(std::string_view haystack, std::string_view needle);
