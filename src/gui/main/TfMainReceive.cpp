// The main window's receive: the receive command, the receiving window and the trash notice.
#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QTreeView>

#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "engine/DownloadLock.h"
#include "engine/TDownloadMail.h"
#include "gui/accounts/TfPassword.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/options/TfOptions.h"
#include "gui/receive/TReceiveBridge.h"
#include "gui/receive/TfReceivingMail.h"
#include "gui/receive/TfTrashInfo.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

namespace {

constexpr const char* NoUser = "You have to define at least one user!";

// Turns a window's stays-on-top hint on or off; a visible window is shown again, as Qt hides it
// when its flags change.
void SetOnTop(QWidget& window, bool onTop)
{
    if (window.windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    const bool visible = window.isVisible();
    window.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible)
        window.show();
}

} // namespace

void TfMain::ReceiveClick(int tag)
{
    if (State_.Receiving)
        return;
    tbReceive->setEnabled(false);
    if (State_.Filtering) {
        // The receive waits for the fill's end when the user agrees, and starts from the top then.
        ReceiveRequested([this, tag] { ReceiveClick(tag); });
        tbReceive->setEnabled(true);
        return;
    }
    State_.AppliedNode = views::ViewAllMessages;
    paMsgControl->hide();
    paPreview->show();
    StatusCounts_->clear();
    Model_->Clear();
    accounts::TUser* user = Admin_.CurrentUser();
    if (user == nullptr) {
        Prompter_.Inform(core::TMessageKind::Information, NoUser);
        tbReceive->setEnabled(true);
        return;
    }
    if (tag != -1 && tag >= 0 && static_cast<std::size_t>(tag) < Admin_.Count()) {
        // MakeCurrent rebuilds the tree and refreshes the account's receive settings.
        user = Admin_.MakeCurrent(static_cast<std::size_t>(tag));
        Admin_.SetCurrentUser(user);
        if (Nodes_.size() > 2)
            SelectPosition(views::ViewAllMessages);
    } else if (const auto options = core::Options()) {
        user->Settings = accounts::TAdmin::ReceiveSettingsOf(*options);
    }
    StartReceive(*user, true);
}

void TfMain::ShowReceivingWindow()
{
    TfReceivingMail* window = ReceivingWindow_.get();
    if (window == nullptr)
        return;
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

TfReceivingMail* TfMain::ReceivingWindow() const
{
    return ReceivingWindow_.get();
}

void TfMain::AppendReceivedRows(const std::vector<std::size_t>& indices)
{
    accounts::TUser* user = Shown();
    if (user == nullptr)
        return;
    std::vector<views::TRowKey> keys;
    keys.reserve(indices.size());
    {
        std::lock_guard lock(engine::DownloadLock());
        for (const std::size_t index : indices) {
            if (index >= user->Mails.Count() || user->Mails.At(index) == nullptr)
                continue;
            keys.push_back({index, user->Mails.At(index)->Number});
        }
    }
    if (keys.empty())
        return;
    Model_->AppendRows(keys);
    const auto options = core::Options();
    if (options && core::IsOn(options->AutoscrollonAdd))
        lvMessages->scrollToBottom();
}

void TfMain::StartReceive(accounts::TUser& user, bool trashNotice)
{
    EnterReceivingMode();
    if (Commands_.Receive) {
        try {
            Commands_.Receive();
        } catch (const std::exception& e) {
            Prompter_.Inform(core::TMessageKind::Error, e.what());
        }
        ReceiveOver(user, true, false, trashNotice);
        return;
    }
    try {
        LaunchReceive(user, trashNotice);
    } catch (const std::exception& e) {
        // Nothing runs yet: the receive ends here, and receiving mode with it.
        Download_.reset();
        if (ReceivingWindow_)
            ReceivingWindow_->AddError(QString::fromStdString(e.what()));
        else
            Prompter_.Inform(core::TMessageKind::Error, e.what());
        ReceiveOver(user, false, false, trashNotice);
    }
}

void TfMain::LaunchReceive(accounts::TUser& user, bool trashNotice)
{
    const auto options = core::Options();
    const bool onTop = options && core::IsOn(options->RAlwaysonTop);
    // The window of an earlier receive goes first.
    ReceivingWindow_.reset();
    ReceivingWindow_ = std::make_unique<TfReceivingMail>();
    TfReceivingMail* window = ReceivingWindow_.get();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->SetReceiving(true);
    window->move(frameGeometry().center() - window->rect().center());
    window->show();
    window->raise();

    Bridge_ = std::make_unique<TReceiveBridge>(
        window,
        [this](const std::vector<std::size_t>& indices) { Guard([&] { AppendReceivedRows(indices); }); },
        [this, &user, trashNotice](engine::TReceiveOutcome outcome) {
            // Out of the bridge's batch first: the end frees the bridge.
            QTimer::singleShot(0, this, [this, &user, trashNotice, outcome] {
                Guard([&] {
                    ReceiveOver(user, outcome == engine::TReceiveOutcome::Finished,
                                outcome == engine::TReceiveOutcome::Cancelled, trashNotice);
                });
            });
        });

    engine::TReceiveConfig config;
    if (options) {
        config.CacheFolder = core::CacheFolder(options->CacheDir);
        config.DownloadSpeed = options->DownloadSpeed;
    }
    config.PasswordPrompt = [window, onTop](const accounts::TUserID& id) {
        // The receiving window stays on top while the prompt, above it, asks.
        SetOnTop(*window, true);
        auto answer = TfPassword::Ask(QString::fromStdString(id.AccountName), window);
        SetOnTop(*window, onTop);
        return answer;
    };
    config.SaveAccount = [this, &user] {
        try {
            const int index = Admin_.IndexOf(&user);
            if (index >= 0)
                Admin_.SaveUser(static_cast<std::size_t>(index));
        } catch (const std::exception& e) {
            Prompter_.Inform(core::TMessageKind::Error, e.what());
        }
    };
    if (ReceiveConfigHook)
        ReceiveConfigHook(config);
    Download_ = std::make_unique<engine::TDownloadMail>(user, *Bridge_, std::move(config));
    connect(window, &TfReceivingMail::StopRequested, this, [this] {
        Guard([this] {
            if (Download_)
                Download_->Stop();
        });
    });
    // False when the prompt was cancelled; the bridge then reports the end as cancelled. An error
    // before the engine runs ends the receive in StartReceive.
    Download_->Start();
}

void TfMain::ReceiveOver(accounts::TUser& user, bool finished, bool cancelled, bool trashNotice)
{
    if (Download_) {
        try {
            const engine::TReceiveReport report = Download_->Wait();
            if (!cancelled)
                State_.ServerCount = report.ServerCount;
        } catch (const std::exception& e) {
            // The receive is over either way; the window must leave receiving mode.
            Prompter_.Inform(core::TMessageKind::Error, e.what());
        }
        Download_.reset();
    }
    Bridge_.reset();
    if (TfReceivingMail* window = ReceivingWindow_.get()) {
        if (cancelled)
            window->ClearTasks();
        window->ReceiveEnded(finished);
        if (cancelled)
            window->close();
    }
    LeaveReceivingMode();
    ShowListCounts();
    if (trashNotice)
        ShowTrashNotice(user);
    emit ReceiveEnded();
}

void TfMain::ShowTrashNotice(accounts::TUser& user)
{
    const auto options = core::Options();
    if (!user.TrashNotEmpty || !options || !core::IsOn(options->TrashNotEmptyAfterReceive))
        return;
    if (ReceivingWindow_)
        ReceivingWindow_->hide();
    // The notice's "Don't show this message next time" is the options dialog's box the other way
    // round; a dialog not made yet fills it from the options when it is.
    const auto dontShowChanged = [this](bool ticked) {
        if (OptionsDialog_ != nullptr)
            OptionsDialog_->SetTrashNoticeBox(!ticked);
    };
    switch (TfTrashInfo::Show(this, dontShowChanged)) {
    case TfTrashInfo::ResultShowDeleted:
        SelectPosition(views::ViewTrash);
        tvFiltersClick();
        break;
    case TfTrashInfo::ResultEmptyTrash:
        EmptyTrashClick();
        break;
    case TfTrashInfo::ResultOk:
        break;
    }
}

} // namespace tarnwick::gui
