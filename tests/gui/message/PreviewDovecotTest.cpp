// The whole message of a header-only record, downloaded on demand from the real Dovecot: once,
// then from the cache; the synchronisation message when the server's message of that number is no
// longer the record's; the retry question when the server cannot be reached.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "engine/TDownloadMail.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessagePreview.h"
#include "gui/message/TfMailWindow.h"
#include "gui/viewer/TMessageBrowser.h"
#include "support/TDovecot.h"
#include "support/TFakeMaildrop.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using core::TAnswer;
using gui::TfMain;
using gui::TMessagePreview;
using test::TScriptedPrompter;

namespace {

constexpr int WaitMs = 60000;

class PreviewDovecotTest : public ::testing::Test
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
    std::string Name;
    std::vector<std::string> Mail = test::TFakeMaildrop::Messages(3);

    void SetUp() override
    {
        QApplication::setQuitOnLastWindowClosed(false);
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        classify::AddressLists().Replace({classify::TListKind::Black, {}}, {classify::TListKind::White, {}});
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Name = "view" + std::to_string(::getpid()) + "-" + info->name();
        std::transform(Name.begin(), Name.end(), Name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        Server.CreateUser(Name, Password, Mail);
        accounts::TUserID id;
        id.AccountName = Name;
        id.Password = Password;
        id.RememberPassword = true;
        id.DisplayName = "Dovecot user";
        id.Host = "127.0.0.1";
        id.Port = Server.Pop3Port();
        Admin->AddUser(id);
        Admin->SaveUsers();
        Window = std::make_unique<TfMain>(*Admin, Prompter, nullptr, [](QDialog&) { return 0; });
        Admin->MakeInitialCurrent();
        Window->ReceiveConfigHook = [](engine::TReceiveConfig& config) {
            config.Zones = std::vector<std::string>{};
            config.ReplyTimeoutMs = 10000;
        };
        Window->show();
        // A receive of the headers only.
        QSignalSpy ended(Window.get(), &TfMain::ReceiveEnded);
        Window->findChild<QAction*>(QStringLiteral("tbReceive"))->trigger();
        ASSERT_TRUE(ended.count() > 0 || ended.wait(WaitMs));
        ASSERT_EQ(Window->Messages().rowCount(), 3);
    }
    void TearDown() override
    {
        Window.reset();
        Admin.reset();
        core::FinalizeModules();
    }

    accounts::TUser& User() { return *Admin->CurrentUser(); }
    TMessagePreview& Preview() { return Window->Preview(); }

    // Selects the row of message `number`; its record's index.
    std::size_t SelectNumber(std::int32_t number)
    {
        const auto& rows = Window->Messages().Rows();
        for (std::size_t row = 0; row < rows.size(); ++row)
            if (rows[row].Number == number) {
                auto* list = Window->findChild<QTreeView*>(QStringLiteral("lvMessages"));
                list->selectionModel()->setCurrentIndex(Window->Messages().index(static_cast<int>(row), 0),
                                                        QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
                Window->lvMessagesClick();
                return rows[row].RecordIndex;
            }
        ADD_FAILURE() << "no row for message " << number;
        return 0;
    }
    // Presses Full Message and waits for the show to end.
    void FullMessage()
    {
        QSignalSpy done(Preview().Loader, &gui::TFullMessageLoader::Done);
        Preview().ModeButton(TMessagePreview::ModeFull)->trigger();
        ASSERT_TRUE(done.count() > 0 || done.wait(WaitMs)) << "the download did not end";
    }
    std::string CacheFile(std::size_t index)
    {
        return core::CacheFolder(core::Options()->CacheDir) + "/" + User().Mails.At(index)->CacheName +
               ".eml";
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

} // namespace

TEST_F(PreviewDovecotTest, FullMessageDownloadsOnceThenOpensTheCache)
{
    std::filesystem::create_directories(Home / "bin");
    std::ofstream(Home / "bin/Wait.html") << "<p>Please wait</p>";
    const std::size_t index = SelectNumber(2);
    ASSERT_FALSE(User().Mails.At(index)->Fetched);
    QSignalSpy downloads(Preview().Loader, &gui::TFullMessageLoader::DownloadStarted);
    QSignalSpy done(Preview().Loader, &gui::TFullMessageLoader::Done);
    Preview().ModeButton(TMessagePreview::ModeFull)->trigger();
    // The waiting page while the message downloads, the window's commands still there.
    EXPECT_EQ(Preview().webbrMsgFull->ShownFile().toStdString(), Home / "bin/Wait.html");
    EXPECT_EQ(Window->findChild<QLabel*>(QStringLiteral("stbarPanel2"))->text().toStdString(),
              "Downloading mail...please wait.");
    ASSERT_TRUE(done.count() > 0 || done.wait(WaitMs));
    EXPECT_EQ(downloads.count(), 1);
    EXPECT_EQ(Preview().webbrMsgFull->ShownFile().toStdString(), CacheFile(index));
    EXPECT_EQ(Read(CacheFile(index)), Mail[1]) << "the stored message byte for byte";
    EXPECT_TRUE(User().Mails.At(index)->Fetched);
    EXPECT_EQ(Window->findChild<QLabel*>(QStringLiteral("stbarPanel2"))->text().toStdString(), "");

    // Again: straight from the cache, without a session.
    Preview().ModeButton(TMessagePreview::ModeInfo)->trigger();
    FullMessage();
    EXPECT_EQ(downloads.count(), 1);
    EXPECT_EQ(Preview().webbrMsgFull->ShownFile().toStdString(), CacheFile(index));

    // A message window of another header-only message downloads it the same way.
    SelectNumber(3);
    Window->OpenClick();
    gui::TfMailWindow& mail = *Window->MailWindows().back();
    EXPECT_TRUE(mail.Busy());
    QTRY_VERIFY_WITH_TIMEOUT(!mail.Busy(), WaitMs);
    EXPECT_TRUE(User().Mails.At(Window->Messages().RowKey(mail.ShownRow()).RecordIndex)->Fetched);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(PreviewDovecotTest, AMessageChangedOnTheServerGivesTheSynchronisationMessage)
{
    // Another program deleted message 1: message 2 is now number 1 on the server.
    Server.CreateUser(Name, Password, {Mail[1], Mail[2]});
    const std::size_t first = SelectNumber(1);
    FullMessage();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, "The downloaded messages are no longer synchronized with those on the "
                                    "mail server. Please download your messages again.");
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Information);
    EXPECT_EQ(Preview().webbrMsgFull->ShownFile().toStdString(), "");
    EXPECT_FALSE(std::filesystem::exists(CacheFile(first))) << "nothing was stored for it";
    EXPECT_FALSE(User().Mails.At(first)->Fetched);

    // Number 3 no longer exists at all.
    Prompter.Log.clear();
    SelectNumber(3);
    FullMessage();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_NE(Prompter.Log[0].Text.find("no longer synchronized"), std::string::npos);
}

TEST_F(PreviewDovecotTest, AnUnreachableServerAsksWhetherToTryAgain)
{
    // A port where nothing listens.
    User().MutableID().Port = 1;
    SelectNumber(1);
    Prompter.Answers = {TAnswer::Yes, TAnswer::No};
    FullMessage();
    QTRY_COMPARE_WITH_TIMEOUT(Prompter.Log.size(), std::size_t(2), WaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!Preview().Loader->Downloading(), WaitMs);
    for (const auto& entry : Prompter.Log) {
        EXPECT_EQ(entry.Kind, core::TMessageKind::Error);
        EXPECT_TRUE(entry.Text.starts_with("Can't connect to remote server! Do you wish to try again ?"));
        EXPECT_NE(entry.Text.find("127.0.0.1:1"), std::string::npos) << entry.Text;
    }
    EXPECT_EQ(Preview().webbrMsgFull->ShownFile().toStdString(), "");
}

TEST_F(PreviewDovecotTest, AnotherMessageChosenDuringADownloadIsTheOneShown)
{
    const std::size_t second = SelectNumber(2);
    Preview().ModeButton(TMessagePreview::ModeFull)->trigger();
    ASSERT_TRUE(Preview().Loader->Downloading());
    // The user moves on before message 2 arrived: its download is abandoned.
    const std::size_t third = SelectNumber(3);
    EXPECT_FALSE(Preview().Loader->Downloading());
    FullMessage();
    // Whatever of the abandoned download was still on its way does not end or replace this one.
    QTest::qWait(200);
    EXPECT_EQ(Preview().webbrMsgFull->ShownFile().toStdString(), CacheFile(third));
    EXPECT_EQ(Read(CacheFile(third)), Mail[2]);
    EXPECT_FALSE(Preview().Loader->Downloading());
    EXPECT_FALSE(User().Mails.At(second)->Fetched && !std::filesystem::exists(CacheFile(second)));
    EXPECT_TRUE(Prompter.Log.empty());
}

namespace {

// The Dovecot maildrop of PreviewDovecotTest with message 2 carrying an attachment.
class AttachmentDovecotTest : public PreviewDovecotTest
{
protected:
    AttachmentDovecotTest()
    {
        Mail[1] = "From: Alice <alice@example.org>\r\nTo: me@example.net\r\nSubject: The report\r\n"
                  "Message-ID: <report-" +
                  std::to_string(::getpid()) +
                  "@example.org>\r\n"
                  "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                  "--b1\r\nContent-Type: text/plain\r\n\r\nSee the report.\r\n"
                  "--b1\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n"
                  "JVBERi0xLjQgdGVzdA==\r\n--b1--\r\n";
    }
};

} // namespace

TEST_F(AttachmentDovecotTest, TheAttachmentsOfAHeaderOnlyMessageAreListedAfterItsDownload)
{
    const std::size_t index = SelectNumber(2);
    ASSERT_FALSE(User().Mails.At(index)->Fetched);
    Prompter.Answers = {TAnswer::Yes};
    Window->sbAttachClick();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, "Full message will be downloaded first. Do you want to continue ?");
    auto* menu = Window->findChild<QMenu*>(QStringLiteral("popupAttach"));
    QTRY_VERIFY_WITH_TIMEOUT(menu != nullptr && menu->isVisible(), WaitMs);
    std::vector<std::string> captions;
    for (QAction* action : menu->actions())
        captions.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    EXPECT_EQ(captions, (std::vector<std::string>{"report.pdf", "-", "&Save Attachments..."}));
    EXPECT_TRUE(User().Mails.At(index)->Fetched);
    EXPECT_EQ(Read(CacheFile(index)), Mail[1]);
    EXPECT_EQ(Preview().Mode(), TMessagePreview::ModeInfo) << "the visible page stays";
    menu->hide();
}
