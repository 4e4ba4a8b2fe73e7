// The main window's preview of the selected message, the message windows it opens and Save as.
#include <mutex>

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>

#include "accounts/TUser.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "engine/DownloadLock.h"
#include "engine/TTrash.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessageInfo.h"
#include "gui/message/TMessagePreview.h"
#include "gui/message/TfMailWindow.h"
#include "gui/viewer/TMessageBrowser.h"
#include "retrieval/TCacheFile.h"

namespace tarnwick::gui {

namespace {

constexpr const char* HeadersOnlyWhileReceiving =
    "You can view the content of this mail only if you choose to download the full message.\r\nIf you "
    "haven't choosen this option, you can view the content of this mail message after the download process "
    "is complete";
constexpr const char* NoCacheFileForSave =
    "Cannot find specified file!\r\nTry to open this mail by doublecliking it!";
constexpr const char* Downloading = "Downloading mail...please wait.";

} // namespace

void TfMain::BuildPreviewArea(QWidget* parent)
{
    Preview_ = new TMessagePreview(Prompter_, parent);
    paMsgControl = Preview_;
    Preview_->hide();
    connect(Preview_, &TMessagePreview::ModeClicked, this,
            [this](int mode) { Guard([this, mode] { tbMessageInfoClick(mode); }); });
    connect(Preview_->webbrMsgFull, &TMessageBrowser::LoadFinished, this, [this] {
        ShowStatus(QStringLiteral("Done."));
        // The activity panel also shows the name of a view being filled.
        const int blocked = Preview_->webbrMsgFull->BlockedRemote();
        if (!State_.Filtering && !State_.Receiving)
            StatusActivity_->setText(BlockedRemoteText(blocked));
    });
    connect(Preview_->Loader, &TFullMessageLoader::DownloadStarted, this, [this] {
        if (!State_.Filtering)
            StatusActivity_->setText(QString::fromLatin1(Downloading));
    });
    connect(Preview_->Loader, &TFullMessageLoader::Done, this, [this] {
        if (!State_.Filtering)
            StatusActivity_->clear();
    });
}

bool TfMain::FullMessageRefused()
{
    const auto options = core::Options();
    if (!State_.Receiving || (options && core::IsOn(options->AlwaysFullMessage)))
        return false;
    Prompter_.Inform(core::TMessageKind::Information, HeadersOnlyWhileReceiving);
    return true;
}

void TfMain::tbMessageInfoClick(int mode)
{
    Preview_->SetMode(mode);
    accounts::TUser* user = Shown();
    const std::vector<int> rows = SelectedRows();
    if (user == nullptr || rows.empty())
        return;
    // The record anew: its subject may have changed since it was selected.
    TRecordRef ref = RefOf(*user, Model_->RowKey(rows.front()).RecordIndex);
    if (ref.Empty())
        return;
    const bool sameMessage = ref.Id == PreviewRef_.Id && ref.Copy.Headers == PreviewRef_.Copy.Headers;
    PreviewRef_ = std::move(ref);
    switch (mode) {
    case TMessagePreview::ModeInfo:
        ShowMessageInfo(PreviewRef_.Copy, *Preview_->rvMsgInfo);
        break;
    case TMessagePreview::ModeHeader:
        ShowMessageHeader(PreviewRef_.Copy, *Preview_->memoMsgHeader);
        break;
    case TMessagePreview::ModeFull:
        if (FullMessageRefused()) {
            Preview_->SetMode(TMessagePreview::ModeInfo);
            ShowMessageInfo(PreviewRef_.Copy, *Preview_->rvMsgInfo);
            break;
        }
        // Pressing the button again while the message downloads waits for that download.
        if (!(sameMessage && Preview_->Loader->Downloading()))
            Preview_->Loader->Show(*user, PreviewRef_);
        break;
    default:
        break;
    }
}

void TfMain::OpenClick()
{
    if (FullMessageRefused())
        return;
    const std::vector<int> rows = SelectedRows();
    if (rows.empty() || Shown() == nullptr)
        return;
    std::erase_if(MailWindows_, [](const QPointer<TfMailWindow>& window) { return window.isNull(); });
    auto* window = new TfMailWindow(*this, Prompter_);
    MailWindows_.emplace_back(window);
    window->show();
    window->ShowRow(rows.front());
}

std::vector<TfMailWindow*> TfMain::MailWindows() const
{
    std::vector<TfMailWindow*> windows;
    for (const auto& window : MailWindows_)
        if (!window.isNull())
            windows.push_back(window.data());
    return windows;
}

void TfMain::SaveAsClick()
{
    if (FullMessageRefused())
        return;
    accounts::TUser* user = Shown();
    const std::vector<int> rows = SelectedRows();
    if (user == nullptr || rows.empty())
        return;
    const views::TRowKey key = Model_->RowKey(rows.front());
    const TRecordRef ref = RefOf(*user, key.RecordIndex);
    if (ref.Empty())
        return;
    if (ref.Copy.Fetched) {
        SaveCacheFileAs(ref);
        return;
    }
    // The whole message first, through the preview's Full Message mode; the save follows when it
    // is there (at once when the cache held it after all).
    sbAttach->setVisible(ref.Copy.HasAttachments);
    connect(
        Preview_->Loader, &TFullMessageLoader::Done, this,
        [this, ref] {
            // Another message was selected meanwhile: the user went on to something else.
            if (PreviewRef_.Id != ref.Id)
                return;
            Guard([this, ref] { SaveCacheFileAs(ref); });
        },
        Qt::SingleShotConnection);
    tbMessageInfoClick(TMessagePreview::ModeFull);
    // Refused (receiving) or already downloading the same message: nothing more to wait for here.
}

void TfMain::SaveCacheFileAs(const TRecordRef& ref)
{
    const QString cacheFile = CachePathOf(ref.Copy);
    if (!retrieval::CacheFileHolds(ref.Copy.Headers, cacheFile.toStdString())) {
        Prompter_.Inform(core::TMessageKind::Error, NoCacheFileForSave);
        return;
    }
    TSaveRequest request;
    request.Title = QStringLiteral("Save As...");
    request.Proposed = cacheFile;
    request.Filter = QStringLiteral("Mail (*.eml)");
    request.DefaultSuffix = QStringLiteral("eml");
    request.ConfirmOverwrite = true;
    const QString name =
        Commands_.SaveDialog ? Commands_.SaveDialog(this, request) : RunSaveDialog(this, request);
    if (name.isEmpty())
        return;
    const std::string error = MoveMessageFile(cacheFile, name, true);
    if (!error.empty()) {
        Prompter_.Inform(core::TMessageKind::Error, error);
        return;
    }
    MessageLeftCache(ref);
}

void TfMain::MessageLeftCache(const TRecordRef& ref)
{
    accounts::TUser* user = Shown();
    if (user == nullptr)
        return;
    std::lock_guard lock(engine::DownloadLock());
    if (const auto index = FindRecord(*user, ref))
        user->Mails.At(*index)->Fetched = false;
}

void TfMain::TrashRowAlone(int row)
{
    accounts::TUser* user = Shown();
    if (user == nullptr || State_.Receiving || row < 0 || row >= Model_->rowCount())
        return;
    const QModelIndex index = Model_->index(row, 0);
    lvMessages->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    engine::TrashMessages(*user, {Model_->RowKey(row).RecordIndex});
    user->TrashNotEmpty = true;
    tbEmpty->setEnabled(true);
    Model_->RemoveRows({row});
    SelectFocusedRow();
}

} // namespace tarnwick::gui
