#include "TPOP3ClientThread.h"

#include "TReceiveState.h"
#include "retrieval/Pop3Errors.h"

namespace tarnwick::engine {

TPOP3ClientThread::TPOP3ClientThread(TReceiveState& state, const accounts::TUserID& user,
                                     const accounts::TReceiveSettings& settings,
                                     const std::string& cacheFolder,
                                     std::unique_ptr<classify::TDispatchMail> classifier, int replyTimeoutMs)
    : State_(state)
    , Where_(user.Host + ":" + std::to_string(user.Port))
    , Settings_(settings)
    , Session_(std::make_unique<retrieval::TPOP3Client>(user, settings, cacheFolder))
    , Client_(*Session_)
    , Classifier_(std::move(classifier))
{
    Client_.SetReplyTimeoutMs(replyTimeoutMs);
    Thread_ = std::thread([this] { Run(); });
}

TPOP3ClientThread::TPOP3ClientThread(TReceiveState& state, const accounts::TUserID& user,
                                     const accounts::TReceiveSettings& settings,
                                     std::unique_ptr<retrieval::TPOP3Client> session,
                                     std::unique_ptr<classify::TDispatchMail> classifier)
    : State_(state)
    , Where_(user.Host + ":" + std::to_string(user.Port))
    , Settings_(settings)
    , Session_(std::move(session))
    , Client_(*Session_)
    , KeepSession_(true)
    , Classifier_(std::move(classifier))
{
    Thread_ = std::thread([this] { Run(); });
}

std::unique_ptr<retrieval::TPOP3Client> TPOP3ClientThread::TakeSession()
{
    Join();
    return std::move(Session_);
}

TPOP3ClientThread::~TPOP3ClientThread()
{
    Terminate();
    Join();
}

void TPOP3ClientThread::Terminate() noexcept
{
    Terminated_ = true;
    if (Session_)
        Session_->Abort();
    // A block-list lookup under way stops too, so that Stop and exit never wait for DNS.
    if (Classifier_)
        Classifier_->Abort();
}

void TPOP3ClientThread::Join()
{
    if (Thread_.joinable())
        Thread_.join();
}

std::string TPOP3ClientThread::Cause(const std::exception& error) const
{
    return WithServer(Where_, error);
}

void TPOP3ClientThread::Run()
{
    // Whatever goes wrong in here ends this worker only; the numbers it held went back on the way.
    try {
        Work();
    } catch (const std::exception& error) {
        State_.LoginFailed(Cause(error));
    } catch (...) {
        State_.LoginFailed(Where_ + ": the download worker failed");
    }
    // The records still waiting for their lookups are listed before the receive hears of the end.
    CompleteAll();
    State_.WorkerEnded();
}

void TPOP3ClientThread::Work()
{
    if (!KeepSession_) {
        try {
            Client_.Open();
        } catch (const retrieval::TLoginRefusedError& error) {
            if (!Terminated_ && !State_.StopRequested())
                State_.LoginFailed(retrieval::LoginRefusalText(Where_, error));
            return;
        } catch (const std::exception& error) {
            // A worker that cannot log in ends; the others take its share. Why it could not is
            // kept for the report of a receive that ends with messages missing.
            if (!Terminated_ && !State_.StopRequested())
                State_.LoginFailed(Cause(error));
            return;
        }
        State_.CountSession();
    }
    Opened_ = true;
    State_.AnnounceRetrieving();

    bool pipelining = false;
    bool uidlPerMessage = false;
    if (!Settings_.FullMessage) {
        const retrieval::TCapabilities& capabilities = Client_.Capabilities();
        pipelining = capabilities.Pipelining;
        uidlPerMessage = capabilities.Uidl;
    }
    if (!uidlPerMessage) {
        // The unique ids of this session's numbering, kept with each record so that a deletion can
        // prove later that a number still means the same message. The session is read one reply at
        // a time and each listing is checked against its number, so within it a number names one
        // message throughout.
        try {
            if (const auto ids = Client_.Uidl())
                for (const retrieval::TUidlEntry& entry : *ids)
                    UniqueIds_[entry.Number] = entry.UniqueId;
        } catch (const retrieval::TProtocolError&) {
            UniqueIds_.clear();
        }
    }
    if (pipelining)
        RunPipelined(uidlPerMessage);
    else
        RunOneByOne();
    if (!KeepSession_)
        Client_.Close();
}

void TPOP3ClientThread::RunOneByOne()
{
    while (!Terminated_ && !State_.StopRequested()) {
        const std::optional<std::int32_t> n = State_.Take();
        if (!n)
            break;
        try {
            Handle(*n, Client_.Fetch(*n));
        } catch (const retrieval::TProtocolError& error) {
            // The server refused this message; the session is still in step and goes on.
            State_.Refused(*n, Cause(error));
        } catch (const std::exception& error) {
            if (!Terminated_ && !State_.StopRequested())
                State_.Broken(*n, Cause(error));
            else
                State_.Return(*n);
            State_.ShowProgress();
            return;
        }
        State_.ShowProgress();
    }
}

void TPOP3ClientThread::RunPipelined(bool withUidl)
{
    // Up to PipelineDepth messages are in flight: their commands are sent before the replies of the
    // earlier ones are read, so the round trips overlap. Numbers come from the shared counter as
    // they are sent; every reply is checked against the message it must answer, so a server that
    // gets out of step ends the session instead of filing a header under another number. With the
    // counting session's listing a message needs only "UIDL n" and "TOP n 0".
    struct TInFlight
    {
        std::int32_t Number;
        bool Listed; // asked with UIDL n and TOP n 0 only
    };
    std::deque<TInFlight> inFlight;
    bool broken = false;
    for (;;) {
        while (!broken && inFlight.size() < PipelineDepth && !Terminated_ && !State_.StopRequested()) {
            const std::optional<std::int32_t> n = State_.Take();
            if (!n)
                break;
            const bool listed = withUidl && State_.Listing();
            inFlight.push_back({*n, listed});
            try {
                if (listed)
                    Client_.SendIdentities({*n}, true);
                else
                    Client_.SendFetch(*n, withUidl);
            } catch (const std::exception&) {
                broken = true;
            }
        }
        if (inFlight.empty() || broken)
            break;
        const auto [n, listed] = inFlight.front();
        inFlight.pop_front();
        try {
            if (!listed) {
                Handle(n, Client_.ReadFetch(n, withUidl));
            } else if (std::optional<retrieval::TFetchResult> fetched = ReadListed(n)) {
                Handle(n, std::move(*fetched));
            } else {
                // The session numbers its messages otherwise than the counting session did (another
                // program changed the maildrop): the listing no longer holds for anyone, and the
                // message is fetched again with LIST n.
                State_.DropListing();
                State_.Return(n);
            }
        } catch (const retrieval::TProtocolError& error) {
            // The server refused this message after all its replies were read: still in step.
            State_.Refused(n, Cause(error));
        } catch (const std::exception& error) {
            broken = true;
            if (!Terminated_ && !State_.StopRequested())
                State_.Broken(n, Cause(error));
            else
                State_.Return(n);
        }
        State_.ShowProgress();
        if (broken)
            break;
    }
    // Numbers asked for on a broken session were never answered: they go back as they were.
    for (const TInFlight& message : inFlight)
        State_.Return(message.Number);
}

std::optional<retrieval::TFetchResult> TPOP3ClientThread::ReadListed(std::int32_t n)
{
    retrieval::TPOP3Client::TIdentity identity = Client_.ReadIdentity(n, true);
    const retrieval::TMaildropListing* listing = State_.Listing();
    const auto at = static_cast<std::size_t>(n - 1);
    if (!listing || at >= listing->Sizes.size() || listing->Sizes[at] < 0 ||
        listing->UniqueIds[at] != identity.UniqueId)
        return std::nullopt;
    return retrieval::TFetchResult{std::move(identity.Header.Header),
                                   std::move(identity.Header.CacheName),
                                   listing->Sizes[at],
                                   std::move(identity.UniqueId),
                                   {},
                                   {}};
}

void TPOP3ClientThread::Handle(std::int32_t n, retrieval::TFetchResult fetched)
{
    if (!fetched.CacheError.empty())
        State_.ReportOnce(fetched.CacheError);
    TWaitingRecord waiting;
    waiting.Number = n;
    waiting.Record =
        std::move(Decoder_.Decode(std::move(fetched.Header), fetched.Size, n, fetched.CacheName));
    if (!fetched.UniqueId.empty())
        waiting.Record.UniqueId = std::move(fetched.UniqueId);
    else if (const auto id = UniqueIds_.find(n); id != UniqueIds_.end())
        waiting.Record.UniqueId = id->second;
    try {
        waiting.Classification = Classifier_->Begin(waiting.Record);
    } catch (const std::exception& error) {
        waiting.Error = error.what();
    }
    Waiting_.push_back(std::move(waiting));
    // From here on the message is the queue's: nothing below throws.
    while (Waiting_.size() > MaxWaiting)
        CompleteFront();
    CompleteReady();
}

void TPOP3ClientThread::CompleteReady()
{
    while (!Waiting_.empty() &&
           (!Waiting_.front().Classification || Waiting_.front().Classification->Ready()))
        CompleteFront();
}

void TPOP3ClientThread::CompleteAll()
{
    while (!Waiting_.empty())
        CompleteFront();
}

void TPOP3ClientThread::CompleteFront()
{
    TWaitingRecord waiting = std::move(Waiting_.front());
    Waiting_.pop_front();
    const std::int32_t n = waiting.Number;
    try {
        std::uint8_t result = classify::ResultGood;
        std::string reason;
        if (waiting.Classification) {
            try {
                const classify::TClassifyReport report = waiting.Classification->Finish();
                result = report.Result;
                reason = classify::ReasonText(report);
            } catch (const std::exception& error) {
                waiting.Error = error.what();
            }
        }
        if (!waiting.Error.empty())
            reason = "The message could not be classified (" + waiting.Error + "), so it is listed as good.";
        // The message is listed unclassified rather than lost.
        if (!waiting.Error.empty())
            State_.Notify([&](TReceiveObserver& o) {
                o.AddError("Message " + std::to_string(n) + " could not be classified: " + waiting.Error);
            });
        // After Stop the lookups answer nothing, so the verdict would not be the list's: the message
        // is left for the next receive instead of being listed as good.
        if (Terminated_ || State_.StopRequested()) {
            State_.Return(n);
            return;
        }
        bool shown = true;
        accounts::TMailMessage& record = waiting.Record;
        record.Reason = std::move(reason);
        if (result == classify::ResultTrash) {
            record.Trashed = true;
            shown = false;
        } else if (result == classify::ResultSpam) {
            record.Subject.insert(0, " [ Spam ] ");
        } else if (result == classify::ResultQuestionable) {
            record.Subject.insert(0, " [ Questionable ] ");
        }
        State_.AddRecord(std::move(record), shown);
    } catch (const std::exception& error) {
        // As when handling the message failed while it was read: it goes back once, then is given up.
        State_.Broken(n, Cause(error));
    }
}

} // namespace tarnwick::engine
