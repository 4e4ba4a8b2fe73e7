#include "TFetchMessage.h"

#include <new>

#include "retrieval/Pop3Errors.h"
#include "retrieval/TCacheFile.h"

namespace tarnwick::engine {

namespace {

TFetchOutcome Outcome(TFetchStatus status, std::string error = {})
{
    return {status, std::move(error), {}};
}

} // namespace

TFetchMessage::TFetchMessage(accounts::TUserID user, accounts::TReceiveSettings settings,
                             std::string cacheFolder, accounts::TLoginPacing& pacing, TShowLoginWait showWait)
    : User_(user)
    , Pacing_(pacing)
    , ShowWait_(std::move(showWait))
    , Client_(std::make_unique<retrieval::TPOP3Client>(std::move(user), settings, std::move(cacheFolder)))
{}

TFetchMessage::~TFetchMessage() = default;

std::string TFetchMessage::Where() const
{
    return User_.Host + ":" + std::to_string(User_.Port);
}

void TFetchMessage::Stop()
{
    std::lock_guard lock(StopMutex_);
    GoOn_ = false;
    StopSignal_.notify_all();
    // Nothing is marked in this session, so cutting it loses nothing; a partial RETR is never
    // renamed into the cache.
    Client_->Abort();
}

TFetchOutcome TFetchMessage::Run(const accounts::TMailMessage& record)
{
    // Without these nothing could show that the server's message is the record's.
    if (record.Number <= 0 || record.Headers.empty() || record.CacheName.empty())
        return Outcome(TFetchStatus::Failed, "The message cannot be downloaded: its record has no " +
                                                 std::string(record.Number <= 0       ? "server number"
                                                             : record.Headers.empty() ? "header"
                                                                                      : "cache name"));
    TFetchOutcome outcome;
    try {
        outcome = Download(record);
    } catch (const std::bad_alloc&) {
        Client_->Abort();
        throw;
    } catch (const std::exception& error) {
        Client_->Abort();
        outcome = Outcome(TFetchStatus::Failed, "Downloading message " + std::to_string(record.Number) +
                                                    " from " + Where() + " failed: " + error.what());
    }
    if (!GoOn_)
        return Outcome(TFetchStatus::Stopped);
    return outcome;
}

TFetchOutcome TFetchMessage::Download(const accounts::TMailMessage& record)
{
    try {
        const bool opened =
            OpenPaced(*Client_, Pacing_, ShowWait_, [this](std::chrono::steady_clock::duration wait) {
                std::unique_lock lock(StopMutex_);
                StopSignal_.wait_for(lock, wait, [this] { return !GoOn_.load(); });
                return GoOn_.load();
            });
        if (!opened)
            return Outcome(TFetchStatus::Stopped);
    } catch (const retrieval::TLoginRefusedError& error) {
        return Outcome(TFetchStatus::CannotConnect, retrieval::LoginRefusalText(Where(), error));
    } catch (const core::TError& error) {
        // Connection errors name the host, most of them with the port; the user is asked whether to
        // try again, so the text says where it tried.
        const std::string text = error.what();
        return Outcome(TFetchStatus::CannotConnect, text.find(Where()) != std::string::npos
                                                        ? text
                                                        : "Cannot log in to " + Where() + ": " + text);
    }

    const std::string failed =
        "Downloading message " + std::to_string(record.Number) + " from " + Where() + " failed: ";
    try {
        if (!SameMessage(record)) {
            Client_->Close();
            return Outcome(TFetchStatus::OutOfSync);
        }
        const retrieval::TFetchResult fetched = Client_->Fetch(record.Number, true);
        if (!fetched.CacheError.empty()) {
            Client_->Close();
            return Outcome(TFetchStatus::Failed, fetched.CacheError);
        }
        if (!fetched.RetrieveRefusal.empty()) {
            Client_->Close();
            return Outcome(TFetchStatus::Failed,
                           failed + "the server refused RETR: " + fetched.RetrieveRefusal);
        }
        // The cache file of the record's name must hold the record's message now. A server that
        // changed the message between TOP and RETR left another message there (or under another
        // name): that file may be right for another record, so it stays.
        const std::string path = Client_->CacheFilePath(record.CacheName);
        const bool holds =
            fetched.Header.Lines == record.Headers && retrieval::CacheFileHolds(record.Headers, path);
        Client_->Close();
        if (!holds)
            return Outcome(TFetchStatus::OutOfSync);
        return {TFetchStatus::Fetched, {}, path};
    } catch (const retrieval::TConnectionError& error) {
        // The connection is closed already (and dropped without QUIT when out of step).
        return Outcome(TFetchStatus::Failed, failed + error.what());
    } catch (const core::TError& error) {
        // A "-ERR" to a command that must succeed: the session is still in step.
        Client_->Close();
        return Outcome(TFetchStatus::Failed, failed + "the server answered \"" + error.what() + "\"");
    }
}

bool TFetchMessage::SameMessage(const accounts::TMailMessage& record)
{
    const std::int32_t n = record.Number;
    const retrieval::TCapabilities& capabilities = Client_->Capabilities();
    // A server that does not answer CAPA may still give unique ids; one that lists its capabilities
    // without UIDL gives none, and the header alone decides.
    if (!record.UniqueId.empty() && (capabilities.Uidl || !capabilities.Answered)) {
        const std::optional<std::string> uid = Client_->Uidl(n);
        if (uid ? *uid != record.UniqueId : capabilities.Uidl)
            return false; // another message, or none of that number on a server that gives ids
    }
    try {
        return Client_->Header(n).Header.Lines == record.Headers;
    } catch (const retrieval::TProtocolError&) {
        return false; // "-ERR Invalid message number.": the list is out of date
    }
}

} // namespace tarnwick::engine
