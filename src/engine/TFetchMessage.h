#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "OpenPaced.h"
#include "accounts/TMailMessage.h"
#include "accounts/TUser.h"
#include "retrieval/TPOP3Client.h"

namespace tarnwick::engine {

enum class TFetchStatus
{
    Fetched,       // the whole message is in the cache file
    CannotConnect, // the server could not be reached or refused the login
    OutOfSync,     // the server no longer holds the record's message under its number
    Failed,        // the download broke off, or the cache cannot be written
    Stopped,       // Stop was called
};

struct TFetchOutcome
{
    TFetchStatus Status = TFetchStatus::Failed;
    std::string Error;     // CannotConnect/Failed: the cause with host:port and the server's words
    std::string CachePath; // Fetched: the cache file that now holds the message
};

// Downloads the whole text of one listed message into the message cache, when the user opens a
// message whose text is not there yet: a short POP3 session of its own (the GUI runs it on a thread
// of its own and shows a waiting page meanwhile).
//
// Before anything is stored the session proves that the record's number still names the record's
// message, as strictly as the deletion does: when the record has a unique id and the server offers
// UIDL, "UIDL n" must give that id, and in every case the header of "TOP n 0" must be the record's
// header lines exactly. Then RETR stores the message (through a temporary file and a rename), and
// the cache file must hold the record's message afterwards (the server may change the message
// between TOP and RETR). Whatever does not match is OutOfSync; nothing is stored for it and no
// cache file is removed (a file of the same name may be another message's). The session never sends
// DELE and always ends: with QUIT when it is in step, cut otherwise. The record is not changed.
class TFetchMessage
{
public:
    TFetchMessage(accounts::TUserID user, accounts::TReceiveSettings settings, std::string cacheFolder,
                  accounts::TLoginPacing& pacing, TShowLoginWait showWait = {});
    ~TFetchMessage();
    TFetchMessage(const TFetchMessage&) = delete;
    TFetchMessage& operator=(const TFetchMessage&) = delete;

    void SetReplyTimeoutMs(int ms) { Client_->SetReplyTimeoutMs(ms); }

    // Blocking: logs in (after the server's login delay), checks, downloads, closes. Once per object:
    // a session that was stopped cannot be used again. Never throws but std::bad_alloc.
    TFetchOutcome Run(const accounts::TMailMessage& record);
    // Any thread: ends Run soon (cuts the session, ends a wait for the login delay); Run then
    // returns Stopped. Nothing of the message is stored after a Stop that cut the download.
    void Stop();

private:
    TFetchOutcome Download(const accounts::TMailMessage& record);
    // Whether message n is the record's message; a "-ERR" to UIDL n or TOP n 0 means it is gone.
    bool SameMessage(const accounts::TMailMessage& record);
    // "host:port", for error texts.
    std::string Where() const;

    accounts::TUserID User_;
    accounts::TLoginPacing& Pacing_;
    TShowLoginWait ShowWait_;
    std::unique_ptr<retrieval::TPOP3Client> Client_;
    std::atomic<bool> GoOn_{true};
    std::mutex StopMutex_;
    std::condition_variable StopSignal_;
};

} // namespace tarnwick::engine
