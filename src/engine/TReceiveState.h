#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "TReceiveObserver.h"
#include "accounts/TUser.h"

namespace tarnwick::engine {

// The state that the workers of one receive share with the thread that runs it: the message
// counter, the numbers handed back after a failed fetch, the count of records listed, and the
// serialised way to the observer.
class TReceiveState
{
public:
    TReceiveState(accounts::TUser& user, TReceiveObserver& observer, std::string displayName);

    void SetServerCount(std::int32_t count);
    std::int32_t ServerCount() const { return ServerCount_; }

    // The next message number for a worker, under DownloadLock: a number handed back comes first,
    // then the counter goes up by one; nothing when every number has been taken.
    std::optional<std::int32_t> Take();
    // A worker could not fetch message n. It is handed back once for another worker to fetch; a
    // number that fails a second time is lost. Returns whether it was handed back.
    bool HandBack(std::int32_t n);
    // A number that was taken but never asked for on a working session goes back as it was, to
    // be taken again; its one hand-back stays unused.
    void Return(std::int32_t n);
    bool HasHandedBack() const;
    std::size_t HandedBackWaiting() const;

    // Adds a finished record to the account's list under DownloadLock; a shown record is announced
    // to the observer.
    void AddRecord(accounts::TMailMessage record, bool shown);

    // "Retrieving messages..." once per receive.
    void AnnounceRetrieving();
    // The progress texts after a message: taken count of server count, gauge and caption.
    void ShowProgress();

    // Runs `notify` with the observer, one call at a time.
    void Notify(const std::function<void(TReceiveObserver&)>& notify);

    // Workers report their end; the running thread waits for all of a round (or for Stop).
    void WorkerEnded();
    void WaitForWorkers(std::size_t count);
    void RequestStop();
    bool StopRequested() const { return StopRequested_.load(); }

    std::int32_t TakenCount() const;
    std::int32_t ListedCount() const;
    void CountSession() { ++Sessions_; }
    std::int32_t Sessions() const { return Sessions_.load(); }

private:
    accounts::TUser& User_;
    TReceiveObserver& Observer_;
    std::string DisplayName_;
    std::int32_t ServerCount_ = 0;
    // Under DownloadLock():
    std::int32_t TakenCount_ = 0;
    std::int32_t Listed_ = 0;
    std::deque<std::int32_t> HandedBack_;
    std::set<std::int32_t> EverHandedBack_;

    std::mutex NotifyMutex_;
    std::atomic<bool> Announced_{false};
    std::atomic<bool> StopRequested_{false};
    std::atomic<std::int32_t> Sessions_{0};

    std::mutex EndMutex_;
    std::condition_variable EndSignal_;
    std::size_t Ended_ = 0;
};

} // namespace tarnwick::engine
