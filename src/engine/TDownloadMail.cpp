#include "TDownloadMail.h"

#include <algorithm>

#include "DownloadLock.h"
#include "OpenPaced.h"
#include "TPOP3ClientThread.h"
#include "TReceiveState.h"
#include "classify/TDispatchMail.h"
#include "classify/TDnsResolver.h"
#include "classify/TLookupCache.h"
#include "classify/TReadDatabaseSettings.h"
#include "classify/TSearchAddress.h"
#include "core/MessageTexts.h"
#include "retrieval/Pop3Errors.h"

namespace tarnwick::engine {

namespace texts = core::texts;

namespace {

constexpr const char* ConnectionLost = "Connection with POP3 server was lost !";
constexpr const char* MessagesMissing =
    "Connection with POP3 server was lost! Some messages could not be retrieved.";
// Messages given up that are named one by one in the error list; the rest are counted.
constexpr std::size_t MaxMissingShown = 20;

// The enabled entries of the spam-database file, as the task row counts them.
int EnabledDatabaseCount()
{
    try {
        classify::TReadDatabaseSettings settings(classify::TReadDatabaseSettings::DefaultPath());
        settings.ReadServers();
        return static_cast<int>(
            std::count_if(settings.Entries().begin(), settings.Entries().end(),
                          [](const classify::TDatabaseEntry& e) { return e.Value == "-1"; }));
    } catch (const core::TError&) {
        return 0;
    }
}

} // namespace

TDownloadMail::TDownloadMail(accounts::TUser& user, TReceiveObserver& observer, TReceiveConfig config)
    : User_(user)
    , Observer_(observer)
    , Config_(std::move(config))
    , ID_(user.ID())
    , Settings_(user.Settings)
{
    try {
        DnsCancel_ = std::make_shared<classify::TDnsCancel>();
        DnsCache_ = std::make_shared<classify::TLookupCache>(DnsCancel_);
    } catch (const core::TError&) {
        // Without a shared signal each worker's lookup is still stopped through its classifier.
    }
    if (!Config_.MakeClassifier)
        Config_.MakeClassifier = [cache = DnsCache_](const accounts::TUserID& id,
                                                     const std::vector<std::string>& zones,
                                                     const classify::TListsState& lists) {
            // Without the shared cache (no stop signal could be made) each classifier has its own.
            return std::make_unique<classify::TDispatchMail>(
                id, std::make_unique<classify::TSearchAddress>(zones, cache),
                classify::TClassifySources::WithLists(lists));
        };
    if (!Config_.Lists)
        Config_.Lists = [] { return classify::AddressLists().Snapshot(); };
}

TDownloadMail::~TDownloadMail()
{
    Stop();
    if (Thread_.joinable())
        Thread_.join();
    Workers_.clear();
}

bool TDownloadMail::Start()
{
    {
        std::lock_guard lock(DownloadLock());
        User_.Mails.Clear();
        User_.TrashNotEmpty = false;
    }
    ID_ = User_.ID();
    Settings_ = User_.Settings;
    State_ = std::make_unique<TReceiveState>(User_, Observer_, ID_.DisplayName);
    // One snapshot for the whole receive: its workers never see a list change half way through it.
    Lists_ = Config_.Lists();

    const int servers = Config_.Zones ? static_cast<int>(Config_.Zones->size()) : EnabledDatabaseCount();
    const std::size_t speed = static_cast<std::size_t>(
        std::clamp<std::int32_t>(Config_.DownloadSpeed, 0, texts::SpeedNames.size() - 1));
    State_->Notify([&](TReceiveObserver& o) {
        o.SetTask("'" + ID_.Host + "'", std::string(texts::Executing), servers);
        o.SetCaption(std::string(texts::ReceivingMessagesFor) + ID_.DisplayName + "'");
        o.SetStatusBar(std::string(texts::DownloadSpeed) + std::string(texts::SpeedNames[speed]));
    });

    if ((!ID_.RememberPassword || ID_.Password.empty()) && Config_.PasswordPrompt) {
        const auto answer = Config_.PasswordPrompt(ID_);
        if (!answer) {
            Report_.Outcome = TReceiveOutcome::Cancelled;
            State_->Notify([](TReceiveObserver& o) { o.Finished(TReceiveOutcome::Cancelled); });
            return false;
        }
        User_.MutableID().Password = answer->first;
        if (answer->second) {
            User_.MutableID().RememberPassword = true;
            if (Config_.SaveAccount)
                Config_.SaveAccount();
        }
        ID_ = User_.ID();
    }
    Thread_ = std::thread([this] { RunReceive(); });
    return true;
}

void TDownloadMail::Stop()
{
    if (!State_)
        return;
    State_->RequestStop();
    if (DnsCancel_)
        DnsCancel_->Cancel();
    std::lock_guard lock(ClientsMutex_);
    if (Counter_)
        Counter_->Abort();
    for (const auto& worker : Workers_)
        worker->Terminate();
}

TReceiveReport TDownloadMail::Wait()
{
    if (Thread_.joinable())
        Thread_.join();
    return Report_;
}

TReceiveReport TDownloadMail::Run()
{
    if (!Start())
        return Report_;
    return Wait();
}

void TDownloadMail::Finish(TReceiveOutcome outcome, const std::string& taskStatus)
{
    {
        std::lock_guard lock(DownloadLock());
        User_.SyncedCount = static_cast<std::int32_t>(User_.Mails.Count());
    }
    Report_.Outcome = outcome;
    Report_.ServerCount = State_->ServerCount();
    Report_.TakenCount = State_->TakenCount();
    Report_.Listed = State_->ListedCount();
    Report_.Sessions = State_->Sessions();
    State_->Notify([&](TReceiveObserver& o) {
        if (!taskStatus.empty())
            o.SetTask(std::nullopt, taskStatus, std::nullopt);
        o.Finished(outcome);
    });
}

void TDownloadMail::StartWorkers(std::size_t count, const std::vector<std::string>& zones)
{
    std::lock_guard lock(ClientsMutex_);
    for (std::size_t i = 0; i < count && !State_->StopRequested(); ++i) {
        Workers_.push_back(std::make_unique<TPOP3ClientThread>(*State_, ID_, Settings_, Config_.CacheFolder,
                                                               Config_.MakeClassifier(ID_, zones, Lists_),
                                                               Config_.ReplyTimeoutMs));
        ++Report_.Workers;
    }
}

void TDownloadMail::RunReceive()
{
    // Nothing that goes wrong may leave this thread: the receive then ends as lost, with the cause.
    try {
        Receive();
    } catch (const std::exception& error) {
        State_->Notify([&](TReceiveObserver& o) { o.AddError(Cause(error)); });
        CounterSessionLost({});
    } catch (...) {
        CounterSessionLost(Where() + ": the receive failed");
    }
}

std::string TDownloadMail::Where() const
{
    return ID_.Host + ":" + std::to_string(ID_.Port);
}

std::string TDownloadMail::Cause(const std::exception& error) const
{
    return WithServer(Where(), error);
}

void TDownloadMail::Receive()
{
    const std::string host = "'" + ID_.Host + "'";
    State_->Notify([&](TReceiveObserver& o) {
        o.SetOverallStatus(std::string(texts::CheckingForNewMessages) + host);
        o.SetStatus("Authorizing ...");
    });

    std::vector<std::string> zones;
    if (Config_.Zones) {
        zones = *Config_.Zones;
    } else {
        try {
            classify::TReadDatabaseSettings settings(classify::TReadDatabaseSettings::DefaultPath());
            settings.ReadServers();
            const classify::TZoneTest tested = classify::SelfTestZones(settings.EnabledServers(), DnsCancel_);
            zones = tested.Usable;
            for (const std::string& error : tested.Errors)
                State_->Notify([&](TReceiveObserver& o) { o.AddError(error); });
        } catch (const core::TError& error) {
            State_->Notify([&](TReceiveObserver& o) { o.AddError(error.what()); });
        }
    }

    if (!OpenCounter())
        return;

    std::int32_t count = 0;
    std::int32_t loginDelay = 0;
    try {
        State_->Notify([](TReceiveObserver& o) { o.SetStatus("Retrieving list of messages ..."); });
        count = Counter_->MessageCount();
        loginDelay = Counter_->LoginDelaySeconds();
        // Sizes and unique ids of all messages in two listings, so that pipelining workers need
        // only "UIDL n" and "TOP n 0" per message (a server's work per message, on a fast network
        // the limit). A refused or malformed listing leaves the workers asking LIST n.
        const retrieval::TCapabilities& capabilities = Counter_->Capabilities();
        if (count > 0 && !Settings_.FullMessage && capabilities.Pipelining && capabilities.Uidl) {
            try {
                if (std::optional<retrieval::TMaildropListing> listing = Counter_->Listing(count))
                    State_->SetListing(std::move(*listing));
            } catch (const retrieval::TProtocolError&) {
            }
        }
        State_->Notify([](TReceiveObserver& o) { o.SetStatus("Connecting ..."); });
    } catch (const core::TError& error) {
        CounterSessionLost(Cause(error));
        return;
    }
    User_.LoginPacing.SetDelaySeconds(loginDelay);
    State_->SetServerCount(count);

    if (State_->StopRequested()) {
        Counter_->Close();
        Finish(TReceiveOutcome::Interrupted, std::string(texts::Interrupted));
        return;
    }
    const auto connections = static_cast<std::size_t>(std::max<std::int32_t>(1, Settings_.Connections));
    if (loginDelay > 0) {
        GoOnInOneSession("The server " + Where() + " allows one login every " + std::to_string(loginDelay) +
                         " seconds, so this receive uses a single session for the count, the headers and "
                         "the end check.");
        StartSessionWorker(zones);
    } else {
        // The counting session stays open until a worker has logged in: when none can while it is
        // open (a maildrop locked by the session, logins that must be far apart), it goes on alone.
        const std::int32_t sessions = State_->Sessions();
        StartWorkers(std::max<std::size_t>(1, std::min<std::size_t>(connections, count)), zones);
        if (!State_->WaitForLogin(sessions, Report_.Workers) && !State_->StopRequested() &&
            Counter_->IsOpen()) {
            JoinEndedWorkers();
            const std::string reason = State_->LastLoginFailure();
            GoOnInOneSession("No further session could log in to " + Where() +
                             (reason.empty() ? std::string() : " (" + reason + ")") +
                             ", so this receive goes on in the session that counted the messages.");
            StartSessionWorker(zones);
        } else {
            Counter_->Close();
        }
    }
    State_->WaitForWorkers(Report_.Workers);
    // Numbers that are left (fetched on a session that broke, refused once, or never taken because
    // every worker ended early) get fresh sessions, round after round, while a round settles any
    // number; so every message the server listed is asked for until it is listed or given up.
    // It ends after a round that changed nothing, or after two rounds in a row that listed nothing
    // (a server that breaks every session). A single session goes on while it is open; when it
    // broke, the next one logs in after the server's delay.
    int roundsListingNothing = 0;
    while (!State_->StopRequested() && State_->Remaining() > 0 && roundsListingNothing < 2) {
        JoinEndedWorkers();
        const std::size_t settled = State_->Settled();
        const std::int32_t listed = State_->ListedCount();
        State_->StartRound();
        if (!SingleSession_)
            StartWorkers(std::min(connections, State_->Remaining()), zones);
        else if (Counter_ && Counter_->IsOpen())
            StartSessionWorker(zones);
        else if (OpenPacedCounter())
            StartSessionWorker(zones);
        State_->WaitForWorkers(Report_.Workers);
        if (State_->Settled() == settled)
            break;
        roundsListingNothing = State_->ListedCount() == listed ? roundsListingNothing + 1 : 0;
    }
    // Only this thread changes Workers_, so it joins them without the lock, which a worker may be
    // waiting for inside a Stop made from an observer call.
    for (const auto& worker : Workers_) {
        if (State_->StopRequested())
            worker->Terminate();
        worker->Join();
    }
    TakeBackSession();
    if (State_->StopRequested()) {
        Finish(TReceiveOutcome::Interrupted, std::string(texts::Interrupted));
        return;
    }
    EndCheck();
}

// The workers of a round have all ended when the next starts; their threads are joined and freed,
// so that many rounds do not pile up threads.
void TDownloadMail::JoinEndedWorkers()
{
    for (const auto& worker : Workers_)
        worker->Join();
    TakeBackSession();
    std::lock_guard lock(ClientsMutex_);
    Workers_.clear();
}

void TDownloadMail::TakeBackSession()
{
    if (!SingleSession_)
        return;
    std::lock_guard lock(ClientsMutex_);
    for (const auto& worker : Workers_)
        if (std::unique_ptr<retrieval::TPOP3Client> session = worker->TakeSession();
            session && session->IsOpen())
            Counter_ = std::move(session);
}

void TDownloadMail::GoOnInOneSession(const std::string& note)
{
    SingleSession_ = true;
    Report_.SingleSession = true;
    State_->Notify([&](TReceiveObserver& o) { o.AddNote(note); });
}

void TDownloadMail::StartSessionWorker(const std::vector<std::string>& zones)
{
    std::lock_guard lock(ClientsMutex_);
    if (State_->StopRequested())
        return;
    Workers_.push_back(std::make_unique<TPOP3ClientThread>(*State_, ID_, Settings_, std::move(Counter_),
                                                           Config_.MakeClassifier(ID_, zones, Lists_)));
    ++Report_.Workers;
}

bool TDownloadMail::LogInCounter()
{
    return OpenPaced(
        *Counter_, User_.LoginPacing,
        [this](std::int64_t left, std::int32_t delay) {
            State_->Notify([&](TReceiveObserver& o) { o.SetStatus(LoginWaitText(left, delay)); });
        },
        [this](std::chrono::steady_clock::duration wait) { return State_->Sleep(wait); });
}

bool TDownloadMail::OpenPacedCounter()
{
    NewCounterSession();
    try {
        if (!LogInCounter())
            return false;
    } catch (const retrieval::TLoginRefusedError& error) {
        State_->LoginFailed(retrieval::LoginRefusalText(Where(), error));
        return false;
    } catch (const std::exception& error) {
        State_->LoginFailed(Cause(error));
        return false;
    }
    State_->CountSession();
    return true;
}

bool TDownloadMail::OpenCounter()
{
    NewCounterSession();
    try {
        const bool open = LogInCounter();
        if (!open) {
            Finish(TReceiveOutcome::Interrupted, std::string(texts::Interrupted));
            return false;
        }
        State_->CountSession();
        return true;
    } catch (const retrieval::TLoginRefusedError& error) {
        if (State_->StopRequested()) {
            Finish(TReceiveOutcome::Interrupted, std::string(texts::Interrupted));
            return false;
        }
        // Only a refused user name or password is called one; a busy, locked or failing server is
        // reported in its own words.
        State_->Notify([&](TReceiveObserver& o) {
            if (error.WrongLogin())
                o.AddError(std::string(texts::IncorrectLogin));
            o.AddError(retrieval::LoginRefusalText(Where(), error));
        });
        Finish(TReceiveOutcome::Disconnected, std::string(texts::Disconnected));
        return false;
    } catch (const retrieval::TProtocolError& error) {
        // A user name or password that cannot be sent (a line break in it).
        State_->Notify([&](TReceiveObserver& o) {
            o.AddError(std::string(texts::IncorrectLogin));
            o.AddError("The server " + Where() + " refused the login: " + error.what());
        });
        Finish(TReceiveOutcome::Disconnected, std::string(texts::Disconnected));
        return false;
    } catch (const core::TError& error) {
        if (State_->StopRequested()) {
            Finish(TReceiveOutcome::Interrupted, std::string(texts::Interrupted));
            return false;
        }
        State_->Notify([&](TReceiveObserver& o) {
            o.AddError(std::string(texts::FailedToConnect));
            o.AddError(Cause(error));
            o.SetStatus("Failed to connect");
        });
        Finish(TReceiveOutcome::FailedToConnect, {});
        return false;
    }
}

// The single session of the count and of the end check; under the clients lock so that Stop can
// abort it, and aborted at once when Stop came first.
void TDownloadMail::NewCounterSession()
{
    std::lock_guard lock(ClientsMutex_);
    Counter_ = std::make_unique<retrieval::TPOP3Client>(ID_, Settings_, Config_.CacheFolder);
    Counter_->SetReplyTimeoutMs(Config_.ReplyTimeoutMs);
    if (State_->StopRequested())
        Counter_->Abort();
}

// The session of the count or of the end check failed: "Interrupted ..." after Stop, else the
// connection is reported lost, with its cause.
void TDownloadMail::CounterSessionLost(const std::string& cause)
{
    if (State_->StopRequested()) {
        Finish(TReceiveOutcome::Interrupted, std::string(texts::Interrupted));
        return;
    }
    State_->Notify([&](TReceiveObserver& o) {
        o.AddError(ConnectionLost);
        if (!cause.empty())
            o.AddError(cause);
    });
    Finish(TReceiveOutcome::Disconnected, std::string(texts::Disconnected));
}

std::unique_ptr<retrieval::TPOP3Client> TDownloadMail::TakeSession()
{
    if (Thread_.joinable())
        Thread_.join();
    std::lock_guard lock(ClientsMutex_);
    if (!SingleSession_ || !Counter_ || !Counter_->IsOpen())
        return nullptr;
    return std::move(Counter_);
}

void TDownloadMail::EndCheck()
{
    if (SingleSession_ && Counter_ && Counter_->IsOpen()) {
        // The session that did the work is still there: asking it for the count is the check.
        try {
            Counter_->MessageCount();
        } catch (const std::exception& error) {
            CounterSessionLost(Cause(error));
            return;
        }
    } else {
        try {
            if (SingleSession_) {
                if (!OpenPacedCounter()) {
                    CounterSessionLost(State_->LastLoginFailure());
                    return;
                }
            } else {
                NewCounterSession();
                Counter_->Open();
                State_->CountSession();
            }
        } catch (const std::exception& error) {
            CounterSessionLost(Cause(error));
            return;
        }
    }
    if (!SingleSession_ || !Config_.KeepSession)
        Counter_->Close();
    // Every message must be in the list: a number that was taken but never fetched is a gap. Each
    // message given up is named with the server's reason; when no session could log in, why not.
    if (State_->ListedCount() < State_->ServerCount()) {
        const std::map<std::int32_t, std::string> givenUp = State_->Failures();
        const std::string loginFailure = State_->LastLoginFailure();
        State_->Notify([&](TReceiveObserver& o) {
            o.AddError(MessagesMissing);
            std::size_t shown = 0;
            for (const auto& [number, reason] : givenUp) {
                if (++shown > MaxMissingShown) {
                    o.AddError("... and " + std::to_string(givenUp.size() - MaxMissingShown) +
                               " more messages could not be retrieved");
                    break;
                }
                o.AddError("Message " + std::to_string(number) + " could not be retrieved: " + reason);
            }
            if (givenUp.empty() && !loginFailure.empty())
                o.AddError("A session could not log in: " + loginFailure);
        });
        Finish(TReceiveOutcome::Disconnected, std::string(texts::Disconnected));
        return;
    }
    Finish(TReceiveOutcome::Finished, std::string(texts::Finished));
}

} // namespace tarnwick::engine
