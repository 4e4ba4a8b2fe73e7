// The main window's central area: the filters panel with the folder tree, and the page book with
// the message list, its footer links, the preview area, the welcome page and the information pages.
#include <string_view>
#include <utility>

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/common/TImages.h"
#include "gui/main/TFromDelegate.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TMessagePreview.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

namespace {

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
    lvMessages->setItemDelegate(new TFromDelegate(lvMessages));
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
    connect(lvMessages, &QAbstractItemView::doubleClicked, this, Slot(&TfMain::OpenClick));
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
    connect(sbAttach, &QToolButton::clicked, this, Slot(&TfMain::sbAttachClick));
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
    BuildPreviewArea(paPreview);
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
        else if (std::string_view(link.Name) == "ILWhiteList")
            connect(label, &QLabel::linkActivated, this, Slot(&TfMain::WhiteList1Click));
        else if (std::string_view(link.Name) == "ILBlackList")
            connect(label, &QLabel::linkActivated, this, Slot(&TfMain::BlackList1Click));
        else if (std::string_view(link.Name) == "ILOptions")
            connect(label, &QLabel::linkActivated, this, Slot(&TfMain::Options1Click));
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

} // namespace tarnwick::gui
