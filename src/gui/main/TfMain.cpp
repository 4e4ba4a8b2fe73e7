#include "TfMain.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "accounts/TUser.h"
#include "classify/TAddressLists.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "engine/DownloadLock.h"
#include "engine/TDownloadMail.h"
#include "gui/common/TImages.h"
#include "gui/main/TMessageListModel.h"
#include "gui/receive/TReceiveBridge.h"
#include "gui/receive/TfReceivingMail.h"
#include "rules/TRuleListClass.h"
#include "rules/TRuleMatcher.h"
#include "views/TAbstractFiltering.h"
#include "views/TViewFill.h"

namespace tarnwick::gui {

namespace {

constexpr int PositionRole = Qt::UserRole + 1;
constexpr int ImageRole = Qt::UserRole + 2;

// Rows between two looks at the clock while a fill runs; the window's events are processed when
// the last look is older than PumpIntervalMs, so a long fill stays responsive without paying for
// an event round per record.
constexpr std::size_t RowsPerClockLook = 64;
constexpr qint64 PumpIntervalMs = 15;

QString Q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct TFixedNode
{
    int Parent; // position of the parent, -1 for the root
    const char* Caption;
    int Image;
};

// Positions 1 to 13 of the folder tree; the root and the rule nodes are built apart.
const TFixedNode FixedNodes[] = {
    {0, "All messages", 0},
    {0, "Trash", 1},
    {0, "Filtered", 5},
    {3, "Good messages", 6},
    {3, "Spam messages", 7},
    {3, "Questionable messages", 8},
    {0, "Advanced Filters", 9},
    {7, "Duplicates", 10},
    {7, "With Attachments", 11},
    {7, "High Priority", 12},
    {7, "With Foreign Language Characters", 13},
    {7, "Mail Delivery Errors", 14},
    {7, "Very Large Messages", 15},
};

QString RootCaption(const accounts::TUser& user)
{
    return QStringLiteral("User: ") + Q(user.ID().DisplayName) + QStringLiteral(" (") + Q(user.ID().Host) +
           QStringLiteral(")");
}

std::vector<std::string> EnabledTexts(const classify::TAddressList& list)
{
    std::vector<std::string> texts;
    for (const auto& row : list.Rows)
        if (row.Enabled)
            texts.push_back(row.Address);
    return texts;
}

QLabel* LinkLabel(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QLabel* HeaderStrip(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setMinimumHeight(24);
    label->setContentsMargins(4, 2, 4, 2);
    label->setAutoFillBackground(true);
    label->setBackgroundRole(QPalette::Mid);
    label->setForegroundRole(QPalette::Light);
    return label;
}

} // namespace

TfMain::TfMain(accounts::TAdmin& admin, core::TPrompter& prompter, QWidget* parent, TModalRunner runModal)
    : QMainWindow(parent)
    , Admin_(admin)
    , Prompter_(prompter)
    , Registry_(std::make_unique<core::TRegistry>(core::Hive()))
    , RunModal_(runModal ? std::move(runModal) : TModalRunner(RunModal))
{
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("Orvalent Tarnwick"));
    Model_ = new TMessageListModel(this);

    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildCentre();
    BuildStatusBar();
    RestoreLayout();

    Admin_.SetObserver(this);
    try {
        Admin_.LoadUsers();
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
    if (!Admin_.HasUsers())
        FirstStart();
    BuildAccountMenus();
    if (!Admin_.HasUsers()) {
        ShowPage(PagePresentation);
        SetAccountCommandsEnabled(false);
    }
    State_.StartupReceivePending = true;
    StatusCounts_->setText(QStringLiteral("Done."));
    UpdateCommandStates();
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            Guard([this] { ApplicationEventsActivate(); });
    });
}

TfMain::~TfMain()
{
    Admin_.SetObserver(nullptr);
    try {
        SaveLayout();
    } catch (const std::exception&) {
        // The layout is a convenience; a store that cannot be written loses only it.
    }
}

void TfMain::Guard(const std::function<void()>& command) noexcept
{
    std::string error;
    try {
        command();
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "The command ended with an error of unknown kind.";
    }
    try {
        Prompter_.Inform(core::TMessageKind::Error, error);
    } catch (...) {
        // A prompter that cannot show the error leaves only standard error for it.
        std::fprintf(stderr, "tarnwick: %s\n", error.c_str());
    }
}

accounts::TUser* TfMain::Shown() const
{
    return Model_->User();
}

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
    menuTools->addSeparator();
    menuTools->addAction(NewAction("BlackList1", QStringLiteral("&Black List...")));
    menuTools->addAction(NewAction("WhiteList1", QStringLiteral("&White List...")));
    menuTools->addSeparator();
    menuTools->addAction(NewAction("AddressBook1", QStringLiteral("Address Book..."),
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)));
    menuTools->addAction(NewAction("MailProgram1", QStringLiteral("Mail Program...")));
    menuTools->addSeparator();
    menuTools->addAction(
        NewAction("Options1", QStringLiteral("&Options..."), QKeySequence(Qt::CTRL | Qt::Key_O)));
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
    connect(ListItems_[5], &QAction::triggered, this, Slot(&TfMain::AddSenderToBlackClick));
    connect(ListItems_[6], &QAction::triggered, this, Slot(&TfMain::AddSenderToWhiteClick));
    connect(TreeItems_[0], &QAction::triggered, this, Slot(&TfMain::EmptyTrashClick));
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

void TfMain::BuildCentre()
{
    auto* paMain = new QWidget(this);
    paMain->setObjectName(QStringLiteral("paMain"));
    auto* mainLayout = new QHBoxLayout(paMain);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    splitLeftRight = new QSplitter(Qt::Horizontal, paMain);
    splitLeftRight->setObjectName(QStringLiteral("splitLeftRight"));
    splitLeftRight->setChildrenCollapsible(false);
    mainLayout->addWidget(splitLeftRight);

    paFilters = new QWidget(splitLeftRight);
    paFilters->setObjectName(QStringLiteral("paFilters"));
    auto* filtersLayout = new QVBoxLayout(paFilters);
    filtersLayout->setContentsMargins(0, 0, 0, 0);
    filtersLayout->setSpacing(0);
    auto* header = new QWidget(paFilters);
    header->setObjectName(QStringLiteral("paFiltersHeader"));
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(0);
    headerLayout->addWidget(HeaderStrip(QStringLiteral(" Filters"), "laFilters", header), 1);
    auto* close = new QToolButton(header);
    close->setObjectName(QStringLiteral("sbFiltersClose"));
    close->setText(QStringLiteral("X"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, [this] { paFilters->hide(); });
    headerLayout->addWidget(close);
    filtersLayout->addWidget(header);
    tvFilters = new QTreeWidget(paFilters);
    tvFilters->setObjectName(QStringLiteral("tvFilters"));
    tvFilters->setHeaderHidden(true);
    tvFilters->setIndentation(19);
    tvFilters->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvFilters->setContextMenuPolicy(Qt::CustomContextMenu);
    tvFilters->installEventFilter(this);
    connect(tvFilters, &QTreeWidget::itemClicked, this, Slot(&TfMain::tvFiltersClick));
    connect(tvFilters, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        Guard([this, at] {
            if (auto* item = tvFilters->itemAt(at))
                tvFilters->setCurrentItem(item);
            popupTreePopup();
            bool any = false;
            for (auto* item : TreeItems_)
                any = any || (item->isVisible() && !item->isSeparator());
            if (any)
                popupTree->popup(tvFilters->viewport()->mapToGlobal(at));
        });
    });
    filtersLayout->addWidget(tvFilters);
    splitLeftRight->addWidget(paFilters);

    nbookMain = new QStackedWidget(splitLeftRight);
    nbookMain->setObjectName(QStringLiteral("nbookMain"));
    splitLeftRight->addWidget(nbookMain);
    splitLeftRight->setStretchFactor(1, 1);
    BuildPages();
    setCentralWidget(paMain);
}

void TfMain::BuildPages()
{
    // Page 0: messages, splitter, preview.
    auto* work = new QWidget(nbookMain);
    work->setObjectName(QStringLiteral("Work"));
    auto* workLayout = new QVBoxLayout(work);
    workLayout->setContentsMargins(0, 0, 0, 0);
    splitTopBott = new QSplitter(Qt::Vertical, work);
    splitTopBott->setObjectName(QStringLiteral("splitTopBott"));
    splitTopBott->setChildrenCollapsible(false);
    workLayout->addWidget(splitTopBott);

    auto* paMessages = new QWidget(splitTopBott);
    paMessages->setObjectName(QStringLiteral("paMessages"));
    auto* messagesLayout = new QVBoxLayout(paMessages);
    messagesLayout->setContentsMargins(0, 0, 0, 0);
    messagesLayout->setSpacing(0);
    paMessagesHeader = HeaderStrip(QStringLiteral(" All Messages"), "paMessagesHeader", paMessages);
    messagesLayout->addWidget(paMessagesHeader);
    lvMessages = new QTreeView(paMessages);
    lvMessages->setObjectName(QStringLiteral("lvMessages"));
    lvMessages->setRootIsDecorated(false);
    lvMessages->setUniformRowHeights(true);
    lvMessages->setAllColumnsShowFocus(true);
    lvMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMessages->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvMessages->setContextMenuPolicy(Qt::CustomContextMenu);
    lvMessages->setModel(Model_);
    lvMessages->installEventFilter(this);
    auto* header = lvMessages->header();
    header->setSectionsMovable(false);
    header->setSectionsClickable(true);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    const int widths[] = {30, 30, 200, 300, 120, 80, 250, 0};
    for (int c = 0; c < TMessageListModel::ColumnCount; ++c)
        header->resizeSection(c, widths[c]);
    header->setSectionResizeMode(TMessageListModel::ColPriority, QHeaderView::Fixed);
    header->setSectionResizeMode(TMessageListModel::ColAttachments, QHeaderView::Fixed);
    header->setSectionHidden(TMessageListModel::ColHidden, true);
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { Guard([this, column] { lvMessagesColumnClick(column); }); });
    connect(lvMessages, &QAbstractItemView::clicked, this, Slot(&TfMain::lvMessagesClick));
    connect(lvMessages->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            Slot(&TfMain::SelectionChanged));
    connect(Model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (State_.Receiving)
            ShowListCounts();
    });
    connect(lvMessages, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { popupMessages->popup(lvMessages->viewport()->mapToGlobal(at)); });
    messagesLayout->addWidget(lvMessages, 1);

    auto* footer = new QWidget(paMessages);
    footer->setObjectName(QStringLiteral("paMessageFooter"));
    auto* footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(6, 2, 10, 2);
    footerLayout->setSpacing(12);
    ILSelectAll = LinkLabel(QStringLiteral("Select all"), "ILSelectAll", footer);
    ILDeselectAll = LinkLabel(QStringLiteral("Deselect all"), "ILDeselectAll", footer);
    ILDeleteSelected = LinkLabel(QStringLiteral("Delete selected"), "ILDeleteSelected", footer);
    for (auto* link : {ILSelectAll, ILDeselectAll, ILDeleteSelected}) {
        link->setEnabled(false);
        footerLayout->addWidget(link);
    }
    connect(ILSelectAll, &QLabel::linkActivated, this, Slot(&TfMain::SelectAllClick));
    connect(ILDeselectAll, &QLabel::linkActivated, this, Slot(&TfMain::DeselectAllClick));
    connect(ILDeleteSelected, &QLabel::linkActivated, this, [this] {
        Guard([this] {
            if (SelectedPosition() == views::ViewTrash)
                UndeleteSelectedClick();
            else
                DeleteSelectedClick();
        });
    });
    footerLayout->addStretch(1);
    sbAttach = new QToolButton(footer);
    sbAttach->setObjectName(QStringLiteral("sbAttach"));
    sbAttach->setToolTip(QStringLiteral("Attachments"));
    sbAttach->setIcon(ImageOf(TImageList::Message, 1));
    sbAttach->setAutoRaise(true);
    sbAttach->hide();
    footerLayout->addWidget(sbAttach);
    messagesLayout->addWidget(footer);
    splitTopBott->addWidget(paMessages);

    paPreview = new QWidget(splitTopBott);
    paPreview->setObjectName(QStringLiteral("paPreview"));
    auto* previewLayout = new QVBoxLayout(paPreview);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    rvPreview = new QTextBrowser(paPreview);
    rvPreview->setObjectName(QStringLiteral("rvPreview"));
    previewLayout->addWidget(rvPreview);
    paMsgControl = new QWidget(paPreview);
    paMsgControl->setObjectName(QStringLiteral("paMsgControl"));
    auto* controlLayout = new QVBoxLayout(paMsgControl);
    controlLayout->setContentsMargins(0, 0, 0, 0);
    auto* modes = new QToolBar(paMsgControl);
    modes->setObjectName(QStringLiteral("toolbMsgControl"));
    modes->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* modeGroup = new QActionGroup(paMsgControl);
    const char* modeNames[] = {"tbMessageInfo", "tbMessageHeader", "tbMessageFull"};
    const char* modeTexts[] = {"Message Info", "Message Header", "Full Message"};
    for (int i = 0; i < 3; ++i) {
        auto* mode = NewAction(modeNames[i], QString::fromLatin1(modeTexts[i]));
        mode->setCheckable(true);
        mode->setChecked(i == 0);
        mode->setData(i);
        modeGroup->addAction(mode);
        modes->addAction(mode);
    }
    controlLayout->addWidget(modes);
    auto* pages = new QStackedWidget(paMsgControl);
    pages->setObjectName(QStringLiteral("pgMessage"));
    controlLayout->addWidget(pages, 1);
    paMsgControl->hide();
    previewLayout->addWidget(paMsgControl);
    splitTopBott->addWidget(paPreview);
    splitTopBott->setStretchFactor(0, 1);
    splitTopBott->setStretchFactor(1, 0);
    nbookMain->addWidget(work);

    // Page 1: the welcome page.
    auto* scroll = new QScrollArea(nbookMain);
    scroll->setObjectName(QStringLiteral("Presentation"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* welcome = new QWidget(scroll);
    welcome->setObjectName(QStringLiteral("paPresentation"));
    welcome->setAutoFillBackground(true);
    QPalette white = welcome->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    welcome->setPalette(white);
    auto* welcomeLayout = new QVBoxLayout(welcome);
    welcomeLayout->setContentsMargins(32, 24, 32, 24);
    welcomeLayout->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Orvalent"), welcome);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    welcomeLayout->addWidget(title);
    auto* band = new QLabel(QStringLiteral("Tarnwick!"), welcome);
    band->setObjectName(QStringLiteral("laBand"));
    band->setStyleSheet(
        QStringLiteral("QLabel { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #1c5fa8, "
                       "stop:1 #5aa0e6); color: white; font-size: 20px; font-weight: bold; "
                       "padding: 10px 14px; border-radius: 4px; }"));
    welcomeLayout->addWidget(band);
    struct TWelcomeLink
    {
        const char* Section;
        const char* Line;
        const char* Link;
        const char* Name;
    };
    const TWelcomeLink links[] = {
        {"Accounts", "Create", "New Account", "ILNewAccount"},
        {"Accounts", "Import", "Accounts from Outlook Express", "ILImportAccounts"},
        {"Contacts", "Add Addresses to", "White List", "ILWhiteList"},
        {"Contacts", "Add Addresses to", "Black List", "ILBlackList"},
        {"Settings", "Configure", "Options", "ILOptions"},
    };
    const char* section = "";
    for (const auto& link : links) {
        if (std::string_view(section) != link.Section) {
            section = link.Section;
            auto* heading = new QLabel(QString::fromLatin1(section), welcome);
            QFont bold = heading->font();
            bold.setBold(true);
            bold.setPointSizeF(bold.pointSizeF() * 1.15);
            heading->setFont(bold);
            heading->setContentsMargins(0, 14, 0, 2);
            welcomeLayout->addWidget(heading);
        }
        auto* row = new QWidget(welcome);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(16, 0, 0, 0);
        rowLayout->addWidget(new QLabel(QString::fromLatin1(link.Line), row));
        auto* label = LinkLabel(QString::fromLatin1(link.Link), link.Name, row);
        rowLayout->addWidget(label);
        if (std::string_view(link.Name) == "ILNewAccount")
            connect(label, &QLabel::linkActivated, this, Slot(&TfMain::AddAccountClick));
        else if (std::string_view(link.Name) == "ILImportAccounts")
            connect(label, &QLabel::linkActivated, this, Slot(&TfMain::ImportAccountsClick));
        rowLayout->addStretch(1);
        welcomeLayout->addWidget(row);
    }
    welcomeLayout->addStretch(1);
    scroll->setWidget(welcome);
    nbookMain->addWidget(scroll);

    // Pages 2 and 3: what the group nodes hold.
    auto infoPage = [this](const char* name, const char* title,
                           std::initializer_list<std::pair<const char*, const char*>> entries) {
        auto* page = new QTextBrowser(nbookMain);
        page->setObjectName(QString::fromLatin1(name));
        page->setFrameShape(QFrame::NoFrame);
        QString html = QStringLiteral("<h2>%1</h2><dl>").arg(QString::fromLatin1(title));
        for (const auto& [caption, text] : entries)
            html += QStringLiteral("<dt><b>%1</b></dt><dd style=\"margin-bottom: 8px\">%2</dd>")
                        .arg(QString::fromLatin1(caption), QString::fromLatin1(text));
        html += QStringLiteral("</dl>");
        page->setHtml(html);
        nbookMain->addWidget(page);
    };
    infoPage(
        "Filtered", "Filtered",
        {{"Good messages", "contains those emails which are certain not to be spam"},
         {"Spam messages",
          "where all those emails are put which have been identified through the spam databases as such"},
         {"Questionable messages",
          "hold those emails that can not be identified as either good or spam for sure"}});
    infoPage("AdvancedFilter", "Advanced filters",
             {{"Duplicates", "shows all those emails which appear in more than one copy"},
              {"With attachments", "displays all emails containing attachments"},
              {"High priority", "separates high priority messages"},
              {"With foreign language", "sorts out emails containing foreign language characters"},
              {"Mail delivery errors", "displays all emails which inform about mail delivery errors"},
              {"Very large messages", "shows all the very large messages"}});
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

void TfMain::RestoreLayout()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize(800, 500);
    if (!ReadDesktopSettings(*Registry_, Desktop_, screenSize.width(), screenSize.height())) {
        WriteDefaultDesktopSettings(*Registry_, screenSize.width(), screenSize.height());
        ReadDesktopSettings(*Registry_, Desktop_, screenSize.width(), screenSize.height());
    }
    move(Desktop_.Left, Desktop_.Top);
    resize(Desktop_.Width, Desktop_.Height);
    toolBarMenu->setVisible(Desktop_.Toolbar);
    paFilters->setVisible(Desktop_.FiltersPanel);
    paPreview->setVisible(Desktop_.PreviewPanel);
    statusBar()->setVisible(Desktop_.Statusbar);
    splitTopBott->setSizes({std::max(1, Desktop_.Height - Desktop_.TreeY), Desktop_.TreeY});
    splitLeftRight->setSizes({Desktop_.TreeX, std::max(1, Desktop_.Width - Desktop_.TreeX)});
    if (Desktop_.WindowState == 1)
        setWindowState(Qt::WindowMinimized);
    else if (Desktop_.WindowState == 2)
        setWindowState(Qt::WindowMaximized);
}

void TfMain::SaveLayout()
{
    TDesktopSettings settings = Desktop_;
    // Left and Top are the frame's corner, as move() takes them; a minimised or maximised window
    // stores its normal rectangle so that it comes back at a sensible size.
    const QPoint frameOffset = geometry().topLeft() - pos();
    QRect normal = geometry();
    if ((isMinimized() || isMaximized()) && normalGeometry().isValid())
        normal = normalGeometry();
    settings.Left = normal.x() - frameOffset.x();
    settings.Top = normal.y() - frameOffset.y();
    settings.Width = normal.width();
    settings.Height = normal.height();
    settings.Toolbar = !toolBarMenu->isHidden();
    settings.Statusbar = !statusBar()->isHidden();
    settings.FiltersPanel = !paFilters->isHidden();
    settings.PreviewPanel = !paPreview->isHidden();
    // The splitters give real sizes only while their panels are laid out; otherwise the values
    // read at start stay.
    if (isVisible() && !paPreview->isHidden() && splitTopBott->isVisible())
        settings.TreeY = splitTopBott->sizes().value(1, settings.TreeY);
    if (isVisible() && !paFilters->isHidden())
        settings.TreeX = splitLeftRight->sizes().value(0, settings.TreeX);
    settings.WindowState = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    settings.FullMode = Desktop_.FullMode;
    WriteDesktopSettings(*Registry_, settings);
    Desktop_ = settings;
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

void TfMain::ShowPage(int page)
{
    if (nbookMain->currentIndex() != page)
        nbookMain->setCurrentIndex(page);
}

void TfMain::ShowListCounts()
{
    const int selected = lvMessages->selectionModel()
                             ? static_cast<int>(lvMessages->selectionModel()->selectedRows().size())
                             : 0;
    StatusCounts_->setText(QStringLiteral("%1 messages, selected %2").arg(Model_->rowCount()).arg(selected));
}

void TfMain::ShowStatus(const QString& text)
{
    StatusCounts_->setText(text);
}

void TfMain::EnterReceivingMode()
{
    ShowPage(PageWork);
    tvFilters->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{sbAttach, ILSelectAll, ILDeselectAll, ILDeleteSelected})
        w->setEnabled(false);
    for (QAction* a : {tbReceive, tbEmpty, tbDelete, ReceiveMails_})
        a->setEnabled(false);
    paMessagesHeader->setText(QStringLiteral(" All messages"));
    SelectPosition(views::ViewAllMessages);
    for (int c = TMessageListModel::ColFrom; c < TMessageListModel::ColumnCount; ++c)
        Model_->SetHeaderImage(c, -1);
    State_.Receiving = true;
    UpdateCommandStates();
}

void TfMain::LeaveReceivingMode()
{
    tvFilters->setEnabled(true);
    sbAttach->setEnabled(true);
    for (QAction* a : {tbReceive, tbEmpty, tbDelete, ReceiveMails_})
        a->setEnabled(true);
    State_.Receiving = false;
    if (Model_->rowCount() > 0) {
        ILSelectAll->setEnabled(true);
        ILDeselectAll->setEnabled(lvMessages->selectionModel()->hasSelection());
    }
    UpdateCommandStates();
    ApplyPendingSort();
}

void TfMain::SetAccountCommandsEnabled(bool enabled)
{
    for (QAction* a : {tbAddBlack, tbAddWhite, tbDelete, tbReceive, ReceiveMails_, tbEmpty, tbFind,
                       ImportRules_, ExportRules_})
        a->setEnabled(enabled);
    ShowPage(enabled ? PageWork : PagePresentation);
}

void TfMain::AppendRow(std::size_t recordIndex)
{
    AppendReceivedRows({recordIndex});
}

void TfMain::ReceiveRequested(std::function<void()> receive)
{
    if (State_.Filtering) {
        if (Prompter_.Ask(core::TMessageKind::Confirmation, std::string(core::texts::StopFiltersAndReceive),
                          {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
            return;
        State_.PendingReceive = true;
        State_.PendingReceiveCommand = std::move(receive);
        if (auto* user = Shown())
            user->RequestStopView();
        return;
    }
    receive();
}

// ---- folder tree -------------------------------------------------------------------------------

void TfMain::RebuildTree(accounts::TUser& user)
{
    rules::TRuleListClass& list = rules::RulesOf(user);
    list.Rules.clear();
    list.Current = nullptr;
    try {
        rules::LoadRules(*Registry_, Prompter_, list, user.ID());
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
    if (Model_->User() != &user) {
        Model_->SetUser(&user);
        State_.AppliedNode = -1;
    }

    tvFilters->setUpdatesEnabled(false);
    tvFilters->clear();
    Nodes_.clear();
    auto addNode = [this](QTreeWidgetItem* parent, const QString& caption, int image) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvFilters);
        item->setText(0, caption);
        item->setIcon(0, ImageOf(TImageList::Tree, image));
        item->setData(0, PositionRole, static_cast<int>(Nodes_.size()));
        item->setData(0, ImageRole, image);
        Nodes_.push_back(item);
        return item;
    };
    addNode(nullptr, QString(), 4);
    for (const auto& node : FixedNodes)
        addNode(Nodes_.at(static_cast<std::size_t>(node.Parent)), QString::fromLatin1(node.Caption),
                node.Image);
    auto* userFilters = addNode(Nodes_.front(), QStringLiteral("User Filters"), 2);
    for (const auto& rule : list.Rules)
        addNode(userFilters, Q(rule->Name), rule->IsEnabled() ? 2 : 3);
    tvFilters->expandAll();
    SelectPosition(views::ViewAllMessages);
    tvFilters->setUpdatesEnabled(true);
    Nodes_.front()->setText(0, RootCaption(user));
    UpdateCommandStates();
}

QTreeWidgetItem* TfMain::NodeAt(int position) const
{
    if (position < 0 || position >= static_cast<int>(Nodes_.size()))
        return nullptr;
    return Nodes_[static_cast<std::size_t>(position)];
}

int TfMain::SelectedPosition() const
{
    const auto* item = tvFilters->currentItem();
    if (item == nullptr || !item->isSelected())
        return -1;
    return item->data(0, PositionRole).toInt();
}

void TfMain::SelectPosition(int position)
{
    if (auto* item = NodeAt(position))
        tvFilters->setCurrentItem(item);
}

void TfMain::tvFiltersClick()
{
    // A click handled while a fill pumps its events only asks to stop it; the outermost call
    // applies a column click that waited for the fills to end.
    const bool outermost = !State_.Filtering;
    ApplySelectedNode();
    if (outermost)
        ApplyPendingSort();
}

void TfMain::ApplySelectedNode()
{
    for (;;) {
        const int position = SelectedPosition();
        if (position < 0)
            return;
        tbDelete->setEnabled(position != views::ViewTrash);
        if (position == State_.AppliedNode && State_.OnlyWhenChanged)
            return;
        if (State_.Filtering) {
            const auto answer =
                Prompter_.Ask(core::TMessageKind::Confirmation, std::string(core::texts::InterruptFilter),
                              {core::TAnswer::Yes, core::TAnswer::No});
            if (answer == core::TAnswer::Yes) {
                if (auto* user = Shown())
                    user->RequestStopView();
                State_.ReapplyRequest = true;
            } else {
                State_.ReapplyRequest = false;
                SelectPosition(State_.AppliedNode);
            }
            return;
        }
        ApplyView();
        if (!State_.ReapplyRequest)
            return;
        State_.ReapplyRequest = false;
    }
}

void TfMain::ApplyView()
{
    const int position = SelectedPosition();
    const QString caption = NodeAt(position)->text(0);
    paMsgControl->hide();
    sbAttach->hide();
    rvPreview->show();
    paMessagesHeader->setText(QStringLiteral(" ") + caption);
    BeginFill(QStringLiteral("Applying filter : ") + caption);
    State_.AppliedNode = position;
    try {
        switch (position) {
        case views::ViewRoot:
            ILSelectAll->setEnabled(false);
            ILDeselectAll->setEnabled(false);
            ShowPage(PagePresentation);
            break;
        case views::ViewFiltered:
            ShowPage(PageFiltered);
            break;
        case views::ViewAdvancedFilters:
            ShowPage(PageAdvancedFilter);
            break;
        default:
            ShowPage(PageWork);
            tbDelete->setEnabled(position != views::ViewTrash);
            FillList(position);
            ILSelectAll->setEnabled(Model_->rowCount() > 0);
            ILDeselectAll->setEnabled(lvMessages->selectionModel()->hasSelection());
            ILDeleteSelected->setText(QStringLiteral("<a href=\"#\">%1</a>")
                                          .arg(position == views::ViewTrash
                                                   ? QStringLiteral("Undelete selected")
                                                   : QStringLiteral("Delete selected")));
            break;
        }
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
    ShowListCounts();
    EndFill();
}

void TfMain::FillList(int position)
{
    lvMessages->setUpdatesEnabled(false);
    Model_->Clear();
    accounts::TUser* user = Shown();
    if (user == nullptr) {
        lvMessages->setUpdatesEnabled(true);
        return;
    }
    views::TViewInputs inputs;
    inputs.Registry = Registry_.get();
    inputs.Prompter = &Prompter_;
    const auto lists = classify::AddressLists().Snapshot();
    inputs.WhiteList = EnabledTexts(*lists.White);
    inputs.BlackList = EnabledTexts(*lists.Black);
    const auto options = core::Options();
    inputs.Match = rules::TMatchSettings::FromOptions(*options, rules::AccountNamesOf(Admin_));
    inputs.DataFolder = core::Folders().DataFolder;
    if (position >= views::ViewUserFilters)
        if (auto* node = NodeAt(position))
            inputs.NodeEnabled = node->data(0, ImageRole).toInt() == 2;
    inputs.Progress = [this](std::size_t index, std::size_t total) { FillProgress(index, total); };
    std::vector<views::TRowKey> rows;
    inputs.OnRow = [&rows](const views::TRowKey& key) { rows.push_back(key); };
    struct TResume
    {
        QTreeView* View;
        TMessageListModel* Model;
        std::vector<views::TRowKey>& Rows;
        ~TResume()
        {
            // The rows found so far stay in the list, also when the fill failed part-way.
            Model->AppendRows(Rows);
            View->setUpdatesEnabled(true);
        }
    } resume{lvMessages, Model_, rows};
    views::FillView(*user, position, inputs);
}

void TfMain::BeginFill(const QString& caption)
{
    State_.Filtering = true;
    State_.PendingReceive = false;
    State_.PendingReceiveCommand = nullptr;
    ProgressBar_->setValue(0);
    ProgressBar_->show();
    LastPercent_ = 0;
    LastPump_ = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    StatusActivity_->setText(caption);
}

void TfMain::EndFill()
{
    ProgressBar_->setValue(0);
    ProgressBar_->hide();
    QApplication::restoreOverrideCursor();
    StatusActivity_->clear();
    State_.Filtering = false;
    UpdateCommandStates();
    if (State_.PendingReceive) {
        State_.PendingReceive = false;
        auto receive = std::move(State_.PendingReceiveCommand);
        State_.PendingReceiveCommand = nullptr;
        if (receive)
            receive();
    }
}

void TfMain::FillProgress(std::size_t index, std::size_t total)
{
    const std::size_t percent = total == 0 ? 0 : index * 100 / total;
    if (percent != LastPercent_) {
        LastPercent_ = percent;
        ProgressBar_->setValue(static_cast<int>(percent));
    }
    if (index != 0 && index % RowsPerClockLook != 0)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (index != 0 && now - LastPump_ < PumpIntervalMs)
        return;
    LastPump_ = now;
    QCoreApplication::processEvents();
}

void TfMain::RefreshView()
{
    State_.OnlyWhenChanged = false;
    struct TRestore
    {
        bool& Flag;
        ~TRestore() { Flag = true; }
    } restore{State_.OnlyWhenChanged};
    tvFiltersClick();
}

void TfMain::lvMessagesColumnClick(int column)
{
    if (Shown() == nullptr || column < 0 || column >= TMessageListModel::ColHidden)
        return;
    auto& descending = DescendingNext_.at(static_cast<std::size_t>(column));
    const bool sortDescending = descending;
    descending = !descending;
    if (State_.Filtering || State_.Receiving) {
        // A fill walks the records by index and a receive's rows are appended by index: sorting
        // now would leave rows showing other messages. The latest click is applied once both are
        // over; until then the header shows the order the list really has.
        State_.PendingSortColumn = column;
        State_.PendingSortDescending = sortDescending;
        return;
    }
    SortByColumn(column, sortDescending);
}

void TfMain::SortByColumn(int column, bool descending)
{
    accounts::TUser* user = Shown();
    if (user == nullptr)
        return;
    for (int c = TMessageListModel::ColFrom; c < TMessageListModel::ColumnCount; ++c)
        if (c != column)
            Model_->SetHeaderImage(c, -1);
    if (column >= TMessageListModel::ColFrom)
        Model_->SetHeaderImage(column, descending ? 2 : 3);
    // The sort reorders the records; the rows keep pointing at their messages through the server
    // numbers until the view is filled again.
    std::unordered_map<std::int32_t, std::size_t> indexOf;
    {
        // Released before the model changes: the model takes the lock for its own lookups.
        std::lock_guard lock(engine::DownloadLock());
        user->Mails.Sort(descending ? -(column + 1) : column + 1);
        for (std::size_t i = 0; i < user->Mails.Count(); ++i)
            if (const auto* m = user->Mails.At(i))
                indexOf.emplace(m->Number, i);
    }
    std::vector<views::TRowKey> remapped;
    for (const auto& key : Model_->Rows())
        if (auto found = indexOf.find(key.Number); found != indexOf.end())
            remapped.push_back({found->second, key.Number});
    Model_->Clear();
    Model_->AppendRows(remapped);
    RefreshView();
}

void TfMain::ApplyPendingSort()
{
    if (State_.PendingSortColumn < 0 || State_.Filtering || State_.Receiving)
        return;
    const int column = State_.PendingSortColumn;
    State_.PendingSortColumn = -1;
    SortByColumn(column, State_.PendingSortDescending);
}

void TfMain::lvMessagesClick()
{
    const auto selected = lvMessages->selectionModel()->selectedRows();
    accounts::TUser* user = Shown();
    if (selected.isEmpty() || user == nullptr) {
        paMsgControl->hide();
        sbAttach->hide();
        rvPreview->show();
        return;
    }
    int first = selected.front().row();
    for (const auto& index : selected)
        first = std::min(first, index.row());
    const auto& key = Model_->RowKey(first);
    bool attachments = false;
    {
        // A receive may be adding records to the list meanwhile.
        std::lock_guard lock(engine::DownloadLock());
        if (key.RecordIndex < user->Mails.Count())
            if (const auto* record = user->Mails.At(key.RecordIndex))
                attachments = record->HasAttachments;
    }
    rvPreview->hide();
    paMsgControl->show();
    sbAttach->setVisible(attachments);
    if (auto* info = paMsgControl->findChild<QAction*>(QStringLiteral("tbMessageInfo")))
        info->setChecked(true);
}

void TfMain::SelectionChanged()
{
    if (State_.Receiving)
        return;
    const bool any = lvMessages->selectionModel()->hasSelection();
    ILDeselectAll->setEnabled(any);
    ILDeleteSelected->setEnabled(any);
    ShowListCounts();
    UpdateCommandStates();
}

// ---- menu enabling -----------------------------------------------------------------------------

void TfMain::UpdateCommandStates()
{
    Edit1Click();
    OptionsClick();
}

void TfMain::Edit1Click()
{
    const int node = SelectedPosition();
    const bool rows = Model_->rowCount() > 0;
    const bool selected = lvMessages->selectionModel()->hasSelection();
    std::array<bool, 7> on{};
    if (node > views::ViewRoot && rows) {
        if (node == views::ViewTrash) {
            on = {true, true, true, false, false, selected, true};
        } else {
            on = {true, true, true, true, selected, false, false};
        }
    }
    if (State_.Receiving)
        on[4] = false;
    for (std::size_t i = 0; i < on.size(); ++i)
        EditItems_[i]->setEnabled(on[i]);
}

void TfMain::OptionsClick()
{
    const int node = SelectedPosition();
    const bool selected = lvMessages->selectionModel()->hasSelection();
    std::array<bool, 7> on{};
    const bool trash = node == views::ViewTrash;
    ListItems_[2]->setText(trash && selected ? QStringLiteral("Undelete selected")
                                             : QStringLiteral("&Delete selected"));
    ListItems_[2]->setShortcut(trash && selected ? QKeySequence(Qt::Key_Backspace)
                                                 : QKeySequence(Qt::Key_Delete));
    if (node > views::ViewRoot && selected) {
        if (trash)
            on = {true, false, true, false, true, true, false};
        else
            on = {true, true, true, true, true, true, true};
    }
    if (State_.Receiving)
        on[2] = false;
    for (std::size_t i = 0; i < on.size(); ++i)
        ListItems_[i]->setEnabled(on[i]);
}

void TfMain::popupTreePopup()
{
    // Items: 0 Empty Trash, 1 Enable/Disable, 2 Modify, 3 Remove, 4 separator, 5 New Rule,
    // 6 Rule Settings, 7 Import, 8 Export.
    const int node = SelectedPosition();
    std::array<bool, 9> shown{};
    if (node == views::ViewRoot || node == views::ViewAllMessages)
        shown = {false, false, false, false, false, true, true, true, true};
    else if (node == views::ViewTrash)
        shown[0] = true;
    else if (node >= views::ViewDuplicates && node <= views::ViewVeryLarge)
        shown[6] = true;
    else if (node == views::ViewUserFilters)
        shown = {false, true, false, false, false, true, true, true, true};
    else if (node >= views::RuleViewBase)
        shown = {false, true, true, true, true, true, true, true, true};
    for (std::size_t i = 0; i < shown.size(); ++i)
        TreeItems_[i]->setVisible(shown[i]);
}

void TfMain::View1Click()
{
    ViewToolbar_->setChecked(!toolBarMenu->isHidden());
    ViewStatusBar_->setChecked(!statusBar()->isHidden());
    ViewFilters_->setChecked(!paFilters->isHidden());
    ViewPreview_->setChecked(!paPreview->isHidden());
}

void TfMain::Tools1Click()
{
    const bool node = SelectedPosition() >= 0;
    MessageRules_->setEnabled(node);
    AdvancedFilters_->setEnabled(node);
}

void TfMain::ApplicationEventsActivate()
{
    const auto options = core::Options();
    if (!State_.StartupReceivePending || !Admin_.HasUsers() || Admin_.CurrentUser() == nullptr || !options ||
        !core::IsOn(options->AutoReceive) || State_.Receiving)
        return;
    if (State_.Filtering) {
        // The receive replaces the records the fill walks: it starts when the fill is over, unless
        // the user already asked for one.
        if (!State_.PendingReceive) {
            State_.PendingReceive = true;
            State_.PendingReceiveCommand = [this] { ApplicationEventsActivate(); };
        }
        return;
    }
    paMsgControl->hide();
    paPreview->show();
    Model_->Clear();
    State_.StartupReceivePending = false;
    // Receiving mode ends with the receive, also when it fails; no trash notice at start-up.
    StartReceive(*Admin_.CurrentUser(), false);
}

void TfMain::RaiseFromAnotherStart()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

// ---- accounts ----------------------------------------------------------------------------------

void TfMain::AccountsExist(bool exist)
{
    SetAccountCommandsEnabled(exist);
}

void TfMain::AccountMadeCurrent(accounts::TUser& user)
{
    RebuildTree(user);
}

void TfMain::AccountMenusChanged()
{
    BuildAccountMenus();
}

// ---- window events -----------------------------------------------------------------------------

void TfMain::closeEvent(QCloseEvent* event)
{
    Guard([this, event] { CloseRequested(*event); });
}

void TfMain::CloseRequested(QCloseEvent& closing)
{
    QCloseEvent* event = &closing;
    const auto options = core::Options();
    if (options && core::IsOn(options->ClearCache)) {
        std::error_code ignored;
        std::filesystem::remove_all(core::CacheFolder(options->CacheDir), ignored);
    }
    accounts::TUser* user = Admin_.CurrentUser();
    if (user == nullptr) {
        event->accept();
        return;
    }
    if (user->TrashNotEmpty && options && core::IsOn(options->WarnTrashNotEmpty) &&
        Prompter_.Ask(core::TMessageKind::Confirmation, "Trash is not empty. Do you want to exit anyway ?",
                      {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes) {
        event->ignore();
        return;
    }
    if (State_.Receiving) {
        if (Prompter_.Ask(core::TMessageKind::Confirmation, std::string(core::texts::ExitWhileReceiving),
                          {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes) {
            event->ignore();
            return;
        }
        // Yes presses Stop; the receive ends while the program closes.
        if (ReceivingWindow_)
            ReceivingWindow_->buStopClick();
    }
    // The receiving window has no parent: it must not keep the program running.
    if (ReceivingWindow_)
        ReceivingWindow_->hide();
    event->accept();
}

void TfMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
}

bool TfMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == StatusActivity_ && event->type() == QEvent::MouseButtonDblClick) {
        Guard([this] { ShowReceivingWindow(); });
        return true;
    }
    if (event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            if (watched == tvFilters)
                Guard([this] { tvFiltersClick(); });
            else if (watched == lvMessages)
                Guard([this] { lvMessagesClick(); });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tarnwick::gui
