// The main window's receive against the real Dovecot: rows in lvMessages, the receiving window's
// texts and its end, failures, Stop, the password prompt, the account menu, the pending receive
// of a fill, the trash notice and the start-up receive.
#include <algorithm>
#include <cstdlib>
#include <functional>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TOptionRec.h"
#include "core/TRegistry.h"
#include "engine/TDownloadMail.h"
#include "gui/accounts/TfPassword.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/receive/TfReceivingMail.h"
#include "gui/receive/TfTrashInfo.h"
#include "support/TDovecot.h"
#include "support/TFakeMaildrop.h"
#include "support/TLineSocket.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "support/TWidgetLookup.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using gui::TfMain;
using gui::TfReceivingMail;
using test::TScriptedPrompter;

namespace {

using test::Child;
using test::WhenModal;

constexpr int WaitMs = 60000;
using TStrings = std::vector<std::string>;

std::vector<std::string> Messages(int count, int blackListedFrom = 0)
{
    std::vector<std::string> messages = test::TFakeMaildrop::Messages(count);
    if (blackListedFrom >= 1 && blackListedFrom <= count)
        messages[static_cast<std::size_t>(blackListedFrom - 1)] =
            test::TFakeMaildrop::Message(blackListedFrom, "spammer@junk.example");
    return messages;
}

class ReceiveDovecotTest : public ::testing::Test
{
protected:
    test::TDovecot Server{std::getenv("TARNWICK_DOVECOT_STATE") ? std::getenv("TARNWICK_DOVECOT_STATE")
                                                                : TARNWICK_DOVECOT_STATE};
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;
    std::unique_ptr<TfMain> Window;
    std::string Password = "pw-" + std::to_string(::getpid());

    void SetUp() override
    {
        // Closing the main window must not end the test's event loops.
        QApplication::setQuitOnLastWindowClosed(false);
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        classify::AddressLists().Replace({classify::TListKind::Black, {}}, {classify::TListKind::White, {}});
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
    }
    void TearDown() override
    {
        Window.reset();
        Admin.reset();
        core::FinalizeModules();
    }

    static void SetOptions(const std::function<void(core::TOptionRec&)>& change)
    {
        core::TOptionRec options = *core::Options();
        change(options);
        core::PublishOptions(options);
    }

    // A Dovecot user of its own for this test (and `suffix`) with these messages, added as an account.
    std::size_t AddAccount(const std::vector<std::string>& messages, const std::string& suffix = "",
                           bool remember = true, int port = 0)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process id keeps a rerun against the same server away from the maildrops of the last.
        std::string name = "recv" + std::to_string(::getpid()) + "-" + info->name() + suffix;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return c == '/' ? '-' : static_cast<char>(std::tolower(c)); });
        Server.CreateUser(name, Password, messages);
        accounts::TUserID id;
        id.AccountName = name;
        id.Password = remember ? Password : "";
        id.RememberPassword = remember;
        id.DisplayName = "Dovecot " + suffix + "user";
        id.Host = "127.0.0.1";
        id.Port = port != 0 ? port : Server.Pop3Port();
        id.ShortVis = true;
        const std::size_t index = Admin->AddUser(id);
        Admin->SaveUsers();
        return index;
    }

    TfMain& Open()
    {
        // Without an account the window would open the first-start wizard: it is cancelled.
        Window = std::make_unique<TfMain>(*Admin, Prompter, nullptr, [](QDialog&) { return 0; });
        Admin->MakeInitialCurrent();
        // No spam databases: nothing leaves the machine.
        Window->ReceiveConfigHook = [](engine::TReceiveConfig& config) {
            config.Zones = std::vector<std::string>{};
            config.ReplyTimeoutMs = 10000;
        };
        Window->show();
        return *Window;
    }

    // Starts a receive with `start` and waits for its end.
    void Receive(const std::function<void()>& start)
    {
        QSignalSpy ended(Window.get(), &TfMain::ReceiveEnded);
        start();
        ASSERT_TRUE(ended.count() > 0 || ended.wait(WaitMs)) << "the receive did not end";
    }

    accounts::TUser& Current() { return *Admin->CurrentUser(); }
    int Rows() { return Window->Messages().rowCount(); }
    TfReceivingMail& Receiving() { return *Window->ReceivingWindow(); }

    TStrings TaskRow()
    {
        QTreeWidgetItem* row = Child<QTreeWidget>(Receiving(), "lvThreadInfo")->topLevelItem(0);
        if (row == nullptr)
            return {};
        return {row->text(0).toStdString(), row->text(1).toStdString(), row->text(2).toStdString()};
    }
    std::string TaskStatus()
    {
        const TStrings row = TaskRow();
        return row.size() > 1 ? row[1] : std::string();
    }
    TStrings Errors()
    {
        TStrings texts;
        auto* errors = Child<QTreeWidget>(Receiving(), "lvErrors");
        for (int i = 0; i < errors->topLevelItemCount(); ++i)
            texts.push_back(errors->topLevelItem(i)->text(0).toStdString());
        return texts;
    }
    std::string Text(const char* label) { return Child<QLabel>(Receiving(), label)->text().toStdString(); }
};

} // namespace

TEST_F(ReceiveDovecotTest, FullReceiveListsEveryMessageAndClosesTheWindowOnFinished)
{
    AddAccount(Messages(40));
    SetOptions([](core::TOptionRec& o) { o.AutoscrollonAdd = "1"; });
    TfMain& window = Open();
    Current().Settings.Connections = 4;
    // Rows arrive while the receive runs, on the user-interface thread, in receiving mode.
    int rowsWhileReceiving = 0;
    QObject::connect(&window.Messages(), &QAbstractItemModel::rowsInserted, &window, [&] {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        if (window.IsReceiving())
            rowsWhileReceiving = window.Messages().rowCount();
    });
    Receive([&] { Child<QAction>(window, "tbReceive")->trigger(); });

    EXPECT_EQ(Rows(), 40);
    EXPECT_EQ(rowsWhileReceiving, 40);
    // AutoscrollonAdd "1": the list followed the rows to the last one.
    QScrollBar* scroll = Child<QTreeView>(window, "lvMessages")->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    EXPECT_EQ(window.State().ServerCount, 40);
    EXPECT_FALSE(window.IsReceiving());
    EXPECT_TRUE(Child<QAction>(window, "tbReceive")->isEnabled());
    std::vector<std::int32_t> numbers;
    for (const auto& key : window.Messages().Rows())
        numbers.push_back(key.Number);
    std::sort(numbers.begin(), numbers.end());
    for (int n = 1; n <= 40; ++n)
        EXPECT_EQ(numbers[static_cast<std::size_t>(n - 1)], n);
    const QModelIndex subject = window.Messages().index(0, gui::TMessageListModel::ColSubject);
    EXPECT_TRUE(subject.data().toString().toStdString().starts_with(" [ Questionable ] Message "));

    TfReceivingMail& receiving = Receiving();
    EXPECT_FALSE(receiving.isVisible()) << "closed after \"Finished ...\"";
    EXPECT_EQ(TaskRow(), (TStrings{"Checking for new messages on '127.0.0.1'", "Finished ...", ""}));
    EXPECT_EQ(receiving.windowTitle().toStdString(), "100% Receiving messages for 'Dovecot user'");
    EXPECT_EQ(Text("lGlobalStatus"), "Checking for new messages on '127.0.0.1'");
    EXPECT_EQ(Text("lStatus"), "40 received message(s) of 40");
    EXPECT_EQ(Child<QProgressBar>(receiving, "gaGlobalProgress")->value(), 100);
    EXPECT_EQ(Child<QLabel>(receiving, "stbarStatusPart0")->text().toStdString(),
              "Download speed: Normal speed");
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(Child<QPushButton>(receiving, "buStop")->isEnabled());
    EXPECT_TRUE(Prompter.Log.empty());
}

// The start shows the server count; a failure leaves the window open on the errors tab.
struct TFailureCase
{
    const char* Name;
    bool WrongPassword;
    TStrings Errors;
    std::string Status;     // lStatus at the end
    std::string TaskStatus; // the task row's status at the end
};

void PrintTo(const TFailureCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ReceiveFailureTest : public ReceiveDovecotTest, public ::testing::WithParamInterface<TFailureCase>
{};

TEST_P(ReceiveFailureTest, LeavesTheFailureTextsVisible)
{
    const TFailureCase c = GetParam();
    AddAccount(Messages(3), "", true, c.WrongPassword ? 0 : test::ClosedLoopbackPort());
    if (c.WrongPassword) {
        Admin->UserAt(0).MutableID().Password = "not-" + Password;
        Admin->SaveUsers();
    }
    TfMain& window = Open();
    Receive([&] { window.ReceiveClick(-1); });

    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(window.IsReceiving());
    TfReceivingMail& receiving = Receiving();
    EXPECT_TRUE(receiving.isVisible());
    // The fixed text, then its cause with the server's address (each expected text starts a row).
    const TStrings errors = Errors();
    ASSERT_EQ(errors.size(), c.Errors.size()) << ::testing::PrintToString(errors);
    for (std::size_t i = 0; i < errors.size(); ++i)
        EXPECT_TRUE(errors[i].starts_with(c.Errors[i])) << errors[i];
    EXPECT_EQ(Child<QTabWidget>(receiving, "pcDetails")->currentIndex(), 1);
    EXPECT_EQ(Text("lStatus"), c.Status);
    EXPECT_EQ(TaskStatus(), c.TaskStatus);
    EXPECT_FALSE(Child<QPushButton>(receiving, "buStop")->isEnabled());
    EXPECT_FALSE(receiving.Animation().IsRunning());
    // Hidden, it comes back through the main window (View menu, status bar double click).
    QTest::mouseClick(Child<QPushButton>(receiving, "buHide"), Qt::LeftButton);
    EXPECT_FALSE(receiving.isVisible());
    QTest::mouseDClick(Child<QLabel>(window, "stbarPanel2"), Qt::LeftButton);
    EXPECT_TRUE(receiving.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Failures, ReceiveFailureTest,
                         ::testing::Values(TFailureCase{"WrongPassword",
                                                        true,
                                                        {"Incorect user name or password, please try again !",
                                                         "The server 127.0.0.1:"},
                                                        "Authorizing ...",
                                                        "Disconnected ..."},
                                           TFailureCase{"Unreachable",
                                                        false,
                                                        {"Failed to connect to remote server!",
                                                         "Cannot connect to 127.0.0.1:"},
                                                        "Failed to connect",
                                                        "Executing ..."}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ReceiveDovecotTest, StopEndsInterruptedWhileHiddenWindowKeepsReceiving)
{
    AddAccount(Messages(3000));
    SetOptions([](core::TOptionRec& o) { o.AutoscrollonAdd = "0"; });
    TfMain& window = Open();
    Current().Settings.Connections = 1;
    bool stopped = false;
    QObject::connect(&window.Messages(), &QAbstractItemModel::rowsInserted, &window, [&] {
        TfReceivingMail& receiving = Receiving();
        if (stopped)
            return;
        // Hiding does not stop the receive; the window comes back through the main window.
        QTest::mouseClick(Child<QPushButton>(receiving, "buHide"), Qt::LeftButton);
        EXPECT_FALSE(receiving.isVisible());
        window.ShowReceivingWindow();
        EXPECT_TRUE(receiving.isVisible());
        EXPECT_TRUE(receiving.Animation().IsRunning());
        stopped = true;
        QTest::mouseClick(Child<QPushButton>(receiving, "buStop"), Qt::LeftButton);
    });
    Receive([&] { window.ReceiveClick(-1); });

    ASSERT_TRUE(stopped);
    EXPECT_GT(Rows(), 0);
    EXPECT_LT(Rows(), 3000);
    EXPECT_EQ(TaskStatus(), "Interrupted ...");
    EXPECT_TRUE(Receiving().isVisible()) << "an interrupted receive leaves the window open";
    EXPECT_EQ(Child<QTreeView>(window, "lvMessages")->verticalScrollBar()->value(), 0)
        << "AutoscrollonAdd \"0\" leaves the list where it was";
    EXPECT_FALSE(window.IsReceiving());
}

TEST_F(ReceiveDovecotTest, ClosingWhileReceivingAsksAndPressesStop)
{
    AddAccount(Messages(3000));
    TfMain& window = Open();
    Current().Settings.Connections = 1;
    Prompter.Answers = {core::TAnswer::No, core::TAnswer::Yes};
    int closes = 0;
    QObject::connect(&window.Messages(), &QAbstractItemModel::rowsInserted, &window, [&] {
        // The first rows: No keeps the window; the next rows: Yes closes it.
        if (closes < 2) {
            ++closes;
            window.close();
            EXPECT_EQ(window.isVisible(), closes == 1);
        }
    });
    Receive([&] { window.ReceiveClick(-1); });

    ASSERT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(Prompter.Log[1].Text, core::texts::ExitWhileReceiving);
    EXPECT_EQ(TaskStatus(), "Interrupted ...");
    EXPECT_FALSE(Receiving().isVisible()) << "the program's windows close together";
    EXPECT_LT(Rows(), 3000);
}

TEST_F(ReceiveDovecotTest, WithoutAnAccountReceiveOnlyInforms)
{
    TfMain& window = Open();
    QSignalSpy ended(&window, &TfMain::ReceiveEnded);
    window.ReceiveClick(-1);
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, "You have to define at least one user!");
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Information);
    EXPECT_FALSE(window.IsReceiving());
    EXPECT_EQ(window.ReceivingWindow(), nullptr);
    EXPECT_EQ(ended.count(), 0);
}

// Without a remembered password the prompt asks, above the receiving window that stays on top
// meanwhile; "Remember password" stores the account at once, Cancel ends the receive quietly.
TEST_F(ReceiveDovecotTest, PasswordPromptRemembersOrCancels)
{
    AddAccount(Messages(3), "", false);
    TfMain& window = Open();
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "Cancel" : "OK");
        bool onTopWhileAsking = false;
        WhenModal<gui::TfPassword>([&](gui::TfPassword& prompt) {
            onTopWhileAsking = Receiving().windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            EXPECT_EQ(prompt.windowTitle().toStdString(), "Password: ");
            EXPECT_EQ(Child<QLineEdit>(prompt, "edUserName")->text().toStdString(),
                      Current().ID().AccountName);
            EXPECT_TRUE(Child<QLineEdit>(prompt, "edUserName")->isReadOnly());
            EXPECT_FALSE(Child<QCheckBox>(prompt, "cbRememberPassword")->isChecked());
            EXPECT_EQ(prompt.focusWidget(), Child<QLineEdit>(prompt, "edPassword"));
            if (cancel) {
                QTest::mouseClick(Child<QPushButton>(prompt, "buCancel"), Qt::LeftButton);
                return;
            }
            QTest::keyClicks(Child<QLineEdit>(prompt, "edPassword"), QString::fromStdString(Password));
            Child<QCheckBox>(prompt, "cbRememberPassword")->setChecked(true);
            QTest::mouseClick(Child<QPushButton>(prompt, "buOK"), Qt::LeftButton);
        });
        Receive([&] { window.ReceiveClick(-1); });

        EXPECT_TRUE(onTopWhileAsking);
        EXPECT_FALSE(Receiving().windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << "RAlwaysonTop is off";
        core::TRegistry registry(core::Hive());
        accounts::TUser stored;
        stored.LoadFrom(registry, Current().ID().KeyName);
        if (cancel) {
            EXPECT_EQ(Rows(), 0);
            EXPECT_FALSE(Receiving().isVisible());
            EXPECT_EQ(Child<QTreeWidget>(Receiving(), "lvThreadInfo")->topLevelItemCount(), 0);
            EXPECT_FALSE(stored.ID().RememberPassword);
        } else {
            EXPECT_EQ(Rows(), 3);
            EXPECT_TRUE(stored.ID().RememberPassword);
            EXPECT_TRUE(stored.ID().Password == Password) << "the stored password is the one entered";
        }
    }
}

TEST_F(ReceiveDovecotTest, AccountMenuReceivesForAnotherAccountAfterMakingItCurrent)
{
    AddAccount(Messages(2), "first-");
    AddAccount(Messages(5), "second-");
    TfMain& window = Open();
    // The store orders accounts by their (random) key names: receive for the one not current.
    const std::size_t second = Admin->IndexOf(Admin->CurrentUser()) == 0 ? 1 : 0;
    const std::string name = Admin->UserAt(second).ID().DisplayName;
    QAction* item = nullptr;
    for (QAction* action : Child<QMenu>(window, "ReceiveMails")->actions())
        if (action->data().toInt() == static_cast<int>(second))
            item = action;
    ASSERT_NE(item, nullptr);
    Receive([&] { item->trigger(); });

    EXPECT_EQ(Admin->CurrentUser(), &Admin->UserAt(second));
    EXPECT_EQ(window.Messages().User(), &Admin->UserAt(second));
    EXPECT_EQ(Rows(), name == "Dovecot second-user" ? 5 : 2);
    EXPECT_EQ(window.SelectedPosition(), views::ViewAllMessages);
    EXPECT_EQ(Receiving().windowTitle().toStdString(), "100% Receiving messages for '" + name + "'");
}

TEST_F(ReceiveDovecotTest, ReceiveAskedForDuringAFillRunsAfterIt)
{
    AddAccount(Messages(4));
    TfMain& window = Open();
    for (int i = 0; i < 3000; ++i) {
        accounts::TMailMessage record;
        record.Number = i + 1;
        record.Subject = "old " + std::to_string(i);
        Current().Mails.Add(record);
    }
    Prompter.Answers = {core::TAnswer::Yes};
    QSignalSpy ended(&window, &TfMain::ReceiveEnded);
    QTimer::singleShot(0, &window, [&] { Child<QAction>(window, "tbReceive")->trigger(); });
    window.SelectPosition(views::ViewAllMessages);
    window.tvFiltersClick();
    ASSERT_TRUE(ended.count() > 0 || ended.wait(WaitMs));

    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, core::texts::StopFiltersAndReceive);
    EXPECT_EQ(Rows(), 4) << "the list holds the received messages only";
    EXPECT_FALSE(window.State().PendingReceive);
}

// A black-listed sender's message goes to the trash when DatabaseAction is 0; the notice after
// the receive offers the Trash, and "Don't show this message next time" switches it off.
struct TNoticeCase
{
    const char* Name;
    const char* Button;
    int AppliedNode; // the node whose view the list shows afterwards
    int Rows;
    bool TrashLeft;       // the trashed message is still in the trash...
    std::size_t OnServer; // ...and this many messages are on the server afterwards
};

void PrintTo(const TNoticeCase& c, std::ostream* os)
{
    *os << c.Name;
}

class TrashNoticeTest : public ReceiveDovecotTest, public ::testing::WithParamInterface<TNoticeCase>
{};

TEST_P(TrashNoticeTest, FollowsTheChosenButton)
{
    const TNoticeCase c = GetParam();
    AddAccount(Messages(5, 3));
    SetOptions([](core::TOptionRec& o) {
        o.DatabaseAction = 0;
        o.TrashNotEmptyAfterReceive = "1";
        o.ConfirmEmptyTrash = "0";
    });
    classify::AddressLists().Change(classify::TListKind::Black, [](classify::TAddressList& black, auto&) {
        black.Rows.push_back({"spammer@junk.example", true, {}});
    });
    TfMain& window = Open();
    bool receivingHidden = false;
    std::string text;
    WhenModal<gui::TfTrashInfo>([&](gui::TfTrashInfo& notice) {
        receivingHidden = !Receiving().isVisible();
        EXPECT_EQ(notice.windowTitle().toStdString(), "Information");
        text = Child<QLabel>(notice, "lText")->text().toStdString();
        QTest::mouseClick(Child<QPushButton>(notice, c.Button), Qt::LeftButton);
    });
    Receive([&] { window.ReceiveClick(-1); });

    EXPECT_TRUE(Errors().empty()) << Errors().front();
    EXPECT_TRUE(receivingHidden);
    EXPECT_EQ(text, "Some message were found either spam or questionable and have therefor been deleted and "
                    "placed into Trash folder.");
    EXPECT_EQ(Current().TrashNotEmpty, c.TrashLeft);
    EXPECT_EQ(Server.MaildropFiles(Current().ID().AccountName).size(), c.OnServer);
    EXPECT_EQ(window.State().AppliedNode, c.AppliedNode);
    EXPECT_EQ(Rows(), c.Rows);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, TrashNoticeTest,
    ::testing::Values(TNoticeCase{"Ok", "buOK", views::ViewAllMessages, 4, true, 5},
                      TNoticeCase{"ShowDeleted", "buShowDeleted", views::ViewTrash, 1, true, 5},
                      // "Empty Trash Now !" deletes the trashed message on the
                      // server at once.
                      TNoticeCase{"EmptyTrash", "buEmptyTrash", views::ViewAllMessages, 4, false, 4}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ReceiveDovecotTest, TrashNoticeCheckBoxSwitchesTheNoticeOff)
{
    AddAccount(Messages(2, 1));
    SetOptions([](core::TOptionRec& o) {
        o.DatabaseAction = 0;
        o.TrashNotEmptyAfterReceive = "1";
    });
    classify::AddressLists().Change(classify::TListKind::Black, [](classify::TAddressList& black, auto&) {
        black.Rows.push_back({"spammer@junk.example", true, {}});
    });
    TfMain& window = Open();
    int notices = 0;
    WhenModal<gui::TfTrashInfo>([&](gui::TfTrashInfo& notice) {
        ++notices;
        auto* box = Child<QCheckBox>(notice, "cbDontShow");
        box->setChecked(true);
        EXPECT_EQ(core::Options()->TrashNotEmptyAfterReceive, "0");
        box->setChecked(false);
        EXPECT_EQ(core::Options()->TrashNotEmptyAfterReceive, "1");
        box->setChecked(true);
        QTest::keyClick(&notice, Qt::Key_Escape);
    });
    Receive([&] { window.ReceiveClick(-1); });
    ASSERT_EQ(notices, 1);
    Receive([&] { window.ReceiveClick(-1); });
    EXPECT_EQ(notices, 1) << "switched off";
    EXPECT_EQ(Rows(), 1);
}

// With AutoReceive on, the first activation receives for the current account, once, without the
// trash notice; with it off nothing happens and the start-up receive stays pending.
TEST_F(ReceiveDovecotTest, StartUpReceiveRunsOnceWhenAutoReceiveIsOn)
{
    AddAccount(Messages(3, 2));
    SetOptions([](core::TOptionRec& o) {
        o.AutoReceive = "0";
        o.DatabaseAction = 0;
        o.TrashNotEmptyAfterReceive = "1";
    });
    classify::AddressLists().Change(classify::TListKind::Black, [](classify::TAddressList& black, auto&) {
        black.Rows.push_back({"spammer@junk.example", true, {}});
    });
    TfMain& window = Open();
    window.ApplicationEventsActivate();
    EXPECT_FALSE(window.IsReceiving());
    EXPECT_TRUE(window.State().StartupReceivePending);
    EXPECT_EQ(window.ReceivingWindow(), nullptr);

    SetOptions([](core::TOptionRec& o) { o.AutoReceive = "1"; });
    Receive([&] {
        window.ApplicationEventsActivate();
        EXPECT_TRUE(window.IsReceiving());
    });
    EXPECT_FALSE(window.State().StartupReceivePending);
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(Current().TrashNotEmpty);
    // A trash notice would have held the end back until answered: none is shown at start-up.
    TfReceivingMail* first = window.ReceivingWindow();
    window.ApplicationEventsActivate();
    EXPECT_FALSE(window.IsReceiving());
    EXPECT_EQ(window.ReceivingWindow(), first) << "only the first activation receives";
}
