#include "TDeleteMail.h"

#include <map>

#include "core/MessageTexts.h"
#include "core/TPrompter.h"
#include "retrieval/Pop3Errors.h"

namespace tarnwick::engine {

TDeleteMail::TDeleteMail(accounts::TUser& user, std::string cacheFolder, core::TPrompter& prompter,
                         TDeleteObserver* observer)
    : User_(user)
    , Prompter_(prompter)
    , Observer_(observer)
    , Client_(user.ID(), user.Settings, std::move(cacheFolder))
{}

void TDeleteMail::Status(const std::string& text)
{
    if (Observer_)
        Observer_->SetStatus(text);
}

bool TDeleteMail::Refuse()
{
    Client_.Close();
    Prompter_.Inform(core::TMessageKind::Information, std::string(core::texts::NotSynchronized));
    return false;
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

    const std::int32_t count = Client_.MessageCount();
    if (count < last->Number)
        return Refuse();
    // A count that differs either way means that another program changed the maildrop.
    if (count != serverCount || Client_.Header(last->Number).CacheName != last->CacheName)
        return Refuse();

    std::optional<std::vector<retrieval::TUidlEntry>> ids;
    try {
        ids = Client_.Uidl();
    } catch (const retrieval::TProtocolError&) {
        return Refuse(); // a malformed list proves nothing
    }
    std::vector<const accounts::TMailMessage*> checked{last};
    for (const std::size_t row : rows) {
        const accounts::TMailMessage* record = row < User_.Mails.Count() ? User_.Mails.At(row) : nullptr;
        if (!record)
            throw TDeleteError("The trash names a message that is no longer in the list");
        checked.push_back(record);
    }
    if (!ids) {
        // Without UIDL now, ids recorded at download time cannot be confirmed.
        for (const accounts::TMailMessage* record : checked)
            if (!record->UniqueId.empty())
                return Refuse();
        return true;
    }
    std::map<std::int32_t, std::string> byNumber;
    for (retrieval::TUidlEntry& entry : *ids)
        byNumber[entry.Number] = std::move(entry.UniqueId);
    for (const accounts::TMailMessage* record : checked) {
        const auto found = byNumber.find(record->Number);
        if (record->UniqueId.empty() || found == byNumber.end() || found->second != record->UniqueId)
            return Refuse();
    }
    return true;
}

void TDeleteMail::Stop()
{
    std::lock_guard lock(PhaseMutex_);
    GoOn_ = false;
    // Before the loop no DELE was sent: cutting the session loses nothing. In the loop the session
    // must end with QUIT, or the server would forget what was marked.
    if (!Deleting_)
        Client_.Abort();
}

bool TDeleteMail::Delete(const std::vector<std::size_t>& rows, std::int32_t& serverCount)
{
    Deleted_.clear();
    Errors_.clear();
    {
        std::lock_guard lock(PhaseMutex_);
        Deleting_ = false;
    }
    const std::size_t total = rows.size();

    try {
        Status("Connecting ...");
        Client_.Open();
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
            Client_.Close();
            return false;
        }
        Deleting_ = true;
    }

    Status("Deleting ...");
    std::size_t j = 0;
    int attempts = 0;
    while (j < total && GoOn_) {
        const std::int32_t number = User_.Mails.At(rows[j])->Number;
        try {
            Client_.Delete(number);
            --serverCount;
            Deleted_.push_back(rows[j]);
            ++j;
            attempts = 0;
        } catch (const retrieval::TUnrecognizedReplyError&) {
            throw;
        } catch (const retrieval::TProtocolError& error) {
            // The same message is tried again; a server that keeps refusing ends the loop there,
            // and what was marked so far is still deleted.
            if (++attempts >= MaxDeleteAttempts) {
                Errors_.push_back("The server refused to delete message " + std::to_string(number) + ": " +
                                  error.what());
                GoOn_ = false;
            }
        }
        if (Observer_)
            Observer_->SetProgress(total ? static_cast<int>(Deleted_.size() * 100 / total) : 100);
    }

    Status("Disconnecting ...");
    if (!Client_.Close() && !Deleted_.empty()) {
        Deleted_.clear();
        throw TDeleteError("The mail server did not confirm the end of the session, so it is not known "
                           "which messages were deleted. Please download your messages again.");
    }
    return true;
}

} // namespace tarnwick::engine
