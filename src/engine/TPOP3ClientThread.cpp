#include "TPOP3ClientThread.h"

#include <deque>

#include "TReceiveState.h"
#include "retrieval/Pop3Errors.h"

namespace tarnwick::engine {

TPOP3ClientThread::TPOP3ClientThread(TReceiveState& state, const accounts::TUserID& user,
                                     const accounts::TReceiveSettings& settings,
                                     const std::string& cacheFolder,
                                     std::unique_ptr<classify::TDispatchMail> classifier, int replyTimeoutMs)
    : State_(state)
    , Settings_(settings)
    , Client_(user, settings, cacheFolder)
    , Classifier_(std::move(classifier))
{
    Client_.SetReplyTimeoutMs(replyTimeoutMs);
    Thread_ = std::thread([this] { Run(); });
}

TPOP3ClientThread::~TPOP3ClientThread()
{
    Terminate();
    Join();
}

void TPOP3ClientThread::Terminate() noexcept
{
    Terminated_ = true;
    Client_.Abort();
}

void TPOP3ClientThread::Join()
{
    if (Thread_.joinable())
        Thread_.join();
}

void TPOP3ClientThread::Run()
{
    try {
        Client_.Open();
        Opened_ = true;
        State_.CountSession();
        // The unique ids of this session's numbering, kept with each record so that a deletion can
        // prove later that a number still means the same message.
        try {
            if (const auto ids = Client_.Uidl())
                for (const retrieval::TUidlEntry& entry : *ids)
                    UniqueIds_[entry.Number] = entry.UniqueId;
        } catch (const retrieval::TProtocolError&) {
            UniqueIds_.clear();
        }
    } catch (const core::TError&) {
        // A worker that cannot log in ends silently; the others take its share.
        State_.WorkerEnded();
        return;
    }

    State_.AnnounceRetrieving();
    bool pipelining = false;
    if (!Settings_.FullMessage) {
        try {
            pipelining = Client_.SupportsPipelining();
        } catch (const core::TError&) {
            State_.WorkerEnded();
            return;
        }
    }
    if (pipelining)
        RunPipelined();
    else
        RunOneByOne();
    Client_.Close();
    State_.WorkerEnded();
}

void TPOP3ClientThread::RunOneByOne()
{
    while (!Terminated_ && !State_.StopRequested()) {
        const std::optional<std::int32_t> n = State_.Take();
        if (!n)
            break;
        bool failed = false;
        try {
            Handle(*n, Client_.Fetch(*n));
        } catch (const core::TError&) {
            failed = true;
            if (!Terminated_ && !State_.StopRequested())
                State_.HandBack(*n);
        }
        State_.ShowProgress();
        if (failed)
            break;
    }
}

void TPOP3ClientThread::RunPipelined()
{
    // Up to PipelineDepth messages are in flight: their commands are sent before the replies of the
    // earlier ones are read, so the round trips overlap. Numbers come from the shared counter as
    // they are sent.
    std::deque<std::int32_t> inFlight;
    bool failed = false;
    bool broken = false;
    for (;;) {
        while (!failed && inFlight.size() < PipelineDepth && !Terminated_ && !State_.StopRequested()) {
            const std::optional<std::int32_t> n = State_.Take();
            if (!n)
                break;
            try {
                Client_.SendFetch(*n);
            } catch (const core::TError&) {
                State_.Return(*n);
                failed = broken = true;
                break;
            }
            inFlight.push_back(*n);
        }
        if (inFlight.empty() || broken)
            break;
        const std::int32_t n = inFlight.front();
        inFlight.pop_front();
        try {
            Handle(n, Client_.ReadFetch(n));
        } catch (const retrieval::TProtocolError&) {
            // The server refused this message; the session is still in step, so the messages
            // already asked for are read, and then the worker ends.
            failed = true;
            if (!Terminated_ && !State_.StopRequested())
                State_.HandBack(n);
        } catch (const core::TError&) {
            failed = broken = true;
            if (!Terminated_ && !State_.StopRequested())
                State_.HandBack(n);
        }
        State_.ShowProgress();
    }
    // Numbers asked for on a broken session were never answered: they go back as they were.
    for (const std::int32_t n : inFlight)
        State_.Return(n);
}

void TPOP3ClientThread::Handle(std::int32_t n, retrieval::TFetchResult fetched)
{
    accounts::TMailMessage& record =
        Decoder_.Decode(std::move(fetched.Header), fetched.Size, n, fetched.CacheName);
    if (const auto id = UniqueIds_.find(n); id != UniqueIds_.end())
        record.UniqueId = id->second;
    const std::uint8_t result = Classifier_->ClassifyMessage(record);
    bool shown = true;
    if (result == classify::ResultTrash) {
        record.Trashed = true;
        shown = false;
    } else if (result == classify::ResultSpam) {
        Decoder_.PrefixSubject(" [ Spam ] ");
    } else if (result == classify::ResultQuestionable) {
        Decoder_.PrefixSubject(" [ Questionable ] ");
    }
    State_.AddRecord(Decoder_.Record(), shown);
}

} // namespace tarnwick::engine
