#include "TReceiveState.h"

#include "DownloadLock.h"
#include "core/MessageTexts.h"

namespace tarnwick::engine {

std::string WithServer(const std::string& where, const std::exception& error)
{
    const std::string text = error.what();
    return text.find(where) == std::string::npos ? where + ": " + text : text;
}

TReceiveState::TReceiveState(accounts::TUser& user, TReceiveObserver& observer, std::string displayName)
    : User_(user)
    , Observer_(observer)
    , DisplayName_(std::move(displayName))
{}

void TReceiveState::SetServerCount(std::int32_t count)
{
    std::lock_guard lock(DownloadLock());
    ServerCount_ = count;
    TakenCount_ = 0;
}

void TReceiveState::SetListing(retrieval::TMaildropListing listing)
{
    Listing_ = std::move(listing);
}

const retrieval::TMaildropListing* TReceiveState::Listing() const
{
    return Listing_ && !ListingDropped_.load() ? &*Listing_ : nullptr;
}

std::optional<std::int32_t> TReceiveState::Take()
{
    std::lock_guard lock(DownloadLock());
    if (!Again_.empty()) {
        const std::int32_t n = Again_.front();
        Again_.pop_front();
        return n;
    }
    if (TakenCount_ >= ServerCount_)
        return std::nullopt;
    return ++TakenCount_;
}

void TReceiveState::Return(std::int32_t n)
{
    std::lock_guard lock(DownloadLock());
    Again_.push_back(n);
}

void TReceiveState::Broken(std::int32_t n, const std::string& reason)
{
    std::lock_guard lock(DownloadLock());
    Failures_[n] = reason;
    if (FailedOnce_.insert(n).second)
        Again_.push_back(n);
    else
        ++GivenUp_;
}

void TReceiveState::Refused(std::int32_t n, const std::string& reason)
{
    std::lock_guard lock(DownloadLock());
    Failures_[n] = reason;
    if (FailedOnce_.insert(n).second)
        NextRound_.push_back(n);
    else
        ++GivenUp_;
}

void TReceiveState::LoginFailed(const std::string& reason)
{
    std::lock_guard lock(DownloadLock());
    LoginFailure_ = reason;
}

std::size_t TReceiveState::Remaining() const
{
    std::lock_guard lock(DownloadLock());
    return Again_.size() + NextRound_.size() + static_cast<std::size_t>(ServerCount_ - TakenCount_);
}

void TReceiveState::StartRound()
{
    std::lock_guard lock(DownloadLock());
    Again_.insert(Again_.end(), NextRound_.begin(), NextRound_.end());
    NextRound_.clear();
}

std::size_t TReceiveState::Settled() const
{
    std::lock_guard lock(DownloadLock());
    return static_cast<std::size_t>(Listed_) + FailedOnce_.size() + GivenUp_;
}

std::map<std::int32_t, std::string> TReceiveState::Failures() const
{
    std::lock_guard lock(DownloadLock());
    return Failures_;
}

std::string TReceiveState::LastLoginFailure() const
{
    std::lock_guard lock(DownloadLock());
    return LoginFailure_;
}

std::int32_t TReceiveState::TakenCount() const
{
    std::lock_guard lock(DownloadLock());
    return TakenCount_;
}

std::int32_t TReceiveState::ListedCount() const
{
    std::lock_guard lock(DownloadLock());
    return Listed_;
}

void TReceiveState::AddRecord(accounts::TMailMessage record, bool shown)
{
    std::size_t index = 0;
    {
        std::lock_guard lock(DownloadLock());
        if (record.Trashed)
            User_.TrashNotEmpty = true;
        Failures_.erase(record.Number);
        index = User_.Mails.Add(std::move(record));
        ++Listed_;
    }
    if (shown)
        Notify([&](TReceiveObserver& observer) { observer.RowAdded(index); });
}

void TReceiveState::ReportOnce(const std::string& text)
{
    constexpr std::size_t MaxReported = 3;
    std::lock_guard lock(NotifyMutex_);
    if (Reported_.size() < MaxReported && Reported_.insert(text).second)
        Observer_.AddError(text);
}

void TReceiveState::AnnounceRetrieving()
{
    if (!Announced_.exchange(true))
        Notify([](TReceiveObserver& observer) { observer.SetStatus("Retrieving messages..."); });
}

void TReceiveState::ShowProgress()
{
    std::lock_guard notifyLock(NotifyMutex_);
    std::int32_t taken = 0;
    {
        std::lock_guard lock(DownloadLock());
        taken = TakenCount_;
    }
    const int percent = ServerCount_ > 0 ? static_cast<int>(std::int64_t{taken} * 100 / ServerCount_) : 100;
    Observer_.SetStatus(std::to_string(taken) + std::string(core::texts::ReceivedMessagesOf) +
                        std::to_string(ServerCount_));
    Observer_.SetProgress(percent);
    Observer_.SetCaption(std::to_string(percent) + "% " + std::string(core::texts::ReceivingMessagesFor) +
                         DisplayName_ + "'");
}

void TReceiveState::Notify(const std::function<void(TReceiveObserver&)>& notify)
{
    std::lock_guard lock(NotifyMutex_);
    notify(Observer_);
}

void TReceiveState::WorkerEnded()
{
    {
        std::lock_guard lock(EndMutex_);
        ++Ended_;
    }
    EndSignal_.notify_all();
}

void TReceiveState::WaitForWorkers(std::size_t count)
{
    std::unique_lock lock(EndMutex_);
    EndSignal_.wait(lock, [&] { return Ended_ >= count || StopRequested_.load(); });
}

void TReceiveState::CountSession()
{
    User_.LoginPacing.LoggedIn();
    {
        std::lock_guard lock(EndMutex_);
        ++Sessions_;
    }
    EndSignal_.notify_all();
}

bool TReceiveState::WaitForLogin(std::int32_t sessions, std::size_t workers)
{
    std::unique_lock lock(EndMutex_);
    EndSignal_.wait(lock, [&] { return Sessions_ > sessions || Ended_ >= workers || StopRequested_.load(); });
    return Sessions_ > sessions;
}

bool TReceiveState::Sleep(std::chrono::steady_clock::duration duration)
{
    std::unique_lock lock(EndMutex_);
    EndSignal_.wait_for(lock, duration, [&] { return StopRequested_.load(); });
    return !StopRequested_.load();
}

void TReceiveState::RequestStop()
{
    {
        std::lock_guard lock(EndMutex_);
        StopRequested_ = true;
    }
    EndSignal_.notify_all();
}

} // namespace tarnwick::engine
