// The main window's message commands on an account's records: selecting, trashing and restoring
// rows, the Del and Backspace shortcuts, and moving senders to the Black or White list with their
// questions.
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/trash/TfDeleteMail.h"
#include "support/TChildWindowWatch.h"
#include "support/TFakePop3Server.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using core::TAnswer;
using gui::TfMain;
using test::TScriptedPrompter;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

constexpr const char* NoSelection = "There are no selected messages !";
constexpr const char* MoveToBlack =
    "This address is already in the White list. Do you want to move it to Black list ?";
constexpr const char* MoveToWhite =
    "This address is already in the Black list. Do you want to move it to White list ?";

class MessageCommandsTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;
    std::unique_ptr<TfMain> Window;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        classify::AddressLists().Replace(classify::TAddressList{classify::TListKind::Black, {}},
                                         classify::TAddressList{classify::TListKind::White, {}});
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
        accounts::TUserID id;
        id.AccountName = "user";
        id.DisplayName = "Main";
        id.Host = "pop.example.org";
        Admin->AddUser(id);
        Admin->SaveUsers();
        Admin->LoadUsers();
    }
    void TearDown() override
    {
        Window.reset();
        Admin.reset();
        classify::AddressLists().Replace(classify::TAddressList{classify::TListKind::Black, {}},
                                         classify::TAddressList{classify::TListKind::White, {}});
        core::FinalizeModules();
    }

    accounts::TUser& User() { return Admin->UserAt(0); }

    // Records numbered 1..n for the account that Open makes current; record n comes from
    // "sN@example.org" with the subject given.
    std::vector<accounts::TMailMessage> Records;
    void AddRecords(const std::vector<std::string>& subjects)
    {
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            accounts::TMailMessage m;
            m.Number = static_cast<std::int32_t>(i + 1);
            m.FromName = "Sender " + std::to_string(i + 1);
            m.FromAddress = "s" + std::to_string(i + 1) + "@example.org";
            m.Subject = subjects[i];
            Records.push_back(m);
        }
    }
    void AddRecords(int count)
    {
        std::vector<std::string> subjects;
        for (int n = 1; n <= count; ++n)
            subjects.push_back("Message " + std::to_string(n));
        AddRecords(subjects);
    }

    TfMain& Open()
    {
        // The window loads the accounts anew, so the records go in afterwards.
        Window = std::make_unique<TfMain>(*Admin, Prompter);
        Admin->MakeInitialCurrent();
        for (const auto& record : Records)
            User().Mails.Add(record);
        return *Window;
    }

    void Apply(int position)
    {
        Window->SelectPosition(position);
        Window->tvFiltersClick();
    }

    QTreeView* List() { return Window->findChild<QTreeView*>(QStringLiteral("lvMessages")); }
    template <class T> T* Child(const char* name)
    {
        auto* child = Window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    // Selects the rows showing these message numbers; the focus goes to the last of them.
    void SelectNumbers(const std::vector<std::int32_t>& numbers)
    {
        auto* selection = List()->selectionModel();
        selection->clearSelection();
        const auto& rows = Window->Messages().Rows();
        for (const std::int32_t number : numbers)
            for (std::size_t row = 0; row < rows.size(); ++row)
                if (rows[row].Number == number) {
                    const QModelIndex index = Window->Messages().index(static_cast<int>(row), 0);
                    selection->setCurrentIndex(index,
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
                }
    }

    std::vector<std::int32_t> Numbers() const
    {
        std::vector<std::int32_t> numbers;
        for (const auto& key : Window->Messages().Rows())
            numbers.push_back(key.Number);
        return numbers;
    }
    std::vector<std::int32_t> SelectedNumbers()
    {
        std::vector<std::int32_t> numbers;
        for (const QModelIndex& index : List()->selectionModel()->selectedRows())
            numbers.push_back(Window->Messages().RowKey(index.row()).Number);
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }
    std::vector<std::string> Subjects()
    {
        std::vector<std::string> subjects;
        for (int row = 0; row < Window->Messages().rowCount(); ++row)
            subjects.push_back(Window->Messages()
                                   .data(Window->Messages().index(row, gui::TMessageListModel::ColSubject))
                                   .toString()
                                   .toStdString());
        return subjects;
    }
    const accounts::TMailMessage& Record(std::int32_t number)
    {
        for (std::size_t i = 0; i < User().Mails.Count(); ++i)
            if (User().Mails.At(i)->Number == number)
                return *User().Mails.At(i);
        throw std::out_of_range("no record " + std::to_string(number));
    }

    static void SetOption(std::string core::TOptionRec::*field, const char* value)
    {
        core::TOptionRec options = *core::Options();
        options.*field = value;
        core::PublishOptions(options);
    }
    static void SetLists(std::vector<std::string> black, std::vector<std::string> white)
    {
        classify::TAddressList b{classify::TListKind::Black, {}};
        classify::TAddressList w{classify::TListKind::White, {}};
        for (auto& a : black)
            b.Rows.push_back({a, true, {}});
        for (auto& a : white)
            w.Rows.push_back({a, true, {}});
        classify::AddressLists().Replace(b, w);
    }
    static bool Listed(classify::TListKind kind, const std::string& address)
    {
        return classify::IsListed(classify::AddressLists().Snapshot().Of(kind), address);
    }
};

TEST_F(MessageCommandsTest, SelectAllActsOnlyBelowTheRoot)
{
    AddRecords(4);
    Open();
    Apply(views::ViewAllMessages);
    Window->SelectAllClick();
    EXPECT_THAT(SelectedNumbers(), ElementsAre(1, 2, 3, 4));
    Window->DeselectAllClick();
    EXPECT_TRUE(SelectedNumbers().empty());
    // With the root selected (its page shown) the rows stay unselected.
    Window->SelectPosition(views::ViewRoot);
    Window->SelectAllClick();
    EXPECT_TRUE(SelectedNumbers().empty());
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(MessageCommandsTest, DeletingTwoOfFiveTrashesThemAndSelectsTheFocusedRow)
{
    AddRecords(5);
    Open();
    Apply(views::ViewAllMessages);
    SelectNumbers({2, 4});
    Window->DeleteSelectedClick();

    EXPECT_THAT(Numbers(), ElementsAre(1, 3, 5));
    EXPECT_TRUE(User().TrashNotEmpty);
    EXPECT_TRUE(Child<QAction>("tbEmpty")->isEnabled());
    EXPECT_TRUE(Record(2).Trashed);
    EXPECT_TRUE(Record(4).Trashed);
    EXPECT_FALSE(Record(3).Trashed);
    // The focus was on 4; it moved to a neighbour, which is now selected and previewed.
    ASSERT_EQ(SelectedNumbers().size(), 1u);
    EXPECT_EQ(Window->Messages().RowKey(List()->currentIndex().row()).Number, SelectedNumbers()[0]);
    EXPECT_FALSE(Child<QWidget>("paMsgControl")->isHidden());
    EXPECT_TRUE(Prompter.Log.empty());

    Apply(views::ViewTrash);
    EXPECT_THAT(Numbers(), ElementsAre(2, 4));
}

TEST_F(MessageCommandsTest, DeletingEveryRowHidesTheMessageControls)
{
    AddRecords(3);
    Open();
    Apply(views::ViewAllMessages);
    SelectNumbers({2});
    Window->lvMessagesClick();
    ASSERT_FALSE(Child<QWidget>("paMsgControl")->isHidden());
    Window->SelectAllClick();
    Window->DeleteSelectedClick();
    EXPECT_EQ(Window->Messages().rowCount(), 0);
    EXPECT_TRUE(Child<QWidget>("paMsgControl")->isHidden());
    EXPECT_FALSE(Child<QAction>("SelectAll1")->isEnabled());
}

TEST_F(MessageCommandsTest, DeleteSelectedEdgeCases)
{
    struct
    {
        const char* Name;
        int Node;           // the view applied
        int SelectedNode;   // then selected in the tree without applying it
        bool SelectRow;     // row 1 selected
        bool ExpectMessage; // "There are no selected messages !"
    } cases[] = {
        {"Trash view with a row selected", views::ViewTrash, views::ViewTrash, true, false},
        {"Trash view without selection", views::ViewTrash, views::ViewTrash, false, false},
        {"root with rows selected", views::ViewAllMessages, views::ViewRoot, true, false},
        {"root without selection", views::ViewAllMessages, views::ViewRoot, false, true},
        {"All messages without selection", views::ViewAllMessages, views::ViewAllMessages, false, true},
    };
    AddRecords(3);
    Open();
    User().Mails.At(0)->Trashed = true;
    User().TrashNotEmpty = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Prompter.Log.clear();
        Apply(c.Node);
        const std::vector<std::int32_t> before = Numbers();
        List()->selectionModel()->clearSelection();
        if (c.SelectRow)
            SelectNumbers({before.front()});
        Window->SelectPosition(c.SelectedNode);
        Window->DeleteSelectedClick();
        EXPECT_EQ(Numbers(), before);
        EXPECT_TRUE(User().Mails.At(0)->Trashed);
        EXPECT_FALSE(User().Mails.At(1)->Trashed);
        ASSERT_EQ(Prompter.Log.size(), c.ExpectMessage ? 1u : 0u);
        if (c.ExpectMessage) {
            EXPECT_EQ(Prompter.Log[0].Text, NoSelection);
            EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Information);
        }
    }
}

TEST_F(MessageCommandsTest, UndeletingClearsTheTrashFlagOnlyWhenTheTrashEmpties)
{
    AddRecords(4);
    Open();
    User().Mails.At(1)->Trashed = true;
    User().Mails.At(3)->Trashed = true;
    User().TrashNotEmpty = true;
    Apply(views::ViewTrash);
    ASSERT_THAT(Numbers(), ElementsAre(2, 4));

    SelectNumbers({4});
    Window->UndeleteSelectedClick();
    EXPECT_THAT(Numbers(), ElementsAre(2));
    EXPECT_FALSE(Record(4).Trashed);
    EXPECT_TRUE(User().TrashNotEmpty);
    EXPECT_THAT(SelectedNumbers(), ElementsAre(2)); // the focused row

    Window->UndeleteSelectedClick();
    EXPECT_EQ(Window->Messages().rowCount(), 0);
    EXPECT_FALSE(User().TrashNotEmpty);
    EXPECT_TRUE(Child<QWidget>("paMsgControl")->isHidden());
    // No message when nothing is selected.
    Window->UndeleteSelectedClick();
    EXPECT_TRUE(Prompter.Log.empty());

    Apply(views::ViewAllMessages);
    EXPECT_THAT(Numbers(), ElementsAre(1, 2, 3, 4));
}

TEST_F(MessageCommandsTest, DelAndBackspaceActOnTheListAsTheEditMenuAllows)
{
    AddRecords(4);
    Open();
    Window->show();
    QApplication::setActiveWindow(Window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    Apply(views::ViewAllMessages);
    List()->setFocus();

    SelectNumbers({3});
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_THAT(Numbers(), ElementsAre(1, 2, 4));
    EXPECT_TRUE(Record(3).Trashed);

    // While receiving, Del does nothing.
    SelectNumbers({1});
    Window->EnterReceivingMode();
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_THAT(Numbers(), ElementsAre(1, 2, 4));
    Window->LeaveReceivingMode();

    // In the Trash view Del does nothing and Backspace restores.
    Apply(views::ViewTrash);
    ASSERT_THAT(Numbers(), ElementsAre(3));
    SelectNumbers({3});
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_THAT(Numbers(), ElementsAre(3));
    QTest::keyClick(List(), Qt::Key_Backspace);
    EXPECT_EQ(Window->Messages().rowCount(), 0);
    EXPECT_FALSE(Record(3).Trashed);
    EXPECT_FALSE(User().TrashNotEmpty);

    // Backspace outside the Trash view restores nothing.
    Apply(views::ViewAllMessages);
    SelectNumbers({2});
    QTest::keyClick(List(), Qt::Key_Delete);
    ASSERT_TRUE(Record(2).Trashed);
    SelectNumbers({1});
    QTest::keyClick(List(), Qt::Key_Backspace);
    EXPECT_THAT(Numbers(), ElementsAre(1, 3, 4));
    EXPECT_TRUE(Record(2).Trashed);
    EXPECT_TRUE(Prompter.Log.empty());
}

// A fill walks the records that a deletion would remove and renumber: Empty Trash waits for none.
TEST_F(MessageCommandsTest, EmptyTrashDuringAFillDoesNothing)
{
    AddRecords(50);
    Open();
    User().Mails.At(0)->Trashed = true;
    User().TrashNotEmpty = true;
    bool ran = false;
    QTimer::singleShot(0, Window.get(), [&] {
        ran = true;
        EXPECT_TRUE(Window->State().Filtering);
        Window->EmptyTrashClick();
    });
    Apply(views::ViewAllMessages);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_EQ(Window->State().AppliedNode, views::ViewAllMessages);
    EXPECT_EQ(Window->Messages().rowCount(), 49);
    EXPECT_TRUE(User().TrashNotEmpty);
}

// A server that never answers STAT: the window keeps handling its events while the session waits,
// and Stop ends the wait at once without deleting or reporting anything.
TEST_F(MessageCommandsTest, AHungDeletionLeavesTheWindowResponsiveAndStopEndsIt)
{
    std::vector<test::TFakeStep> script = test::TFakePop3Server::Login();
    script.push_back(test::Expect("STAT"));
    script.push_back(test::Stall());
    test::TFakePop3Server server(script);
    AddRecords(3);
    Open();
    accounts::TUserID id = User().ID();
    id.AccountName = "joe";
    id.Password = "secret";
    id.Host = "127.0.0.1";
    id.Port = server.Port();
    User().SetID(id);
    Window->SetServerCount(3);
    Apply(views::ViewAllMessages);
    SelectNumbers({2});
    Window->DeleteSelectedClick();

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    test::TChildWindowWatch<gui::TfDeleteMail> watch(*Window, [&](gui::TfDeleteMail& deletion) {
        QObject::connect(&deletion, &gui::TfDeleteMail::StatusChanged, &deletion, [&](const QString& status) {
            if (status == QStringLiteral("Verifing ..."))
                ticker.start();
        });
        QObject::connect(&ticker, &QTimer::timeout, &deletion, [&] {
            EXPECT_TRUE(Window->IsReceiving());
            if (++ticks == 5)
                QTest::mouseClick(deletion.findChild<QPushButton*>(QStringLiteral("buStop")), Qt::LeftButton);
        });
    });
    Prompter.Answers = {TAnswer::Yes};
    Window->EmptyTrashClick();
    ticker.stop();

    EXPECT_EQ(watch.Seen, 1);
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(Prompter.Log.size(), 1u); // the question only
    for (const std::string& line : server.Received())
        EXPECT_FALSE(line.starts_with("DELE")) << line;
    EXPECT_TRUE(Record(2).Trashed);
    EXPECT_TRUE(User().TrashNotEmpty);
    EXPECT_EQ(Window->State().ServerCount, 3);
    EXPECT_FALSE(Window->IsReceiving());
    EXPECT_THAT(Numbers(), ElementsAre(1, 3));
}

// Three rows selected in "All messages", every sender already in the White list.
struct TQuestionCase
{
    const char* Name;
    const char* Warn;
    std::vector<TAnswer> Answers;
    std::size_t Questions;
    std::vector<bool> Moved; // per row
};
void PrintTo(const TQuestionCase& c, std::ostream* os)
{
    *os << c.Name;
}

class AddSenderQuestionTest : public MessageCommandsTest, public ::testing::WithParamInterface<TQuestionCase>
{};

TEST_P(AddSenderQuestionTest, MovesTheSendersTheAnswersAllow)
{
    const TQuestionCase& c = GetParam();
    SetOption(&core::TOptionRec::WarnAddressInList, c.Warn);
    AddRecords({"One", " [ Questionable ] Two", " [ spam ] Three", "Four"});
    SetLists({}, {"s1@example.org", "S2@EXAMPLE.ORG", "s3@example.org"});
    Open();
    Apply(views::ViewAllMessages);
    SelectNumbers({1, 2, 3});
    Prompter.Answers.assign(c.Answers.begin(), c.Answers.end());
    Window->AddSenderToBlackClick();

    ASSERT_EQ(Prompter.Log.size(), c.Questions);
    for (const auto& entry : Prompter.Log) {
        EXPECT_EQ(entry.Text, MoveToBlack);
        EXPECT_EQ(entry.Kind, core::TMessageKind::Confirmation);
        EXPECT_THAT(entry.Buttons,
                    ElementsAre(TAnswer::Yes, TAnswer::No, TAnswer::Cancel, TAnswer::YesToAll));
    }
    const char* oldSubjects[] = {"One", " [ Questionable ] Two", " [ spam ] Three"};
    const char* newSubjects[] = {" [ Spam ] One", " [ Spam ] Two", " [ Spam ] Three"};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i + 1);
        const std::string address = "s" + std::to_string(i + 1) + "@example.org";
        EXPECT_EQ(Listed(classify::TListKind::Black, address), c.Moved[i]);
        EXPECT_EQ(Listed(classify::TListKind::White, address), !c.Moved[i]);
        EXPECT_EQ(Subjects()[i], c.Moved[i] ? newSubjects[i] : oldSubjects[i]);
    }
    // "All messages" keeps every row and its selection.
    EXPECT_THAT(Numbers(), ElementsAre(1, 2, 3, 4));
    EXPECT_THAT(SelectedNumbers(), ElementsAre(1, 2, 3));
    EXPECT_EQ(Subjects()[3], "Four");
    EXPECT_EQ(std::filesystem::exists(core::Folders().DataFolder + classify::BlackListFileName),
              c.Moved[0] || c.Moved[1] || c.Moved[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AddSenderQuestionTest,
    ::testing::Values(
        TQuestionCase{
            "YesToAllMovesAllWithoutFurtherQuestions", "1", {TAnswer::YesToAll}, 1, {true, true, true}},
        TQuestionCase{
            "YesThenCancelMovesOnlyTheFirst", "1", {TAnswer::Yes, TAnswer::Cancel}, 2, {true, false, false}},
        TQuestionCase{
            "NoSkipsOnlyThatSender", "1", {TAnswer::Yes, TAnswer::No, TAnswer::Yes}, 3, {true, false, true}},
        TQuestionCase{"CancelAtOnceMovesNothing", "1", {TAnswer::Cancel}, 1, {false, false, false}},
        TQuestionCase{"WarningOffAsksNothing", "0", {}, 0, {true, true, true}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(MessageCommandsTest, AddingFromTheGoodViewRemovesTheRowAndMarksItSpam)
{
    AddRecords({"Hello", "Lunch", "Offer"});
    SetLists({}, {"s1@example.org", "s2@example.org"});
    Open();
    Apply(views::ViewGood);
    ASSERT_THAT(Numbers(), ElementsAre(1, 2));

    // One row selected: the question offers Yes and No; No keeps the row and its sender.
    SelectNumbers({1});
    Prompter.Answers = {TAnswer::No};
    Window->AddSenderToBlackClick();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_THAT(Prompter.Log[0].Buttons, ElementsAre(TAnswer::Yes, TAnswer::No));
    EXPECT_THAT(Numbers(), ElementsAre(1, 2));
    EXPECT_TRUE(SelectedNumbers().empty());
    EXPECT_TRUE(Listed(classify::TListKind::White, "s1@example.org"));
    EXPECT_EQ(Record(1).Subject, "Hello");

    Prompter.Log.clear();
    SelectNumbers({1});
    Prompter.Answers = {TAnswer::Yes};
    Window->AddSenderToBlackClick();
    EXPECT_THAT(Numbers(), ElementsAre(2));
    EXPECT_EQ(Record(1).Subject, " [ Spam ] Hello");
    EXPECT_TRUE(Listed(classify::TListKind::Black, "s1@example.org"));
    EXPECT_FALSE(Listed(classify::TListKind::White, "s1@example.org"));
    EXPECT_TRUE(Child<QWidget>("paMsgControl")->isHidden());

    Apply(views::ViewAllMessages);
    EXPECT_THAT(Subjects(), ElementsAre(" [ Spam ] Hello", "Lunch", "Offer"));
    Apply(views::ViewSpam);
    EXPECT_THAT(Numbers(), ElementsAre(1));
}

TEST_F(MessageCommandsTest, AddingToTheWhiteListDropsThePrefixAndLeavesTheSpamView)
{
    AddRecords({" [ questionable ] Hi", " [ Spam ] Deal", "Plain"});
    SetLists({"s2@example.org"}, {});
    Open();
    Apply(views::ViewQuestionable);
    ASSERT_THAT(Numbers(), ElementsAre(1, 3));
    SelectNumbers({1});
    Window->AddSenderToWhiteClick();
    EXPECT_TRUE(Prompter.Log.empty()); // not in the Black list: nothing to ask
    EXPECT_THAT(Numbers(), ElementsAre(3));
    EXPECT_EQ(Record(1).Subject, "Hi");

    Apply(views::ViewSpam);
    ASSERT_THAT(Numbers(), ElementsAre(2));
    SelectNumbers({2});
    Prompter.Answers = {TAnswer::Yes};
    Window->AddSenderToWhiteClick();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, MoveToWhite);
    EXPECT_EQ(Window->Messages().rowCount(), 0);
    EXPECT_EQ(Record(2).Subject, "Deal");
    EXPECT_TRUE(Listed(classify::TListKind::White, "s2@example.org"));
    EXPECT_FALSE(Listed(classify::TListKind::Black, "s2@example.org"));

    // A subject without a prefix moved to the Black list gets the spam one.
    Apply(views::ViewAllMessages);
    SelectNumbers({3});
    Window->AddSenderToBlackClick();
    EXPECT_EQ(Record(3).Subject, " [ Spam ] Plain");
}

// The command saves the lists at once, merged with the files as another program (tarnwick-cli from
// cron) left them: its addition stays in the file and reaches the program's lists too.
TEST_F(MessageCommandsTest, AddSenderKeepsWhatAnotherProgramWroteMeanwhile)
{
    AddRecords({"Hello"});
    const std::string folder = core::Folders().DataFolder;
    classify::AddressLists().Load(folder, Prompter);
    Open();
    Apply(views::ViewAllMessages);

    classify::TAddressLists cron;
    cron.Load(folder, Prompter);
    cron.Change(classify::TListKind::Black,
                [](classify::TAddressList& black, auto&) { classify::AddListed(black, "cron@example.org"); });
    cron.Save(folder);

    SelectNumbers({1});
    Window->AddSenderToBlackClick();
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_TRUE(Listed(classify::TListKind::Black, "s1@example.org"));
    EXPECT_TRUE(Listed(classify::TListKind::Black, "cron@example.org")) << "the save brought it in";
    classify::TAddressLists after;
    after.Load(folder, Prompter);
    std::vector<std::string> onDisk;
    for (const auto& row : after.Black()->Rows)
        onDisk.push_back(row.Address);
    EXPECT_THAT(onDisk, ElementsAre("cron@example.org", "s1@example.org"));
}

TEST_F(MessageCommandsTest, AddSenderWithoutSelectionSaysSo)
{
    AddRecords(2);
    Open();
    Apply(views::ViewAllMessages);
    for (auto command : {&TfMain::AddSenderToBlackClick, &TfMain::AddSenderToWhiteClick}) {
        Prompter.Log.clear();
        (Window.get()->*command)();
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Text, NoSelection);
    }
    EXPECT_TRUE(classify::AddressLists().Snapshot().Black->Rows.empty());
}

} // namespace
