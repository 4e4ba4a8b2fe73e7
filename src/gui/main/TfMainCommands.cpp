// The main window's message commands: selecting rows, the trash, and moving senders to the lists.
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>

#include "accounts/TUser.h"
#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "engine/DownloadLock.h"
#include "engine/TDeleteMail.h"
#include "engine/TTrash.h"
#include "gui/common/TPrompterOnGuiThread.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/trash/TfDeleteMail.h"
#include "views/ClassMark.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

namespace {

constexpr const char* NoSelectedMessages = "There are no selected messages !";
constexpr const char* TrashIsEmpty = "Trash is empty";
constexpr const char* ConfirmEmptyTrash =
    "Are you sure you want to empty the trash?\n\rMessages placed here will be deleted from the server.";
constexpr const char* MoveToBlackQuestion =
    "This address is already in the White list. Do you want to move it to Black list ?";
constexpr const char* MoveToWhiteQuestion =
    "This address is already in the Black list. Do you want to move it to White list ?";

} // namespace

std::vector<int> TfMain::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : lvMessages->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfMain::SelectFocusedRow()
{
    if (Model_->rowCount() > 0) {
        const QModelIndex focused = lvMessages->currentIndex();
        if (focused.isValid())
            lvMessages->selectionModel()->select(focused, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    } else {
        ILSelectAll->setEnabled(false);
    }
    // The preview follows the selected row; without one the message controls go away.
    lvMessagesClick();
    ShowListCounts();
    UpdateCommandStates();
}

void TfMain::SelectAllClick()
{
    if (SelectedPosition() <= views::ViewRoot)
        return;
    lvMessages->selectAll();
}

void TfMain::DeselectAllClick()
{
    lvMessages->clearSelection();
}

void TfMain::DeleteSelectedClick()
{
    const int node = SelectedPosition();
    if (node == views::ViewTrash)
        return;
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        Prompter_.Inform(core::TMessageKind::Information, NoSelectedMessages);
        return;
    }
    accounts::TUser* user = Shown();
    // The root shows no messages; during a receive the rows still change.
    if (node == views::ViewRoot || user == nullptr || State_.Receiving)
        return;
    std::vector<std::size_t> indices;
    for (const int row : rows)
        indices.push_back(Model_->RowKey(row).RecordIndex);
    engine::TrashMessages(*user, indices);
    user->TrashNotEmpty = true;
    tbEmpty->setEnabled(true);
    Model_->RemoveRows(rows);
    SelectFocusedRow();
}

void TfMain::UndeleteSelectedClick()
{
    accounts::TUser* user = Shown();
    // Only the rows of the Trash view are trashed messages.
    if (user == nullptr || State_.Receiving || State_.AppliedNode != views::ViewTrash)
        return;
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    std::vector<std::size_t> indices;
    for (const int row : rows)
        indices.push_back(Model_->RowKey(row).RecordIndex);
    lvMessages->setUpdatesEnabled(false);
    engine::RestoreMessages(*user, indices);
    Model_->RemoveRows(rows);
    lvMessages->setUpdatesEnabled(true);
    SelectFocusedRow();
    user->TrashNotEmpty = Model_->rowCount() > 0;
}

void TfMain::EmptyTrashClick()
{
    // A fill in progress walks the account's records, which the deletion removes and renumbers.
    if (State_.Receiving || State_.Filtering)
        return;
    if (SelectedPosition() != views::ViewTrash && NodeAt(views::ViewTrash) != nullptr) {
        SelectPosition(views::ViewTrash);
        tvFiltersClick();
    }
    accounts::TUser* user = Shown();
    if (user == nullptr || State_.AppliedNode != views::ViewTrash)
        return;
    if (!user->TrashNotEmpty) {
        Prompter_.Inform(core::TMessageKind::Information, TrashIsEmpty);
        return;
    }
    // The messages of the Trash view's rows, in server order. Only a record that is trashed and
    // still the message its row was made for goes to the server: a row can outlive the state it
    // was filled from, and a message is never deleted because a row points at it.
    std::vector<std::size_t> rows;
    {
        std::lock_guard lock(engine::DownloadLock());
        for (const views::TRowKey& key : Model_->Rows()) {
            const accounts::TMailMessage* record =
                key.RecordIndex < user->Mails.Count() ? user->Mails.At(key.RecordIndex) : nullptr;
            if (record != nullptr && record->Trashed && record->Number == key.Number)
                rows.push_back(key.RecordIndex);
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        std::stable_sort(rows.begin(), rows.end(), [user](std::size_t a, std::size_t b) {
            return user->Mails.At(a)->Number < user->Mails.At(b)->Number;
        });
    }
    if (rows.empty()) {
        Prompter_.Inform(core::TMessageKind::Information, TrashIsEmpty);
        return;
    }

    const auto options = core::Options();
    if (options && core::IsOn(options->ConfirmEmptyTrash) &&
        Prompter_.Ask(core::TMessageKind::Confirmation, ConfirmEmptyTrash,
                      {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
        return;

    EnterReceivingMode();
    try {
        DeleteOnServer(*user, rows);
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
    try {
        // Whatever came of it, the list shows the selected node ("All messages") again.
        RefreshView();
        lvMessagesClick();
    } catch (...) {
        LeaveReceivingMode(); // an error leaving this command leaves no receiving mode behind
        throw;
    }
    LeaveReceivingMode();
}

bool TfMain::DeleteOnServer(accounts::TUser& user, const std::vector<std::size_t>& rows)
{
    const auto options = core::Options();
    TfDeleteMail window(this);
    TPrompterOnGuiThread prompter(Prompter_, window);
    engine::TDeleteMail deletion(user, core::CacheFolder(options ? options->CacheDir : std::string()),
                                 prompter, &window);
    window.SetStopHandler([&deletion] { deletion.Stop(); });
    window.show();
    QCoreApplication::processEvents();

    // The session runs on a thread of its own, so that neither a slow connect nor a slow reply
    // freezes the window; its reports and questions come here and are shown while this thread
    // waits for events.
    std::int32_t serverCount = State_.ServerCount;
    bool ran = false;
    std::exception_ptr error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            ran = deletion.Delete(rows, serverCount);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(
            this, [] {}, Qt::QueuedConnection); // wakes the waiting loop
    });
    // Not a nested event loop: a quit of the application must not end the wait while the session
    // still runs.
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    window.Finish();

    State_.ServerCount = serverCount;
    if (ran) {
        // The rows point at records that are about to move; the view is filled again afterwards.
        Model_->Clear();
        engine::RemoveDeleted(user, deletion.DeletedRows());
    }
    for (const std::string& text : deletion.Errors())
        Prompter_.Inform(core::TMessageKind::Warning, text);
    if (error)
        std::rethrow_exception(error);
    return ran;
}

void TfMain::AddSenderToBlackClick()
{
    AddSenderToList(true);
}

void TfMain::AddSenderToWhiteClick()
{
    AddSenderToList(false);
}

void TfMain::AddSenderToList(bool black)
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        Prompter_.Inform(core::TMessageKind::Information, NoSelectedMessages);
        return;
    }
    accounts::TUser* user = Shown();
    if (user == nullptr)
        return;
    const auto options = core::Options();
    const bool warn = options && core::IsOn(options->WarnAddressInList);
    const int node = SelectedPosition();
    // The views that no longer hold a message once its sender is in this list.
    const bool viewDropsRows = black ? node == views::ViewGood || node == views::ViewQuestionable
                                     : node == views::ViewSpam || node == views::ViewQuestionable;
    const classify::TListKind kind = black ? classify::TListKind::Black : classify::TListKind::White;
    const classify::TListKind otherKind = black ? classify::TListKind::White : classify::TListKind::Black;
    const std::string prefix(black ? views::SpamMark : std::string_view());
    const std::vector<core::TAnswer> buttons =
        rows.size() < 2 ? std::vector<core::TAnswer>{core::TAnswer::Yes, core::TAnswer::No}
                        : std::vector<core::TAnswer>{core::TAnswer::Yes, core::TAnswer::No,
                                                     core::TAnswer::Cancel, core::TAnswer::YesToAll};

    std::optional<core::TAnswer> remembered;
    bool moved = false;
    for (const int row : rows) {
        const std::size_t index = Model_->RowKey(row).RecordIndex;
        std::string address;
        {
            std::lock_guard lock(engine::DownloadLock());
            const accounts::TMailMessage* record =
                index < user->Mails.Count() ? user->Mails.At(index) : nullptr;
            if (record == nullptr)
                continue;
            address = record->FromAddress;
        }
        if (warn && remembered != core::TAnswer::YesToAll &&
            classify::AddressLists().Snapshot().Listed(otherKind, address)) {
            remembered = Prompter_.Ask(core::TMessageKind::Confirmation,
                                       black ? MoveToBlackQuestion : MoveToWhiteQuestion, buttons);
            if (remembered == core::TAnswer::Cancel)
                break;
            if (remembered != core::TAnswer::Yes && remembered != core::TAnswer::YesToAll) {
                if (viewDropsRows)
                    lvMessages->selectionModel()->select(
                        Model_->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
                continue;
            }
        }
        classify::AddressLists().Change(kind,
                                        [&](classify::TAddressList& list, classify::TAddressList& other) {
                                            classify::MoveToList(list, other, address);
                                        });
        moved = true;
        {
            std::lock_guard lock(engine::DownloadLock());
            if (accounts::TMailMessage* record = user->Mails.At(index))
                record->Subject = views::ReplaceClassPrefix(record->Subject, prefix);
        }
        Model_->RowChanged(row);
    }

    if (viewDropsRows) {
        Model_->RemoveRows(SelectedRows());
        if (Model_->rowCount() == 0)
            ILSelectAll->setEnabled(false);
        lvMessagesClick();
        ShowListCounts();
        UpdateCommandStates();
    }
    // The lists are written at once, so that a move made here survives whatever ends the program;
    // the save merges what another program wrote into them meanwhile.
    if (moved)
        try {
            for (const std::string& note : classify::AddressLists().Save(core::Folders().DataFolder))
                Prompter_.Inform(core::TMessageKind::Warning, note);
        } catch (const std::exception& e) {
            Prompter_.Inform(core::TMessageKind::Error, e.what());
        }
}

} // namespace tarnwick::gui
