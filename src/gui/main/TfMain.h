#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QMainWindow>
#include <QPointer>

#include "accounts/TAdmin.h"
#include "gui/accounts/TModalRunner.h"
#include "gui/main/TDesktopSettings.h"
#include "gui/message/TRecordRef.h"
#include "gui/message/TSaveMessage.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QTextBrowser;
class QToolBar;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace tarnwick::core {
class TPrompter;
class TRegistry;
} // namespace tarnwick::core

namespace tarnwick::engine {
class TDownloadMail;
struct TReceiveConfig;
} // namespace tarnwick::engine

namespace tarnwick::mime {
class TDecodeAttach;
}

namespace tarnwick::gui {

class TFBrowse;
class TfAddressList;
class TfOptions;
class TMessageListModel;
class TMessagePreview;
class TReceiveBridge;
class TfMailWindow;
class TfReceivingMail;

// The working state of the main window, in one place so that the receive and the other commands
// drive it through the window's operations.
struct TMainWindowState
{
    int AppliedNode = -1;        // position of the node whose view the list shows
    bool OnlyWhenChanged = true; // selecting the applied node again does nothing
    bool Receiving = false;      // a receive runs
    bool Filtering = false;      // a view is being filled
    bool ReapplyRequest = false; // a fill was interrupted to apply another node
    bool PendingReceive = false; // Receive was asked for while a fill ran
    std::function<void()> PendingReceiveCommand;
    // A column click that came while a fill or a receive ran: the column and its direction, applied
    // when both are over (sorting reorders the records that the fill walks and the receive appends
    // rows to by index). -1: none.
    int PendingSortColumn = -1;
    bool PendingSortDescending = false;
    bool StartupReceivePending = true;
    // Messages on the server as far as this window knows: the count of the last receive, lowered
    // by one for every message deleted on the server since.
    std::int32_t ServerCount = 0;
};

// Pages of nbookMain.
enum TMainPage : int
{
    PageWork = 0,
    PagePresentation = 1,
    PageFiltered = 2,
    PageAdvancedFilter = 3,
};

// The application's main window: folder tree of views, message list, preview area, menus, tool
// bar and status bar of the current account.
class TfMain : public QMainWindow, public accounts::TAccountsObserver
{
    Q_OBJECT

public:
    // Replacements for commands (tests). A set Receive runs instead of the download, between
    // entering and leaving receiving mode.
    struct TCommands
    {
        std::function<void()> Receive;
        // The Outlook Express accounts import: the accounts chosen, or nothing on Cancel. While it is
        // unset the import commands tell the user that no such import exists here.
        std::function<std::optional<std::vector<accounts::TUserID>>(QWidget* parent)> ImportAccounts;
        // The save dialog of Save as, here and in the message windows (empty: the desktop's).
        TSaveDialog SaveDialog;
    };

    // `runModal` shows the account dialogs modally (QDialog::exec when empty); tests drive them.
    TfMain(accounts::TAdmin& admin, core::TPrompter& prompter, QWidget* parent = nullptr,
           TModalRunner runModal = {});
    ~TfMain() override;

    const TMainWindowState& State() const { return State_; }
    TCommands& Commands() { return Commands_; }
    TMessageListModel& Messages() { return *Model_; }
    const TDesktopSettings& Desktop() const { return Desktop_; }

    // Operations other windows use.
    void ShowListCounts();
    void ShowStatus(const QString& text);
    void EnterReceivingMode();
    void LeaveReceivingMode();
    bool IsReceiving() const { return State_.Receiving; }
    void SetAccountCommandsEnabled(bool enabled);
    // Adds the row of the current account's record at `recordIndex` at the end of the list.
    void AppendRow(std::size_t recordIndex);
    // Asks for a receive: runs it at once, or after the running fill when the user agrees.
    void ReceiveRequested(std::function<void()> receive);

    // Folder tree and views.
    void RebuildTree(accounts::TUser& user);
    void tvFiltersClick();
    void RefreshView();
    void BeginFill(const QString& caption);
    void EndFill();
    void FillProgress(std::size_t index, std::size_t total);
    void lvMessagesColumnClick(int column);
    void lvMessagesClick();
    // Position of the selected node, or -1.
    int SelectedPosition() const;
    // Selects the node at `position` without applying its view.
    void SelectPosition(int position);
    QTreeWidgetItem* NodeAt(int position) const;
    bool DescendingNext(int column) const { return DescendingNext_.at(static_cast<std::size_t>(column)); }

    // Menu enabling, run when a menu opens and before a shortcut acts.
    void Edit1Click();
    void OptionsClick();
    void popupTreePopup();
    void View1Click();
    void Tools1Click();

    // The application became active: runs the start-up receive once when AutoReceive is on.
    void ApplicationEventsActivate();

    // Message commands (TfMainCommands.cpp).
    void SelectAllClick();
    void DeselectAllClick();
    void DeleteSelectedClick();
    void UndeleteSelectedClick();
    void EmptyTrashClick();
    void AddSenderToBlackClick();
    void AddSenderToWhiteClick();

    // Preview and message windows (TfMainPreview.cpp).
    // A mode button of the preview: selects its page and shows the selected row in that mode.
    void tbMessageInfoClick(int mode);
    // Open: a new message window with the selected row.
    void OpenClick();
    // Save as: moves the selected message's cache file to a place the user chooses.
    void SaveAsClick();
    TMessagePreview& Preview() const { return *Preview_; }
    // The message windows open now, oldest first.
    std::vector<TfMailWindow*> MailWindows() const;
    // Puts the record of `row` in the trash as "Delete selected" does with that row alone selected,
    // whatever view the list shows. Nothing during a receive.
    void TrashRowAlone(int row);
    // A message's cache file was moved away: its record no longer counts as fetched.
    void MessageLeftCache(const TRecordRef& ref);

    // Attachments (TfMainAttach.cpp).
    // The attachment button: the selected message's attachments as a menu under the button (the
    // whole message downloaded first when the cache does not hold it).
    void sbAttachClick();
    // "Save Attachments..." of that menu: the save dialog for the message the menu shows.
    void SaveAttachmentsClick();
    // The folder browser, made at first use and kept for every dialog that chooses a folder.
    TFBrowse& FolderBrowser();

    // Settings windows (TfMainOptions.cpp, TfMainFilters.cpp).
    // Tools "&Options..." and the welcome page's "Options" link: the options dialog, modal.
    void Options1Click();
    // The options dialog, made at first use and kept for the whole run, so that its controls keep
    // their values between showings.
    TfOptions& OptionsDialog();
    // Tools "Advanced Filters...": the advanced filter settings without a preset filter; afterwards
    // the root node is selected (its view is not applied).
    void AdvancedFilters1Click();
    // "Rule Settings" of the tree menu. On an advanced view: that filter's settings, and on OK the
    // view is applied again.
    void RuleSettings1Click();

    // Address lists (TfMainLists.cpp) and the address book (TfMainAddressBook.cpp).
    // Tools "&Black List..." / "&White List..." and the welcome page's links: the list window, modal.
    void BlackList1Click();
    void WhiteList1Click();
    // The list windows, made at first use and kept for the whole run.
    TfAddressList& BlackListWindow();
    TfAddressList& WhiteListWindow();
    // Tools "Address Book...": the desktop's contacts program, or a word that there is none.
    void AddressBook1Click();

    // Receive (TfMainReceive.cpp). `tag` is -1 for the current account, else the account's index.
    void ReceiveClick(int tag);
    // View "Mail Receiving Window" and a double click on the status bar's activity panel.
    void ShowReceivingWindow();

    // Accounts (TfMainAccounts.cpp).
    void AddAccountClick();
    void ImportAccountsClick();
    void AccountsClick();

    // Another start of the program asked for this window.
    void RaiseFromAnotherStart();

    // TAccountsObserver
    void AccountsExist(bool exist) override;
    void AccountMadeCurrent(accounts::TUser& user) override;
    void AccountMenusChanged() override;

    // ---- commands ----
    // The server's message count as a receive run outside the window found it (the command line,
    // tests); the deletion checks the server against it and lowers it for each deleted message.
    void SetServerCount(std::int32_t count) { State_.ServerCount = count; }

    // ---- accounts ----
    // Shows an account dialog modally through the window's runner.
    int RunDialog(QDialog& dialog);
    // Runs the Add User Wizard and adds its account: only added during a receive, made current when
    // there is no current account, else after the switch question. Saves nothing; false on Cancel.
    bool AddAccountWithWizard(QWidget* parent);
    // The Outlook Express import's accounts; nothing on Cancel or, after telling the user, when no
    // import exists.
    std::optional<std::vector<accounts::TUserID>> RunAccountsImport(QWidget* parent);
    // Empties the message list and the folder tree (the list no longer refers to any account).
    void ClearListAndTree();
    // Empties the list and the tree and makes the account at `index` current. Refused (false)
    // while a fill or a receive runs: both work on the current account's records.
    bool SwitchToAccount(std::size_t index);
    // Whether the current account may change now: not while a fill walks its records or a
    // receive adds to them.
    bool AccountChangeAllowed() const { return !State_.Receiving && !State_.Filtering; }
    // Shows or hides the account's items in both receive menus.
    void SetAccountItemsVisible(std::size_t index, bool visible);
    // Writes the current account's name and server into the tree's top node again.
    void ShowAccountCaption();

    // ---- receive ----
    // Adjusts the configuration of every receive before it starts (tests: spam-database zones).
    std::function<void(engine::TReceiveConfig&)> ReceiveConfigHook;
    // The window of the running or the last receive, or nullptr.
    TfReceivingMail* ReceivingWindow() const;
    // Adds the rows of the shown account's records at these indices, read under the download lock.
    void AppendReceivedRows(const std::vector<std::size_t>& indices);

signals:
    // A receive is over: receiving mode was left and the trash notice answered.
    void ReceiveEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildCentre();
    void BuildPages();
    void BuildStatusBar();
    void RestoreLayout();
    void SaveLayout();
    void BuildAccountMenus();
    // tvFiltersClick without the pending sort: applies the selected node, once more after an
    // interrupting click.
    void ApplySelectedNode();
    void ApplyView();
    // closeEvent's decision: asks what the trash and a running receive need, then accepts or not.
    void CloseRequested(QCloseEvent& event);
    void FillList(int position);
    void UpdateCommandStates();
    void SelectionChanged();
    void SetListLinksEnabled();
    void ShowPage(int page);
    // Sorts the records by a column and fills the view again in the new order.
    void SortByColumn(int column, bool descending);
    // Applies a column click that waited for a fill or a receive, once neither runs.
    void ApplyPendingSort();
    // Runs the work of a slot: a std::exception reaching its top is shown through the prompter
    // instead of escaping into Qt's event loop (anything else is reported without its text).
    void Guard(const std::function<void()>& command) noexcept;
    // A slot functor for a command of this window, run under Guard.
    auto Slot(void (TfMain::*command)())
    {
        return [this, command] { Guard([this, command] { (this->*command)(); }); };
    }
    // The account whose messages the list shows (the current account once it is made current).
    accounts::TUser* Shown() const;
    QAction* NewAction(const char* name, const QString& text, const QKeySequence& shortcut = {});

    accounts::TAdmin& Admin_;
    core::TPrompter& Prompter_;
    std::unique_ptr<core::TRegistry> Registry_;
    TMainWindowState State_;
    TCommands Commands_;
    TDesktopSettings Desktop_;
    std::array<bool, 8> DescendingNext_{true, true, false, false, false, false, false, false};
    std::size_t LastPercent_ = 0;
    std::vector<QTreeWidgetItem*> Nodes_; // by position
    qint64 LastPump_ = 0;

    TMessageListModel* Model_ = nullptr;
    QToolBar* toolBarMenu = nullptr;
    QSplitter* splitLeftRight = nullptr;
    QSplitter* splitTopBott = nullptr;
    QWidget* paFilters = nullptr;
    QTreeWidget* tvFilters = nullptr;
    QStackedWidget* nbookMain = nullptr;
    QLabel* paMessagesHeader = nullptr;
    QTreeView* lvMessages = nullptr;
    QLabel* ILSelectAll = nullptr;
    QLabel* ILDeselectAll = nullptr;
    QLabel* ILDeleteSelected = nullptr;
    QToolButton* sbAttach = nullptr;
    QWidget* paPreview = nullptr;
    QTextBrowser* rvPreview = nullptr;
    QWidget* paMsgControl = nullptr;
    TMessagePreview* Preview_ = nullptr;
    // What the preview shows: the selected row's record when it was selected.
    TRecordRef PreviewRef_;
    std::vector<QPointer<TfMailWindow>> MailWindows_;
    QLabel* StatusCounts_ = nullptr;
    QProgressBar* ProgressBar_ = nullptr;
    QLabel* StatusActivity_ = nullptr;

    QMenu* menuReceive = nullptr;
    QMenu* popupMoreUsers = nullptr;
    QMenu* menuEdit = nullptr;
    QMenu* menuView = nullptr;
    QMenu* menuTools = nullptr;
    QMenu* menuMessageRules = nullptr;
    QMenu* popupTree = nullptr;
    QMenu* popupMessages = nullptr;
    QMenu* menuImport = nullptr;
    QMenu* menuExport = nullptr;
    std::array<QAction*, 7> EditItems_{};
    std::array<QAction*, 7> ListItems_{};
    std::array<QAction*, 9> TreeItems_{};
    QAction* tbAddBlack = nullptr;
    QAction* tbAddWhite = nullptr;
    QAction* tbDelete = nullptr;
    QAction* tbReceive = nullptr;
    QAction* tbEmpty = nullptr;
    QAction* tbFind = nullptr;
    QAction* tbMailProgram = nullptr;
    QAction* tbUpdate = nullptr;
    QAction* ReceiveMails_ = nullptr;
    QAction* ImportRules_ = nullptr;
    QAction* ExportRules_ = nullptr;
    QAction* ViewToolbar_ = nullptr;
    QAction* ViewStatusBar_ = nullptr;
    QAction* ViewFilters_ = nullptr;
    QAction* ViewPreview_ = nullptr;
    QAction* AdvancedFilters_ = nullptr;
    QAction* MessageRules_ = nullptr;

    // ---- commands ----
    // Rows of lvMessages that are selected, in list order.
    std::vector<int> SelectedRows() const;
    // After rows were removed: the focused row becomes selected and the preview follows it.
    void SelectFocusedRow();
    // Add sender to the Black or White list.
    void AddSenderToList(bool black);
    // Empties the account's trash on the server with the deletion window; true when the deletion
    // ran and its records were removed.
    bool DeleteOnServer(accounts::TUser& user, const std::vector<std::size_t>& rows);

    // ---- preview ----
    void BuildPreviewArea(QWidget* parent);
    // Shows PreviewRef_ in the preview's current mode.
    void ShowPreview();
    // The Full Message mode and Save as during a receive that takes headers only.
    bool FullMessageRefused();
    // Moves the cache file of the selected record to a name the user chooses (Save as, step 4).
    void SaveCacheFileAs(const TRecordRef& ref);

    // ---- attachments ----
    // Reads the attachments of the record's cached message and opens the menu with them.
    void ShowAttachmentMenu(const TRecordRef& ref);
    QMenu* popupAttach = nullptr;
    TfOptions* OptionsDialog_ = nullptr;
    TFBrowse* FolderBrowser_ = nullptr;
    TfAddressList* BlackList_ = nullptr;
    TfAddressList* WhiteList_ = nullptr;
    // The attachments of the message the menu shows; one message at a time.
    std::unique_ptr<mime::TDecodeAttach> Decoder_;

    // ---- accounts ----
    // The first start without any account: the wizard in its first-start form.
    void FirstStart();
    TModalRunner RunModal_;

    // ---- receive ----
    void StartReceive(accounts::TUser& user, bool trashNotice);
    // The receiving window, the bridge and the engine of a receive, started; throws when the
    // receive cannot start.
    void LaunchReceive(accounts::TUser& user, bool trashNotice);
    void ReceiveOver(accounts::TUser& user, bool finished, bool cancelled, bool trashNotice);
    void ShowTrashNotice(accounts::TUser& user);
    std::unique_ptr<TfReceivingMail> ReceivingWindow_;
    std::unique_ptr<TReceiveBridge> Bridge_;
    std::unique_ptr<engine::TDownloadMail> Download_; // declared last: stopped and joined first
};

} // namespace tarnwick::gui
