// The main window's attachment button: the menu of the selected message's attachments, the save
// dialog it opens and the folder browser the dialogs share.
#include <QMenu>
#include <QToolButton>

#include "accounts/TUser.h"
#include "core/Errors.h"
#include "core/TPrompter.h"
#include "gui/attach/TAttachmentMenu.h"
#include "gui/attach/TFBrowse.h"
#include "gui/attach/TfSaveAttachments.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessagePreview.h"
#include "mime/TDecodeAttach.h"
#include "retrieval/TCacheFile.h"

namespace tarnwick::gui {

namespace {

constexpr const char* DownloadFirst = "Full message will be downloaded first. Do you want to continue ?";

} // namespace

void TfMain::sbAttachClick()
{
    accounts::TUser* user = Shown();
    const std::vector<int> rows = SelectedRows();
    if (user == nullptr || rows.empty())
        return;
    const TRecordRef ref = RefOf(*user, Model_->RowKey(rows.front()).RecordIndex);
    if (ref.Empty())
        return;
    if (retrieval::CacheFileHolds(ref.Copy.Headers, CachePathOf(ref.Copy).toStdString())) {
        ShowAttachmentMenu(ref);
        return;
    }
    if (Prompter_.Ask(core::TMessageKind::Warning, DownloadFirst, {core::TAnswer::Yes, core::TAnswer::No}) !=
        core::TAnswer::Yes)
        return;
    // The preview's loader downloads as the Full Message mode does, into its browser, while the
    // preview keeps the page it shows. The menu follows when the message is there.
    sbAttach->setEnabled(false);
    connect(
        Preview_->Loader, &TFullMessageLoader::Done, this,
        [this, ref] {
            sbAttach->setEnabled(!State_.Receiving);
            // Another message was selected meanwhile: the user went on to something else.
            if (PreviewRef_.Id != ref.Id)
                return;
            Guard([this, ref] { ShowAttachmentMenu(ref); });
        },
        Qt::SingleShotConnection);
    // A download of this message the Full Message mode started already is waited for.
    if (!(Preview_->Loader->Downloading() && PreviewRef_.Id == ref.Id))
        Preview_->Loader->Show(*user, ref);
}

void TfMain::ShowAttachmentMenu(const TRecordRef& ref)
{
    const QString cacheFile = CachePathOf(ref.Copy);
    // A download that failed or was abandoned has told the user why already.
    if (!retrieval::CacheFileHolds(ref.Copy.Headers, cacheFile.toStdString()))
        return;
    Decoder_.reset();
    try {
        Decoder_ = std::make_unique<mime::TDecodeAttach>(cacheFile.toStdString());
    } catch (const core::TFileError& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
        return;
    }
    if (popupAttach == nullptr) {
        popupAttach = new QMenu(this);
        popupAttach->setObjectName(QStringLiteral("popupAttach"));
    }
    FillAttachmentMenu(*popupAttach, *Decoder_, [this] { Guard([this] { SaveAttachmentsClick(); }); });
    // Under the button, its right edge at the button's right edge.
    const QPoint corner = sbAttach->mapToGlobal(QPoint(sbAttach->width(), sbAttach->height()));
    popupAttach->popup(corner - QPoint(popupAttach->sizeHint().width(), 0));
}

void TfMain::SaveAttachmentsClick()
{
    if (!Decoder_)
        return;
    TfSaveAttachments dialog(
        Prompter_, FolderBrowser(), [this](QDialog& shown) { return RunDialog(shown); }, this);
    dialog.Fill(*Decoder_);
    RunDialog(dialog);
}

TFBrowse& TfMain::FolderBrowser()
{
    if (FolderBrowser_ == nullptr)
        FolderBrowser_ = new TFBrowse(this);
    return *FolderBrowser_;
}

} // namespace tarnwick::gui
