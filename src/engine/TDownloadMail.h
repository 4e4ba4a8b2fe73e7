#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TReceiveObserver.h"
#include "accounts/TUser.h"
#include "classify/TAddressLists.h"
#include "retrieval/TPOP3Client.h"

namespace tarnwick::classify {
class TDispatchMail;
class TDnsCancel;
class TLookupCache;
} // namespace tarnwick::classify

namespace tarnwick::engine {

class TPOP3ClientThread;
class TReceiveState;

// The password prompt of a receive: given the account, the entered password and whether it is to
// be remembered, or nothing when the user cancelled.
using TPasswordPrompt =
    std::function<std::optional<std::pair<std::string, bool>>(const accounts::TUserID& user)>;
// Makes the classifier of one worker from the account, the spam-database zones of the receive and
// the lists the receive classifies with (its snapshot, taken when it started).
using TClassifierFactory = std::function<std::unique_ptr<classify::TDispatchMail>(
    const accounts::TUserID& user, const std::vector<std::string>& zones,
    const classify::TListsState& lists)>;

struct TReceiveConfig
{
    std::string CacheFolder; // the message cache folder
    // The spam-database zones; when not given, the enabled servers of "Databases.ini" that pass
    // the self-test at the start of the receive (one error row for each that does not).
    std::optional<std::vector<std::string>> Zones;
    // Default: a classify::TDispatchMail with the zones and the receive's lists, asking through the
    // receive's cache of block-list answers, which every worker shares and the receive's Stop stops.
    TClassifierFactory MakeClassifier;
    // Where the receive takes its lists, once, in Start: every worker of the receive classifies with
    // that snapshot, and a change published meanwhile counts from the next receive on. Default:
    // classify::AddressLists().
    std::function<classify::TListsState()> Lists;
    // Asked on the starting thread when the account does not remember its password.
    TPasswordPrompt PasswordPrompt;
    // Stores the account after a password that is to be remembered was entered (TAdmin::SaveUser).
    std::function<void()> SaveAccount;
    std::int32_t DownloadSpeed = 0; // the option's level, for the status bar
    int ReplyTimeoutMs = retrieval::TPOP3Client::DefaultReplyTimeoutMs;
    // When the receive ran in a single session (see TDownloadMail), that session stays open at the
    // end for TakeSession, so that a deletion right after needs no new login.
    bool KeepSession = false;
};

// What a receive did, for the caller and for tests.
struct TReceiveReport
{
    TReceiveOutcome Outcome = TReceiveOutcome::Disconnected;
    std::int32_t ServerCount = 0; // messages on the server, from the counting session
    std::int32_t TakenCount = 0;
    std::int32_t Listed = 0;    // records added to the list (trashed ones included)
    std::size_t Workers = 0;    // worker threads started
    std::int32_t Sessions = 0;  // POP3 logins that succeeded: counting, workers, end check
    bool SingleSession = false; // everything ran in the counting session
};

// One receive of one account: a counting session, up to `Connections` workers fetching the headers
// in parallel, and an end check. Start runs the first steps on the calling thread (the list is
// emptied, the first texts, the password prompt) and then the rest on a thread of its own; the
// observer hears everything, ending with Finished. Wait blocks (without polling) until it is over.
//
// A server that asks for a pause between two logins (LOGIN-DELAY n, n > 0), or that lets no second
// session log in while the counting session is open (a locked maildrop, a login delay it does not
// announce), gets a single session: the counting session fetches the headers and makes the end
// check, and the observer is told so. A login that must wait for the server's delay waits, showing
// the seconds left, and Stop ends the wait.
class TDownloadMail
{
public:
    TDownloadMail(accounts::TUser& user, TReceiveObserver& observer, TReceiveConfig config);
    ~TDownloadMail();
    TDownloadMail(const TDownloadMail&) = delete;
    TDownloadMail& operator=(const TDownloadMail&) = delete;

    // False when the password prompt was cancelled (the observer then heard Finished(Cancelled)).
    bool Start();
    // Stops the receive from any thread: every session is aborted, the receive ends "Interrupted".
    void Stop();
    TReceiveReport Wait();
    // Start and Wait.
    TReceiveReport Run();
    // After a single-session receive with KeepSession: its session, still open; else nothing.
    std::unique_ptr<retrieval::TPOP3Client> TakeSession();

private:
    void RunReceive();
    void Receive();
    void Finish(TReceiveOutcome outcome, const std::string& taskStatus);
    void StartWorkers(std::size_t count, const std::vector<std::string>& zones);
    // Hands the open counting session to a single worker.
    void StartSessionWorker(const std::vector<std::string>& zones);
    // The session of the single-session mode back from its worker, when it is still open.
    void TakeBackSession();
    void GoOnInOneSession(const std::string& note);
    // Logs the counting session in, waiting for the server's login delay; false when the receive
    // ended there (refused, unreachable, Stop), with everything reported.
    bool OpenCounter();
    bool OpenPacedCounter();
    // OpenPaced for the counting session, the waits shown in the status line; false after Stop.
    bool LogInCounter();
    void NewCounterSession();
    void JoinEndedWorkers();
    void EndCheck();
    void CounterSessionLost(const std::string& cause);
    // "host:port" of the account's server, and an error's text with it when the text lacks it.
    std::string Where() const;
    std::string Cause(const std::exception& error) const;

    accounts::TUser& User_;
    TReceiveObserver& Observer_;
    TReceiveConfig Config_;
    accounts::TUserID ID_;
    accounts::TReceiveSettings Settings_;
    std::unique_ptr<TReceiveState> State_;
    TReceiveReport Report_;
    classify::TListsState Lists_; // the lists of this receive, taken in Start

    // Stops every block-list lookup of this receive at once: the self-test and each worker's.
    std::shared_ptr<classify::TDnsCancel> DnsCancel_;
    // The block-list answers of this receive, shared by the default classifiers of all workers and
    // rounds: each relay address is asked of each zone once. Stopped by DnsCancel_.
    std::shared_ptr<classify::TLookupCache> DnsCache_;
    std::mutex ClientsMutex_; // the clients that Stop aborts
    std::unique_ptr<retrieval::TPOP3Client> Counter_;
    bool SingleSession_ = false;
    std::vector<std::unique_ptr<TPOP3ClientThread>> Workers_;
    std::thread Thread_;
};

} // namespace tarnwick::engine
