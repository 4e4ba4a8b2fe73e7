// Deleting, restoring and emptying the trash from the main window against a real Dovecot: the
// account's list is filled by a real receive, the window is driven as a user would, and the
// maildrop shows what the server really deleted.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include "accounts/TAdmin.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "engine/TDownloadMail.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/trash/TfDeleteMail.h"
#include "retrieval/TPOP3Client.h"
#include "support/TChildWindowWatch.h"
#include "support/TDovecot.h"
#include "support/TFakeMaildrop.h"
#include "support/TReceiveRecorder.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using core::TAnswer;
using gui::TfDeleteMail;
using gui::TfMain;
using test::TScriptedPrompter;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

constexpr const char* ConfirmEmptyTrash =
    "Are you sure you want to empty the trash?\n\rMessages placed here will be deleted from the server.";

using TDeletionWindowWatch = test::TChildWindowWatch<TfDeleteMail>;

class TrashDovecotTest : public ::testing::Test
{
protected:
    test::TDovecot Server{std::getenv("TARNWICK_DOVECOT_STATE") ? std::getenv("TARNWICK_DOVECOT_STATE")
                                                                : TARNWICK_DOVECOT_STATE};
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;
    std::unique_ptr<TfMain> Window;
    std::string UserName;
    std::string Password = "pw-" + std::to_string(::getpid());

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        UserName = "gui-" + std::string(test->test_suite_name()) + "-" + test->name();
        std::replace(UserName.begin(), UserName.end(), '/', '-');
        std::transform(UserName.begin(), UserName.end(), UserName.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    void TearDown() override
    {
        Window.reset();
        Admin.reset();
        core::FinalizeModules();
    }

    accounts::TUser& User() { return Admin->UserAt(0); }

    // A maildrop of `count` messages, an account for it, the window, and a receive into the
    // account's list; the window then shows "All messages".
    void ReceiveInto(int count)
    {
        Server.CreateUser(UserName, Password, test::TFakeMaildrop::Messages(count));
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
        accounts::TUserID id;
        id.AccountName = UserName;
        id.Password = Password;
        id.RememberPassword = true;
        id.DisplayName = "Dovecot user";
        id.Host = "127.0.0.1";
        id.Port = Server.Pop3Port();
        Admin->AddUser(id);
        Admin->SaveUsers();
        Admin->LoadUsers();
        Window = std::make_unique<TfMain>(*Admin, Prompter);
        Admin->MakeInitialCurrent();
        User().Settings.Connections = 2;

        test::TReceiveRecorder recorder;
        engine::TReceiveConfig config;
        config.CacheFolder = core::CacheFolder(core::Options()->CacheDir);
        engine::TDownloadMail receive(User(), recorder, config);
        const engine::TReceiveReport report = receive.Run();
        ASSERT_EQ(report.Outcome, engine::TReceiveOutcome::Finished)
            << ::testing::PrintToString(recorder.Lines());
        ASSERT_EQ(User().Mails.Count(), static_cast<std::size_t>(count));
        Window->SetServerCount(report.ServerCount);
        Window->show();
        Apply(views::ViewAllMessages);
    }

    void Apply(int position)
    {
        Window->SelectPosition(position);
        Window->tvFiltersClick();
    }
    QTreeView* List() { return Window->findChild<QTreeView*>(QStringLiteral("lvMessages")); }

    void SelectNumbers(const std::vector<std::int32_t>& numbers)
    {
        auto* selection = List()->selectionModel();
        selection->clearSelection();
        const auto& rows = Window->Messages().Rows();
        for (const std::int32_t number : numbers)
            for (std::size_t row = 0; row < rows.size(); ++row)
                if (rows[row].Number == number)
                    selection->setCurrentIndex(Window->Messages().index(static_cast<int>(row), 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void Trash(const std::vector<std::int32_t>& numbers)
    {
        Apply(views::ViewAllMessages);
        SelectNumbers(numbers);
        Window->DeleteSelectedClick();
    }

    // "number: subject without its prefix" for every row of the list, in list order.
    std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        const auto& model = Window->Messages();
        for (int row = 0; row < model.rowCount(); ++row) {
            std::string subject =
                model.data(model.index(row, gui::TMessageListModel::ColSubject)).toString().toStdString();
            const std::string mark = " [ Questionable ] ";
            if (subject.rfind(mark, 0) == 0)
                subject.erase(0, mark.size());
            rows.push_back(std::to_string(model.RowKey(row).Number) + ": " + subject);
        }
        return rows;
    }

    std::size_t OnServer() const { return Server.MaildropFiles(UserName).size(); }

    // The window is back from the deletion: "All messages" applied, receiving mode left.
    void ExpectBackInAllMessages()
    {
        EXPECT_FALSE(Window->IsReceiving());
        EXPECT_EQ(Window->SelectedPosition(), views::ViewAllMessages);
        EXPECT_EQ(Window->State().AppliedNode, views::ViewAllMessages);
        EXPECT_TRUE(Window->findChild<QAction*>(QStringLiteral("tbReceive"))->isEnabled());
        EXPECT_EQ(Window->findChild<TfDeleteMail*>(), nullptr);
    }
};

struct TEmptyCase
{
    const char* Name;
    std::vector<std::int32_t> Trashed;
    std::vector<std::string> Left;
};
void PrintTo(const TEmptyCase& c, std::ostream* os)
{
    *os << c.Name;
}

class EmptyTrashTest : public TrashDovecotTest, public ::testing::WithParamInterface<TEmptyCase>
{};

TEST_P(EmptyTrashTest, DeletesOnTheServerAndRenumbersTheList)
{
    const TEmptyCase& c = GetParam();
    ReceiveInto(5);
    Trash(c.Trashed);
    Prompter.Answers = {TAnswer::Yes};
    std::vector<QString> statuses;
    QString caption;
    TDeletionWindowWatch watch(*Window, [&](TfDeleteMail& window) {
        caption = window.windowTitle();
        EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QObject::connect(&window, &TfDeleteMail::StatusChanged, &window, [&](const QString& status) {
            statuses.push_back(status);
            EXPECT_EQ(window.StatusText(), QStringLiteral(" ") + status);
        });
    });
    Window->EmptyTrashClick();

    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, ConfirmEmptyTrash);
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Confirmation);
    EXPECT_THAT(Prompter.Log[0].Buttons, ElementsAre(TAnswer::Yes, TAnswer::No));
    EXPECT_EQ(watch.Seen, 1);
    EXPECT_EQ(caption, QStringLiteral("Deleting mails"));
    EXPECT_THAT(statuses, ElementsAre(QStringLiteral("Connecting ..."), QStringLiteral("Verifing ..."),
                                      QStringLiteral("Deleting ..."), QStringLiteral("Disconnecting ...")));
    EXPECT_EQ(OnServer(), c.Left.size());
    EXPECT_THAT(Rows(), ElementsAreArray(c.Left));
    EXPECT_FALSE(User().TrashNotEmpty);
    EXPECT_EQ(User().SyncedCount, static_cast<std::int32_t>(c.Left.size()));
    EXPECT_EQ(Window->State().ServerCount, static_cast<std::int32_t>(c.Left.size()));
    ExpectBackInAllMessages();

    // The trash is empty now: the second time only says so, with the Trash view shown.
    Prompter.Log.clear();
    Window->EmptyTrashClick();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, "Trash is empty");
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Information);
    EXPECT_EQ(Window->SelectedPosition(), views::ViewTrash);
    EXPECT_EQ(watch.Seen, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, EmptyTrashTest,
                         ::testing::Values(TEmptyCase{"TwoAndFourOfFive",
                                                      {2, 4},
                                                      {"1: Message 1", "2: Message 3", "3: Message 5"}},
                                           TEmptyCase{"FourOfFive", {1, 2, 3, 5}, {"1: Message 4"}},
                                           TEmptyCase{"AllFive", {1, 2, 3, 4, 5}, {}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TrashDovecotTest, DecliningTheQuestionKeepsEverything)
{
    ReceiveInto(3);
    Trash({2});
    Prompter.Answers = {TAnswer::No};
    Window->EmptyTrashClick();
    EXPECT_EQ(OnServer(), 3u);
    EXPECT_TRUE(User().TrashNotEmpty);
    // The command stopped in the Trash view, which still lists the message.
    EXPECT_EQ(Window->SelectedPosition(), views::ViewTrash);
    EXPECT_THAT(Rows(), ElementsAre("2: Message 2"));
    EXPECT_FALSE(Window->IsReceiving());
}

TEST_F(TrashDovecotTest, AnotherClientsDeletionMakesTheProgramRefuse)
{
    ReceiveInto(5);
    Trash({2, 4});
    {
        retrieval::TPOP3Client other(User().ID(), User().Settings, Home / "other");
        other.Open();
        other.Delete(1);
        ASSERT_TRUE(other.Close());
    }
    Prompter.Answers = {TAnswer::Yes};
    Window->EmptyTrashClick();

    ASSERT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(Prompter.Log[1].Text, std::string(core::texts::NotSynchronized));
    EXPECT_EQ(Prompter.Log[1].Kind, core::TMessageKind::Information);
    EXPECT_EQ(OnServer(), 4u); // only the other client's deletion
    EXPECT_THAT(Rows(), ElementsAre("1: Message 1", "3: Message 3", "5: Message 5"));
    EXPECT_TRUE(User().TrashNotEmpty);
    EXPECT_EQ(Window->State().ServerCount, 5);
    ExpectBackInAllMessages();
    Apply(views::ViewTrash);
    EXPECT_THAT(Rows(), ElementsAre("2: Message 2", "4: Message 4"));
}

TEST_F(TrashDovecotTest, StopKeepsWhatWasNotDeletedInTheTrash)
{
    ReceiveInto(5);
    Trash({2, 4});
    Prompter.Answers = {TAnswer::Yes};
    std::vector<int> progress;
    TDeletionWindowWatch watch(*Window, [&](TfDeleteMail& window) {
        QObject::connect(&window, &TfDeleteMail::ProgressChanged, &window, [&](int percent) {
            progress.push_back(percent);
            // Pressed while the first deletion is shown: the next one is not sent.
            if (window.GoOn())
                QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("buStop")), Qt::LeftButton);
        });
    });
    Window->EmptyTrashClick();

    EXPECT_THAT(progress, ElementsAre(50));
    EXPECT_EQ(OnServer(), 4u);
    // Message 2 is gone and the others are renumbered as the server numbers them; message 4,
    // now number 3, stays in the trash.
    EXPECT_THAT(Rows(), ElementsAre("1: Message 1", "2: Message 3", "4: Message 5"));
    EXPECT_TRUE(User().TrashNotEmpty);
    EXPECT_EQ(Window->State().ServerCount, 4);
    ExpectBackInAllMessages();
    Apply(views::ViewTrash);
    EXPECT_THAT(Rows(), ElementsAre("3: Message 4"));

    // The list matches the server, so the rest of the trash can be emptied.
    Prompter.Log.clear();
    Prompter.Answers = {TAnswer::Yes};
    Window->EmptyTrashClick();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(OnServer(), 3u);
    EXPECT_THAT(Rows(), ElementsAre("1: Message 1", "2: Message 3", "3: Message 5"));
    EXPECT_FALSE(User().TrashNotEmpty);
}

TEST_F(TrashDovecotTest, AnUnreachableServerIsReportedAndChangesNothing)
{
    ReceiveInto(3);
    Trash({3});
    accounts::TUserID id = User().ID();
    id.Port = 1; // nothing listens there
    User().SetID(id);
    Prompter.Answers = {TAnswer::Yes};
    Window->EmptyTrashClick();

    std::string shown;
    for (const auto& entry : Prompter.Log)
        shown += "[" + entry.Text + "] ";
    ASSERT_EQ(Prompter.Log.size(), 2u) << shown;
    EXPECT_EQ(Prompter.Log[1].Kind, core::TMessageKind::Error);
    EXPECT_EQ(Prompter.Log[1].Text.find(Password), std::string::npos);
    EXPECT_EQ(OnServer(), 3u);
    EXPECT_THAT(Rows(), ElementsAre("1: Message 1", "2: Message 2"));
    EXPECT_TRUE(User().TrashNotEmpty);
    ExpectBackInAllMessages();
}

// The Trash view's rows are what the user saw; what is deleted is what is trashed. A row whose
// record's Trashed flag was cleared behind the view (the list shows an older state) is not sent to
// the server, and a view with no trashed record left sends nothing at all.
struct TClearedCase
{
    const char* Name;
    std::vector<std::int32_t> Cleared; // numbers whose flag goes behind the view's back
    std::size_t Left;                  // messages on the server afterwards
    std::vector<std::string> Rows;     // "All messages" afterwards
};
void PrintTo(const TClearedCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ClearedTrashTest : public TrashDovecotTest, public ::testing::WithParamInterface<TClearedCase>
{};

TEST_P(ClearedTrashTest, OnlyRowsOfTrashedRecordsAreDeleted)
{
    const TClearedCase& c = GetParam();
    ReceiveInto(4);
    Trash({2, 3});
    Apply(views::ViewTrash);
    ASSERT_THAT(Rows(), ElementsAre("2: Message 2", "3: Message 3"));
    for (const views::TRowKey& key : Window->Messages().Rows())
        if (std::find(c.Cleared.begin(), c.Cleared.end(), key.Number) != c.Cleared.end())
            User().Mails.At(key.RecordIndex)->Trashed = false;
    Prompter.Answers = {TAnswer::Yes};
    Window->EmptyTrashClick();

    EXPECT_EQ(OnServer(), c.Left);
    if (c.Left == 4) {
        // Nothing to delete: no question and no session.
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Text, "Trash is empty");
        Apply(views::ViewAllMessages);
    } else {
        ExpectBackInAllMessages();
    }
    EXPECT_THAT(Rows(), ElementsAreArray(c.Rows));
    EXPECT_FALSE(Window->IsReceiving());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClearedTrashTest,
    ::testing::Values(
        TClearedCase{"OneOfTwoCleared", {3}, 3, {"1: Message 1", "2: Message 3", "3: Message 4"}},
        TClearedCase{
            "BothCleared", {2, 3}, 4, {"1: Message 1", "2: Message 2", "3: Message 3", "4: Message 4"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TrashDovecotTest, RestoredMessagesStayOnTheServer)
{
    ReceiveInto(4);
    Trash({1, 3, 4});
    Apply(views::ViewTrash);
    SelectNumbers({3});
    Window->UndeleteSelectedClick();
    EXPECT_THAT(Rows(), ElementsAre("1: Message 1", "4: Message 4"));
    Prompter.Answers = {TAnswer::Yes};
    Window->EmptyTrashClick();
    EXPECT_EQ(OnServer(), 2u);
    EXPECT_THAT(Rows(), ElementsAre("1: Message 2", "2: Message 3"));
}

} // namespace
