// The main window's folder tree and the fills of its views: building the tree of an account,
// applying the selected node, and the progress and event pumping of a running fill.
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QWidget>

#include "accounts/TUser.h"
#include "classify/TAddressLists.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "gui/common/TImages.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
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

} // namespace

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

} // namespace tarnwick::gui
