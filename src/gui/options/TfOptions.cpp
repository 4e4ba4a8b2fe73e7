#include "gui/options/TfOptions.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "classify/TReadDatabaseSettings.h"
#include "core/Modules.h"
#include "core/TFolderTree.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "gui/accounts/TDialogHeader.h"
#include "gui/attach/TFBrowse.h"
#include "gui/options/TfSpamDatabase.h"

namespace tarnwick::gui {

namespace {

const char* const PageTexts[TfOptions::PageCount] = {
    "Mail receiving", "Download", "Rules", "Cache", "Confirmations", "Spam Databases", "Filter Options",
};

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

// A folder path without the separators at its end ("/" stays "/").
std::string WithoutTrailingSeparator(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The pictures of the page header: the first five pages have one each.
QIcon PageIcon(int page)
{
    struct TPicture
    {
        const char* ThemeName;
        QStyle::StandardPixmap Fallback;
    };
    static const TPicture pictures[] = {
        {"mail-receive", QStyle::SP_ArrowDown},
        {"folder-download", QStyle::SP_DriveNetIcon},
        {"view-filter", QStyle::SP_FileDialogContentsView},
        {"drive-harddisk", QStyle::SP_DriveHDIcon},
        {"dialog-question", QStyle::SP_MessageBoxQuestion},
    };
    if (page < 0 || page >= static_cast<int>(std::size(pictures)))
        return {};
    const TPicture& picture = pictures[page];
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(picture.ThemeName));
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(picture.Fallback);
    return icon;
}

// Ticks exactly one of two radio buttons for an action code (0 or 1); any other code leaves both
// cleared, so that CopyControls keeps it.
void ShowAction(QRadioButton* zero, QRadioButton* one, std::int32_t code)
{
    QButtonGroup* group = zero->group();
    group->setExclusive(false);
    zero->setChecked(code == 0);
    one->setChecked(code == 1);
    group->setExclusive(true);
}

void TakeAction(const QRadioButton* zero, const QRadioButton* one, std::int32_t& code)
{
    if (zero->isChecked())
        code = 0;
    else if (one->isChecked())
        code = 1;
}

// The address book button's question: a vCard file, or a folder of them, from a small menu at the
// button; the file dialog starts where the field points.
QString ChooseAddressBook(QWidget* parent, const QString& current)
{
    QMenu menu(parent);
    QAction* file = menu.addAction(QStringLiteral("A vCard &File..."));
    QAction* folder = menu.addAction(QStringLiteral("A F&older of vCard Files..."));
    auto* button = parent ? parent->findChild<QPushButton*>(QStringLiteral("buAddressBook")) : nullptr;
    const QPoint at = button ? button->mapToGlobal(QPoint(0, button->height())) : QCursor::pos();
    QAction* chosen = menu.exec(at);
    const QString start = current.isEmpty() ? QDir::homePath() : current;
    if (chosen == file)
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Address Book"), start,
                                            QStringLiteral("vCard files (*.vcf *.vcard);;All files (*)"));
    if (chosen == folder)
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Address Book"), start);
    return {};
}

} // namespace

TfOptions::TfOptions(core::TPrompter& prompter, TModalRunner runModal,
                     std::function<TFBrowse&()> folderBrowser, QWidget* parent)
    : QDialog(parent)
    , Prompter_(prompter)
    , RunModal_(runModal ? std::move(runModal) : TModalRunner(RunModal))
    , FolderBrowser_(std::move(folderBrowser))
    , AddressBookChooser_(ChooseAddressBook)
{
    setObjectName(QStringLiteral("fOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    layout->addLayout(body, 1);
    BuildTree(this);
    body->addWidget(tvOptions);

    auto* right = new QVBoxLayout;
    laPageHeader = new TDialogHeader(PageIcon(PageMailReceiving), false, this);
    laPageHeader->setObjectName(QStringLiteral("laPageHeader"));
    right->addWidget(laPageHeader);
    nbOptions = new QStackedWidget(this);
    nbOptions->setObjectName(QStringLiteral("nbOptions"));
    right->addWidget(nbOptions, 1);
    body->addLayout(right, 1);
    BuildPages();

    auto* buttons = new QDialogButtonBox(this);
    buOK = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buOK->setObjectName(QStringLiteral("buOK"));
    buOK->setDefault(true);
    buCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    buCancel->setObjectName(QStringLiteral("buCancel"));
    connect(buOK, &QPushButton::clicked, this, &TfOptions::buOKClick);
    connect(buCancel, &QPushButton::clicked, this, &TfOptions::reject);
    layout->addWidget(buttons);

    connect(buBrowse, &QPushButton::clicked, this, &TfOptions::buBrowseClick);
    connect(buClearCache, &QPushButton::clicked, this, &TfOptions::buClearCacheClick);
    connect(buConfigure, &QPushButton::clicked, this, &TfOptions::buConfigureClick);
    connect(buAddressBook, &QPushButton::clicked, this, &TfOptions::buAddressBookClick);

    if (const auto options = core::Options())
        FillControls(*options);
    ShowPage(PageMailReceiving);
    // The pages decide the least size; the tree and the header take a share of the font's width.
    const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
    resize(std::max(sizeHint().width(), 48 * em), std::max(sizeHint().height(), 26 * em));
}

void TfOptions::BuildTree(QWidget* parent)
{
    tvOptions = new QTreeWidget(parent);
    tvOptions->setObjectName(QStringLiteral("tvOptions"));
    tvOptions->setHeaderHidden(true);
    tvOptions->setItemsExpandable(false);
    tvOptions->setRootIsDecorated(false);
    auto* root = new QTreeWidgetItem(tvOptions, {QStringLiteral("Options")});
    for (int page = 0; page < PageCount; ++page) {
        auto* node = new QTreeWidgetItem(root, {PageText(page)});
        node->setData(0, Qt::UserRole, page);
        Nodes_.push_back(node);
    }
    tvOptions->expandAll();
    int widest = tvOptions->fontMetrics().horizontalAdvance(QStringLiteral("Options"));
    for (int page = 0; page < PageCount; ++page)
        widest = std::max(widest, tvOptions->fontMetrics().horizontalAdvance(PageText(page)));
    tvOptions->setFixedWidth(widest + tvOptions->indentation() +
                             4 * tvOptions->fontMetrics().horizontalAdvance(QLatin1Char('M')));
    // The root stays open: a collapse (by keyboard too) is undone at once.
    connect(tvOptions, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { tvOptions->expandItem(item); });
    connect(tvOptions, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        // The root's node changes nothing.
        if (item != nullptr && item->data(0, Qt::UserRole).isValid())
            ShowPage(item->data(0, Qt::UserRole).toInt());
    });
}

QString TfOptions::PageText(int page)
{
    return QString::fromLatin1(PageTexts[page]);
}

void TfOptions::ShowPage(int page)
{
    if (page < 0 || page >= PageCount)
        return;
    nbOptions->setCurrentIndex(page);
    laPageHeader->SetTitle(PageText(page));
    laPageHeader->SetIcon(PageIcon(page));
    if (tvOptions->currentItem() != Nodes_.at(static_cast<std::size_t>(page)))
        tvOptions->setCurrentItem(Nodes_.at(static_cast<std::size_t>(page)));
}

int TfOptions::CurrentPage() const
{
    return nbOptions->currentIndex();
}

std::vector<TfOptions::TFlagBox> TfOptions::FlagBoxes() const
{
    using R = core::TOptionRec;
    return {
        {cbAutoReceive, &R::AutoReceive},
        {cbRAlwaysonTop, &R::RAlwaysonTop},
        {cbAutoscrollonAdd, &R::AutoscrollonAdd},
        {cbAlwaysFullMessage, &R::AlwaysFullMessage},
        {cbRuleCase, &R::RuleCase},
        {cbWholeWordsOnly, &R::WholeWordsOnly},
        {cbClearCache, &R::ClearCache},
        {cbConfirmEmptyTrash, &R::ConfirmEmptyTrash},
        {cbConfirmRemoveRule, &R::ConfirmRemoveRule},
        {cbConfirmRemoveUser, &R::ConfirmRemoveUser},
        {cbConfirmRemoveAddress, &R::ConfirmRemoveAddress},
        {cbWarnAddressInList, &R::WarnAddressInList},
        {cbWarnTrashNotEmpty, &R::WarnTrashNotEmpty},
        {cbTrashNotEmptyAfterReceive, &R::TrashNotEmptyAfterReceive},
    };
}

void TfOptions::FillControls(const core::TOptionRec& rec)
{
    for (const TFlagBox& flag : FlagBoxes())
        flag.Box->setChecked(core::IsOn(rec.*flag.Field));
    tbTimeOut->setValue(std::clamp(rec.TimeOut, 0, core::MaxTimeOut));
    cmbDownloadSpeed->setCurrentIndex(std::clamp(rec.DownloadSpeed, 0, core::MaxDownloadSpeed));
    edCacheDir->setText(Q(rec.CacheDir));
    edAddressBook->setText(Q(rec.AddressBookPath));
    ShowAction(rbDatabaseDelete, rbDatabaseMark, rec.DatabaseAction);
    ShowAction(rbResponseDelete, rbResponseMark, rec.ResponseAction);
    // There is no Outlook Express here to integrate with: the box stays cleared.
    cbOEIntegration->setChecked(false);
}

void TfOptions::CopyControls(core::TOptionRec& rec) const
{
    for (const TFlagBox& flag : FlagBoxes())
        rec.*flag.Field = flag.Box->isChecked() ? "1" : "0";
    rec.TimeOut = tbTimeOut->value();
    rec.DownloadSpeed = cmbDownloadSpeed->currentIndex();
    rec.CacheDir = Utf8(edCacheDir->text());
    rec.AddressBookPath = Utf8(edAddressBook->text().trimmed());
    TakeAction(rbDatabaseDelete, rbDatabaseMark, rec.DatabaseAction);
    TakeAction(rbResponseDelete, rbResponseMark, rec.ResponseAction);
}

void TfOptions::SetTrashNoticeBox(bool checked)
{
    cbTrashNotEmptyAfterReceive->setChecked(checked);
}

void TfOptions::buOKClick()
{
    const auto current = core::Options();
    core::TOptionRec changed = current ? *current : core::TOptionRec{};
    CopyControls(changed);
    // Only an absolute path of an existing folder is taken; anything else becomes the data folder.
    // The folder in use is kept even before it exists (a new installation whose cache has held no
    // message yet: it is made with the first one), so that OK without changes moves nothing.
    const std::string typed = WithoutTrailingSeparator(changed.CacheDir);
    const bool unchanged = current && typed == WithoutTrailingSeparator(current->CacheDir);
    std::error_code ignored;
    if (!typed.empty() && typed.front() == '/' &&
        (unchanged || std::filesystem::is_directory(typed, ignored))) {
        changed.CacheDir = typed;
        edCacheDir->setText(Q(typed));
    } else {
        const std::string& data = core::Folders().DataFolder;
        changed.CacheDir = WithoutTrailingSeparator(data);
        edCacheDir->setText(Q(data));
    }
    try {
        core::TRegistry registry(core::Hive());
        core::WriteOptions(registry, changed);
    } catch (const std::exception& e) {
        // Nothing was stored (one transaction) and the current options stay: the user may retry.
        Prompter_.Inform(core::TMessageKind::Error,
                         std::string("The options could not be saved: ") + e.what());
        return;
    }
    core::PublishOptions(std::move(changed));
    accept();
}

void TfOptions::reject()
{
    if (const auto options = core::Options())
        FillControls(*options);
    QDialog::reject();
}

void TfOptions::buBrowseClick()
{
    TFBrowse& browser = FolderBrowser_();
    const QString shown = edCacheDir->text();
    if (!shown.isEmpty() && std::filesystem::is_directory(Utf8(shown)))
        browser.SetFolder(shown);
    if (RunModal_(browser) != QDialog::Accepted || browser.SelectedFolder().isEmpty())
        return;
    // The chosen folder counts at once; the store gets it with the next OK.
    const std::string folder = WithoutTrailingSeparator(Utf8(browser.SelectedFolder()));
    const auto current = core::Options();
    core::TOptionRec changed = current ? *current : core::TOptionRec{};
    changed.CacheDir = folder;
    core::PublishOptions(std::move(changed));
    edCacheDir->setText(Q(folder));
}

void TfOptions::buClearCacheClick()
{
    const auto options = core::Options();
    if (!options)
        return;
    buClearCache->setEnabled(false);
    // Pending events run at each entry, so the windows stay responsive while a large cache goes.
    core::DeleteFolderTree(core::CacheFolder(options->CacheDir), [] { QApplication::processEvents(); });
    buClearCache->setEnabled(true);
}

void TfOptions::buAddressBookClick()
{
    const QString chosen = AddressBookChooser_(this, edAddressBook->text().trimmed());
    if (!chosen.isEmpty())
        edAddressBook->setText(chosen);
}

void TfOptions::buConfigureClick()
{
    TfSpamDatabase dialog(classify::TReadDatabaseSettings::DefaultPath(), Prompter_, this);
    RunModal_(dialog);
}

} // namespace tarnwick::gui
