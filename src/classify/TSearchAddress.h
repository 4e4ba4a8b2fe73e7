#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::classify {

class TDnsCancel;
class TLookupCache;
struct TDnsAnswer;

// The relay addresses asked about per message. A message passes a handful of relays, forwarded
// and list mail a dozen or two; beyond that the Received lines are padding meant to slow the
// check down. 32 addresses keep a message with one or two zones within one group of queries
// (TDnsResolver::MaxInFlight), i.e. within one query time-out even against silent servers, and a
// small share of what a receive's queue sends at once (TDnsQueue::MaxInFlight).
inline constexpr std::size_t MaxRelayAddresses = 32;

// The addresses a lookup asks about: the first MaxRelayAddresses distinct ones, in the given
// (header) order.
std::vector<std::string> RelayAddressesToLookUp(const std::vector<std::string>& relays);

// One message's block-list lookup in detail.
struct TLookupResult
{
    std::vector<std::string> Addresses;  // the relay addresses asked about, in order (capped)
    std::vector<std::vector<bool>> Hits; // per address, per server: listed
    std::string Text;            // "(1 X ) (X X ) ": per address "(", "1 " or "X " per server, ")", " "
    std::size_t RelaysFound = 0; // the distinct relay addresses of the header, before the cap
    // The lookup was stopped (Abort): the answers that had not arrived count as not listed.
    bool Aborted = false;
};

// One message's lookup under way: its answers come in on another thread, and it is over when all
// of them are in or it was stopped. Then its result is fixed. Thread-safe.
class TPendingLookup
{
public:
    // A lookup that is over, with this result.
    explicit TPendingLookup(TLookupResult result);
    // A lookup of result.Addresses, each asked of `servers` servers: it waits for Addresses x
    // servers answers, numbered address by address, servers in order within each.
    TPendingLookup(TLookupResult started, std::size_t servers);
    TPendingLookup(const TPendingLookup&) = delete;
    TPendingLookup& operator=(const TPendingLookup&) = delete;

    bool Ready() const;
    void Wait() const;
    // Waits until the lookup is over; then the result: the text in address and server order,
    // whatever order the answers came in.
    const TLookupResult& Result() const;

    // The answer to query `index`: listed, and whether the stop signal cut it short (which makes the
    // result Aborted). An answer after the end counts for nothing.
    void Answer(std::size_t index, bool listed, bool stopped);
    // Ends the lookup now: the answers not in count as not listed, and the result is Aborted.
    void Stop();

private:
    void Finish(); // under Mutex_

    mutable std::mutex Mutex_;
    mutable std::condition_variable Over_;
    TLookupResult Result_;
    std::size_t Servers_ = 0;
    std::vector<bool> Listed_;
    std::size_t Missing_ = 0; // answers still to come
    bool Stopped_ = false;
    bool Done_ = false;
};

// The spam-database lookup as the classifier sees it.
class TBlockListLookup
{
public:
    virtual ~TBlockListLookup() = default;
    virtual TLookupResult LookupDetailed(const std::vector<std::string>& headerLines) = 0;
    // Starts the lookup and returns without waiting for its answers. The default looks up at once
    // (LookupDetailed) and returns a lookup that is over.
    virtual std::shared_ptr<TPendingLookup> StartLookup(const std::vector<std::string>& headerLines);
    virtual const std::vector<std::string>& Servers() const = 0;
    // Stops a running lookup and every later one at once; any thread. A lookup that cannot wait
    // has nothing to stop.
    virtual void Abort() noexcept {}
};

// "a.b.c.d" as "d.c.b.a": the first three dot-separated fields are taken off the front and put
// behind the rest in reverse order, each after a ".".
std::string ReversedAddress(std::string_view ip);

// The spam-database lookup of one classifier: asks every enabled server whether the relay
// addresses of a message are listed, at most MaxRelayAddresses of them. The servers are fixed at
// construction. All queries of a message (addresses x servers) go out at once, through a
// TLookupCache: its own, or one that the lookups of all workers of a receive share, so that a
// relay address is asked of a server once per receive. Each query has a time-out
// (TDnsResolver::QueryTimeout), and a time-out or any failure counts as not listed. StartLookup
// returns at once; LookupDetailed waits for the answers. Abort() (any thread) ends the waits of this
// lookup at once; it stays aborted and answers every later message at once with nothing listed.
// The other lookups of a shared cache go on; the cache's stop signal stops them all.
class TSearchAddress : public TBlockListLookup
{
public:
    // The enabled servers of "Databases.ini" in the data folder. A file that cannot be read gives no
    // servers.
    TSearchAddress();
    // The given servers (zones), in order; for example those that passed SelfTestZones.
    explicit TSearchAddress(std::vector<std::string> servers);
    // The same with a stop signal shared with others (see TDnsCancel); nullptr makes one of its own.
    TSearchAddress(std::vector<std::string> servers, std::shared_ptr<TDnsCancel> cancel);
    // The same, asking through a cache shared with other lookups (its stop signal stops them all).
    TSearchAddress(std::vector<std::string> servers, std::shared_ptr<TLookupCache> cache);
    ~TSearchAddress() override;

    // The result text for a message's header lines; empty when there is no server.
    std::string Lookup(const std::vector<std::string>& headerLines);
    // One address's part: "(", "1 " or "X " per server in order, ")".
    std::string QueryAddress(const std::string& ip);
    TLookupResult LookupDetailed(const std::vector<std::string>& headerLines) override;
    std::shared_ptr<TPendingLookup> StartLookup(const std::vector<std::string>& headerLines) override;
    void Abort() noexcept override;

    const std::vector<std::string>& Servers() const override { return Servers_; }
    std::int32_t ServerCount() const { return static_cast<std::int32_t>(Servers_.size()); }

private:
    // Asks about result.Addresses.
    std::shared_ptr<TPendingLookup> Start(TLookupResult result);

    std::vector<std::string> Servers_;
    std::shared_ptr<TLookupCache> Cache_; // only when there are servers
    // The lookups under way, for Abort; and whether it came.
    std::mutex PendingMutex_;
    std::vector<std::weak_ptr<TPendingLookup>> Pending_; // under PendingMutex_
    std::size_t PendingKept_ = 0;                        // under PendingMutex_: size after the last sweep
    bool Aborted_ = false;                               // under PendingMutex_
};

// What a zone's test points say about it. Every list publishes 2.0.0.127 as listed and 1.0.0.127 as
// not listed (RFC 5782), so their answers tell whether the zone can be used from here.
enum class TZoneVerdict
{
    Works,                  // 2.0.0.127 listed, 1.0.0.127 not
    NoAnswer,               // no listing for 2.0.0.127: not served, not answering, or not a list
    RefusesPublicResolvers, // an error answer 127.255.255.252-255: the list refuses our resolver
    ListsEverything,        // 1.0.0.127 listed: a wildcard zone that would mark every message
};

// The verdict on the answers for 2.0.0.127.<zone> (`listedPoint`) and 1.0.0.127.<zone>
// (`unlistedPoint`). A zone that answers both points correctly works; otherwise an error answer
// (the code lists give a refused or over-limit resolver, e.g. 127.255.255.254) comes first, since
// it explains whatever else is wrong, then a listing of 1.0.0.127, then the missing listing.
TZoneVerdict JudgeZone(const TDnsAnswer& listedPoint, const TDnsAnswer& unlistedPoint);
// The verdict in a few words: "works", "no answer", "refuses public resolvers", "lists everything".
std::string_view ZoneVerdictText(TZoneVerdict verdict);

// The verdicts of testing zones with their test points.
struct TZoneCheck
{
    std::vector<TZoneVerdict> Verdicts; // one per zone, in the given order
    // Stopped through its TDnsCancel before every answer was in: Verdicts is empty, since judging
    // now would blame the zones for the stop.
    bool Cancelled = false;
};

// Asks the test points of every zone at once and judges each zone. Stopped at once when `cancel`
// (nullptr: one of its own) is raised from another thread or already was. Throws core::TError when
// the resolver cannot be set up.
TZoneCheck CheckZones(const std::vector<std::string>& zones, std::shared_ptr<TDnsCancel> cancel);

// The outcome of testing the zones at the start of a receive.
struct TZoneTest
{
    std::vector<std::string> Usable; // in the given order
    std::vector<std::string> Errors; // one text per zone left out
    // The test was stopped through its TDnsCancel: nothing was judged, Usable and Errors are empty.
    bool Cancelled = false;
};

// Tests every zone with the test points every list publishes (CheckZones): 2.0.0.127 must be listed
// and 1.0.0.127 must not. A zone that fails (no answer, refusal, or an answer for everything) is left
// out and named in an error text. All queries go out at once. Throws core::TError when the
// resolver cannot be set up.
TZoneTest SelfTestZones(const std::vector<std::string>& zones);
// The same, stopped at once when `cancel` is raised from another thread (or already was): then the
// result is Cancelled with no zone usable and no error text, since no zone was at fault.
TZoneTest SelfTestZones(const std::vector<std::string>& zones, std::shared_ptr<TDnsCancel> cancel);
// The error text for a zone that failed the test.
std::string ZoneSkippedText(std::string_view zone);

} // namespace tarnwick::classify
