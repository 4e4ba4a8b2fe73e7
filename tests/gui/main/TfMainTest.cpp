#include "gui/main/TfMain.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TRegistry.h"
#include "engine/TDownloadMail.h"
#include "gui/main/TDesktopSettings.h"
#include "gui/main/TMessageListModel.h"
#include "gui/receive/TfReceivingMail.h"
#include "rules/TRuleListClass.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using gui::TDesktopSettings;
using gui::TfMain;
using gui::TMessageListModel;
using test::TScriptedPrompter;

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
    }
    void TearDown() override
    {
        Admin.reset();
        core::FinalizeModules();
    }

    // One account with two rules, "Offers" enabled and "Old" disabled, saved to the store.
    void AddAccount()
    {
        accounts::TUserID id;
        id.AccountName = "user";
        id.DisplayName = "Main";
        id.Host = "pop.example.org";
        Admin->AddUser(id);
        Admin->SaveUsers();
        Admin->LoadUsers();
        core::TRegistry reg(core::Hive());
        accounts::TUser& user = Admin->UserAt(0);
        for (const auto& [name, enabled] : {std::pair{"Offers", 1}, std::pair{"Old", 0}}) {
            rules::TRuleClass& rule = rules::AddNewRule(reg, rules::RulesOf(user), user.ID());
            rule.Name = name;
            rule.Enabled = enabled;
            rules::TRulesCriteria c;
            c.Type = rules::CriterionSubject;
            c.ValueType = rules::ValueList;
            c.ListValue = rules::JoinList({"offer"});
            rule.Criteria = {c};
            rules::SaveRule(reg, rule, rule.KeyPath, true);
        }
    }

    accounts::TUser& User() { return Admin->UserAt(0); }

    // Records numbered from 1: subject, sender name, priority, size, trashed.
    void AddRecords(int count)
    {
        for (int i = 0; i < count; ++i) {
            accounts::TMailMessage m;
            m.Number = i + 1;
            m.Subject = i % 3 == 0 ? "offer " + std::to_string(i) : "note " + std::to_string(i);
            m.FromName = std::string(1, static_cast<char>('a' + (i * 7) % 26)) + " sender";
            m.FromAddress = "s" + std::to_string(i) + "@example.org";
            m.Priority = i % 5 == 0   ? accounts::PriorityHigh
                         : i % 5 == 1 ? accounts::PriorityLow
                                      : accounts::PriorityNormal;
            m.Size = 1000 + i;
            m.Trashed = i % 4 == 3;
            User().Mails.Add(m);
        }
    }

    std::unique_ptr<TfMain> Open()
    {
        // Without an account the first-start wizard opens: these tests cancel it unseen.
        auto window = std::make_unique<TfMain>(*Admin, Prompter, nullptr, [](QDialog&) { return 0; });
        Admin->MakeInitialCurrent();
        return window;
    }

    static void Click(TfMain& window, int position)
    {
        window.SelectPosition(position);
        window.tvFiltersClick();
    }

    static std::vector<std::int32_t> Numbers(TfMain& window)
    {
        std::vector<std::int32_t> numbers;
        for (const auto& key : window.Messages().Rows())
            numbers.push_back(key.Number);
        return numbers;
    }

    static QTreeView* List(TfMain& window)
    {
        return window.findChild<QTreeView*>(QStringLiteral("lvMessages"));
    }

    template <class T> static T* Child(TfMain& window, const char* name)
    {
        auto* child = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
};

} // namespace

TEST_F(MainWindowTest, FirstStartWritesCentredDefaultsAndShowsEverything)
{
    auto window = Open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();

    core::TRegistry reg(core::Hive());
    TDesktopSettings stored;
    ASSERT_TRUE(gui::ReadDesktopSettings(reg, stored, 0, 0));
    TDesktopSettings expected;
    expected.Left = (screen.width() - 800) / 2;
    expected.Top = (screen.height() - 500) / 2;
    EXPECT_EQ(stored, expected);

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Orvalent Tarnwick"));
    EXPECT_EQ(window->size(), QSize(800, 500));
    EXPECT_EQ(window->pos(), QPoint(expected.Left, expected.Top));
    for (const char* name : {"toolBarMenu", "paFilters", "paPreview", "stbarMain"})
        EXPECT_FALSE(Child<QWidget>(*window, name)->isHidden()) << name;
    EXPECT_EQ(Child<QSplitter>(*window, "splitLeftRight")->sizes().value(0), 200);
    // Without an account the welcome page shows and the account commands are off.
    EXPECT_EQ(Child<QStackedWidget>(*window, "nbookMain")->currentIndex(), gui::PagePresentation);
    for (const char* name : {"tbAddBlack", "tbAddWhite", "tbDelete", "tbReceive", "tbEmpty", "tbFind"})
        EXPECT_FALSE(Child<QAction>(*window, name)->isEnabled()) << name;
    EXPECT_TRUE(Child<QAction>(*window, "tbMailProgram")->isEnabled());
}

TEST_F(MainWindowTest, LayoutSurvivesARoundTrip)
{
    struct Case
    {
        const char* Name;
        TDesktopSettings Settings;
    };
    TDesktopSettings hidden;
    hidden.Left = 40;
    hidden.Top = 30;
    hidden.Width = 700;
    hidden.Height = 450;
    hidden.Toolbar = false;
    hidden.FiltersPanel = false;
    hidden.PreviewPanel = false;
    hidden.Statusbar = false;
    TDesktopSettings minimised;
    minimised.Left = 12;
    minimised.Top = 34;
    minimised.WindowState = 1;
    TDesktopSettings notFull;
    notFull.FullMode = false; // carried through unchanged
    const Case cases[] = {{"panels hidden", hidden}, {"minimised", minimised}, {"full mode off", notFull}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        {
            core::TRegistry reg(core::Hive());
            gui::WriteDesktopSettings(reg, c.Settings);
        }
        {
            auto window = Open();
            if (c.Settings.WindowState == 1)
                window->showMinimized();
            else
                window->show();
            QApplication::processEvents();
            EXPECT_EQ(window->isMinimized(), c.Settings.WindowState == 1);
            EXPECT_EQ(Child<QWidget>(*window, "paFilters")->isHidden(), !c.Settings.FiltersPanel);
        }
        core::TRegistry reg(core::Hive());
        TDesktopSettings stored;
        ASSERT_TRUE(gui::ReadDesktopSettings(reg, stored, 0, 0));
        EXPECT_EQ(stored, c.Settings);
    }
}

TEST_F(MainWindowTest, TreeHasTheFixedNodesAndOneNodePerRule)
{
    AddAccount();
    auto window = Open();
    const struct
    {
        int Position;
        const char* Caption;
        int Image;
        int Parent;
    } nodes[] = {
        {0, "User: Main (pop.example.org)", 4, -1},
        {1, "All messages", 0, 0},
        {2, "Trash", 1, 0},
        {3, "Filtered", 5, 0},
        {4, "Good messages", 6, 3},
        {5, "Spam messages", 7, 3},
        {6, "Questionable messages", 8, 3},
        {7, "Advanced Filters", 9, 0},
        {8, "Duplicates", 10, 7},
        {9, "With Attachments", 11, 7},
        {10, "High Priority", 12, 7},
        {11, "With Foreign Language Characters", 13, 7},
        {12, "Mail Delivery Errors", 14, 7},
        {13, "Very Large Messages", 15, 7},
        {14, "User Filters", 2, 0},
        {15, "Offers", 2, 14},
        {16, "Old", 3, 14},
    };
    for (const auto& n : nodes) {
        SCOPED_TRACE(n.Caption);
        QTreeWidgetItem* item = window->NodeAt(n.Position);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(0), QString::fromLatin1(n.Caption));
        EXPECT_EQ(item->data(0, Qt::UserRole + 2).toInt(), n.Image);
        EXPECT_EQ(item->parent(), window->NodeAt(n.Parent));
        EXPECT_TRUE(item->childCount() == 0 || item->isExpanded());
    }
    EXPECT_EQ(window->NodeAt(17), nullptr);
    // "All messages" is selected but not applied.
    EXPECT_EQ(window->SelectedPosition(), 1);
    EXPECT_EQ(window->State().AppliedNode, -1);
    EXPECT_EQ(window->Messages().rowCount(), 0);
}

TEST_F(MainWindowTest, EditAndListMenusFollowTheNodeRowsSelectionAndReceiving)
{
    AddAccount();
    auto window = Open();
    AddRecords(8);
    User().TrashNotEmpty = true;
    struct Case
    {
        const char* Name;
        int Node;
        bool SelectRow;
        bool Receiving;
        const char* Edit; // items 0..6, '1' enabled (item 3 is the separator)
        const char* List; // items 0..6
        const char* DeleteText;
    };
    const Case cases[] = {
        {"root", 0, false, false, "0000000", "0000000", "&Delete selected"},
        {"all, nothing selected", 1, false, false, "1111000", "0000000", "&Delete selected"},
        {"all, a row selected", 1, true, false, "1111100", "1111111", "&Delete selected"},
        {"all while receiving", 1, true, true, "1111000", "1101111", "&Delete selected"},
        {"trash, nothing selected", 2, false, false, "1110001", "0000000", "&Delete selected"},
        {"trash, a row selected", 2, true, false, "1110011", "1010110", "Undelete selected"},
        {"spam, no rows", 5, false, false, "0000000", "0000000", "&Delete selected"},
    };
    auto flags = [](const std::array<QAction*, 7>& actions) {
        std::string s;
        for (auto* a : actions)
            s += a->isEnabled() ? '1' : '0';
        return s;
    };
    auto* edit = Child<QMenu>(*window, "Edit1");
    auto* list = Child<QMenu>(*window, "popupMessages");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Click(*window, c.Node);
        if (c.SelectRow)
            List(*window)->selectionModel()->select(window->Messages().index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
        if (c.Receiving)
            window->EnterReceivingMode();
        std::array<QAction*, 7> editItems{}, listItems{};
        for (int i = 0; i < 7; ++i) {
            editItems[static_cast<std::size_t>(i)] = edit->actions().at(i);
            listItems[static_cast<std::size_t>(i)] = list->actions().at(i);
        }
        emit edit->aboutToShow();
        emit list->aboutToShow();
        std::string expectedEdit = c.Edit;
        std::string gotEdit = flags(editItems);
        gotEdit[3] = expectedEdit[3] = '-'; // the separator
        EXPECT_EQ(gotEdit, expectedEdit);
        std::string gotList = flags(listItems);
        std::string expectedList = c.List;
        gotList[3] = expectedList[3] = '-';
        EXPECT_EQ(gotList, expectedList);
        EXPECT_EQ(listItems[2]->text(), QString::fromLatin1(c.DeleteText));
        if (c.Receiving)
            window->LeaveReceivingMode();
        List(*window)->clearSelection();
    }
}

TEST_F(MainWindowTest, TreeContextMenuShowsTheItemsOfTheNode)
{
    AddAccount();
    auto window = Open();
    const struct
    {
        int Node;
        const char*
            Shown; // Empty Trash, Enable/Disable, Modify, Remove, -, New Rule, Rule Settings, Import, Export
    } cases[] = {
        {0, "000001111"},  {1, "000001111"},  {2, "100000000"},  {3, "000000000"},
        {5, "000000000"},  {7, "000000000"},  {8, "000000100"},  {13, "000000100"},
        {14, "010001111"}, {15, "011111111"}, {16, "011111111"},
    };
    auto* menu = Child<QMenu>(*window, "popupTree");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Node);
        window->SelectPosition(c.Node);
        window->popupTreePopup();
        std::string shown;
        for (auto* a : menu->actions())
            shown += a->isVisible() ? '1' : '0';
        EXPECT_EQ(shown, c.Shown);
    }
}

TEST_F(MainWindowTest, ColumnClicksSortAscendingThenDescendingAndPriorityHighFirst)
{
    AddAccount();
    auto window = Open();
    AddRecords(12);
    Click(*window, 1);
    auto* header = List(*window)->header();
    auto firstTexts = [&](int column) {
        std::vector<QString> texts;
        for (int r = 0; r < window->Messages().rowCount(); ++r)
            texts.push_back(
                window->Messages().index(r, column).data(TMessageListModel::SortValueRole).toString());
        return texts;
    };
    auto isSorted = [](std::vector<QString> v, bool descending) {
        auto less = [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; };
        return descending ? std::is_sorted(v.rbegin(), v.rend(), less)
                          : std::is_sorted(v.begin(), v.end(), less);
    };

    const int rows = window->Messages().rowCount();
    header->sectionClicked(TMessageListModel::ColFrom);
    EXPECT_TRUE(isSorted(firstTexts(TMessageListModel::ColFrom), false));
    EXPECT_EQ(window->Messages().HeaderImage(TMessageListModel::ColFrom), 3);
    header->sectionClicked(TMessageListModel::ColFrom);
    EXPECT_TRUE(isSorted(firstTexts(TMessageListModel::ColFrom), true));
    EXPECT_EQ(window->Messages().HeaderImage(TMessageListModel::ColFrom), 2);
    EXPECT_EQ(window->Messages().rowCount(), rows);

    header->sectionClicked(TMessageListModel::ColPriority);
    EXPECT_EQ(window->Messages().HeaderImage(TMessageListModel::ColFrom), -1) << "other arrows go";
    EXPECT_EQ(window->Messages().HeaderImage(TMessageListModel::ColPriority), 0)
        << "the exclamation mark stays";
    EXPECT_EQ(window->Messages().index(0, 0).data(TMessageListModel::ImageNumberRole).toInt(),
              accounts::PriorityHigh);
    EXPECT_EQ(window->Messages().index(rows - 1, 0).data(TMessageListModel::ImageNumberRole).toInt(),
              accounts::PriorityLow);
    // Every row still shows its own message after the records moved.
    for (const auto& key : window->Messages().Rows())
        EXPECT_EQ(User().Mails.At(key.RecordIndex)->Number, key.Number);
}

TEST_F(MainWindowTest, InterruptedFillAnsweredYesAppliesTheNewViewOnce)
{
    AddAccount();
    auto window = Open();
    AddRecords(200);
    // Spam view: subjects carrying the spam mark.
    for (std::size_t i = 0; i < User().Mails.Count(); i += 10)
        User().Mails.At(i)->Subject = " [ Spam ] " + User().Mails.At(i)->Subject;
    Prompter.Answers = {core::TAnswer::Yes};
    QTimer::singleShot(0, window.get(), [&] { Click(*window, views::ViewSpam); });
    Click(*window, views::ViewAllMessages);
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, core::texts::InterruptFilter);
    EXPECT_EQ(window->State().AppliedNode, views::ViewSpam);
    EXPECT_FALSE(window->State().Filtering);
    EXPECT_FALSE(window->State().ReapplyRequest);
    EXPECT_FALSE(User().StopView);
    std::vector<std::int32_t> expected;
    for (std::size_t i = 0; i < User().Mails.Count(); i += 10)
        if (!User().Mails.At(i)->Trashed)
            expected.push_back(User().Mails.At(i)->Number);
    EXPECT_EQ(Numbers(*window), expected);
    EXPECT_EQ(Child<QLabel>(*window, "paMessagesHeader")->text(), QStringLiteral(" Spam messages"));
}

TEST_F(MainWindowTest, InterruptedFillAnsweredNoFinishesTheFirstView)
{
    AddAccount();
    auto window = Open();
    AddRecords(200);
    Prompter.Answers = {core::TAnswer::No};
    QTimer::singleShot(0, window.get(), [&] { Click(*window, views::ViewSpam); });
    Click(*window, views::ViewAllMessages);
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(window->State().AppliedNode, views::ViewAllMessages);
    EXPECT_EQ(window->SelectedPosition(), views::ViewAllMessages);
    EXPECT_EQ(window->Messages().rowCount(), 150) << "every record outside the trash";
}

TEST_F(MainWindowTest, TrashShowsNothingWhileTrashNotEmptyIsFalse)
{
    AddAccount();
    auto window = Open();
    AddRecords(8);
    for (const bool notEmpty : {false, true}) {
        SCOPED_TRACE(notEmpty);
        User().TrashNotEmpty = notEmpty;
        Click(*window, views::ViewAllMessages);
        Click(*window, views::ViewTrash);
        const std::vector<std::int32_t> expected =
            notEmpty ? std::vector<std::int32_t>{4, 8} : std::vector<std::int32_t>{};
        EXPECT_EQ(Numbers(*window), expected);
        EXPECT_FALSE(Child<QAction>(*window, "tbDelete")->isEnabled());
    }
}

TEST_F(MainWindowTest, PreviewPanelFollowsTheSelection)
{
    AddAccount();
    auto window = Open();
    AddRecords(4);
    User().Mails.At(2)->HasAttachments = true;
    window->show();
    Click(*window, views::ViewAllMessages);
    auto* control = Child<QWidget>(*window, "paMsgControl");
    auto* attach = Child<QWidget>(*window, "sbAttach");
    const struct
    {
        int Row; // -1: none
        bool Control;
        bool Attach;
    } cases[] = {{2, true, true}, {0, true, false}, {-1, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Row);
        if (c.Row < 0)
            List(*window)->clearSelection();
        else
            List(*window)->selectionModel()->select(window->Messages().index(c.Row, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
        window->lvMessagesClick();
        EXPECT_EQ(control->isVisible(), c.Control);
        EXPECT_EQ(attach->isVisible(), c.Attach);
    }
}

TEST_F(MainWindowTest, MessageListModelPassesTheModelTester)
{
    AddAccount();
    auto window = Open();
    AddRecords(30);
    QAbstractItemModelTester tester(&window->Messages(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    Click(*window, views::ViewAllMessages);
    List(*window)->header()->sectionClicked(TMessageListModel::ColSubject);
    Click(*window, views::ViewSpam);
    Click(*window, views::ViewAllMessages);
    EXPECT_GT(window->Messages().rowCount(), 0);
}

TEST_F(MainWindowTest, ReceiveDuringAFillRunsAfterTheFillStopsOnlyWhenAgreed)
{
    AddAccount();
    auto window = Open();
    AddRecords(200);
    for (const auto answer : {core::TAnswer::Yes, core::TAnswer::No}) {
        SCOPED_TRACE(answer == core::TAnswer::Yes ? "Yes" : "No");
        Prompter.Answers = {answer};
        Prompter.Log.clear();
        int receives = 0;
        bool filteringWhenReceiving = true;
        window->Commands().Receive = [&] {
            ++receives;
            filteringWhenReceiving = window->State().Filtering;
        };
        QTimer::singleShot(0, window.get(), [&] { Child<QAction>(*window, "tbReceive")->trigger(); });
        Click(*window, views::ViewTrash);
        Click(*window, views::ViewAllMessages);
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Text, core::texts::StopFiltersAndReceive);
        EXPECT_EQ(receives, answer == core::TAnswer::Yes ? 1 : 0);
        EXPECT_FALSE(filteringWhenReceiving && receives > 0) << "the receive waits for the fill's end";
        EXPECT_EQ(window->Messages().rowCount() < 150, answer == core::TAnswer::Yes)
            << "Yes stops the fill, No lets it finish";
        EXPECT_FALSE(window->State().PendingReceive);
    }
}

namespace {

// Every row shows the record it was made for, and the list is in the order of `column`.
void ExpectRowsKeepTheirMessagesSortedBy(TfMain& window, accounts::TUser& user, int column)
{
    const auto& rows = window.Messages().Rows();
    for (const auto& key : rows) {
        ASSERT_LT(key.RecordIndex, user.Mails.Count());
        EXPECT_EQ(user.Mails.At(key.RecordIndex)->Number, key.Number);
    }
    std::vector<QString> texts;
    for (int r = 0; r < window.Messages().rowCount(); ++r)
        texts.push_back(window.Messages().index(r, column).data(TMessageListModel::SortValueRole).toString());
    EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }));
    EXPECT_EQ(window.Messages().HeaderImage(column), 3);
}

// The records in the order they were added: numbers 1, 2, 3, ...
bool InAddedOrder(const accounts::TUser& user)
{
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        if (user.Mails.At(i)->Number != static_cast<std::int32_t>(i + 1))
            return false;
    return true;
}

} // namespace

TEST_F(MainWindowTest, AColumnClickDuringAFillSortsOnlyWhenTheFillIsOver)
{
    AddAccount();
    auto window = Open();
    AddRecords(200);
    auto* header = List(*window)->header();
    bool clickedWhileFilling = false;
    QTimer::singleShot(0, window.get(), [&] {
        clickedWhileFilling = window->State().Filtering;
        header->sectionClicked(TMessageListModel::ColFrom);
        // The fill goes on over the records as they were; the header promises no order yet.
        EXPECT_TRUE(InAddedOrder(User()));
        EXPECT_EQ(window->Messages().HeaderImage(TMessageListModel::ColFrom), -1);
    });
    Click(*window, views::ViewAllMessages);
    ASSERT_TRUE(clickedWhileFilling);
    EXPECT_TRUE(Prompter.Log.empty()) << "no question: the click waits, it does not interrupt";
    EXPECT_FALSE(window->State().Filtering);
    EXPECT_EQ(window->Messages().rowCount(), 150);
    ExpectRowsKeepTheirMessagesSortedBy(*window, User(), TMessageListModel::ColFrom);
}

TEST_F(MainWindowTest, AColumnClickDuringAReceiveSortsOnlyWhenTheReceiveIsOver)
{
    AddAccount();
    auto window = Open();
    auto* header = List(*window)->header();
    int ended = 0;
    QObject::connect(window.get(), &TfMain::ReceiveEnded, window.get(), [&] { ++ended; });
    // As a receive does: records added one by one, each row appended by its record's index, and
    // the user clicking the From column half-way.
    window->Commands().Receive = [&] {
        for (int i = 0; i < 12; ++i) {
            if (i == 6) {
                header->sectionClicked(TMessageListModel::ColFrom);
                EXPECT_EQ(window->Messages().HeaderImage(TMessageListModel::ColFrom), -1);
            }
            accounts::TMailMessage m;
            m.Number = i + 1;
            m.FromName = std::string(1, static_cast<char>('a' + (i * 5) % 26)) + " sender";
            m.Subject = "message " + std::to_string(i + 1);
            window->AppendRow(User().Mails.Add(m));
        }
        EXPECT_TRUE(InAddedOrder(User()));
    };
    Child<QAction>(*window, "tbReceive")->trigger();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_EQ(window->Messages().rowCount(), 12);
    ExpectRowsKeepTheirMessagesSortedBy(*window, User(), TMessageListModel::ColFrom);
}

// An account imported while a fill walks the current account's records is added, but the window
// stays on the current account (as during a receive): the fill ends with rows of that account.
TEST_F(MainWindowTest, AccountsImportedDuringAFillDoNotReplaceTheShownAccount)
{
    AddAccount();
    auto window = Open();
    AddRecords(200);
    accounts::TUserID imported;
    imported.AccountName = "other";
    imported.DisplayName = "Other";
    imported.Host = "pop.example.net";
    window->Commands().ImportAccounts = [&](QWidget*) {
        return std::optional<std::vector<accounts::TUserID>>(std::vector{imported});
    };
    accounts::TUser* shown = &User();
    bool switchRefused = false;
    QTimer::singleShot(0, window.get(), [&] {
        Child<QAction>(*window, "ImportAccounts")->trigger();
        switchRefused = !window->SwitchToAccount(1);
    });
    Click(*window, views::ViewAllMessages);
    EXPECT_TRUE(Prompter.Log.empty()) << "no switch question during a fill";
    ASSERT_EQ(Admin->Count(), 2u);
    EXPECT_EQ(Admin->CurrentUser(), shown);
    EXPECT_EQ(window->Messages().User(), shown);
    EXPECT_EQ(window->Messages().rowCount(), 150);
    for (const auto& key : window->Messages().Rows())
        EXPECT_EQ(shown->Mails.At(key.RecordIndex)->Number, key.Number);
    EXPECT_TRUE(switchRefused) << "a switch asked for during a fill is refused";
}

// An error reaching the top of a command is shown through the prompter instead of escaping into
// Qt's event loop, whichever control started it.
TEST_F(MainWindowTest, ErrorsReachingTheTopOfACommandAreShown)
{
    AddAccount();
    auto window = Open();
    const std::string text = "accounts file unreadable: /home/x/accounts.ini: Permission denied";
    window->Commands().ImportAccounts = [&](QWidget*) -> std::optional<std::vector<accounts::TUserID>> {
        throw std::runtime_error(text);
    };
    const std::vector<std::pair<const char*, std::function<void()>>> starts = {
        {"File menu", [&] { Child<QAction>(*window, "ImportAccounts")->trigger(); }},
        {"welcome page link",
         [&] { emit Child<QLabel>(*window, "ILImportAccounts")->linkActivated(QStringLiteral("#")); }},
    };
    for (const auto& [name, start] : starts) {
        SCOPED_TRACE(name);
        Prompter.Log.clear();
        start();
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Error);
        EXPECT_EQ(Prompter.Log[0].Text, text);
        EXPECT_EQ(Admin->Count(), 1u);
    }
}

// A receive that cannot be set up ends at once: the error is in the receiving window and the main
// window is out of receiving mode, ready for the next one.
TEST_F(MainWindowTest, AReceiveThatCannotStartLeavesReceivingMode)
{
    AddAccount();
    auto window = Open();
    window->ReceiveConfigHook = [](engine::TReceiveConfig&) {
        throw std::runtime_error("cache folder /nowhere/cache: Permission denied");
    };
    int ended = 0;
    QObject::connect(window.get(), &TfMain::ReceiveEnded, window.get(), [&] { ++ended; });
    Child<QAction>(*window, "tbReceive")->trigger();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(window->IsReceiving());
    EXPECT_TRUE(Child<QAction>(*window, "tbReceive")->isEnabled());
    ASSERT_NE(window->ReceivingWindow(), nullptr);
    auto* errors = window->ReceivingWindow()->findChild<QTreeWidget*>(QStringLiteral("lvErrors"));
    ASSERT_NE(errors, nullptr);
    ASSERT_EQ(errors->topLevelItemCount(), 1);
    EXPECT_EQ(errors->topLevelItem(0)->text(0),
              QStringLiteral("cache folder /nowhere/cache: Permission denied"));
}

// "Clear Cache on exit" empties the cache only when the program really ends: a No to the exit
// question keeps the program and its cache.
TEST_F(MainWindowTest, ClearCacheOnExitWaitsForTheExitQuestions)
{
    AddAccount();
    const std::string cacheDir = Home / "cache";
    const std::string cached = core::CacheFolder(cacheDir) + "/kept.eml";
    std::filesystem::create_directories(core::CacheFolder(cacheDir));
    std::ofstream(cached) << "Subject: x\r\n\r\n";
    core::TOptionRec options = *core::Options();
    options.ClearCache = "1";
    options.WarnTrashNotEmpty = "1";
    options.CacheDir = cacheDir;
    core::PublishOptions(options);
    auto window = Open();
    User().TrashNotEmpty = true;
    window->show();

    Prompter.Answers = {core::TAnswer::No};
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(std::filesystem::exists(cached));

    Prompter.Answers = {core::TAnswer::Yes};
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(std::filesystem::exists(core::CacheFolder(cacheDir)));
}
