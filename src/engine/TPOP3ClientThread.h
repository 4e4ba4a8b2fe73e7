#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "accounts/TUserID.h"
#include "classify/TDispatchMail.h"
#include "retrieval/TDecodeMail.h"
#include "retrieval/TPOP3Client.h"

namespace tarnwick::engine {

class TReceiveState;

// One download worker: its own POP3 session, decoder and classifier, on its own thread, which
// starts at construction. It takes message numbers from the receive's shared counter, fetches
// and classifies each message and adds the record to the account's list. A message the server
// refuses is put aside for a later session and the worker goes on; a session that breaks or gets
// out of step ends the worker and its numbers go back. Nothing thrown inside leaves the thread. The
// destructor joins.
//
// The download does not wait for the block lists: a fetched record waits in a queue while its
// lookup runs, and the worker fetches on. Records leave the queue from the front, in the order
// they were fetched, as soon as their answers are in; with MaxWaiting records queued the worker
// waits for the oldest, and before it ends it waits for them all.
//
// A worker can also be given a session that is already open (a server that allows one login at a
// time, or one per minute): it then leaves the session open at its end, for TakeSession.
class TPOP3ClientThread
{
public:
    TPOP3ClientThread(TReceiveState& state, const accounts::TUserID& user,
                      const accounts::TReceiveSettings& settings, const std::string& cacheFolder,
                      std::unique_ptr<classify::TDispatchMail> classifier, int replyTimeoutMs);
    TPOP3ClientThread(TReceiveState& state, const accounts::TUserID& user,
                      const accounts::TReceiveSettings& settings,
                      std::unique_ptr<retrieval::TPOP3Client> session,
                      std::unique_ptr<classify::TDispatchMail> classifier);
    ~TPOP3ClientThread();
    TPOP3ClientThread(const TPOP3ClientThread&) = delete;
    TPOP3ClientThread& operator=(const TPOP3ClientThread&) = delete;

    // Tells the worker to end: a blocked POP3 call fails at once. Any thread.
    void Terminate() noexcept;
    void Join();
    // Whether its session was opened.
    bool Opened() const { return Opened_.load(); }
    // The session it was given, after Join; open unless it broke. Not at the same time as Terminate
    // (the receive calls both under its clients lock).
    std::unique_ptr<retrieval::TPOP3Client> TakeSession();

    // Records waiting for their block-list lookups, at most.
    static constexpr std::size_t MaxWaiting = 256;

private:
    // Messages kept in flight per session when the server offers PIPELINING.
    static constexpr std::size_t PipelineDepth = 8;

    // A fetched record whose classification is under way.
    struct TWaitingRecord
    {
        std::int32_t Number = 0;
        accounts::TMailMessage Record;
        std::optional<classify::TPendingClassification> Classification; // none when it failed to start
        std::string Error;                                              // why it could not be classified
    };

    void Run();
    void Work();
    void RunOneByOne();
    void RunPipelined(bool withUidl);
    void Handle(std::int32_t n, retrieval::TFetchResult fetched);
    // The replies to "UIDL n" and "TOP n 0", with the size from the counting session's listing;
    // nothing when the listing names another message under n.
    std::optional<retrieval::TFetchResult> ReadListed(std::int32_t n);
    // Lists the records at the front of the queue whose lookups are over.
    void CompleteReady();
    // Waits for every queued record's lookup and lists it.
    void CompleteAll();
    // Waits for the front record's lookup, applies its verdict and lists it (after Stop it goes back
    // instead).
    void CompleteFront();
    // What a failure says, with the server it came from.
    std::string Cause(const std::exception& error) const;

    TReceiveState& State_;
    std::string Where_; // host:port
    accounts::TReceiveSettings Settings_;
    std::unique_ptr<retrieval::TPOP3Client> Session_;
    retrieval::TPOP3Client& Client_;
    bool KeepSession_ = false; // a session that was given stays open at the end
    retrieval::TDecodeMail Decoder_;
    std::unique_ptr<classify::TDispatchMail> Classifier_;
    std::map<std::int32_t, std::string> UniqueIds_;
    std::deque<TWaitingRecord> Waiting_; // in the order fetched
    std::atomic<bool> Terminated_{false};
    std::atomic<bool> Opened_{false};
    std::thread Thread_;
};

} // namespace tarnwick::engine
