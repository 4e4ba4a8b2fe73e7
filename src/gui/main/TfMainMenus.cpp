// The main window's commands as the user reaches them: the actions, the menu bar, the pop-up
// menus, the tool bar, the status bar and the per-account receive menus.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

#include "accounts/TAdmin.h"
#include "gui/common/TImages.h"
#include "gui/main/TfMain.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

namespace {

QString Q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QAction* TfMain::NewAction(const char* name, const QString& text, const QKeySequence& shortcut)
{
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

void TfMain::BuildActions()
{
    struct TToolDef
    {
        QAction** Slot;
        const char* Name;
        const char* Caption;
        const char* Hint;
        int Image;
    };
    const TToolDef tools[] = {
        {&tbAddBlack, "tbAddBlack", "Add to Black list", "Adds sender of selected message to the Black list",
         0},
        {&tbAddWhite, "tbAddWhite", "Add to White list", "Adds sender of selected message to the White list",
         1},
        {&tbDelete, "tbDelete", "Delete", "Deletes selected message by adding it to trash", 2},
        {&tbReceive, "tbReceive", "Receive", "Receives messages for the selected account", 4},
        {&tbEmpty, "tbEmpty", "Empty Trash", "Empties the trash and deletes messages from server", 5},
        {&tbFind, "tbFind", "Find", "Searches for certain message", 6},
        {&tbMailProgram, "tbMailProgram", "Mail Program", "Opens installed mail program", 7},
        {&tbUpdate, "tbUpdate", "Update", "", 8},
    };
    for (const auto& def : tools) {
        *def.Slot = NewAction(def.Name, QString::fromLatin1(def.Caption));
        (*def.Slot)->setIcon(ImageOf(TImageList::Toolbar, def.Image));
        (*def.Slot)->setToolTip(def.Hint[0] != '\0' ? QString::fromLatin1(def.Hint) : QString());
    }
    connect(tbAddBlack, &QAction::triggered, this, Slot(&TfMain::AddSenderToBlackClick));
    connect(tbAddWhite, &QAction::triggered, this, Slot(&TfMain::AddSenderToWhiteClick));
    connect(tbDelete, &QAction::triggered, this, Slot(&TfMain::DeleteSelectedClick));
    connect(tbReceive, &QAction::triggered, this, [this] { Guard([this] { ReceiveClick(-1); }); });
    connect(tbEmpty, &QAction::triggered, this, Slot(&TfMain::EmptyTrashClick));
}

void TfMain::BuildMenus()
{
    auto* bar = menuBar();
    auto* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    menuReceive = new QMenu(QStringLiteral("Receive Mails"), this);
    menuReceive->setObjectName(QStringLiteral("ReceiveMails"));
    ReceiveMails_ = file->addMenu(menuReceive);
    ReceiveMails_->setObjectName(QStringLiteral("ReceiveMails1"));
    file->addSeparator();
    menuImport = file->addMenu(QStringLiteral("&Import"));
    menuImport->setObjectName(QStringLiteral("Import1"));
    menuImport->addAction(NewAction("ImportWhite", QStringLiteral("Addresses to White List...")));
    menuImport->addAction(NewAction("ImportBlack", QStringLiteral("Addresses to Black List...")));
    menuImport->addSeparator();
    ImportRules_ = NewAction("ImportRules", QStringLiteral("Message &Rules..."));
    menuImport->addAction(ImportRules_);
    menuImport->addSeparator();
    auto* importAccounts = NewAction("ImportAccounts", QStringLiteral("Accounts..."));
    connect(importAccounts, &QAction::triggered, this, Slot(&TfMain::ImportAccountsClick));
    menuImport->addAction(importAccounts);
    menuExport = file->addMenu(QStringLiteral("Export"));
    menuExport->setObjectName(QStringLiteral("Export1"));
    ExportRules_ = NewAction("ExportRules", QStringLiteral("Message &Rules..."));
    menuExport->addAction(ExportRules_);
    file->addSeparator();
    auto* exit = NewAction("Exit1", QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    file->addAction(exit);

    menuEdit = bar->addMenu(QStringLiteral("&Edit"));
    menuEdit->setObjectName(QStringLiteral("Edit1"));
    EditItems_[0] =
        NewAction("SelectAll1", QStringLiteral("&Select All"), QKeySequence(Qt::CTRL | Qt::Key_A));
    EditItems_[1] = NewAction("DeselectAll1", QStringLiteral("&Deselect All"));
    EditItems_[2] = NewAction("Find1", QStringLiteral("Find..."), QKeySequence(Qt::CTRL | Qt::Key_F));
    EditItems_[3] = new QAction(this);
    EditItems_[3]->setSeparator(true);
    EditItems_[4] =
        NewAction("Deleteselected1", QStringLiteral("Delete selected"), QKeySequence(Qt::Key_Delete));
    EditItems_[5] =
        NewAction("Undeleteselected1", QStringLiteral("Undelete selected"), QKeySequence(Qt::Key_Backspace));
    EditItems_[6] = NewAction("EmptyTrash1", QStringLiteral("Empty &Trash"));
    for (auto* item : EditItems_)
        menuEdit->addAction(item);
    connect(EditItems_[0], &QAction::triggered, this, Slot(&TfMain::SelectAllClick));
    connect(EditItems_[1], &QAction::triggered, this, Slot(&TfMain::DeselectAllClick));
    connect(EditItems_[4], &QAction::triggered, this, Slot(&TfMain::DeleteSelectedClick));
    connect(EditItems_[5], &QAction::triggered, this, Slot(&TfMain::UndeleteSelectedClick));
    connect(EditItems_[6], &QAction::triggered, this, Slot(&TfMain::EmptyTrashClick));
    connect(menuEdit, &QMenu::aboutToShow, this, Slot(&TfMain::Edit1Click));

    menuView = bar->addMenu(QStringLiteral("&View"));
    menuView->setObjectName(QStringLiteral("View1"));
    ViewToolbar_ = NewAction("Toolbar1", QStringLiteral("&Toolbar"));
    ViewStatusBar_ = NewAction("StatusBar1", QStringLiteral("&Status Bar"));
    ViewFilters_ = NewAction("FiltersPanel1", QStringLiteral("Filters Panel"));
    ViewPreview_ = NewAction("PreviewPanel1", QStringLiteral("Preview Panel"));
    for (auto* item : {ViewToolbar_, ViewStatusBar_, ViewFilters_, ViewPreview_}) {
        item->setCheckable(true);
        menuView->addAction(item);
    }
    connect(ViewToolbar_, &QAction::triggered, this, [this](bool on) { toolBarMenu->setVisible(on); });
    connect(ViewStatusBar_, &QAction::triggered, this, [this](bool on) { statusBar()->setVisible(on); });
    connect(ViewFilters_, &QAction::triggered, this, [this](bool on) { paFilters->setVisible(on); });
    connect(ViewPreview_, &QAction::triggered, this, [this](bool on) { paPreview->setVisible(on); });
    menuView->addSeparator();
    auto* receivingWindow = NewAction("MailReceivingWindow1", QStringLiteral("Mail Receiving Window"));
    connect(receivingWindow, &QAction::triggered, this, Slot(&TfMain::ShowReceivingWindow));
    menuView->addAction(receivingWindow);
    connect(menuView, &QMenu::aboutToShow, this, Slot(&TfMain::View1Click));

    menuTools = bar->addMenu(QStringLiteral("&Tools"));
    menuTools->setObjectName(QStringLiteral("Tools1"));
    auto* accounts = NewAction("Accounts1", QStringLiteral("&Accounts..."));
    connect(accounts, &QAction::triggered, this, Slot(&TfMain::AccountsClick));
    menuTools->addAction(accounts);
    menuMessageRules = menuTools->addMenu(QStringLiteral("Message &Rules..."));
    MessageRules_ = menuMessageRules->menuAction();
    MessageRules_->setObjectName(QStringLiteral("MessageRules1"));
    menuMessageRules->addAction(NewAction("UserDefinedFilters1", QStringLiteral("User Defined Filters...")));
    AdvancedFilters_ = NewAction("AdvancedFilters1", QStringLiteral("Advanced Filters..."));
    menuMessageRules->addAction(AdvancedFilters_);
    connect(AdvancedFilters_, &QAction::triggered, this, Slot(&TfMain::AdvancedFilters1Click));
    menuTools->addSeparator();
    auto* blackList = NewAction("BlackList1", QStringLiteral("&Black List..."));
    connect(blackList, &QAction::triggered, this, Slot(&TfMain::BlackList1Click));
    menuTools->addAction(blackList);
    auto* whiteList = NewAction("WhiteList1", QStringLiteral("&White List..."));
    connect(whiteList, &QAction::triggered, this, Slot(&TfMain::WhiteList1Click));
    menuTools->addAction(whiteList);
    menuTools->addSeparator();
    auto* addressBook = NewAction("AddressBook1", QStringLiteral("Address Book..."),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    connect(addressBook, &QAction::triggered, this, Slot(&TfMain::AddressBook1Click));
    menuTools->addAction(addressBook);
    menuTools->addAction(NewAction("MailProgram1", QStringLiteral("Mail Program...")));
    menuTools->addSeparator();
    auto* options = NewAction("Options1", QStringLiteral("&Options..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(options, &QAction::triggered, this, Slot(&TfMain::Options1Click));
    menuTools->addAction(options);
    connect(menuTools, &QMenu::aboutToShow, this, Slot(&TfMain::Tools1Click));

    auto* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    help->addAction(NewAction("HelpTopics1", QStringLiteral("&Help Topics"), QKeySequence(Qt::Key_F1)));
    help->addSeparator();
    help->addAction(NewAction("TechnicalSupport1", QStringLiteral("&Technical Support")));
    auto* update = NewAction("Update1", QStringLiteral("Update"));
    update->setIcon(ImageOf(TImageList::Toolbar, 4));
    help->addAction(update);
    help->addSeparator();
    help->addAction(NewAction("About1", QStringLiteral("&About")));

    popupTree = new QMenu(this);
    popupTree->setObjectName(QStringLiteral("popupTree"));
    const char* treeNames[] = {"EmptyTrash2", "EnableDisable1", "Modify1", "Remove1", "",
                               "NewRule1",    "RuleSettings1",  "Import2", "Export2"};
    const char* treeTexts[] = {"Empty Trash", "Enable/Disable", "Modify...", "&Remove",  "",
                               "New Rule...", "Rule Settings",  "Import...", "Export..."};
    for (std::size_t i = 0; i < TreeItems_.size(); ++i) {
        if (treeNames[i][0] == '\0') {
            TreeItems_[i] = popupTree->addSeparator();
        } else {
            TreeItems_[i] = NewAction(treeNames[i], QString::fromLatin1(treeTexts[i]));
            popupTree->addAction(TreeItems_[i]);
        }
    }

    popupMessages = new QMenu(this);
    popupMessages->setObjectName(QStringLiteral("popupMessages"));
    ListItems_[0] = NewAction("Open1", QStringLiteral("&Open"));
    ListItems_[1] = NewAction("Saveas1", QStringLiteral("&Save as..."));
    ListItems_[2] =
        NewAction("Deleteselected2", QStringLiteral("&Delete selected"), QKeySequence(Qt::Key_Delete));
    ListItems_[3] = new QAction(this);
    ListItems_[3]->setSeparator(true);
    ListItems_[4] = NewAction("CreateRule1", QStringLiteral("Create &Rule from this message"));
    ListItems_[5] = NewAction("AddBlack1", QStringLiteral("Add sender to &Black list"));
    ListItems_[6] = NewAction("AddWhite1", QStringLiteral("Add sender to &White list"));
    for (auto* item : ListItems_)
        popupMessages->addAction(item);
    popupMessages->setDefaultAction(ListItems_[0]);
    connect(ListItems_[2], &QAction::triggered, this, [this] {
        Guard([this] {
            if (SelectedPosition() == views::ViewTrash)
                UndeleteSelectedClick();
            else
                DeleteSelectedClick();
        });
    });
    connect(ListItems_[0], &QAction::triggered, this, Slot(&TfMain::OpenClick));
    connect(ListItems_[1], &QAction::triggered, this, Slot(&TfMain::SaveAsClick));
    connect(ListItems_[5], &QAction::triggered, this, Slot(&TfMain::AddSenderToBlackClick));
    connect(ListItems_[6], &QAction::triggered, this, Slot(&TfMain::AddSenderToWhiteClick));
    connect(TreeItems_[0], &QAction::triggered, this, Slot(&TfMain::EmptyTrashClick));
    connect(TreeItems_[6], &QAction::triggered, this, Slot(&TfMain::RuleSettings1Click));
    connect(popupMessages, &QMenu::aboutToShow, this, Slot(&TfMain::OptionsClick));
}

void TfMain::BuildToolBar()
{
    toolBarMenu = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBarMenu->setObjectName(QStringLiteral("toolBarMenu"));
    toolBarMenu->setIconSize(QSize(48, 48));
    toolBarMenu->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBarMenu->setMovable(false);
    toolBarMenu->setFloatable(false);
    toolBarMenu->addAction(tbAddBlack);
    toolBarMenu->addAction(tbAddWhite);
    toolBarMenu->addAction(tbDelete);
    toolBarMenu->addSeparator();
    toolBarMenu->addAction(tbReceive);
    popupMoreUsers = new QMenu(this);
    popupMoreUsers->setObjectName(QStringLiteral("popupMoreUsers"));
    tbReceive->setMenu(popupMoreUsers);
    if (auto* button = qobject_cast<QToolButton*>(toolBarMenu->widgetForAction(tbReceive)))
        button->setPopupMode(QToolButton::MenuButtonPopup);
    toolBarMenu->addSeparator();
    toolBarMenu->addAction(tbEmpty);
    toolBarMenu->addSeparator();
    toolBarMenu->addAction(tbFind);
    toolBarMenu->addAction(tbMailProgram);
    toolBarMenu->addSeparator();
    toolBarMenu->addAction(tbUpdate);
    for (auto* action : toolBarMenu->actions())
        if (auto* button = toolBarMenu->widgetForAction(action); button && !action->isSeparator())
            button->setMinimumWidth(84);
    addToolBar(Qt::TopToolBarArea, toolBarMenu);
}

void TfMain::BuildStatusBar()
{
    auto* bar = statusBar();
    bar->setObjectName(QStringLiteral("stbarMain"));
    StatusCounts_ = new QLabel(bar);
    StatusCounts_->setObjectName(QStringLiteral("stbarPanel0"));
    bar->addWidget(StatusCounts_, 1);
    ProgressBar_ = new QProgressBar(bar);
    ProgressBar_->setObjectName(QStringLiteral("pbFilter"));
    ProgressBar_->setFixedWidth(150);
    ProgressBar_->setTextVisible(false);
    ProgressBar_->setRange(0, 100);
    ProgressBar_->setMaximumHeight(14);
    ProgressBar_->hide();
    bar->addPermanentWidget(ProgressBar_);
    StatusActivity_ = new QLabel(bar);
    StatusActivity_->setObjectName(QStringLiteral("stbarPanel2"));
    StatusActivity_->setFixedWidth(200);
    bar->addPermanentWidget(StatusActivity_);
    StatusActivity_->installEventFilter(this);
}

void TfMain::BuildAccountMenus()
{
    menuReceive->clear();
    popupMoreUsers->clear();
    const accounts::TAccountMenus menus = Admin_.BuildAccountMenus();
    auto fill = [this](QMenu* menu, const std::vector<accounts::TAccountMenuItem>& items) {
        for (const auto& item : items) {
            if (item.Caption.empty() || item.Tag == -2) {
                menu->addSeparator()->setVisible(item.Visible);
                continue;
            }
            auto* action = menu->addAction(Q(item.Caption));
            action->setData(item.Tag);
            const int tag = item.Tag;
            if (menu == popupMoreUsers && tag == -1)
                connect(action, &QAction::triggered, this, Slot(&TfMain::AddAccountClick));
            else
                connect(action, &QAction::triggered, this,
                        [this, tag] { Guard([this, tag] { ReceiveClick(tag); }); });
            action->setVisible(item.Visible);
            if (!item.Shortcut.empty())
                action->setShortcut(QKeySequence(Q(item.Shortcut)));
            if (item.IsDefault) {
                QFont bold = action->font();
                bold.setBold(true);
                action->setFont(bold);
            }
        }
    };
    fill(menuReceive, menus.Receive);
    fill(popupMoreUsers, menus.Popup);
}

} // namespace tarnwick::gui
