// The attachment button of the main window: the menu of a message's attachments, the download it
// asks for first, the save dialog and the folder browser.
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "gui/attach/TFBrowse.h"
#include "gui/attach/TfSaveAttachments.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessagePreview.h"
#include "mime/TDecodeAttach.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;
using core::TAnswer;
using core::TMessageKind;
using gui::TfMain;
using test::TScriptedPrompter;

namespace {

constexpr const char* DownloadFirst = "Full message will be downloaded first. Do you want to continue ?";
constexpr const char* InvalidFolder =
    "The folder you want to save your attacments is invalid.\r\nPlease select a valid location.";
constexpr const char* CannotSave = "Unable to save attachment. Please ensure that the location you've "
                                   "choosen to save the attachment is a valid one !";

struct TAttachment
{
    std::string Name;
    std::string Bytes;
};

const std::string PdfBytes = std::string("%PDF-1.4\n\0\x01\x02\xff binary\r\nend", 26);
const std::string NotesBytes = "line one\r\nline two\n";

namespace fs = std::filesystem;

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

class AttachmentsTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;
    std::unique_ptr<TfMain> Window;
    std::vector<accounts::TMailMessage> Records;
    // What the test does with a dialog the main window runs; returns its result.
    std::function<int(QDialog&)> Drive;

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
        // Nothing listens here: a download fails at once.
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
        mime::RemoveAttachmentFolder();
        classify::AddressLists().Replace({classify::TListKind::Black, {}}, {classify::TListKind::White, {}});
        core::FinalizeModules();
    }

    accounts::TUser& User() { return Admin->UserAt(0); }

    // A record whose message is multipart/mixed (its body comes from Body).
    static accounts::TMailMessage Record(int n)
    {
        accounts::TMailMessage m;
        m.Number = n;
        m.FromName = "Sender " + std::to_string(n);
        m.FromAddress = "s" + std::to_string(n) + "@example.org";
        m.Subject = "Message " + std::to_string(n);
        m.Headers = {"From: " + m.FromName + " <" + m.FromAddress + ">",
                     "To: me@example.net",
                     "Subject: " + m.Subject,
                     "Message-ID: <m" + std::to_string(n) + "@example.org>",
                     "MIME-Version: 1.0",
                     "Content-Type: multipart/mixed; boundary=\"b1\""};
        m.CacheName = "cache-" + std::to_string(n);
        m.HasAttachments = true;
        return m;
    }
    // A text part and these attachments, base64.
    static std::string Body(const std::vector<TAttachment>& attachments)
    {
        std::string body = "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee the files.\r\n";
        for (const auto& a : attachments) {
            const std::string encoded = QByteArray::fromStdString(a.Bytes).toBase64().toStdString();
            body += "--b1\r\nContent-Type: application/octet-stream; name=\"" + a.Name +
                    "\"\r\nContent-Disposition: attachment; filename=\"" + a.Name +
                    "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + encoded + "\r\n";
        }
        return body + "--b1--\r\n";
    }
    std::string CacheFile(const accounts::TMailMessage& m)
    {
        return core::CacheFolder(core::Options()->CacheDir) + "/" + m.CacheName + ".eml";
    }
    std::string WriteCache(const accounts::TMailMessage& m, const std::vector<TAttachment>& attachments)
    {
        fs::create_directories(core::CacheFolder(core::Options()->CacheDir));
        std::string text;
        for (const auto& line : m.Headers)
            text += line + "\r\n";
        text += "\r\n" + Body(attachments);
        std::ofstream(CacheFile(m), std::ios::binary) << text;
        return CacheFile(m);
    }

    // The main window with one record per list of attachments, each in the cache, row 0 selected.
    TfMain& Open(const std::vector<std::vector<TAttachment>>& messages)
    {
        Window = std::make_unique<TfMain>(*Admin, Prompter, nullptr, [this](QDialog& dialog) {
            return Drive ? Drive(dialog) : int(QDialog::Rejected);
        });
        Admin->MakeInitialCurrent();
        for (std::size_t i = 0; i < messages.size(); ++i) {
            Records.push_back(Record(static_cast<int>(i) + 1));
            User().Mails.Add(Records.back());
            WriteCache(Records.back(), messages[i]);
        }
        Window->SelectPosition(views::ViewAllMessages);
        Window->tvFiltersClick();
        Select(0);
        return *Window;
    }
    void Select(int row)
    {
        auto* list = Window->findChild<QTreeView*>(QStringLiteral("lvMessages"));
        list->selectionModel()->setCurrentIndex(Window->Messages().index(row, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        Window->lvMessagesClick();
    }
    QToolButton& AttachButton() { return *Window->findChild<QToolButton*>(QStringLiteral("sbAttach")); }
    QMenu* Menu() { return Window->findChild<QMenu*>(QStringLiteral("popupAttach")); }
    // The captions of the menu's entries, separators as "-".
    std::vector<std::string> Captions()
    {
        std::vector<std::string> captions;
        for (QAction* action : Menu()->actions())
            captions.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        return captions;
    }
    QAction* SaveAction() { return Menu()->actions().back(); }

    // A save dialog over the attachments of a message file of its own (no main window).
    struct TSaveSetup
    {
        std::unique_ptr<mime::TDecodeAttach> Decoder;
        gui::TFBrowse Browser;
        std::unique_ptr<gui::TfSaveAttachments> Dialog;
    };
    std::unique_ptr<TSaveSetup> SaveDialog(const std::vector<TAttachment>& attachments,
                                           const std::string& folder)
    {
        const accounts::TMailMessage m = Record(9);
        auto setup = std::make_unique<TSaveSetup>();
        setup->Decoder = std::make_unique<mime::TDecodeAttach>(WriteCache(m, attachments));
        setup->Dialog =
            std::make_unique<gui::TfSaveAttachments>(Prompter, setup->Browser, [this](QDialog& d) {
                return Drive ? Drive(d) : int(QDialog::Rejected);
            });
        setup->Dialog->Fill(*setup->Decoder);
        Edit(*setup->Dialog).setText(QString::fromStdString(folder));
        return setup;
    }
    static QLineEdit& Edit(QDialog& dialog)
    {
        return *dialog.findChild<QLineEdit*>(QStringLiteral("EDirectory"));
    }
    static QTreeWidget& List(QDialog& dialog)
    {
        return *dialog.findChild<QTreeWidget*>(QStringLiteral("lvAttach"));
    }
    static void Click(QDialog& dialog, const char* name)
    {
        dialog.findChild<QPushButton*>(QString::fromLatin1(name))->click();
    }
    std::string Folder(const std::string& name)
    {
        fs::create_directories(Home / name);
        return Home / name;
    }
};

} // namespace

TEST_F(AttachmentsTest, TheMenuListsTheAttachmentsInOrderWithSaveLast)
{
    Open({{{"report.pdf", PdfBytes}, {"notes & plans.txt", NotesBytes}}, {}});

    // Shown, so the button lies far enough from the screen's left edge for the menu to fit.
    Window->resize(800, 500);
    Window->show();
    AttachButton().click();
    ASSERT_NE(Menu(), nullptr);
    EXPECT_TRUE(Menu()->isVisible());
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"report.pdf", "notes && plans.txt", "-", "&Save Attachments..."}));
    EXPECT_TRUE(SaveAction()->isEnabled());
    // Under the button, right edges aligned.
    const QPoint corner = AttachButton().mapToGlobal(QPoint(AttachButton().width(), AttachButton().height()));
    EXPECT_EQ(Menu()->geometry().top(), corner.y());
    EXPECT_EQ(Menu()->geometry().right() + 1, corner.x());
    Menu()->hide();

    // A message without attachments: built anew, nothing but a disabled Save.
    Select(1);
    Window->sbAttachClick();
    EXPECT_EQ(Captions(), (std::vector<std::string>{"-", "&Save Attachments..."}));
    EXPECT_FALSE(SaveAction()->isEnabled());
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AttachmentsTest, AMessageNotInTheCacheAsksToDownloadFirst)
{
    const struct
    {
        const char* Case;
        std::vector<TAnswer> Answers; // to the question, then to the retry question of a failed download
        bool Downloads;
    } cases[] = {
        {"No: nothing happens", {TAnswer::No}, false},
        {"Yes: the preview's loader downloads", {TAnswer::Yes, TAnswer::No}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        Records.clear();
        Open({{{"report.pdf", PdfBytes}}});
        fs::remove(CacheFile(Records[0]));
        Prompter.Log.clear();
        Prompter.Answers.assign(c.Answers.begin(), c.Answers.end());
        auto& preview = Window->Preview();
        QSignalSpy started(preview.Loader, &gui::TFullMessageLoader::DownloadStarted);
        QSignalSpy done(preview.Loader, &gui::TFullMessageLoader::Done);

        Window->sbAttachClick();
        ASSERT_FALSE(Prompter.Log.empty());
        EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Warning);
        EXPECT_EQ(Prompter.Log[0].Text, DownloadFirst);
        EXPECT_EQ(Prompter.Log[0].Buttons, (std::vector<TAnswer>{TAnswer::Yes, TAnswer::No}));
        EXPECT_EQ(started.count(), c.Downloads ? 1 : 0);
        EXPECT_EQ(AttachButton().isEnabled(), !c.Downloads) << "disabled while the download runs";
        if (c.Downloads) {
            ASSERT_TRUE(done.count() > 0 || done.wait(10000));
        }
        EXPECT_TRUE(AttachButton().isEnabled());
        EXPECT_EQ(preview.Mode(), gui::TMessagePreview::ModeInfo) << "the preview keeps its page";
        // The download failed: no menu of a message that is not there.
        EXPECT_TRUE(Menu() == nullptr || !Menu()->isVisible());
        EXPECT_TRUE(Prompter.Answers.empty());
        Window.reset();
    }
}

TEST_F(AttachmentsTest, TheSaveDialogSavesTheCheckedRowsWithTheirBytes)
{
    Open({{{"report.pdf", PdfBytes}, {"notes.txt", NotesBytes}, {"third.bin", "3"}}});
    const std::string folder = Folder("out");
    bool accepted = false;
    std::vector<std::string> rows;
    Drive = [&](QDialog& dialog) {
        auto* save = qobject_cast<gui::TfSaveAttachments*>(&dialog);
        EXPECT_NE(save, nullptr);
        if (save == nullptr)
            return int(QDialog::Rejected);
        EXPECT_EQ(save->windowTitle().toStdString(), "Save attachments");
        EXPECT_EQ(Edit(dialog).text(), gui::TfSaveAttachments::DownloadsFolder());
        QTreeWidget& list = List(dialog);
        for (int row = 0; row < list.topLevelItemCount(); ++row) {
            rows.push_back(list.topLevelItem(row)->text(0).toStdString());
            EXPECT_EQ(list.topLevelItem(row)->checkState(0), Qt::Checked);
        }
        list.topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        Edit(dialog).setText(QString::fromStdString(folder));
        QSignalSpy done(&dialog, &QDialog::accepted);
        Click(dialog, "BTSave");
        accepted = done.count() == 1;
        return dialog.result();
    };
    AttachButton().click();
    SaveAction()->trigger();

    EXPECT_EQ(rows, (std::vector<std::string>{"report.pdf", "notes.txt", "third.bin"}));
    EXPECT_TRUE(accepted);
    EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"report.pdf", "third.bin"}));
    EXPECT_EQ(test::ReadFileBytes(folder + "/report.pdf"), PdfBytes);
    EXPECT_EQ(test::ReadFileBytes(folder + "/third.bin"), "3");
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AttachmentsTest, AnInvalidFolderIsReportedAndTheDialogStaysOpen)
{
    test::WriteFileBytes(Home / "plain-file", "x");
    for (const std::string& folder : {Home / "missing", Home / "plain-file"}) {
        SCOPED_TRACE(folder);
        Prompter.Log.clear();
        auto setup = SaveDialog({{"a.txt", "a"}}, folder);
        QSignalSpy finished(setup->Dialog.get(), &QDialog::finished);
        Click(*setup->Dialog, "BTSave");
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Information);
        EXPECT_EQ(Prompter.Log[0].Text, InvalidFolder);
        EXPECT_EQ(finished.count(), 0);
        EXPECT_FALSE(fs::exists(folder + "/a.txt"));
    }
}

TEST_F(AttachmentsTest, HostileNamesLandInsideTheFolder)
{
    const std::string outer = Folder("a/b");
    const std::string folder = Folder("a/b/out");
    const std::vector<TAttachment> attachments = {{"../../x", "one"}, {"/etc/y", "two"}, {"..", "three"}};
    auto setup = SaveDialog(attachments, folder);
    Click(*setup->Dialog, "BTSave");

    EXPECT_EQ(FilesIn(outer), (std::set<std::string>{"out"}));
    EXPECT_EQ(FilesIn(Home / "a"), (std::set<std::string>{"b"}));
    std::set<std::string> contents;
    for (const auto& name : FilesIn(folder)) {
        EXPECT_TRUE(fs::is_regular_file(folder + "/" + name)) << name;
        contents.insert(test::ReadFileBytes(folder + "/" + name));
    }
    EXPECT_EQ(contents, (std::set<std::string>{"one", "two", "three"}));
    EXPECT_FALSE(fs::exists("/etc/y"));
}

TEST_F(AttachmentsTest, AnExistingFileIsReplacedOnlyAfterYes)
{
    const struct
    {
        TAnswer Answer;
        const char* Left;
    } cases[] = {{TAnswer::Yes, "new"}, {TAnswer::No, "old"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Left);
        const std::string folder = Folder(std::string("out-") + c.Left);
        test::WriteFileBytes(folder + "/a.txt", "old");
        Prompter.Log.clear();
        Prompter.Answers = {c.Answer};
        auto setup = SaveDialog({{"a.txt", "new"}, {"b.txt", "b"}}, folder);
        Click(*setup->Dialog, "BTSave");
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Confirmation);
        EXPECT_EQ(Prompter.Log[0].Text, folder + "/a.txt already exists.\nDo you want to replace it?");
        EXPECT_EQ(test::ReadFileBytes(folder + "/a.txt"), c.Left);
        EXPECT_EQ(test::ReadFileBytes(folder + "/b.txt"), "b") << "the next row follows";
    }
}

TEST_F(AttachmentsTest, AFailedCopyIsReportedWithItsCauseAndTheOthersAreSaved)
{
    // A folder where the file should go cannot be replaced by a file, also for root.
    const std::string folder = Folder("out");
    fs::create_directories(folder + "/a.txt/inside");
    Prompter.Answers = {TAnswer::Yes};
    auto setup = SaveDialog({{"a.txt", "a"}, {"b.txt", "b"}}, folder);
    QSignalSpy accepted(setup->Dialog.get(), &QDialog::accepted);
    Click(*setup->Dialog, "BTSave");

    ASSERT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(Prompter.Log[1].Kind, TMessageKind::Error);
    const std::string& text = Prompter.Log[1].Text;
    EXPECT_EQ(text.substr(0, std::string(CannotSave).size() + 2), std::string(CannotSave) + "\n\n");
    EXPECT_GT(text.size(), std::string(CannotSave).size() + 2) << "the cause follows";
    EXPECT_TRUE(fs::is_directory(folder + "/a.txt/inside"));
    EXPECT_EQ(test::ReadFileBytes(folder + "/b.txt"), "b");
    EXPECT_EQ(accepted.count(), 1);

    if (::geteuid() != 0) {
        // A folder without write access: every row fails and is reported.
        const std::string locked = Folder("locked");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        Prompter.Log.clear();
        auto second = SaveDialog({{"a.txt", "a"}, {"b.txt", "b"}}, locked);
        Click(*second->Dialog, "BTSave");
        fs::permissions(locked, fs::perms::owner_all);
        ASSERT_EQ(Prompter.Log.size(), 2u);
        for (const auto& entry : Prompter.Log)
            EXPECT_EQ(entry.Kind, TMessageKind::Error);
        EXPECT_TRUE(FilesIn(locked).empty());
    }
}

TEST_F(AttachmentsTest, TheFolderBrowserEnablesOkOnlyForAnExistingFolder)
{
    Open({{{"a.txt", "a"}}});
    gui::TFBrowse& browser = Window->FolderBrowser();
    EXPECT_EQ(&browser, &Window->FolderBrowser()) << "one browser, reused";
    auto* ok = browser.findChild<QPushButton*>(QStringLiteral("BTOk"));
    EXPECT_EQ(browser.SelectedFolder(), QDir::homePath());
    EXPECT_TRUE(ok->isEnabled());

    const std::string first = Folder("first");
    const std::string second = Folder("second");
    browser.SetFolder(QString::fromStdString(first));
    EXPECT_EQ(browser.SelectedFolder().toStdString(), first);
    EXPECT_TRUE(ok->isEnabled());
    browser.SetFolder(QString::fromStdString(second));
    fs::remove(second);
    browser.show();
    EXPECT_FALSE(ok->isEnabled()) << "checked again when shown";
    browser.SetFolder(QString::fromStdString(first));
    EXPECT_TRUE(ok->isEnabled()) << "checked at each selection change";
    browser.hide();

    // "..." of the save dialog: OK puts the chosen folder into EDirectory, Cancel leaves it.
    for (const int result : {int(QDialog::Accepted), int(QDialog::Rejected)}) {
        auto setup = SaveDialog({{"a.txt", "a"}}, Home.Path());
        Drive = [&](QDialog& dialog) {
            auto* shown = qobject_cast<gui::TFBrowse*>(&dialog);
            EXPECT_NE(shown, nullptr);
            if (shown != nullptr)
                shown->SetFolder(QString::fromStdString(first));
            return result;
        };
        Click(*setup->Dialog, "BTBrowse");
        EXPECT_EQ(Edit(*setup->Dialog).text().toStdString(),
                  result == QDialog::Accepted ? first : Home.Path());
    }
}
