#pragma once

#include <functional>
#include <vector>

#include <QDialog>

#include "core/TOptionRec.h"
#include "gui/accounts/TModalRunner.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

class TDialogHeader;
class TFBrowse;

// The options dialog: a tree of pages whose controls mirror the options record. OK stores the
// controls' values and makes them the current options; Cancel puts the current options back into
// the controls. Three actions work at once: choosing the cache folder, clearing the message cache
// and configuring the spam databases.
class TfOptions : public QDialog
{
    Q_OBJECT

public:
    // Asks the user for an address book: a vCard file or a folder; empty when cancelled. `current`
    // is the path the field shows.
    using TAddressBookChooser = std::function<QString(QWidget* parent, const QString& current)>;

    // The pages, in the order of the tree's nodes below "Options".
    enum TPage : int
    {
        PageMailReceiving,
        PageDownload,
        PageRules,
        PageCache,
        PageConfirmations,
        PageSpamDatabases,
        PageFilterOptions,
        PageCount,
    };

    // `runModal` shows the folder browser and the spam-database dialog (QDialog::exec when empty);
    // `folderBrowser` hands out the browser shared with the other dialogs.
    TfOptions(core::TPrompter& prompter, TModalRunner runModal, std::function<TFBrowse&()> folderBrowser,
              QWidget* parent = nullptr);

    // Every control from its field: check boxes ticked exactly when the field is "1".
    void FillControls(const core::TOptionRec& rec);
    // Every field that a control mirrors from it: "1" for a ticked box, "0" for a cleared one. The
    // cache folder is copied as typed (OK checks it).
    void CopyControls(core::TOptionRec& rec) const;
    // The "After receiving messages, trash is not empty" box, set from elsewhere (the trash notice).
    void SetTrashNoticeBox(bool checked);

    // Shows a page and puts its node's text into the page header.
    void ShowPage(int page);
    int CurrentPage() const;
    // The text of a page's node.
    static QString PageText(int page);

    void buOKClick();
    void buBrowseClick();
    void buClearCacheClick();
    void buConfigureClick();
    void buAddressBookClick();
    // Replaces the file dialog of the address book button (tests).
    void SetAddressBookChooser(TAddressBookChooser chooser) { AddressBookChooser_ = std::move(chooser); }

public slots:
    // Cancel, Escape and the close button: the controls show the current options again.
    void reject() override;

private:
    void BuildTree(QWidget* parent);
    void BuildPages();
    QWidget* BuildMailReceivingPage();
    QWidget* BuildDownloadPage();
    QWidget* BuildRulesPage();
    QWidget* BuildCachePage();
    QWidget* BuildConfirmationsPage();
    QWidget* BuildSpamDatabasesPage();
    QWidget* BuildFilterOptionsPage();
    // The check boxes and the fields they mirror, for filling and copying.
    struct TFlagBox
    {
        QCheckBox* Box;
        std::string core::TOptionRec::*Field;
    };
    std::vector<TFlagBox> FlagBoxes() const;

    core::TPrompter& Prompter_;
    TModalRunner RunModal_;
    std::function<TFBrowse&()> FolderBrowser_;
    TAddressBookChooser AddressBookChooser_;

    QTreeWidget* tvOptions = nullptr;
    std::vector<QTreeWidgetItem*> Nodes_; // by page
    TDialogHeader* laPageHeader = nullptr;
    QStackedWidget* nbOptions = nullptr;
    QPushButton* buOK = nullptr;
    QPushButton* buCancel = nullptr;

    QCheckBox* cbAutoReceive = nullptr;
    QSlider* tbTimeOut = nullptr;
    QCheckBox* cbRAlwaysonTop = nullptr;
    QCheckBox* cbAutoscrollonAdd = nullptr;
    QCheckBox* cbOEIntegration = nullptr;
    QLabel* laOEIntegrationNote = nullptr;
    QCheckBox* cbAlwaysFullMessage = nullptr;
    QComboBox* cmbDownloadSpeed = nullptr;
    QCheckBox* cbRuleCase = nullptr;
    QCheckBox* cbWholeWordsOnly = nullptr;
    QLineEdit* edAddressBook = nullptr;
    QPushButton* buAddressBook = nullptr;
    QLineEdit* edCacheDir = nullptr;
    QPushButton* buBrowse = nullptr;
    QCheckBox* cbClearCache = nullptr;
    QPushButton* buClearCache = nullptr;
    QCheckBox* cbConfirmEmptyTrash = nullptr;
    QCheckBox* cbConfirmRemoveRule = nullptr;
    QCheckBox* cbConfirmRemoveUser = nullptr;
    QCheckBox* cbConfirmRemoveAddress = nullptr;
    QCheckBox* cbWarnAddressInList = nullptr;
    QCheckBox* cbWarnTrashNotEmpty = nullptr;
    QCheckBox* cbTrashNotEmptyAfterReceive = nullptr;
    QPushButton* buConfigure = nullptr;
    QRadioButton* rbWhiteListed = nullptr;
    QRadioButton* rbDatabaseDelete = nullptr;
    QRadioButton* rbDatabaseMark = nullptr;
    QRadioButton* rbResponseDelete = nullptr;
    QRadioButton* rbResponseMark = nullptr;
};

} // namespace tarnwick::gui
