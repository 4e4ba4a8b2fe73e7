#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <thread>

namespace tarnwick::bench {

// A UDP relay in front of a DNS server on loopback that holds every query for a fixed time before
// passing it on, to give the block-list lookups a network round trip (the kernel here has no
// netem), and that counts the queries it passes.
//
// Each query goes on under an id of the relay's own and its answer comes back under the asker's
// id, to the asker's address: a receive runs one resolver per download worker, and two of them
// may ask under the same id at the same time. A relay that told the askers apart by the id alone
// would hand one answer to the wrong resolver and lose the other, and both resolvers would wait
// for their time-out and ask again, which a benchmark would measure as the receive's time. For the
// same reason at most a window of queries is at the server at once (dnsmasq drops from a burst of a
// few hundred); the others wait there for answers, which on loopback come within microseconds.
class TDnsDelayRelay
{
public:
    TDnsDelayRelay(int upstreamPort, std::chrono::milliseconds delay);
    ~TDnsDelayRelay();
    TDnsDelayRelay(const TDnsDelayRelay&) = delete;
    TDnsDelayRelay& operator=(const TDnsDelayRelay&) = delete;

    // "127.0.0.1:<port>", as TARNWICK_DNS_SERVERS takes it.
    std::string Server() const { return "127.0.0.1:" + std::to_string(Port_); }

    // Ends the relay; the counts below are complete from then on.
    void Stop();
    // Queries received from the resolvers (retries included).
    std::size_t Queries() const { return Queries_; }
    // Answers that came back from the server and went to their askers.
    std::size_t Answers() const { return Answers_; }
    // How often each name was asked (in lower case). Read after Stop.
    const std::map<std::string, std::size_t>& Names() const { return Names_; }

private:
    void Run();

    int ClientSocket_ = -1;
    int UpstreamSocket_ = -1;
    int Port_ = 0;
    std::chrono::milliseconds Delay_;
    std::atomic<bool> Stop_ = false;
    std::atomic<std::size_t> Queries_ = 0;
    std::atomic<std::size_t> Answers_ = 0;
    std::map<std::string, std::size_t> Names_;
    std::thread Thread_;
};

} // namespace tarnwick::bench
