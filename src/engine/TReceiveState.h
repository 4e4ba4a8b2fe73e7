#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "TReceiveObserver.h"
#include "accounts/TUser.h"
#include "retrieval/TPOP3Client.h"

namespace tarnwick::engine {

// An error's text with the server it came from ("host:port: text"), unless the text names it.
std::string WithServer(const std::string& where, const std::exception& error);

// The state that the workers of one receive share with the thread that runs it: the message
// counter, the numbers to fetch again, the messages given up with their reasons, the count of
// records listed, and the serialised way to the observer.
//
// A number that a worker takes ends in exactly one of three ways: its record is listed, it goes
// back to be fetched again (Return, Broken, Refused), or it is given up with the reason (a message
// that failed twice). So every number the server listed is either in the list or reported.
class TReceiveState
{
public:
    TReceiveState(accounts::TUser& user, TReceiveObserver& observer, std::string displayName);

    void SetServerCount(std::int32_t count);
    std::int32_t ServerCount() const { return ServerCount_; }

    // The sizes and unique ids the counting session listed, set before the workers start. A worker
    // that finds a message's unique id as listed takes its size from here instead of asking LIST n;
    // one that finds another id drops the listing for the whole receive (the numbering changed).
    void SetListing(retrieval::TMaildropListing listing);
    // Nothing when there is none or it was dropped.
    const retrieval::TMaildropListing* Listing() const;
    void DropListing() { ListingDropped_ = true; }

    // The next message number for a worker, under DownloadLock: a number to fetch again comes
    // first, then the counter goes up by one; nothing when every number has been taken.
    std::optional<std::int32_t> Take();
    // A number that was taken but never answered on a working session goes back as it was, to be
    // taken again; it counts as no failure.
    void Return(std::int32_t n);
    // The session broke (connection lost, reply out of step) while message n was read. The first
    // time it goes back for any worker; the second time it is given up with `reason`.
    void Broken(std::int32_t n, const std::string& reason);
    // The server refused message n ("-ERR", or a header too large) on a session that is still in
    // step. The first time it waits for a fresh session of the next round; the second time it is
    // given up with `reason`.
    void Refused(std::int32_t n, const std::string& reason);
    // A worker's session could not log in; the reason is reported when the receive ends with
    // messages missing.
    void LoginFailed(const std::string& reason);

    // Numbers not yet fetched or given up: waiting to be fetched again, or not yet taken.
    std::size_t Remaining() const;
    // Starts another round of sessions: the refused numbers become takeable again.
    void StartRound();
    // Grows whenever a number is listed, fails for the first time or is given up; a round that
    // leaves it unchanged changed nothing, and another would not either.
    std::size_t Settled() const;
    // The messages not in the list that failed, by number, with the reason of their last failure.
    std::map<std::int32_t, std::string> Failures() const;
    std::string LastLoginFailure() const;

    // Adds a finished record to the account's list under DownloadLock; a shown record is announced
    // to the observer.
    void AddRecord(accounts::TMailMessage record, bool shown);

    // An error row, once per text and at most a few per receive (a full disk fails every message
    // the same way).
    void ReportOnce(const std::string& text);

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
    // A session logged in: counted, remembered as the account's last login, and announced to a
    // thread waiting in WaitForLogin.
    void CountSession();
    // Waits until a session has logged in beyond the first `sessions`, until `workers` workers have
    // ended, or Stop; true when a session logged in.
    bool WaitForLogin(std::int32_t sessions, std::size_t workers);
    // Waits for `duration` or until Stop; false after Stop.
    bool Sleep(std::chrono::steady_clock::duration duration);
    std::int32_t Sessions() const { return Sessions_.load(); }

private:
    accounts::TUser& User_;
    TReceiveObserver& Observer_;
    std::string DisplayName_;
    std::int32_t ServerCount_ = 0;
    std::optional<retrieval::TMaildropListing> Listing_;
    std::atomic<bool> ListingDropped_{false};
    // Under DownloadLock():
    std::int32_t TakenCount_ = 0;
    std::int32_t Listed_ = 0;
    std::deque<std::int32_t> Again_;     // to be fetched again by any worker
    std::deque<std::int32_t> NextRound_; // refused once, for a fresh session
    std::set<std::int32_t> FailedOnce_;
    std::size_t GivenUp_ = 0;
    std::map<std::int32_t, std::string> Failures_; // of numbers not listed
    std::string LoginFailure_;

    std::mutex NotifyMutex_;
    std::set<std::string> Reported_; // under NotifyMutex_
    std::atomic<bool> Announced_{false};
    std::atomic<bool> StopRequested_{false};
    std::atomic<std::int32_t> Sessions_{0};

    std::mutex EndMutex_;
    std::condition_variable EndSignal_;
    std::size_t Ended_ = 0;
};

} // namespace tarnwick::engine
