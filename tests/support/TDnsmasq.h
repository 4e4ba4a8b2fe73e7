#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
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

// A DNS server on a loopback UDP port that answers A queries from a table: a listed name gets
// 127.0.0.2, every other name "no such name". It counts what it is asked, and holds back the
// answers to the names `hold` picks until Release(): a block list that answers late, at the
// moment a test chooses.
class TScriptedDnsServer
{
public:
    explicit TScriptedDnsServer(std::set<std::string> listed,
                                std::function<bool(const std::string& name)> hold = nullptr);
    ~TScriptedDnsServer();
    TScriptedDnsServer(const TScriptedDnsServer&) = delete;
    TScriptedDnsServer& operator=(const TScriptedDnsServer&) = delete;

    std::string Server() const { return "127.0.0.1:" + std::to_string(Port_); }
    // Sends the answers held back, and every later one at once.
    void Release();
    // How often each name was asked, by name.
    std::map<std::string, int> Queries() const;
    // Answers held back now.
    std::size_t Holding() const;

private:
    struct THeld
    {
        std::string Reply;
        sockaddr_storage To;
        socklen_t ToLength;
    };
    void Run();

    std::set<std::string> Listed_;
    std::function<bool(const std::string&)> Hold_;
    int Socket_ = -1;
    int Port_ = 0;
    mutable std::mutex Mutex_;
    std::map<std::string, int> Queries_; // under Mutex_
    std::deque<THeld> Held_;             // under Mutex_
    bool Released_ = false;              // under Mutex_
    std::atomic<bool> Stop_ = false;
    std::thread Thread_;
};

} // namespace tarnwick::test
