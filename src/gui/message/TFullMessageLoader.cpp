#include "gui/message/TFullMessageLoader.h"

#include <filesystem>
#include <mutex>
#include <string>

#include <QFileInfo>
#include <QMetaObject>

#include "accounts/TUser.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "engine/DownloadLock.h"
#include "engine/TFetchMessage.h"
#include "gui/viewer/TMessageBrowser.h"
#include "retrieval/TCacheFile.h"

namespace tarnwick::gui {

namespace {

constexpr const char* CannotConnect = "Can't connect to remote server! Do you wish to try again ?";
constexpr const char* NotSynchronized =
    "The downloaded messages are no longer synchronized with those on the "
    "mail server. Please download your messages again.";

std::string CacheFolderOfOptions()
{
    const auto options = core::Options();
    return core::CacheFolder(options ? options->CacheDir : core::Folders().DefaultCacheDir);
}

} // namespace

QString CachePathOf(const accounts::TMailMessage& record)
{
    return QString::fromStdString(CacheFolderOfOptions() + "/" + record.CacheName + ".eml");
}

QString WaitPagePath()
{
    return QString::fromStdString(core::Folders().ProgramFolder + "Wait.html");
}

TFullMessageLoader::TFullMessageLoader(core::TPrompter& prompter, TMessageBrowser& browser, QObject* parent)
    : QObject(parent)
    , Prompter_(prompter)
    , Browser_(browser)
{}

TFullMessageLoader::~TFullMessageLoader()
{
    if (Fetch_)
        Fetch_->Stop();
    Join();
}

void TFullMessageLoader::Join()
{
    if (Thread_.joinable())
        Thread_.join();
}

void TFullMessageLoader::Abandon()
{
    if (!Fetch_)
        return;
    Fetch_->Stop();
    Join();
    Fetch_.reset();
    Browser_.unsetCursor();
    emit Done();
}

void TFullMessageLoader::Show(accounts::TUser& user, const TRecordRef& ref)
{
    Abandon();
    User_ = &user;
    Ref_ = ref;
    const QString path = CachePathOf(ref.Copy);
    if (!ref.Copy.CacheName.empty() && retrieval::CacheFileHolds(ref.Copy.Headers, path.toStdString())) {
        MarkFetched();
        Browser_.ShowFile(path);
        emit Done();
        return;
    }
    // The waiting page, or at least no longer the message shown before.
    if (QFileInfo(WaitPagePath()).isFile())
        Browser_.ShowPage(WaitPagePath());
    else
        Browser_.ShowBlank();
    CacheFolder_ = CacheFolderOfOptions();
    StartDownload();
}

void TFullMessageLoader::StartDownload()
{
    Fetch_ = std::make_unique<engine::TFetchMessage>(User_->ID(), User_->Settings, CacheFolder_,
                                                     User_->LoginPacing);
    Browser_.setCursor(Qt::BusyCursor);
    emit DownloadStarted();
    const unsigned download = ++Download_;
    Thread_ = std::thread([this, download, fetch = Fetch_.get(), record = Ref_.Copy] {
        engine::TFetchOutcome outcome;
        try {
            outcome = fetch->Run(record);
        } catch (const std::exception& e) {
            outcome.Status = engine::TFetchStatus::Failed;
            outcome.Error = e.what();
        }
        // Runs on the window's thread, unless the loader is gone by then.
        QMetaObject::invokeMethod(
            this, [this, download, outcome] { DownloadOver(download, outcome); }, Qt::QueuedConnection);
    });
}

void TFullMessageLoader::MarkFetched()
{
    if (User_ == nullptr)
        return;
    std::lock_guard lock(engine::DownloadLock());
    if (const auto index = FindRecord(*User_, Ref_))
        User_->Mails.At(*index)->Fetched = true;
}

void TFullMessageLoader::DownloadOver(unsigned download, const engine::TFetchOutcome& outcome)
{
    if (!Fetch_ || download != Download_)
        return; // abandoned meanwhile
    Join();
    switch (outcome.Status) {
    case engine::TFetchStatus::CannotConnect: {
        std::string question = CannotConnect;
        if (!outcome.Error.empty())
            question += "\n\n" + outcome.Error;
        if (Prompter_.Ask(core::TMessageKind::Error, question, {core::TAnswer::Yes, core::TAnswer::No}) ==
            core::TAnswer::Yes) {
            StartDownload();
            return;
        }
        Browser_.ShowBlank();
        break;
    }
    case engine::TFetchStatus::OutOfSync:
        Prompter_.Inform(core::TMessageKind::Information, NotSynchronized);
        Browser_.ShowBlank();
        break;
    case engine::TFetchStatus::Fetched:
        MarkFetched();
        Browser_.ShowFile(QString::fromStdString(outcome.CachePath));
        break;
    case engine::TFetchStatus::Failed:
    case engine::TFetchStatus::Stopped:
        break;
    }
    Fetch_.reset();
    Browser_.unsetCursor();
    emit Done();
    if (outcome.Status == engine::TFetchStatus::Failed)
        Prompter_.Inform(core::TMessageKind::Error, outcome.Error.empty()
                                                        ? std::string("The message could not be downloaded.")
                                                        : outcome.Error);
}

} // namespace tarnwick::gui
