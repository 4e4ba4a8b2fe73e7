#include "gui/attach/TfSaveAttachments.h"

#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/Errors.h"
#include "core/TPrompter.h"
#include "gui/attach/TFBrowse.h"
#include "mime/TDecodeAttach.h"

namespace tarnwick::gui {

namespace {

constexpr const char* InvalidFolder =
    "The folder you want to save your attacments is invalid.\r\nPlease select a valid location.";
constexpr const char* CannotSave = "Unable to save attachment. Please ensure that the location you've "
                                   "choosen to save the attachment is a valid one !";

constexpr int PositionRole = Qt::UserRole;
// The row's entry in the decoder's list: its name as the message gives it, byte for byte.
constexpr int EntryRole = Qt::UserRole + 1;

// Whether anything is at `path`, a dangling symbolic link included (saving would write through it).
bool SomethingAt(const std::string& path)
{
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found &&
           !error;
}

} // namespace

TfSaveAttachments::TfSaveAttachments(core::TPrompter& prompter, TFBrowse& browser, TModalRunner runModal,
                                     QWidget* parent)
    : QDialog(parent)
    , Prompter_(prompter)
    , Browser_(browser)
    , RunModal_(runModal ? std::move(runModal) : TModalRunner(RunModal))
{
    setObjectName(QStringLiteral("fSaveAttachments"));
    setWindowTitle(QStringLiteral("Save attachments"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lvAttach = new QTreeWidget(this);
    lvAttach->setObjectName(QStringLiteral("lvAttach"));
    lvAttach->setHeaderLabels({QStringLiteral("Attachment(s) to be saved:")});
    lvAttach->header()->setSectionsClickable(false);
    lvAttach->setRootIsDecorated(false);
    lvAttach->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* label = new QLabel(QStringLiteral("Save to directory"), this);
    EDirectory = new QLineEdit(DownloadsFolder(), this);
    EDirectory->setObjectName(QStringLiteral("EDirectory"));
    label->setBuddy(EDirectory);
    BTBrowse = new QPushButton(QStringLiteral("..."), this);
    BTBrowse->setObjectName(QStringLiteral("BTBrowse"));
    BTBrowse->setAutoDefault(false);
    BTSave = new QPushButton(QStringLiteral("&Save"), this);
    BTSave->setObjectName(QStringLiteral("BTSave"));
    BTSave->setDefault(true);
    BTCancel = new QPushButton(QStringLiteral("Cancel"), this);
    BTCancel->setObjectName(QStringLiteral("BTCancel"));
    BTCancel->setAutoDefault(false);
    connect(BTBrowse, &QPushButton::clicked, this, &TfSaveAttachments::BTBrowseClick);
    connect(BTSave, &QPushButton::clicked, this, &TfSaveAttachments::BTSaveClick);
    connect(BTCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* folder = new QHBoxLayout;
    folder->addWidget(EDirectory, 1);
    folder->addWidget(BTBrowse);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BTSave);
    buttons->addWidget(BTCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lvAttach, 1);
    layout->addWidget(label);
    layout->addLayout(folder);
    layout->addLayout(buttons);
    resize(387, 350);
}

void TfSaveAttachments::Fill(const mime::TDecodeAttach& decoder)
{
    Decoder_ = &decoder;
    lvAttach->clear();
    const auto& entries = decoder.Attachments();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto* item = new QTreeWidgetItem(lvAttach);
        item->setText(0, QString::fromStdString(entries[i].Name));
        item->setData(0, PositionRole, entries[i].Position);
        item->setData(0, EntryRole, static_cast<qulonglong>(i));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
    }
}

QString TfSaveAttachments::DownloadsFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return !downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

QString TfSaveAttachments::TargetFolder() const
{
    const QString text = EDirectory->text();
    return text.isEmpty() ? DownloadsFolder() : text;
}

void TfSaveAttachments::BTBrowseClick()
{
    if (QFileInfo(TargetFolder()).isDir())
        Browser_.SetFolder(TargetFolder());
    if (RunModal_(Browser_) == QDialog::Accepted && !Browser_.SelectedFolder().isEmpty())
        EDirectory->setText(Browser_.SelectedFolder());
}

void TfSaveAttachments::BTSaveClick()
{
    const QString folder = TargetFolder();
    if (!QFileInfo(folder).isDir()) {
        Prompter_.Inform(core::TMessageKind::Information, InvalidFolder);
        return;
    }
    for (int row = 0; Decoder_ != nullptr && row < lvAttach->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = lvAttach->topLevelItem(row);
        if (item->checkState(0) != Qt::Checked)
            continue;
        const int position = item->data(0, PositionRole).toInt();
        const auto entry = static_cast<std::size_t>(item->data(0, EntryRole).toULongLong());
        if (entry >= Decoder_->Attachments().size())
            continue;
        // The attachment's own name may be a path ("../../x") or hold characters no file name
        // should: only its safe form is used.
        const std::string target =
            folder.toStdString() + "/" + mime::SafeFileName(Decoder_->Attachments()[entry].Name, position);
        if (SomethingAt(target) &&
            Prompter_.Ask(core::TMessageKind::Confirmation,
                          target + " already exists.\nDo you want to replace it?",
                          {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
            continue;
        try {
            Decoder_->SaveAttachment(target, position);
        } catch (const core::TFileError& e) {
            Prompter_.Inform(core::TMessageKind::Error, std::string(CannotSave) + "\n\n" + e.what());
        }
    }
    accept();
}

} // namespace tarnwick::gui
