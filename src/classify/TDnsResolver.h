#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::classify {

// The answer to one address query.
struct TDnsAnswer
{
    bool Resolved = false;                // the name has A records
    std::vector<std::uint32_t> Addresses; // IPv4 addresses, host byte order
};

// True when an answer says "listed" the way DNS block lists publish it: an address in 127.0.0.0/8
// other than the error answers 127.255.255.252 to 127.255.255.255, which lists give to refused or
// over-limit resolvers. An answer with any other address, or any error answer, is no listing.
bool IsListingAnswer(const TDnsAnswer& answer);

// A stop signal for DNS lookups that any thread may raise. Once raised it stays raised: every
// resolver that shares it ends its waiting at once and answers every later query unresolved. One
// object may be shared by many resolvers (all workers of a receive and its self-test), so a single
// Cancel() stops them all, also those made after it.
class TDnsCancel
{
public:
    // Throws core::TError with the system's reason when the event descriptor cannot be made.
    TDnsCancel();
    ~TDnsCancel();
    TDnsCancel(const TDnsCancel&) = delete;
    TDnsCancel& operator=(const TDnsCancel&) = delete;

    // Raises the signal. Thread-safe and async-signal-safe; repeated calls do nothing more.
    void Cancel() noexcept;
    bool Cancelled() const noexcept { return Cancelled_.load(std::memory_order_acquire); }
    // An eventfd that becomes readable, and stays so, when the signal is raised: for poll.
    int Descriptor() const noexcept { return Fd_; }

private:
    int Fd_ = -1;
    std::atomic<bool> Cancelled_ = false;
};

// Address (A) queries through c-ares. The name servers are those of the system's resolver
// configuration, or the comma-separated list in TARNWICK_DNS_SERVERS ("127.0.0.1:5353,[::1]:53")
// when that is set. One resolver serves one thread; only Abort() may be called from another.
class TDnsResolver
{
public:
    // Each query gets at most this long: a first try of a second, one retry of two.
    static constexpr std::chrono::milliseconds QueryTimeout{3000};
    // Queries in flight at once; longer batches go out in groups of this size.
    static constexpr std::size_t MaxInFlight = 64;

    // Servers from TARNWICK_DNS_SERVERS or the system. Throws core::TError when c-ares cannot be
    // set up or the variable's list is malformed.
    TDnsResolver();
    // Servers from a comma-separated list; an empty text means the system's configuration.
    explicit TDnsResolver(const std::string& servers);
    // The same with a shared stop signal; none (nullptr) makes one of its own.
    explicit TDnsResolver(std::shared_ptr<TDnsCancel> cancel);
    TDnsResolver(const std::string& servers, std::shared_ptr<TDnsCancel> cancel);
    ~TDnsResolver();
    TDnsResolver(const TDnsResolver&) = delete;
    TDnsResolver& operator=(const TDnsResolver&) = delete;

    // Queries every name at once and waits for all answers; the answers are in the order of the
    // names. A failure, a time-out or a name that does not exist gives an unresolved answer. After
    // Abort() it returns at once: the answers that arrived before stay, all others are unresolved.
    std::vector<TDnsAnswer> ResolveAll(const std::vector<std::string>& names);
    TDnsAnswer Resolve(const std::string& name);

    // Raises the stop signal (that of every resolver sharing it). Any thread, at any time.
    void Abort() noexcept { Cancel_->Cancel(); }
    bool Aborted() const noexcept { return Cancel_->Cancelled(); }
    const std::shared_ptr<TDnsCancel>& Cancel() const noexcept { return Cancel_; }

private:
    struct TChannel;
    std::shared_ptr<TDnsCancel> Cancel_;
    std::unique_ptr<TChannel> Channel_;
};

// Address (A) queries from any thread through one c-ares channel, served by a thread of its own:
// a query is handed in and answered later, so many are outstanding at once and nobody waits for
// them. The servers are chosen as for TDnsResolver. Each query gets at most
// TDnsResolver::QueryTimeout from when it goes out; at most MaxInFlight go out at once, the rest
// wait their turn in the order they came. When the stop signal is raised every outstanding query is
// cancelled at once and every later one is answered at once, unresolved and marked stopped.
class TDnsQueue
{
public:
    // Queries out at once; c-ares keeps them apart by their ids, and a server sees no burst larger.
    static constexpr std::size_t MaxInFlight = 256;

    // The answer to a query, and whether it was cut short by the stop signal (or never went out
    // because of it). A time-out or a failure is an unresolved answer that was not stopped.
    using TDone = std::function<void(const TDnsAnswer& answer, bool stopped)>;

    // Throws core::TError when c-ares cannot be set up or the list of servers is malformed. An empty
    // list means TARNWICK_DNS_SERVERS or the system's configuration; no signal makes one of its own.
    TDnsQueue(const std::string& servers, std::shared_ptr<TDnsCancel> cancel);
    // Cancels what is outstanding (each `done` runs, stopped) and ends the thread.
    ~TDnsQueue();
    TDnsQueue(const TDnsQueue&) = delete;
    TDnsQueue& operator=(const TDnsQueue&) = delete;

    // Hands a query in; any thread. `done` runs once: on the queue's thread, or at once on the
    // caller's when the signal is already raised or the name cannot be asked (a zero byte in it).
    // `done` must not block: it holds up every other answer.
    void Resolve(std::string name, TDone done);

    const std::shared_ptr<TDnsCancel>& Cancel() const noexcept { return Cancel_; }

private:
    struct TQuery;
    struct TChannel;
    struct TRequest
    {
        std::string Name;
        TDone Done;
    };

    void Run();
    // Sends waiting queries while fewer than MaxInFlight are out.
    void SendWaiting();
    // Gives every query past its time an unresolved answer; the time until the next one expires.
    std::chrono::milliseconds ExpireOverdue();
    // Ends every query, sent or waiting, as stopped.
    void StopAll();
    static void OnAnswer(void* arg, int status, int timeouts, unsigned char* abuf, int alen);

    std::shared_ptr<TDnsCancel> Cancel_;
    std::unique_ptr<TChannel> Channel_;
    int WakeFd_ = -1; // an eventfd: new requests, or the end

    std::mutex Mutex_;
    std::deque<TRequest> Incoming_; // under Mutex_
    bool Quit_ = false;             // under Mutex_: the destructor asked the thread to end
    bool Stopped_ = false;          // under Mutex_: every later request is answered at once

    // Only the queue's thread touches these.
    std::deque<TRequest> Waiting_;
    std::list<TQuery> InFlight_; // in the order sent, so their time limits ascend
    std::thread Thread_;
};

} // namespace tarnwick::classify
