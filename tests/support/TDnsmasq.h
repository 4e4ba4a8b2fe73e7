#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace tarnwick::test {

// A real dnsmasq on a free loopback port, serving only what the options give (host records,
// --address and --local domains), started by a test fixture and stopped with it.
class TDnsmasq
{
public:
    explicit TDnsmasq(const std::vector<std::string>& options);
    ~TDnsmasq();
    TDnsmasq(const TDnsmasq&) = delete;
    TDnsmasq& operator=(const TDnsmasq&) = delete;

    int Port() const { return Port_; }
    // "127.0.0.1:<port>", as TARNWICK_DNS_SERVERS takes it.
    std::string Server() const { return "127.0.0.1:" + std::to_string(Port_); }

private:
    pid_t Pid_ = -1;
    int Port_ = 0;
};

// A free UDP port on 127.0.0.1 (free when asked; good enough for tests).
int FreeUdpPort();
// Sends one A query for `name` to 127.0.0.1:port and returns the reply code (0 no error, 3 no such
// name, 5 refused), or -1 when nothing came back within the time.
int ProbeDns(int port, const std::string& name, std::chrono::milliseconds wait);

// A UDP relay in front of a DNS server that holds every query for a fixed time before passing it
// on; the kernel here has no netem to add latency.
class TDelayingDnsRelay
{
public:
    TDelayingDnsRelay(int upstreamPort, std::chrono::milliseconds delay);
    ~TDelayingDnsRelay();
    TDelayingDnsRelay(const TDelayingDnsRelay&) = delete;
    TDelayingDnsRelay& operator=(const TDelayingDnsRelay&) = delete;

    int Port() const { return Port_; }
    std::string Server() const { return "127.0.0.1:" + std::to_string(Port_); }

private:
    void Run();

    int ClientSocket_ = -1;
    int UpstreamSocket_ = -1;
    int Port_ = 0;
    std::chrono::milliseconds Delay_;
    std::atomic<bool> Stop_ = false;
    std::thread Thread_;
};

// A UDP port that receives queries and never answers.
class TSilentDnsServer
{
public:
    TSilentDnsServer();
    ~TSilentDnsServer();
    TSilentDnsServer(const TSilentDnsServer&) = delete;
    TSilentDnsServer& operator=(const TSilentDnsServer&) = delete;
    std::string Server() const { return "127.0.0.1:" + std::to_string(Port_); }

private:
    int Socket_ = -1;
    int Port_ = 0;
};

} // namespace tarnwick::test
