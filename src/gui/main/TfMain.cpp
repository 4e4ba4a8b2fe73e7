// The main window as a whole: construction, the layout store, the window's modes and shared
// operations, the start-up receive, the accounts observer and the window events. Its parts live in
// TfMainMenus, TfMainPanels, TfMainTree, TfMainList, TfMainCommands, TfMainReceive,
// TfMainAccounts and TfMainAttach.
#include "TfMain.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include "accounts/TUser.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TFolderTree.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "engine/TDownloadMail.h"
#include "gui/main/TMessageListModel.h"
#include "gui/message/TfMailWindow.h"
#include "gui/receive/TReceiveBridge.h"
#include "gui/receive/TfReceivingMail.h"
#include "mime/TDecodeAttach.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

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
    // The message windows have no parent but refer to this window's list.
    for (auto& window : MailWindows_)
        delete window.data();
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

void TfMain::closeEvent(QCloseEvent* event)
{
    Guard([this, event] { CloseRequested(*event); });
}

void TfMain::CloseRequested(QCloseEvent& closing)
{
    QCloseEvent* event = &closing;
    const auto options = core::Options();
    // "Clear Cache on exit" only once the program really ends: a No to a question below keeps it
    // running, with its cache.
    const auto accept = [&options, event] {
        if (options && core::IsOn(options->ClearCache))
            core::DeleteFolderTree(core::CacheFolder(options->CacheDir));
        event->accept();
    };
    accounts::TUser* user = Admin_.CurrentUser();
    if (user == nullptr) {
        accept();
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
    // The receiving window and the message windows have no parent: they must not keep the program
    // running.
    if (ReceivingWindow_)
        ReceivingWindow_->hide();
    for (TfMailWindow* window : MailWindows())
        window->close();
    accept();
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
    if (watched == lvMessages && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Guard([this] { OpenClick(); });
            return true;
        }
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
