// Reading messages from the main window: the three preview modes, the message window with its
// navigation, deletion, saving and list commands, the source window, Open and Save as, and the
// From cell of a sender without a name.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeView>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TRegistry.h"
#include "gui/main/TDesktopSettings.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessageInfo.h"
#include "gui/message/TMessagePreview.h"
#include "gui/message/TfMailSource.h"
#include "gui/message/TfMailWindow.h"
#include "gui/viewer/TMessageBrowser.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using core::TAnswer;
using gui::TfMailWindow;
using gui::TfMain;
using gui::TMessagePreview;
using test::TScriptedPrompter;

namespace {

constexpr const char* HeadersOnly =
    "You can view the content of this mail only if you choose to download the full message.\r\nIf you "
    "haven't choosen this option, you can view the content of this mail message after the download process "
    "is complete";

class MessageViewingTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;
    std::unique_ptr<TfMain> Window;
    std::vector<accounts::TMailMessage> Records;
    // What the source window showed when it was run: its title and its text.
    QString SourceTitle;
    QString SourceText;
    std::vector<bool> SourceBold; // per paragraph
    // The names the save dialog answers with, and what it was asked.
    std::vector<QString> SaveNames;
    std::vector<gui::TSaveRequest> SaveRequests;

    void SetUp() override
    {
        QApplication::setQuitOnLastWindowClosed(false);
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        classify::AddressLists().Replace({classify::TListKind::Black, {}}, {classify::TListKind::White, {}});
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
        accounts::TUserID id;
        id.AccountName = "user";
        id.DisplayName = "Main";
        // Nothing listens here: a download would fail, and no test below expects one.
        id.Host = "127.0.0.1";
        id.Port = 1;
        Admin->AddUser(id);
        Admin->SaveUsers();
        Admin->LoadUsers();
    }
    void TearDown() override
    {
        Window.reset();
        Admin.reset();
        classify::AddressLists().Replace({classify::TListKind::Black, {}}, {classify::TListKind::White, {}});
        core::FinalizeModules();
    }

    accounts::TUser& User() { return Admin->UserAt(0); }

    static accounts::TMailMessage Record(int n, const std::string& subject)
    {
        accounts::TMailMessage m;
        m.Number = n;
        m.FromName = "Sender " + std::to_string(n);
        m.FromAddress = "s" + std::to_string(n) + "@example.org";
        m.ToText = "me@example.net";
        m.Subject = subject;
        m.Headers = {"From: Sender " + std::to_string(n) + " <" + m.FromAddress + ">", "To: me@example.net",
                     "Subject: " + subject, "Message-ID: <m" + std::to_string(n) + "@example.org>"};
        m.CacheName = "cache-" + std::to_string(n);
        return m;
    }
    void AddRecords(int count)
    {
        for (int n = 1; n <= count; ++n)
            Records.push_back(Record(n, "Message " + std::to_string(n)));
    }

    std::string CacheFile(const accounts::TMailMessage& m)
    {
        return core::CacheFolder(core::Options()->CacheDir) + "/" + m.CacheName + ".eml";
    }
    // Writes the record's whole message into the cache: its header lines, an empty line, the body.
    std::string WriteCache(const accounts::TMailMessage& m, const std::string& body)
    {
        std::filesystem::create_directories(core::CacheFolder(core::Options()->CacheDir));
        std::string text;
        for (const auto& line : m.Headers)
            text += line + "\r\n";
        text += "\r\n" + body;
        std::ofstream(CacheFile(m), std::ios::binary) << text;
        return text;
    }

    TfMain& Open()
    {
        Window = std::make_unique<TfMain>(*Admin, Prompter, nullptr, [this](QDialog& dialog) {
            if (auto* source = qobject_cast<gui::TfMailSource*>(&dialog)) {
                SourceTitle = source->windowTitle();
                auto* view = source->findChild<QTextBrowser*>(QStringLiteral("RichView1"));
                SourceText = view->toPlainText();
                SourceBold.clear();
                for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
                    SourceBold.push_back(block.begin() != block.end() &&
                                         block.begin().fragment().charFormat().fontWeight() == QFont::Bold);
            }
            return 0;
        });
        Window->Commands().SaveDialog = [this](QWidget*, const gui::TSaveRequest& request) {
            SaveRequests.push_back(request);
            if (SaveNames.empty())
                return QString();
            QString name = SaveNames.front();
            SaveNames.erase(SaveNames.begin());
            return name;
        };
        Admin->MakeInitialCurrent();
        // Every message is in the cache unless a test removes it: nothing downloads.
        for (const auto& record : Records) {
            User().Mails.Add(record);
            WriteCache(record, "Body of " + record.Subject + "\r\n");
        }
        Window->SelectPosition(views::ViewAllMessages);
        Window->tvFiltersClick();
        return *Window;
    }

    template <class T> T* Child(QObject& parent, const char* name)
    {
        auto* child = parent.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    template <class T> T* Child(const char* name) { return Child<T>(*Window, name); }

    void Select(int row)
    {
        QTreeView* list = Child<QTreeView>("lvMessages");
        list->selectionModel()->setCurrentIndex(Window->Messages().index(row, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        Window->lvMessagesClick();
    }
    // The subject of the record a row shows.
    std::string SubjectAt(int row)
    {
        return Window->Messages()
            .index(row, gui::TMessageListModel::ColSubject)
            .data()
            .toString()
            .toStdString();
    }
    TfMailWindow& OpenWindow(int row)
    {
        Select(row);
        Window->OpenClick();
        const auto windows = Window->MailWindows();
        EXPECT_FALSE(windows.empty());
        return *windows.back();
    }
    static std::string Title(QWidget& window) { return window.windowTitle().toStdString(); }
};

} // namespace

TEST_F(MessageViewingTest, EachModeShowsTheSelectedRecord)
{
    AddRecords(2);
    Records[0].Reason = "The sender s1@example.org is on the White list.";
    Records[0].Sent = 1700000000000; // 14 Nov 2023, 22:13:20 UTC
    Open();
    const std::string body = "Hello there,\r\nthe body of message 1.\r\n";
    WriteCache(Records[0], body);
    auto& preview = Window->Preview();
    EXPECT_FALSE(preview.isVisible());

    Select(0);
    EXPECT_FALSE(preview.isHidden());
    EXPECT_EQ(preview.Mode(), TMessagePreview::ModeInfo);
    EXPECT_TRUE(preview.ModeButton(TMessagePreview::ModeInfo)->isChecked());
    const std::string info = preview.rvMsgInfo->toPlainText().toStdString();
    for (const char* expected : {"From (Name):  Sender 1", "From (Address):  s1@example.org",
                                 "From (Company):  ", "Subject:  Message 1", "To:  me@example.net",
                                 "Why:  The sender s1@example.org is on the White list."})
        EXPECT_NE(info.find(expected), std::string::npos) << expected << " in\n" << info;
    EXPECT_NE(info.find("Sent:  " + gui::SentSummary(Records[0].Sent).toStdString()), std::string::npos);
    // The address and the recipients are the view's two links.
    EXPECT_NE(preview.rvMsgInfo->toHtml().indexOf(QStringLiteral("mailto:s1@example.org")), -1);

    preview.ModeButton(TMessagePreview::ModeHeader)->trigger();
    EXPECT_EQ(preview.Mode(), TMessagePreview::ModeHeader);
    EXPECT_EQ(preview.memoMsgHeader->toPlainText().toStdString(),
              "From: Sender 1 <s1@example.org>\nTo: me@example.net\nSubject: Message 1\n"
              "Message-ID: <m1@example.org>");

    QSignalSpy loaded(preview.webbrMsgFull, &gui::TMessageBrowser::LoadFinished);
    QSignalSpy downloads(preview.Loader, &gui::TFullMessageLoader::DownloadStarted);
    preview.ModeButton(TMessagePreview::ModeFull)->trigger();
    EXPECT_EQ(preview.Mode(), TMessagePreview::ModeFull);
    EXPECT_EQ(preview.webbrMsgFull->ShownFile().toStdString(), CacheFile(Records[0]));
    EXPECT_NE(preview.webbrMsgFull->toPlainText().indexOf(QStringLiteral("the body of message 1.")), -1);
    ASSERT_TRUE(loaded.count() > 0 || loaded.wait(5000));
    EXPECT_EQ(Child<QLabel>("stbarPanel0")->text().toStdString(), "Done.");
    EXPECT_EQ(downloads.count(), 0) << "the cache held the message";
    EXPECT_TRUE(User().Mails.At(0)->Fetched);

    // Another row: the preview goes back to the message info, of that row.
    Select(1);
    EXPECT_EQ(preview.Mode(), TMessagePreview::ModeInfo);
    EXPECT_NE(preview.rvMsgInfo->toPlainText().indexOf(QStringLiteral("Subject:  Message 2")), -1);
    EXPECT_EQ(preview.rvMsgInfo->toPlainText().indexOf(QStringLiteral("Why:")), -1);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(MessageViewingTest, FullMessageOpenAndSaveDuringAHeadersOnlyReceiveOnlyExplain)
{
    AddRecords(1);
    Open();
    Select(0);
    Window->EnterReceivingMode();
    auto& preview = Window->Preview();
    Window->tbMessageInfoClick(TMessagePreview::ModeFull);
    EXPECT_EQ(preview.Mode(), TMessagePreview::ModeInfo);
    EXPECT_TRUE(preview.ModeButton(TMessagePreview::ModeInfo)->isChecked());
    Window->OpenClick();
    Window->SaveAsClick();
    EXPECT_TRUE(Window->MailWindows().empty());
    EXPECT_TRUE(SaveRequests.empty());
    ASSERT_EQ(Prompter.Log.size(), 3u);
    for (const auto& entry : Prompter.Log) {
        EXPECT_EQ(entry.Text, HeadersOnly);
        EXPECT_EQ(entry.Kind, core::TMessageKind::Information);
    }
    Window->LeaveReceivingMode();
}

TEST_F(MessageViewingTest, MailWindowTitlesPriorityStripAndSource)
{
    struct TCase
    {
        std::int32_t Priority;
        bool Strip;
        const char* Text;
    };
    const TCase cases[] = {
        {accounts::PriorityNormal, false, ""},
        {accounts::PriorityHigh, true, "This message is High Priority"},
        {accounts::PriorityLow, true, "This message is Low Priority"},
    };
    for (int i = 0; i < 3; ++i) {
        Records.push_back(Record(i + 1, "Hi"));
        Records.back().Priority = cases[i].Priority;
    }
    Open();
    WriteCache(Records[1], "Line one\r\n\r\nLine three\r\n");
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        TfMailWindow& mail = OpenWindow(row);
        if (row != 1)
            std::filesystem::remove(CacheFile(Records[static_cast<std::size_t>(row)]));
        EXPECT_EQ(Title(mail), "Hi - Orvalent Tarnwick ");
        EXPECT_EQ(!Child<QWidget>(mail, "PNPriority")->isHidden(), cases[row].Strip);
        if (cases[row].Strip) {
            EXPECT_EQ(Child<QLabel>(mail, "LBPriority")->text().toStdString(), cases[row].Text);
        }
        EXPECT_NE(
            Child<QTextBrowser>(mail, "RichView1")->toPlainText().indexOf(QStringLiteral("Subject:  Hi")),
            -1);
        Child<QAction>(mail, "TBSource")->trigger();
        EXPECT_EQ(SourceTitle.toStdString(), "Hi - Message Source - Orvalent Tarnwick ");
        if (row == 1) {
            // Header lines in bold, the body regular, an empty line as a blank.
            EXPECT_EQ(SourceText.toStdString(),
                      "From: Sender 2 <s2@example.org>\nTo: me@example.net\nSubject: Hi\n"
                      "Message-ID: <m2@example.org>\n \nLine one\n \nLine three");
            EXPECT_EQ(SourceBold, (std::vector<bool>{true, true, true, true, false, false, false, false}));
        } else {
            EXPECT_EQ(SourceText.toStdString(), "Message was truncated");
        }
    }
    EXPECT_EQ(Window->MailWindows().size(), 3u) << "each Open makes another window";
}

TEST_F(MessageViewingTest, NextAndPreviousAskAtTheEndsOfTheList)
{
    AddRecords(3);
    Open();
    struct TCase
    {
        int From;
        const char* Button;
        TAnswer Answer;
        int Shown;
        const char* Question; // empty: none
    };
    const char* toFirst = "There are no more messages. Jump to the first message is the list?";
    const char* toLast = "There are no more messages. Jump to the last message is the list?";
    const TCase cases[] = {
        {0, "TBNext", TAnswer::Ok, 1, ""},         {2, "TBNext", TAnswer::No, 2, toFirst},
        {2, "TBNext", TAnswer::Yes, 0, toFirst},   {1, "TBPrevious", TAnswer::Ok, 0, ""},
        {0, "TBPrevious", TAnswer::No, 0, toLast}, {0, "TBPrevious", TAnswer::Yes, 2, toLast},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Button) + " from row " + std::to_string(c.From));
        Prompter.Log.clear();
        if (c.Question[0] != '\0')
            Prompter.Answers = {c.Answer};
        TfMailWindow& mail = OpenWindow(c.From);
        Child<QAction>(mail, c.Button)->trigger();
        EXPECT_EQ(mail.ShownRow(), c.Shown);
        EXPECT_EQ(Title(mail), SubjectAt(c.Shown) + " - Orvalent Tarnwick ");
        if (c.Question[0] != '\0') {
            ASSERT_EQ(Prompter.Log.size(), 1u);
            EXPECT_EQ(Prompter.Log[0].Text, c.Question);
            EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Warning);
        } else {
            EXPECT_TRUE(Prompter.Log.empty());
        }
        mail.close();
    }
}

TEST_F(MessageViewingTest, DeleteTrashesTheShownRowAndMovesOn)
{
    AddRecords(3);
    Open();
    // The last row: the window goes on with the first.
    TfMailWindow& mail = OpenWindow(2);
    Child<QAction>(mail, "TBDelete")->trigger();
    EXPECT_TRUE(User().Mails.At(2)->Trashed);
    EXPECT_TRUE(User().TrashNotEmpty);
    EXPECT_EQ(Window->Messages().rowCount(), 2);
    EXPECT_EQ(Title(mail), "Message 1 - Orvalent Tarnwick ");
    // The next row after the shown one.
    Child<QAction>(mail, "DeleteMessage1")->trigger();
    EXPECT_TRUE(User().Mails.At(0)->Trashed);
    EXPECT_EQ(Title(mail), "Message 2 - Orvalent Tarnwick ");
    // The only row left: the window closes.
    QPointer<TfMailWindow> watched(&mail);
    Child<QAction>(mail, "TBDelete")->trigger();
    EXPECT_EQ(Window->Messages().rowCount(), 0);
    QTest::qWait(0);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull());
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(MessageViewingTest, AWindowWhoseMessageLeftTheListSaysSo)
{
    AddRecords(2);
    Open();
    TfMailWindow& mail = OpenWindow(0);
    // The main window trashes the message meanwhile.
    Select(0);
    Window->DeleteSelectedClick();
    ASSERT_EQ(Window->Messages().rowCount(), 1);
    EXPECT_EQ(mail.ShownRow(), -1);
    Child<QAction>(mail, "TBDelete")->trigger();
    Child<QAction>(mail, "TBNext")->trigger();
    ASSERT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(Prompter.Log[0].Text, "This message was deleted!");
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Warning);
    EXPECT_EQ(Prompter.Log[1].Text, "This message is no longer in the list of the main window.");
    // Still the same message, and the other row was left alone.
    EXPECT_EQ(Title(mail), "Message 1 - Orvalent Tarnwick ");
    EXPECT_FALSE(User().Mails.At(1)->Trashed);
}

TEST_F(MessageViewingTest, MailWindowSaveAsMovesTheCacheFileAndAddsEml)
{
    struct TCase
    {
        const char* Name;
        const char* Saved;
    };
    const TCase cases[] = {{"copy", "copy.eml"}, {"copy.EML", "copy.EML.eml"}, {"other.eml", "other.eml"}};
    AddRecords(1);
    Open();
    const std::string folder = Home / "saved";
    std::filesystem::create_directories(folder);
    TfMailWindow& mail = OpenWindow(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string text = WriteCache(Records[0], "Body\r\n");
        SaveNames = {QString::fromStdString(folder + "/" + c.Name)};
        Child<QAction>(mail, "Saveas1")->trigger();
        std::ifstream saved(folder + "/" + c.Saved, std::ios::binary);
        ASSERT_TRUE(saved.is_open());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), text);
        EXPECT_FALSE(std::filesystem::exists(CacheFile(Records[0]))) << "moved, not copied";
        EXPECT_EQ(SaveRequests.back().Proposed.toStdString(), CacheFile(Records[0]));
        EXPECT_EQ(SaveRequests.back().Filter.toStdString(), "Mail (*.eml)");
    }
    EXPECT_FALSE(User().Mails.At(0)->Fetched);
    EXPECT_TRUE(Prompter.Log.empty());

    // An existing file is replaced only after a question.
    WriteCache(Records[0], "Second\r\n");
    SaveNames = {QString::fromStdString(folder + "/copy")};
    Prompter.Answers = {TAnswer::No};
    Child<QAction>(mail, "Saveas1")->trigger();
    EXPECT_TRUE(std::filesystem::exists(CacheFile(Records[0])));
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_NE(Prompter.Log[0].Text.find("copy.eml already exists"), std::string::npos);

    // Without the cache file.
    std::filesystem::remove(CacheFile(Records[0]));
    Prompter.Log.clear();
    const std::size_t asked = SaveRequests.size();
    Child<QAction>(mail, "Saveas1")->trigger();
    EXPECT_EQ(SaveRequests.size(), asked);
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text, "The specified file does not exist !");
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Error);
}

TEST_F(MessageViewingTest, MainSaveAsMovesTheCachedMessageReplacingAFile)
{
    AddRecords(2);
    Open();
    const std::string text = WriteCache(Records[0], "Body\r\n");
    const std::string target = Home / "kept.eml";
    std::ofstream(target) << "old";
    Select(0);
    Window->tbMessageInfoClick(TMessagePreview::ModeFull); // from the cache: now known as fetched
    SaveNames = {QString::fromStdString(target)};
    Child<QAction>("Saveas1")->trigger();
    ASSERT_EQ(SaveRequests.size(), 1u);
    EXPECT_EQ(SaveRequests[0].Title.toStdString(), "Save As...");
    EXPECT_TRUE(SaveRequests[0].ConfirmOverwrite);
    EXPECT_EQ(SaveRequests[0].Proposed.toStdString(), CacheFile(Records[0]));
    std::ifstream saved(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), text);
    EXPECT_FALSE(std::filesystem::exists(CacheFile(Records[0])));
    EXPECT_FALSE(User().Mails.At(0)->Fetched);
    EXPECT_TRUE(Prompter.Log.empty());

    // A cache file that holds another message with the same name is not this record's message.
    Records[1].CacheName = Records[0].CacheName;
    User().Mails.At(1)->CacheName = Records[0].CacheName;
    User().Mails.At(1)->Fetched = true;
    WriteCache(Records[0], "Body\r\n");
    Select(1);
    Child<QAction>("Saveas1")->trigger();
    EXPECT_EQ(SaveRequests.size(), 1u);
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Text,
              "Cannot find specified file!\r\nTry to open this mail by doublecliking it!");
    EXPECT_TRUE(std::filesystem::exists(CacheFile(Records[0]))) << "the other message stays in the cache";
}

TEST_F(MessageViewingTest, OpenByDoubleClickAndEnterAndGeometryIsKept)
{
    AddRecords(2);
    Open();
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    QTreeView* list = Child<QTreeView>("lvMessages");
    Select(1);
    const QRect cell = list->visualRect(Window->Messages().index(1, gui::TMessageListModel::ColSubject));
    QSignalSpy doubleClicks(list, &QAbstractItemView::doubleClicked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(doubleClicks.count(), 1);
    ASSERT_EQ(Window->MailWindows().size(), 1u);
    EXPECT_EQ(Title(*Window->MailWindows()[0]), "Message 2 - Orvalent Tarnwick ");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(Window->MailWindows().size(), 2u);

    // Designed size, centred, before anything is stored; the stored rectangle afterwards.
    TfMailWindow& first = *Window->MailWindows()[0];
    EXPECT_EQ(first.size(), QSize(746, 459));
    first.resize(640, 420);
    first.move(33, 44);
    first.close();
    core::TRegistry registry(core::Hive());
    ASSERT_TRUE(registry.OpenKey(gui::DesktopKey, false));
    EXPECT_EQ(registry.ReadString("MWWidth"), "640");
    EXPECT_EQ(registry.ReadString("MWHeight"), "420");
    EXPECT_EQ(registry.ReadString("MWLeft"), "33");
    EXPECT_EQ(registry.ReadString("MWTop"), "44");
    Select(0);
    Window->OpenClick();
    TfMailWindow& again = *Window->MailWindows().back();
    EXPECT_EQ(again.size(), QSize(640, 420));
    EXPECT_EQ(again.pos(), QPoint(33, 44));

    // The message windows have no parent; closing the main window closes them too.
    EXPECT_TRUE(again.isVisible());
    Window->close();
    EXPECT_FALSE(again.isVisible());
}

TEST(MessageLineText, ShowsUtf8AsItIsAndEveryOtherByteAsItsWindows1252Character)
{
    struct TCase
    {
        const char* Bytes;
        const char16_t* Text;
    };
    const TCase cases[] = {
        {"caf\xc3\xa9 \xe2\x82\xac", u"caf\u00e9 \u20ac"}, // UTF-8
        {"Gr\xfc\xdf", u"Gr\u00fc\u00df"},                 // Latin-1 umlauts
        {"\x80 \x93x\x94", u"\u20ac \u201cx\u201d"},       // windows-1252's own characters
        {"\x81\x8d", u"\u0081\u008d"},                     // bytes the code page leaves out
        {"half \xc3", u"half \u00c3"},                     // a cut UTF-8 sequence
    };
    for (const auto& c : cases)
        EXPECT_EQ(gui::LineText(c.Bytes), QString::fromUtf16(c.Text)) << c.Bytes;
}

TEST_F(MessageViewingTest, MailWindowMovesTheSenderToAListAfterItsQuestion)
{
    AddRecords(1);
    Open();
    classify::AddressLists().Change(classify::TListKind::White,
                                    [](auto& white, auto&) { classify::AddListed(white, "s1@example.org"); });
    TfMailWindow& mail = OpenWindow(0);
    Prompter.Answers = {TAnswer::No, TAnswer::Yes};
    Child<QAction>(mail, "Black")->trigger();
    EXPECT_TRUE(classify::IsListed(classify::AddressLists().Snapshot().Of(classify::TListKind::White),
                                   "s1@example.org"));
    Child<QAction>(mail, "MovesendertoBlacklist1")->trigger();
    const auto lists = classify::AddressLists().Snapshot();
    EXPECT_TRUE(classify::IsListed(lists.Of(classify::TListKind::Black), "s1@example.org"));
    EXPECT_FALSE(classify::IsListed(lists.Of(classify::TListKind::White), "s1@example.org"));
    ASSERT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(Prompter.Log[0].Text,
              "This address is already in the White list. Do you want to move it to Black list ?");
    // Neither the subject nor the main window's rows change.
    EXPECT_EQ(SubjectAt(0), "Message 1");
    EXPECT_EQ(Window->Messages().rowCount(), 1);
    EXPECT_FALSE(Child<QAction>(mail, "CreateRule")->isEnabled());
}

TEST_F(MessageViewingTest, FromCellOfASenderWithoutNameShowsTheAddressMuted)
{
    AddRecords(2);
    Records[0].FromName.clear();
    Records[1].FromAddress = "noreply@xn--80ak6aa92e.example";
    Open();
    auto& model = Window->Messages();
    const QModelIndex unnamed = model.index(0, gui::TMessageListModel::ColFrom);
    EXPECT_EQ(unnamed.data().toString(), QString()) << "sorting and Find read the display name";
    EXPECT_EQ(unnamed.data(Qt::ToolTipRole).toString().toStdString(), "s1@example.org");
    EXPECT_EQ(unnamed.data(gui::TMessageListModel::AddressRole).toString().toStdString(), "s1@example.org");
    // A look-alike domain keeps its ASCII form.
    EXPECT_EQ(model.index(1, gui::TMessageListModel::ColFrom).data(Qt::ToolTipRole).toString().toStdString(),
              "noreply@xn--80ak6aa92e.example");
    // The delegate paints the address into the otherwise empty cell.
    QTreeView* list = Child<QTreeView>("lvMessages");
    QStyleOptionViewItem option;
    option.initFrom(list);
    auto* delegate = list->itemDelegateForIndex(unnamed);
    ASSERT_NE(delegate, nullptr);
    EXPECT_GE(delegate->sizeHint(option, unnamed).width(),
              list->fontMetrics().horizontalAdvance(QStringLiteral("s1@example.org")) * 8 / 10);
}
