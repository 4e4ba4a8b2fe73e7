#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick::classify {

class TDnsCancel;
class TDnsQueue;

// The block-list answers of one receive, shared by the lookups of all its workers: each query name
// (a relay address under a zone) goes out once, through one TDnsQueue, and every lookup that needs
// it, at once or later, gets that one answer. A name whose query is out has its waiters; a name
// answered keeps its verdict: listed or not (a failure and a time-out are "not listed", as for a
// single lookup), and whether the stop signal cut it short. Thread-safe.
//
// Once more than MaxAnswers names are answered the answers are dropped (the names still out stay),
// so a receive of many different relays holds a bounded table.
class TLookupCache
{
public:
    static constexpr std::size_t MaxAnswers = std::size_t{1} << 18;

    // The verdict for a name: listed (IsListingAnswer), and stopped by the signal.
    using TDone = std::function<void(bool listed, bool stopped)>;

    // The stop signal of every query; none (nullptr) makes one of its own. Throws core::TError when
    // that cannot be made.
    explicit TLookupCache(std::shared_ptr<TDnsCancel> cancel = nullptr);
    ~TLookupCache();
    TLookupCache(const TLookupCache&) = delete;
    TLookupCache& operator=(const TLookupCache&) = delete;

    // Sets up the channel (the servers of TARNWICK_DNS_SERVERS or the system) and its thread unless
    // that was done. Throws core::TError as TDnsResolver does.
    void Open();
    // The verdict for `name`: `done` runs at once on this thread when it is known (or the signal is
    // raised), else on the channel's thread when the answer comes. Opens the channel first. `done`
    // must not block.
    void Ask(const std::string& name, TDone done);

    const std::shared_ptr<TDnsCancel>& Cancel() const noexcept { return Cancel_; }
    // Names whose queries went out, over the cache's life: a name asked again is not counted.
    std::size_t QueriesSent() const;

private:
    struct TEntry
    {
        bool Answered = false;
        bool Listed = false;
        bool Stopped = false;
        std::vector<TDone> Waiting; // until answered
    };

    void Answered(const std::string& name, bool listed, bool stopped);

    std::shared_ptr<TDnsCancel> Cancel_;
    mutable std::mutex Mutex_;
    std::unordered_map<std::string, TEntry> Entries_; // under Mutex_
    std::size_t AnsweredCount_ = 0;                   // under Mutex_
    std::size_t Sent_ = 0;                            // under Mutex_
    // Made once under Mutex_ and kept until the destructor, which ends it first: its thread calls
    // back into this object.
    std::unique_ptr<TDnsQueue> Queue_;
};

} // namespace tarnwick::classify
