// The main window's message list: sorting by a column, the preview that follows the selection,
// and the enabling of the menu items that act on the list and the tree.
#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QWidget>

#include "accounts/TUser.h"
#include "engine/DownloadLock.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessagePreview.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

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
        PreviewRef_ = {};
        Preview_->Loader->Abandon();
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
    // Another message: a download still running for the one shown before is of no use here.
    PreviewRef_ = RefOf(*user, key.RecordIndex);
    Preview_->Loader->Abandon();
    tbMessageInfoClick(TMessagePreview::ModeInfo);
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

} // namespace tarnwick::gui
