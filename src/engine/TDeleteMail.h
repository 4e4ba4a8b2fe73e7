#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "accounts/TUser.h"
#include "core/Errors.h"
#include "retrieval/TPOP3Client.h"

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::engine {

// The deletion could not be carried out as asked; nothing local was changed.
class TDeleteError : public core::TError
{
public:
    using TError::TError;
};

// What the deletion window shows. SetProgress is called as the reply to every DELE arrives; the GUI
// processes its pending events there, which is where its Stop button reaches Stop().
class TDeleteObserver
{
public:
    virtual ~TDeleteObserver() = default;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int percent) = 0;
};

// Deletes trashed messages of an account on its server in one POP3 session, after proving that
// the server still holds them under the numbers they were downloaded with: the server's count must
// be the one known, and every message to delete (and the last message of the last receive) must
// give the same cache name from its header as at download time and, when the server offers UIDL,
// the same unique id (without UIDL, the same header lines). Anything else is refused with the
// synchronisation message and nothing is deleted. Only records whose Trashed flag is set are ever
// deleted. When the answer to a DELE is missing or does not belong to it, the session is dropped
// without QUIT, so the server deletes nothing, and the deletion fails with the reason.
class TDeleteMail
{
public:
    // A DELE that the server refuses is tried this many times before the deletion stops there.
    static constexpr int MaxDeleteAttempts = 5;
    // Messages whose checks, or whose DELEs, are sent ahead at once when the server offers
    // PIPELINING: a few kilobytes of commands, which fit into the socket buffers, so a batch is
    // written whole before its replies are read. 1,500 deletions take 12 round trips of checks and
    // 18 of DELEs.
    static constexpr std::size_t PipelineDepth = 128;

    TDeleteMail(accounts::TUser& user, std::string cacheFolder, core::TPrompter& prompter,
                TDeleteObserver* observer = nullptr);
    // Deletes in a session that is already open (the one a single-session receive kept), so that a
    // server that allows one login per minute needs no second one.
    TDeleteMail(accounts::TUser& user, std::unique_ptr<retrieval::TPOP3Client> session,
                core::TPrompter& prompter, TDeleteObserver* observer = nullptr);
    void SetReplyTimeoutMs(int ms) { Client_->SetReplyTimeoutMs(ms); }

    // `rows` are indices into the account's Mails (the trash list), `serverCount` the number of
    // messages the server held at the last receive, lowered here by one for each deletion. True when
    // the session ran to its end, also after Stop; DeletedRows() then names the records whose
    // messages are gone from the server. False when the verification refused. Connection errors
    // and an unconfirmed end of the session throw (nothing is known to be deleted then).
    bool Delete(const std::vector<std::size_t>& rows, std::int32_t& serverCount);
    const std::vector<std::size_t>& DeletedRows() const { return Deleted_; }
    // Errors met on the way that did not end the session (a DELE refused every time).
    const std::vector<std::string>& Errors() const { return Errors_; }

    // Stops the deletion from any thread. While the session waits for the server's login delay,
    // connects or verifies, it is cut at once
    // (nothing is marked yet, so nothing is deleted) and Delete returns false without a message; a
    // server that hangs there cannot hold the deletion. In the deletion loop it stops once the
    // DELEs already sent are answered, and the session is closed with QUIT, so the messages marked
    // so far are deleted.
    void Stop();

private:
    bool Verify(const std::vector<std::size_t>& rows, std::int32_t serverCount);
    // UIDL n (when `withUidl`) and then TOP n 0, each awaited, for a server without PIPELINING; a
    // message that either refuses throws TProtocolError.
    retrieval::TPOP3Client::TIdentity AskIdentity(std::int32_t n, bool withUidl);
    void DeleteVerified(const std::vector<std::size_t>& rows, std::int32_t& serverCount);
    bool Refuse();
    void Status(const std::string& text);
    // Logs in, after the server's login delay; false when stopped during the wait.
    bool Open();

    accounts::TUser& User_;
    core::TPrompter& Prompter_;
    TDeleteObserver* Observer_;
    std::unique_ptr<retrieval::TPOP3Client> Client_;
    std::atomic<bool> GoOn_{true};
    std::mutex PhaseMutex_; // orders Stop against the start of the deletion loop
    std::condition_variable StopSignal_;
    bool Deleting_ = false;
    std::vector<std::size_t> Deleted_;
    std::vector<std::string> Errors_;
};

} // namespace tarnwick::engine
