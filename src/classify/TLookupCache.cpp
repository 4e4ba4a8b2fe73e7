#include "TLookupCache.h"

#include "TDnsResolver.h"

namespace tarnwick::classify {

TLookupCache::TLookupCache(std::shared_ptr<TDnsCancel> cancel)
    : Cancel_(cancel ? std::move(cancel) : std::make_shared<TDnsCancel>())
{}

TLookupCache::~TLookupCache()
{
    // The queue's thread answers what is out (stopped) into Answered, so it ends while the table
    // still exists.
    Queue_.reset();
}

void TLookupCache::Open()
{
    std::lock_guard lock(Mutex_);
    if (!Queue_)
        Queue_ = std::make_unique<TDnsQueue>(std::string(), Cancel_);
}

std::size_t TLookupCache::QueriesSent() const
{
    std::lock_guard lock(Mutex_);
    return Sent_;
}

void TLookupCache::Ask(const std::string& name, TDone done)
{
    Open();
    TDnsQueue* queue = nullptr;
    {
        std::unique_lock lock(Mutex_);
        auto [entry, added] = Entries_.try_emplace(name);
        if (!added && entry->second.Answered) {
            const bool listed = entry->second.Listed;
            const bool stopped = entry->second.Stopped;
            lock.unlock();
            done(listed, stopped);
            return;
        }
        entry->second.Waiting.push_back(std::move(done));
        if (!added)
            return; // its query is out already
        ++Sent_;
        queue = Queue_.get();
    }
    // Outside the lock: the answer may come at once, on this thread.
    queue->Resolve(name, [this, name](const TDnsAnswer& answer, bool stopped) {
        Answered(name, IsListingAnswer(answer), stopped);
    });
}

void TLookupCache::Answered(const std::string& name, bool listed, bool stopped)
{
    std::vector<TDone> waiting;
    {
        std::lock_guard lock(Mutex_);
        const auto entry = Entries_.find(name);
        if (entry == Entries_.end())
            return;
        entry->second.Answered = true;
        entry->second.Listed = listed;
        entry->second.Stopped = stopped;
        waiting.swap(entry->second.Waiting);
        if (++AnsweredCount_ > MaxAnswers) {
            std::erase_if(Entries_, [](const auto& item) { return item.second.Answered; });
            AnsweredCount_ = 0;
        }
    }
    for (TDone& done : waiting)
        done(listed, stopped);
}

} // namespace tarnwick::classify
