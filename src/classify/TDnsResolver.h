#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
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

} // namespace tarnwick::classify
