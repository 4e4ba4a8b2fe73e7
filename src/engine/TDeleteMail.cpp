#include "TDeleteMail.h"

#include <algorithm>
#include <deque>

#include "OpenPaced.h"
#include "core/MessageTexts.h"
#include "core/TPrompter.h"
#include "retrieval/Pop3Errors.h"

namespace tarnwick::engine {

TDeleteMail::TDeleteMail(accounts::TUser& user, std::string cacheFolder, core::TPrompter& prompter,
                         TDeleteObserver* observer)
    : User_(user)
    , Prompter_(prompter)
    , Observer_(observer)
    , Client_(std::make_unique<retrieval::TPOP3Client>(user.ID(), user.Settings, std::move(cacheFolder)))
{}

TDeleteMail::TDeleteMail(accounts::TUser& user, std::unique_ptr<retrieval::TPOP3Client> session,
                         core::TPrompter& prompter, TDeleteObserver* observer)
    : User_(user)
    , Prompter_(prompter)
    , Observer_(observer)
    , Client_(std::move(session))
{}

bool TDeleteMail::Open()
{
    if (Client_->IsOpen())
        return true;
    try {
        return OpenPaced(
            *Client_, User_.LoginPacing,
            [this](std::int64_t left, std::int32_t delay) { Status(LoginWaitText(left, delay)); },
            [this](std::chrono::steady_clock::duration wait) {
                std::unique_lock lock(PhaseMutex_);
                StopSignal_.wait_for(lock, wait, [this] { return !GoOn_.load(); });
                return GoOn_.load();
            });
    } catch (const retrieval::TLoginRefusedError& error) {
        const accounts::TUserID& id = User_.ID();
        throw TDeleteError(retrieval::LoginRefusalText(id.Host + ":" + std::to_string(id.Port), error) +
                           ". Nothing was deleted.");
    }
}

void TDeleteMail::Status(const std::string& text)
{
    if (Observer_)
        Observer_->SetStatus(text);
}

bool TDeleteMail::Refuse()
{
    Client_->Close();
    Prompter_.Inform(core::TMessageKind::Information, std::string(core::texts::NotSynchronized));
    return false;
}

retrieval::TPOP3Client::TIdentity TDeleteMail::AskIdentity(std::int32_t n, bool withUidl)
{
    retrieval::TPOP3Client::TIdentity identity;
    if (withUidl) {
        std::optional<std::string> uid = Client_->Uidl(n);
        if (!uid)
            throw retrieval::TProtocolError("The server gives no unique id of message " + std::to_string(n));
        identity.UniqueId = std::move(*uid);
    }
    identity.Header = Client_->Header(n);
    return identity;
}

bool TDeleteMail::Verify(const std::vector<std::size_t>& rows, std::int32_t serverCount)
{
    // The last message of the last receive: the record with the highest number (the workers of a
    // receive add records in the order they arrive, not in server order).
    const accounts::TMailMessage* last = nullptr;
    for (std::size_t i = 0; i < User_.Mails.Count(); ++i)
        if (const accounts::TMailMessage* record = User_.Mails.At(i);
            record && (!last || record->Number > last->Number))
            last = record;
    if (!last)
        return Refuse();

    const std::int32_t count = Client_->MessageCount();
    if (count < last->Number)
        return Refuse();
    // A count that differs either way means that another program changed the maildrop.
    if (count != serverCount)
        return Refuse();

    // Whether the server gives unique ids now; asked of the last message, which must exist.
    const std::optional<std::string> lastId = Client_->Uidl(last->Number);
    const bool withUidl = lastId.has_value();

    // Every message to delete, and the last one, must still be where it was: the same cache name
    // from its header and the same unique id, or, on a server without unique ids, the same header
    // lines. The checks are sent ahead in groups when the server offers PIPELINING, so they cost a
    // round trip per group, not per message; a server without it gets one command at a time.
    std::vector<const accounts::TMailMessage*> checked{last};
    for (const std::size_t row : rows)
        checked.push_back(User_.Mails.At(row));
    const bool pipelining = Client_->SupportsPipelining();
    const std::size_t group = pipelining ? PipelineDepth : 1;
    for (std::size_t from = 0; from < checked.size(); from += group) {
        const std::size_t to = std::min(checked.size(), from + group);
        if (pipelining) {
            std::vector<std::int32_t> numbers;
            for (std::size_t i = from; i < to; ++i)
                numbers.push_back(checked[i]->Number);
            Client_->SendIdentities(numbers, withUidl);
        }
        bool same = true;
        for (std::size_t i = from; i < to; ++i) {
            const accounts::TMailMessage& record = *checked[i];
            try {
                const retrieval::TPOP3Client::TIdentity identity =
                    pipelining ? Client_->ReadIdentity(record.Number, withUidl)
                               : AskIdentity(record.Number, withUidl);
                same = same && identity.Header.CacheName == record.CacheName &&
                       (withUidl ? !record.UniqueId.empty() && identity.UniqueId == record.UniqueId
                                 : record.UniqueId.empty() && identity.Header.Header.Lines == record.Headers);
            } catch (const retrieval::TProtocolError&) {
                same = false; // the server no longer gives this message: the list is out of date
            }
        }
        if (!same)
            return Refuse();
    }
    return true;
}

void TDeleteMail::Stop()
{
    std::unique_lock lock(PhaseMutex_);
    GoOn_ = false;
    StopSignal_.notify_all();
    // Before the loop no DELE was sent: cutting the session loses nothing. In the loop the session
    // must end with QUIT, or the server would forget what was marked.
    if (!Deleting_)
        Client_->Abort();
}

bool TDeleteMail::Delete(const std::vector<std::size_t>& trash, std::int32_t& serverCount)
{
    Deleted_.clear();
    Errors_.clear();
    {
        std::lock_guard lock(PhaseMutex_);
        Deleting_ = false;
    }
    // Only records in the trash are ever deleted, whatever the caller names.
    std::vector<std::size_t> rows;
    for (const std::size_t row : trash) {
        const accounts::TMailMessage* record = row < User_.Mails.Count() ? User_.Mails.At(row) : nullptr;
        if (!record)
            throw TDeleteError("The trash names a message that is no longer in the list");
        if (record->Trashed)
            rows.push_back(row);
    }
    const std::size_t total = rows.size();

    try {
        Status("Connecting ...");
        if (!Open())
            return false; // stopped while waiting for the server's login delay
        Status("Verifing ...");
        if (!Verify(rows, serverCount))
            return false;
    } catch (const retrieval::TConnectionError&) {
        if (!GoOn_)
            return false; // cut by Stop before anything was marked
        throw;
    }
    {
        std::lock_guard lock(PhaseMutex_);
        if (!GoOn_) {
            Client_->Close();
            return false;
        }
        Deleting_ = true;
    }

    Status("Deleting ...");
    try {
        DeleteVerified(rows, serverCount);
    } catch (const std::exception& error) {
        // The server's answer to a DELE did not come or did not belong to it, so what it marked is
        // in doubt. The session is dropped without QUIT: the server then deletes nothing of it.
        Client_->Abort();
        serverCount += static_cast<std::int32_t>(Deleted_.size());
        Deleted_.clear();
        throw TDeleteError(std::string("The deletion was stopped, because ") + error.what() +
                           ". Nothing was deleted on the server.");
    }
    if (Observer_ && total == 0)
        Observer_->SetProgress(100);

    Status("Disconnecting ...");
    if (!Client_->Close() && !Deleted_.empty()) {
        serverCount += static_cast<std::int32_t>(Deleted_.size());
        Deleted_.clear();
        throw TDeleteError("The mail server did not confirm the end of the session, so it is not known "
                           "which messages were deleted. Please download your messages again.");
    }
    return true;
}

void TDeleteMail::DeleteVerified(const std::vector<std::size_t>& rows, std::int32_t& serverCount)
{
    // When the server offers PIPELINING the DELEs go out in batches: a batch is written at once and
    // then its replies are read, one per DELE in the order sent, so that a batch costs one round trip
    // and neither side can block on a full socket buffer. The batches start at one DELE and double up
    // to PipelineDepth, so that a Stop soon after the start, or a server that refuses every DELE,
    // costs little. Without PIPELINING every batch is one DELE.
    // Stop takes effect between two batches: the DELEs already sent are answered first, and the
    // session then ends with QUIT, so that what was marked goes. A refused DELE leads the next batch,
    // up to MaxDeleteAttempts times; one refused every time ends the deletion after its batch.
    struct TPending
    {
        std::size_t Row;
        int Attempts = 0;
    };
    const std::size_t total = rows.size();
    const std::size_t deepest = Client_->SupportsPipelining() ? PipelineDepth : 1;
    std::deque<TPending> pending;
    for (const std::size_t row : rows)
        pending.push_back({row});
    std::size_t depth = 1;
    bool gaveUp = false;
    while (!pending.empty() && GoOn_ && !gaveUp) {
        std::vector<TPending> batch;
        std::vector<std::int32_t> numbers;
        while (!pending.empty() && batch.size() < depth) {
            batch.push_back(pending.front());
            numbers.push_back(User_.Mails.At(pending.front().Row)->Number);
            pending.pop_front();
        }
        depth = std::min(depth * 2, deepest);

        Client_->SendDeletes(numbers);
        std::vector<TPending> refused;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            try {
                Client_->ReadDelete();
                --serverCount;
                Deleted_.push_back(batch[i].Row);
            } catch (const retrieval::TProtocolError& error) {
                // The session is still in step: the reply was a refusal, not a stray line.
                if (++batch[i].Attempts < MaxDeleteAttempts) {
                    refused.push_back(batch[i]);
                } else {
                    // A server that keeps refusing ends the deletion; what was marked still goes.
                    Errors_.push_back("The server refused to delete message " + std::to_string(numbers[i]) +
                                      ": " + error.what());
                    gaveUp = true;
                }
            }
            if (Observer_)
                Observer_->SetProgress(total ? static_cast<int>(Deleted_.size() * 100 / total) : 100);
        }
        pending.insert(pending.begin(), refused.begin(), refused.end());
    }
}

} // namespace tarnwick::engine
