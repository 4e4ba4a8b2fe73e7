// The message window: one message with its summary, the whole message, and the commands that
// work on it.
#include "gui/message/TfMailWindow.h"

#include <algorithm>
#include <mutex>

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "accounts/TUser.h"
#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "engine/DownloadLock.h"
#include "gui/common/TImages.h"
#include "gui/main/TDesktopSettings.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessageInfo.h"
#include "gui/message/TSaveMessage.h"
#include "gui/message/TfMailSource.h"
#include "gui/viewer/TMessageBrowser.h"
#include "retrieval/TCacheFile.h"

namespace tarnwick::gui {

namespace {

constexpr const char* TitleSuffix = " - Orvalent Tarnwick ";
constexpr const char* Downloading = "Downloading mail...please wait.";
constexpr const char* JumpToFirst = "There are no more messages. Jump to the first message is the list?";
constexpr const char* JumpToLast = "There are no more messages. Jump to the last message is the list?";
constexpr const char* MessageDeleted = "This message was deleted!";
constexpr const char* LeftTheList = "This message is no longer in the list of the main window.";
constexpr const char* NoCacheFile = "The specified file does not exist !";
constexpr const char* NotWhileReceiving = "Messages can be put in the trash when the download is over.";
constexpr const char* MoveToBlackQuestion =
    "This address is already in the White list. Do you want to move it to Black list ?";
constexpr const char* MoveToWhiteQuestion =
    "This address is already in the Black list. Do you want to move it to White list ?";

constexpr int DesignedWidth = 746;
constexpr int DesignedHeight = 459;

} // namespace

TfMailWindow::TfMailWindow(TfMain& main, core::TPrompter& prompter)
    : QMainWindow(nullptr)
    , Main_(main)
    , Prompter_(prompter)
{
    setObjectName(QStringLiteral("fMailWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromLatin1(TitleSuffix).mid(3));
    resize(DesignedWidth, DesignedHeight);
    BuildMenus();
    BuildToolBar();
    BuildBody();
    BuildStatusBar();
    ReadGeometry();
}

TfMailWindow::~TfMailWindow() = default;

void TfMailWindow::Guard(const std::function<void()>& command) noexcept
{
    try {
        command();
    } catch (const std::exception& e) {
        try {
            Prompter_.Inform(core::TMessageKind::Error, e.what());
        } catch (...) {
        }
    } catch (...) {
    }
}

QAction* TfMailWindow::NewAction(const char* name, const QString& text, const QKeySequence& shortcut)
{
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

void TfMailWindow::BuildMenus()
{
    auto* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    SaveAs_ = NewAction("Saveas1", QStringLiteral("&Save as..."), QKeySequence(Qt::CTRL | Qt::Key_S));
    DeleteMessage_ =
        NewAction("DeleteMessage1", QStringLiteral("&Delete Message"), QKeySequence(Qt::CTRL | Qt::Key_D));
    auto* close = NewAction("Close1", QStringLiteral("&Close"));
    file->addAction(SaveAs_);
    file->addAction(DeleteMessage_);
    file->addSeparator();
    file->addAction(close);
    connect(SaveAs_, &QAction::triggered, this, [this] { Guard([this] { SaveAsClick(); }); });
    connect(DeleteMessage_, &QAction::triggered, this, [this] { Guard([this] { DeleteClick(); }); });
    connect(close, &QAction::triggered, this, &QWidget::close);

    auto* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("View1"));
    PreviousMessage_ = NewAction("Previousmessage1", QStringLiteral("&Previous message"),
                                 QKeySequence(Qt::CTRL | Qt::Key_P));
    NextMessage_ =
        NewAction("Nextmessage1", QStringLiteral("&Next message"), QKeySequence(Qt::CTRL | Qt::Key_N));
    ViewToolbar_ = NewAction("Toolbar1", QStringLiteral("&Toolbar"), QKeySequence(Qt::CTRL | Qt::Key_T));
    ViewInfo_ =
        NewAction("Messageinfo1", QStringLiteral("Message &info"), QKeySequence(Qt::CTRL | Qt::Key_I));
    ViewStatus_ = NewAction("Statusbar1", QStringLiteral("&Statusbar"), QKeySequence(Qt::CTRL | Qt::Key_B));
    view->addAction(PreviousMessage_);
    view->addAction(NextMessage_);
    view->addSeparator();
    for (auto* item : {ViewToolbar_, ViewInfo_, ViewStatus_}) {
        item->setCheckable(true);
        item->setChecked(true);
        view->addAction(item);
    }
    connect(PreviousMessage_, &QAction::triggered, this, [this] { Guard([this] { PreviousClick(); }); });
    connect(NextMessage_, &QAction::triggered, this, [this] { Guard([this] { NextClick(); }); });
    connect(ViewToolbar_, &QAction::toggled, this, [this](bool on) { TBand_->setVisible(on); });
    connect(ViewInfo_, &QAction::toggled, this, [this](bool on) { PNMessageInfo->setVisible(on); });
    connect(ViewStatus_, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

    auto* message = menuBar()->addMenu(QStringLiteral("&Message"));
    message->setObjectName(QStringLiteral("Message1"));
    auto* createRule = NewAction("CreateRulefrommessage1", QStringLiteral("Create &Rule from message..."));
    // The rule editor that it opens is not part of the program yet.
    createRule->setEnabled(false);
    auto* toBlack = NewAction("MovesendertoBlacklist1", QStringLiteral("Move sender to &Black list"));
    auto* toWhite = NewAction("MovesendertoWhitelist1", QStringLiteral("Move sender to &White list"));
    message->addAction(createRule);
    message->addSeparator();
    message->addAction(toBlack);
    message->addAction(toWhite);
    connect(toBlack, &QAction::triggered, this, [this] { Guard([this] { BlackClick(); }); });
    connect(toWhite, &QAction::triggered, this, [this] { Guard([this] { WhiteClick(); }); });
}

void TfMailWindow::BuildToolBar()
{
    TBand_ = addToolBar(QStringLiteral("Toolbar"));
    TBand_->setObjectName(QStringLiteral("CoolBar1"));
    TBand_->setMovable(false);
    TBand_->setFloatable(false);
    TBand_->setIconSize(QSize(32, 32));
    TBand_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto button = [this](const char* name, const char* text, const QIcon& icon) {
        auto* action = NewAction(name, QString::fromLatin1(text));
        action->setIcon(icon);
        TBand_->addAction(action);
        return action;
    };
    TBDelete = button("TBDelete", "Delete", ImageOf(TImageList::Toolbar, 2));
    TBand_->addSeparator();
    auto themed = [this](const char* name, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QString::fromLatin1(name), style()->standardIcon(fallback));
    };
    TBPrevious = button("TBPrevious", "Previous", themed("go-previous", QStyle::SP_ArrowBack));
    TBNext = button("TBNext", "Next", themed("go-next", QStyle::SP_ArrowForward));
    TBand_->addSeparator();
    CreateRule = button("CreateRule", "CreateRule", themed("document-new", QStyle::SP_FileDialogNewFolder));
    CreateRule->setEnabled(false);
    Black = button("Black", "Black", ImageOf(TImageList::Toolbar, 0));
    White = button("White", "White", ImageOf(TImageList::Toolbar, 1));
    TBand_->addSeparator();
    TBSource =
        button("TBSource", "   Source    ", themed("text-x-generic", QStyle::SP_FileDialogContentsView));
    connect(TBDelete, &QAction::triggered, this, [this] { Guard([this] { DeleteClick(); }); });
    connect(TBPrevious, &QAction::triggered, this, [this] { Guard([this] { PreviousClick(); }); });
    connect(TBNext, &QAction::triggered, this, [this] { Guard([this] { NextClick(); }); });
    connect(Black, &QAction::triggered, this, [this] { Guard([this] { BlackClick(); }); });
    connect(White, &QAction::triggered, this, [this] { Guard([this] { WhiteClick(); }); });
    connect(TBSource, &QAction::triggered, this, [this] { Guard([this] { SourceClick(); }); });
}

void TfMailWindow::BuildBody()
{
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    PNPriority = new QWidget(body);
    PNPriority->setObjectName(QStringLiteral("PNPriority"));
    PNPriority->setAttribute(Qt::WA_StyledBackground);
    PNPriority->setStyleSheet(QStringLiteral("#PNPriority { background: rgb(214, 229, 245); "
                                             "border: 1px solid rgb(60, 60, 60); }"));
    auto* priorityLayout = new QHBoxLayout(PNPriority);
    priorityLayout->setContentsMargins(4, 1, 4, 1);
    IMPriority_ = new QLabel(PNPriority);
    IMPriority_->setObjectName(QStringLiteral("IMPriority"));
    LBPriority = new QLabel(PNPriority);
    LBPriority->setObjectName(QStringLiteral("LBPriority"));
    priorityLayout->addWidget(IMPriority_);
    priorityLayout->addWidget(LBPriority, 1);
    PNPriority->hide();
    layout->addWidget(PNPriority);

    auto* splitter = new QSplitter(Qt::Vertical, body);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(5);
    splitter->setChildrenCollapsible(false);
    PNMessageInfo = new QWidget(splitter);
    PNMessageInfo->setObjectName(QStringLiteral("PNMessageInfo"));
    auto* infoLayout = new QVBoxLayout(PNMessageInfo);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    RichView1 = new QTextBrowser(PNMessageInfo);
    RichView1->setObjectName(QStringLiteral("RichView1"));
    RichView1->setOpenLinks(false);
    RichView1->setOpenExternalLinks(false);
    infoLayout->addWidget(RichView1);
    // Room for the summary's lines in the desktop font.
    PNMessageInfo->setMinimumHeight(fontMetrics().lineSpacing() * 4);
    connect(RichView1, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        Guard([this, url] {
            if (url.scheme() == QStringLiteral("mailto") && !QDesktopServices::openUrl(url))
                Prompter_.Inform(core::TMessageKind::Error,
                                 "No mail program is set up to write to " + url.path().toStdString() + ".");
        });
    });
    splitter->addWidget(PNMessageInfo);

    auto* page = new QWidget(splitter);
    page->setObjectName(QStringLiteral("PNBrowser"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    WebBrowser1 = new TMessageBrowser(page);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->SetPrompter(&Prompter_);
    pageLayout->addWidget(WebBrowser1);
    splitter->addWidget(page);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({fontMetrics().lineSpacing() * 9, DesignedHeight});
    layout->addWidget(splitter, 1);
    setCentralWidget(body);

    Loader_ = new TFullMessageLoader(Prompter_, *WebBrowser1, this);
    connect(Loader_, &TFullMessageLoader::Done, this, [this] {
        SetBusy(false);
        Panels_[0]->clear();
    });
    connect(WebBrowser1, &TMessageBrowser::LoadFinished, this,
            [this] { Panels_[1]->setText(BlockedRemoteText(WebBrowser1->BlockedRemote())); });
}

void TfMailWindow::BuildStatusBar()
{
    auto* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[] = {300, 150, 30};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        Panels_[static_cast<std::size_t>(i)] = panel;
        if (i == 0) {
            bar->addWidget(panel, 1);
        } else {
            // The designed widths, or what the longest text needs in the desktop font.
            const int needed =
                i == 1 ? panel->fontMetrics().horizontalAdvance(BlockedRemoteText(999)) + 8 : 0;
            panel->setMinimumWidth(std::max(widths[i], needed));
            bar->addPermanentWidget(panel);
        }
    }
}

void TfMailWindow::resizeEvent(QResizeEvent* event)
{
    // Panel 0 takes what panels 1 and 2 leave: the status bar's stretch does that.
    QMainWindow::resizeEvent(event);
}

void TfMailWindow::ReadGeometry()
{
    core::TRegistry registry(core::Hive());
    if (!registry.OpenKey(DesktopKey, false))
        return;
    auto value = [&registry](const char* name) -> std::optional<int> {
        if (!registry.ValueExists(name))
            return std::nullopt;
        try {
            return std::stoi(registry.ReadString(name));
        } catch (const std::exception&) {
            return std::nullopt; // a damaged value keeps the designed geometry
        }
    };
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize(DesignedWidth, DesignedHeight);
    const int width = value("MWWidth").value_or(this->width());
    const int height = value("MWHeight").value_or(this->height());
    const int left = value("MWLeft").value_or((screenSize.width() - 748) / 2);
    const int top = value("MWTop").value_or((screenSize.height() - 470) / 2);
    resize(width, height);
    move(left, top);
}

void TfMailWindow::WriteGeometry()
{
    const bool normal = !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    const QRect rect = normal ? QRect(pos(), size()) : normalGeometry();
    core::TRegistry registry(core::Hive());
    registry.OpenKey(DesktopKey, true);
    registry.WriteString("MWWidth", std::to_string(rect.width()));
    registry.WriteString("MWHeight", std::to_string(rect.height()));
    registry.WriteString("MWLeft", std::to_string(rect.left()));
    registry.WriteString("MWTop", std::to_string(rect.top()));
}

void TfMailWindow::closeEvent(QCloseEvent* event)
{
    Loader_->Abandon();
    try {
        WriteGeometry();
    } catch (const std::exception&) {
        // The geometry is a convenience; a store that cannot be written loses only it.
    }
    event->accept();
}

void TfMailWindow::SetBusy(bool busy)
{
    Busy_ = busy;
    for (auto* item :
         {TBDelete, TBNext, TBPrevious, TBSource, SaveAs_, DeleteMessage_, NextMessage_, PreviousMessage_})
        item->setEnabled(!busy);
}

int TfMailWindow::ShownRow() const
{
    return RowOf(Main_.Messages(), Shown_);
}

void TfMailWindow::ShowRow(int row)
{
    const TMessageListModel& model = Main_.Messages();
    accounts::TUser* user = model.User();
    if (user == nullptr || row < 0 || row >= model.rowCount())
        return;
    TRecordRef ref = RefOf(*user, model.RowKey(row).RecordIndex);
    if (ref.Empty())
        return;
    Shown_ = std::move(ref);
    const accounts::TMailMessage& record = Shown_.Copy;
    setWindowTitle(LineText(record.Subject) + QString::fromLatin1(TitleSuffix));
    if (record.Priority == accounts::PriorityHigh || record.Priority == accounts::PriorityLow) {
        const bool high = record.Priority == accounts::PriorityHigh;
        IMPriority_->setPixmap(ImageOf(TImageList::Message, high ? 6 : 4).pixmap(16, 16));
        LBPriority->setText(high ? QStringLiteral("This message is High Priority")
                                 : QStringLiteral("This message is Low Priority"));
        PNPriority->show();
    } else {
        PNPriority->hide();
    }
    Panels_[0]->setText(QString::fromLatin1(Downloading));
    Panels_[1]->clear();
    SetBusy(true);
    ShowMessageInfo(record, *RichView1, TInfoStyle{9, 15, 5});
    // Ends the busy state through Done, at once when the cache holds the message.
    Loader_->Show(*user, Shown_);
}

void TfMailWindow::Step(int step)
{
    const int count = Main_.Messages().rowCount();
    const int row = ShownRow();
    if (row < 0) {
        Prompter_.Inform(core::TMessageKind::Information, LeftTheList);
        return;
    }
    int next = row + step;
    if (next >= count) {
        next = Prompter_.Ask(core::TMessageKind::Warning, JumpToFirst,
                             {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes
                   ? 0
                   : row;
    } else if (next < 0) {
        next = Prompter_.Ask(core::TMessageKind::Warning, JumpToLast,
                             {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes
                   ? count - 1
                   : row;
    }
    ShowRow(next);
}

void TfMailWindow::NextClick()
{
    Step(1);
}

void TfMailWindow::PreviousClick()
{
    Step(-1);
}

void TfMailWindow::DeleteClick()
{
    const int row = ShownRow();
    if (row < 0) {
        Prompter_.Inform(core::TMessageKind::Warning, MessageDeleted);
        return;
    }
    if (Main_.IsReceiving()) {
        Prompter_.Inform(core::TMessageKind::Information, NotWhileReceiving);
        return;
    }
    const TMessageListModel& model = Main_.Messages();
    const int nextRow = row + 1 < model.rowCount() ? row + 1 : 0;
    const TRecordRef next = RefOf(*model.User(), model.RowKey(nextRow).RecordIndex);
    Main_.TrashRowAlone(row);
    if (model.rowCount() == 0) {
        close();
        return;
    }
    const int shown = RowOf(model, next);
    ShowRow(shown >= 0 ? shown : 0);
}

void TfMailWindow::SaveAsClick()
{
    const QString cacheFile = CachePathOf(Shown_.Copy);
    if (Shown_.Empty() || !retrieval::CacheFileHolds(Shown_.Copy.Headers, cacheFile.toStdString())) {
        Prompter_.Inform(core::TMessageKind::Error, NoCacheFile);
        return;
    }
    TSaveRequest request;
    request.Title = QStringLiteral("Save as");
    request.Proposed = cacheFile;
    request.Filter = QStringLiteral("Mail (*.eml)");
    request.ConfirmOverwrite = false; // the name gets its ".eml" only afterwards: asked below
    const TSaveDialog& dialog = Main_.Commands().SaveDialog;
    QString name = dialog ? dialog(this, request) : RunSaveDialog(this, request);
    if (name.isEmpty())
        return;
    if (!name.endsWith(QStringLiteral(".eml"), Qt::CaseSensitive))
        name += QStringLiteral(".eml");
    bool replace = false;
    if (QFileInfo::exists(name)) {
        if (Prompter_.Ask(core::TMessageKind::Confirmation,
                          QFileInfo(name).absoluteFilePath().toStdString() +
                              " already exists.\nDo you want to replace it?",
                          {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
            return;
        replace = true;
    }
    const std::string error = MoveMessageFile(cacheFile, name, replace);
    if (!error.empty()) {
        Prompter_.Inform(core::TMessageKind::Error, error);
        return;
    }
    Main_.MessageLeftCache(Shown_);
}

void TfMailWindow::SourceClick()
{
    TfMailSource source(this);
    source.ShowSource(Shown_.Copy);
    Main_.RunDialog(source);
}

void TfMailWindow::MoveSender(bool black)
{
    const std::string& address = Shown_.Copy.FromAddress;
    const auto options = core::Options();
    const classify::TListKind kind = black ? classify::TListKind::Black : classify::TListKind::White;
    const classify::TListKind otherKind = black ? classify::TListKind::White : classify::TListKind::Black;
    if (options && core::IsOn(options->WarnAddressInList) &&
        classify::AddressLists().Snapshot().Listed(otherKind, address) &&
        Prompter_.Ask(core::TMessageKind::Confirmation, black ? MoveToBlackQuestion : MoveToWhiteQuestion,
                      {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
        return;
    classify::AddressLists().Change(kind, [&](classify::TAddressList& list, classify::TAddressList& other) {
        classify::MoveToList(list, other, address);
    });
    // Written at once (merging what another program wrote meanwhile); a failure keeps the lists in
    // memory, to be saved at the next change or at exit.
    try {
        for (const std::string& note : classify::AddressLists().Save(core::Folders().DataFolder))
            Prompter_.Inform(core::TMessageKind::Warning, note);
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
}

void TfMailWindow::BlackClick()
{
    MoveSender(true);
}

void TfMailWindow::WhiteClick()
{
    MoveSender(false);
}

} // namespace tarnwick::gui
