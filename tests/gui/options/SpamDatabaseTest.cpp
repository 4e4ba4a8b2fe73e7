// The spam-database dialog on a real "Databases.ini" in a temporary data folder, driven through its
// controls; its Test button against a real dnsmasq serving test block-list zones.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "classify/TReadDatabaseSettings.h"
#include "core/Modules.h"
#include "gui/options/TfSpamDatabase.h"
#include "support/TDnsmasq.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

namespace tarnwick::classify {
// Readable entries in failure messages.
inline void PrintTo(const TDatabaseEntry& entry, std::ostream* out)
{
    *out << '"' << entry.Name << '=' << entry.Value << '"';
}
} // namespace tarnwick::classify

using namespace tarnwick;
using classify::TDatabaseEntry;
using core::TAnswer;
using core::TMessageKind;
using gui::TfSpamDatabase;
using test::ReadFileBytes;
using test::TScriptedPrompter;
using test::WriteFileBytes;

namespace {

template <typename T> T* Child(QObject& parent, const char* name)
{
    auto* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr)
        ADD_FAILURE() << "no child " << name;
    return child;
}

QPushButton* Button(QObject& dialog, const char* name)
{
    return Child<QPushButton>(dialog, name);
}

QTreeWidget* List(QObject& dialog)
{
    return Child<QTreeWidget>(dialog, "lbServers");
}

// The rows as entries: the name and "-1" when ticked, "0" when not.
std::vector<TDatabaseEntry> Rows(QObject& dialog)
{
    std::vector<TDatabaseEntry> rows;
    QTreeWidget* list = List(dialog);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.push_back({list->topLevelItem(i)->text(0).toStdString(),
                        list->topLevelItem(i)->checkState(0) == Qt::Checked ? "-1" : "0"});
    return rows;
}

void Tick(QObject& dialog, int row, bool ticked)
{
    List(dialog)->topLevelItem(row)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

void Select(QObject& dialog, int row)
{
    QTreeWidgetItem* item = List(dialog)->topLevelItem(row);
    List(dialog)->setCurrentItem(item);
    item->setSelected(true);
}

// TARNWICK_DNS_SERVERS for one test, restored afterwards.
class TScopedDnsServers
{
public:
    explicit TScopedDnsServers(const std::string& servers)
    {
        if (const char* old = std::getenv("TARNWICK_DNS_SERVERS"))
            Old_ = old;
        ::setenv("TARNWICK_DNS_SERVERS", servers.c_str(), 1);
    }
    ~TScopedDnsServers()
    {
        if (Old_)
            ::setenv("TARNWICK_DNS_SERVERS", Old_->c_str(), 1);
        else
            ::unsetenv("TARNWICK_DNS_SERVERS");
    }
    TScopedDnsServers(const TScopedDnsServers&) = delete;
    TScopedDnsServers& operator=(const TScopedDnsServers&) = delete;

private:
    std::optional<std::string> Old_;
};

constexpr const char* ListFile = "; the user's list\n"
                                 "[Databases]\n"
                                 "bl.one.test=-1\n"
                                 "two.test=0\n"
                                 "three.test=True\n"
                                 "[Other]\n"
                                 "key=value\n";

class SpamDatabaseTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::string Path;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        Path = classify::TReadDatabaseSettings::DefaultPath();
        WriteFileBytes(Path, ListFile);
    }
    void TearDown() override
    {
        EXPECT_TRUE(Prompter.Answers.empty()) << "scripted answers left over";
        core::FinalizeModules();
    }

    std::vector<TDatabaseEntry> Stored() const
    {
        classify::TReadDatabaseSettings settings(Path);
        settings.ReadServers();
        return settings.Entries();
    }
};

const std::vector<TDatabaseEntry> FileRows{{"bl.one.test", "-1"}, {"two.test", "0"}, {"three.test", "-1"}};

} // namespace

TEST_F(SpamDatabaseTest, ShowsTheFileAsTickedRows)
{
    TfSpamDatabase dialog(Path, Prompter);
    EXPECT_EQ(dialog.objectName(), QStringLiteral("fSpamDatabase"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Spam Database Settings"));
    EXPECT_EQ(Child<QLabel>(dialog, "laTitle")->text(), QStringLiteral("Known Spam Databases"));
    EXPECT_EQ(Rows(dialog), FileRows);
    EXPECT_EQ(Button(dialog, "buAdd")->text(), QStringLiteral("&Add"));
    EXPECT_EQ(Button(dialog, "buRemove")->text(), QStringLiteral("&Remove"));
    EXPECT_EQ(Button(dialog, "buClose")->text(), QStringLiteral("&Close"));
    EXPECT_EQ(Button(dialog, "buTest")->text(), QStringLiteral("Test"));
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(SpamDatabaseTest, AddAppendsNewNamesTrimmedAndUnticked)
{
    const struct
    {
        const char* Typed;
        bool Enter; // Enter in the field instead of the button
        const char* Added;
    } cases[] = {
        {"new.test", false, "new.test"}, {"  spaced.test\t", true, "spaced.test"},
        {"BL.ONE.TEST", false, nullptr}, {" Two.Test ", true, nullptr},
        {"   ", false, nullptr},         {"", true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("typed \"") + c.Typed + "\"");
        TfSpamDatabase dialog(Path, Prompter);
        dialog.show();
        auto* field = Child<QLineEdit>(dialog, "edServer");
        field->setText(QString::fromUtf8(c.Typed));
        if (c.Enter)
            QTest::keyClick(field, Qt::Key_Return);
        else
            Button(dialog, "buAdd")->click();
        std::vector<TDatabaseEntry> expected = FileRows;
        if (c.Added)
            expected.push_back({c.Added, "0"});
        EXPECT_EQ(Rows(dialog), expected);
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_TRUE(dialog.isVisible()) << "Enter in the field must not close the dialog";
        EXPECT_EQ(ReadFileBytes(Path), ListFile) << "nothing is written before the dialog closes";
        dialog.close();
        EXPECT_EQ(Stored(), expected);
        WriteFileBytes(Path, ListFile);
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

// A name the file could not give back is refused at once, with the text kept for mending, instead
// of failing the whole list when the dialog closes.
TEST_F(SpamDatabaseTest, AddRefusesNamesTheFileCannotHold)
{
    for (const char* typed : {"a=b.test", "[section", "; comment"}) {
        SCOPED_TRACE(typed);
        Prompter.Log.clear();
        TfSpamDatabase dialog(Path, Prompter);
        dialog.show();
        auto* field = Child<QLineEdit>(dialog, "edServer");
        field->setText(QString::fromUtf8(typed));
        Button(dialog, "buAdd")->click();
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Error);
        EXPECT_EQ(Prompter.Log[0].Text,
                  std::string("The server name \"") + typed + "\" cannot be stored in Databases.ini.");
        EXPECT_EQ(field->text(), QString::fromUtf8(typed));
        EXPECT_EQ(Rows(dialog), FileRows);
        dialog.close();
        EXPECT_EQ(Stored(), FileRows);
    }
}

TEST_F(SpamDatabaseTest, RemoveAsksAndDeletesTheSelectedRowOnYes)
{
    const struct
    {
        TAnswer Answer;
        std::vector<TDatabaseEntry> Left;
    } cases[] = {
        {TAnswer::Yes, {{"bl.one.test", "-1"}, {"three.test", "-1"}}},
        {TAnswer::No, FileRows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Answer == TAnswer::Yes ? "Yes" : "No");
        Prompter.Log.clear();
        Prompter.Answers = {c.Answer};
        TfSpamDatabase dialog(Path, Prompter);
        dialog.show();
        EXPECT_FALSE(Button(dialog, "buRemove")->isEnabled()) << "nothing selected";
        Select(dialog, 1);
        EXPECT_TRUE(Button(dialog, "buRemove")->isEnabled());
        Button(dialog, "buRemove")->click();
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Confirmation);
        EXPECT_EQ(Prompter.Log[0].Text, "Are you sure you want to delete this server ?");
        EXPECT_EQ(Prompter.Log[0].Buttons, (std::vector<TAnswer>{TAnswer::Yes, TAnswer::No}));
        EXPECT_EQ(Rows(dialog), c.Left);
        dialog.close();
        EXPECT_EQ(Stored(), c.Left);
        WriteFileBytes(Path, ListFile);
    }
}

TEST_F(SpamDatabaseTest, RemoveWithoutSelectionAsksNothing)
{
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    dialog.RemoveClick();
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_EQ(Rows(dialog), FileRows);
}

// Every way of closing writes the ticks in display order; other sections and comments stay.
TEST_F(SpamDatabaseTest, ClosingWritesTheTicksInDisplayOrder)
{
    const struct
    {
        const char* Way;
        std::function<void(TfSpamDatabase&)> Close;
    } ways[] = {
        {"Close", [](TfSpamDatabase& d) { Button(d, "buClose")->click(); }},
        {"close box", [](TfSpamDatabase& d) { d.close(); }},
        {"Escape", [](TfSpamDatabase& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.Way);
        WriteFileBytes(Path, ListFile);
        TfSpamDatabase dialog(Path, Prompter);
        dialog.show();
        Child<QLineEdit>(dialog, "edServer")->setText(QStringLiteral("added.test"));
        Button(dialog, "buAdd")->click();
        Tick(dialog, 0, false);
        Tick(dialog, 1, true);
        Tick(dialog, 3, true);
        way.Close(dialog);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(Stored(),
                  (std::vector<TDatabaseEntry>{
                      {"bl.one.test", "0"}, {"two.test", "-1"}, {"three.test", "-1"}, {"added.test", "-1"}}));
        const std::string text = ReadFileBytes(Path);
        EXPECT_NE(text.find("; the user's list\n"), std::string::npos);
        EXPECT_NE(text.find("[Other]\nkey=value\n"), std::string::npos);
        EXPECT_EQ(text.find("True"), std::string::npos) << "written as -1";
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(SpamDatabaseTest, RemovingEveryRowLeavesNoSection)
{
    Prompter.Answers = {TAnswer::Yes, TAnswer::Yes, TAnswer::Yes};
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    for (int i = 0; i < 3; ++i) {
        Select(dialog, 0);
        Button(dialog, "buRemove")->click();
    }
    EXPECT_TRUE(Rows(dialog).empty());
    Button(dialog, "buClose")->click();
    EXPECT_EQ(ReadFileBytes(Path), "; the user's list\n[Other]\nkey=value\n");
}

// A file that exists but cannot be read shows the error with its cause, takes no new names, and
// closing does not write the empty list over it, even when the file has become readable meanwhile.
TEST_F(SpamDatabaseTest, AnUnreadableFileIsReportedAndNotOverwritten)
{
    const struct
    {
        const char* Name;
        std::function<void()> Break;
        std::function<void()> Mend;
        const char* Cause;
    } cases[] = {
        {"a folder in its place",
         [&] {
             std::filesystem::remove(Path);
             std::filesystem::create_directory(Path);
         },
         [&] {
             std::filesystem::remove(Path);
             WriteFileBytes(Path, ListFile);
         },
         "it is not a file."},
        {"no read permission", [&] { ::chmod(Path.c_str(), 0); }, [&] { ::chmod(Path.c_str(), 0600); },
         "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Cause == std::string("Permission denied") && ::geteuid() == 0) {
            // The superuser reads any file; the folder case covers it.
            continue;
        }
        Prompter.Log.clear();
        WriteFileBytes(Path, ListFile);
        c.Break();
        {
            TfSpamDatabase dialog(Path, Prompter);
            dialog.show();
            ASSERT_EQ(Prompter.Log.size(), 1u);
            EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Error);
            const std::string& text = Prompter.Log[0].Text;
            EXPECT_TRUE(text.starts_with("File can not be read !!!\nCannot read \"" + Path + "\"")) << text;
            EXPECT_NE(text.find(c.Cause), std::string::npos) << text;
            EXPECT_TRUE(Rows(dialog).empty());
            EXPECT_FALSE(Child<QLineEdit>(dialog, "edServer")->isEnabled()) << "what is typed would be lost";
            EXPECT_FALSE(Button(dialog, "buAdd")->isEnabled());
            c.Mend();
            Button(dialog, "buClose")->click();
            EXPECT_FALSE(dialog.isVisible());
        }
        EXPECT_EQ(Prompter.Log.size(), 1u) << "closing shows nothing more";
        EXPECT_EQ(ReadFileBytes(Path), ListFile);
    }
}

TEST_F(SpamDatabaseTest, FileMissingStartsEmptyAndIsCreatedOnClose)
{
    std::filesystem::remove(Path);
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    EXPECT_TRUE(Rows(dialog).empty());
    Child<QLineEdit>(dialog, "edServer")->setText(QStringLiteral("first.test"));
    Button(dialog, "buAdd")->click();
    Button(dialog, "buClose")->click();
    EXPECT_EQ(ReadFileBytes(Path), "[Databases]\nfirst.test=0\n");
    EXPECT_TRUE(Prompter.Log.empty());
}

// A list that cannot be written says why and lets the user stay with the rows shown.
TEST_F(SpamDatabaseTest, AWriteFailureIsShownAndMayKeepTheDialogOpen)
{
    Prompter.Answers = {TAnswer::No, TAnswer::Yes};
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    Tick(dialog, 1, true);
    // The file is written through a temporary file beside it: a folder of that name stops it, whoever
    // runs the test.
    std::filesystem::create_directory(Path + ".tmp");
    Button(dialog, "buClose")->click();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Error);
    EXPECT_EQ(Prompter.Log[0].Text, "The spam database list cannot be saved: Cannot create \"" + Path +
                                        ".tmp\": Is a directory\nClose without saving the changes?");
    EXPECT_EQ(Prompter.Log[0].Buttons, (std::vector<TAnswer>{TAnswer::Yes, TAnswer::No}));
    EXPECT_TRUE(dialog.isVisible()) << "No stays";
    EXPECT_EQ(Rows(dialog)[1], (TDatabaseEntry{"two.test", "-1"}));
    dialog.close();
    EXPECT_FALSE(dialog.isVisible()) << "Yes closes without saving";
    EXPECT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(ReadFileBytes(Path), ListFile);
}

// ---- Test button -----------------------------------------------------------------------------------

namespace {

constexpr const char* Listing = "bl.tarnwick.test";
constexpr const char* Refusing = "refusing.tarnwick.test"; // Spamhaus' answer to public resolvers
constexpr const char* Wildcard = "wildcard.tarnwick.test";
constexpr const char* Unserved = "unserved.example";
constexpr const char* Unticked = "unticked.tarnwick.test";

class SpamDatabaseDnsTest : public SpamDatabaseTest
{
protected:
    static void SetUpTestSuite()
    {
        Dns = new test::TDnsmasq({
            std::string("--local=/") + Listing + "/",
            std::string("--host-record=2.0.0.127.") + Listing + ",127.0.0.2",
            std::string("--address=/") + Refusing + "/127.255.255.254",
            std::string("--address=/") + Wildcard + "/127.0.0.2",
            std::string("--address=/") + Unticked + "/127.0.0.2",
        });
    }
    static void TearDownTestSuite()
    {
        delete Dns;
        Dns = nullptr;
    }

    void SetUp() override
    {
        SpamDatabaseTest::SetUp();
        WriteFileBytes(Path, std::string("[Databases]\n") + Listing + "=-1\n" + Refusing + "=-1\n" +
                                 Unticked + "=0\n" + Wildcard + "=-1\n" + Unserved + "=-1\n");
    }

    static test::TDnsmasq* Dns;
};

test::TDnsmasq* SpamDatabaseDnsTest::Dns = nullptr;

QString Verdict(QObject& dialog, int row)
{
    return List(dialog)->topLevelItem(row)->text(1);
}

} // namespace

TEST_F(SpamDatabaseDnsTest, TestShowsEachTickedZonesVerdict)
{
    TScopedDnsServers servers(Dns->Server());
    const std::string before = ReadFileBytes(Path);
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    QSignalSpy finished(&dialog, &TfSpamDatabase::TestFinished);
    auto* test = Button(dialog, "buTest");
    test->click();
    EXPECT_FALSE(test->isEnabled());
    EXPECT_EQ(test->text(), QStringLiteral("Testing..."));
    ASSERT_TRUE(finished.wait(15000));
    EXPECT_TRUE(test->isEnabled());
    EXPECT_EQ(test->text(), QStringLiteral("Test"));

    const struct
    {
        const char* Zone;
        const char* Verdict;
    } rows[] = {
        {Listing, "works"},      {Refusing, "refuses public resolvers"},
        {Unticked, ""},          {Wildcard, "lists everything"},
        {Unserved, "no answer"},
    };
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(List(dialog)->topLevelItem(i)->text(0).toStdString(), rows[i].Zone);
        EXPECT_EQ(Verdict(dialog, i).toStdString(), rows[i].Verdict) << rows[i].Zone;
        EXPECT_EQ(List(dialog)->topLevelItem(i)->toolTip(1).isEmpty(), *rows[i].Verdict == 0) << rows[i].Zone;
    }
    const QString summary = Child<QLabel>(dialog, "laTestResult")->text();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("1 of 4 tested"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QString::fromLatin1(Wildcard))) << summary.toStdString();
    EXPECT_FALSE(summary.contains(QString::fromLatin1(Listing))) << summary.toStdString();
    EXPECT_TRUE(Prompter.Log.empty());

    // A second test with only the listing zone ticked clears the earlier verdicts.
    for (int i = 1; i < 5; ++i)
        Tick(dialog, i, false);
    test->click();
    ASSERT_TRUE(finished.wait(15000));
    EXPECT_EQ(Verdict(dialog, 0), QStringLiteral("works"));
    for (int i = 1; i < 5; ++i)
        EXPECT_TRUE(Verdict(dialog, i).isEmpty()) << i;
    EXPECT_EQ(Child<QLabel>(dialog, "laTestResult")->text(),
              QStringLiteral("All 1 tested spam database(s) work."));
    EXPECT_EQ(ReadFileBytes(Path), before) << "testing changes nothing in the file";
}

TEST_F(SpamDatabaseDnsTest, TestWithNothingTickedAsksForTicks)
{
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    for (int i = 0; i < 5; ++i)
        Tick(dialog, i, false);
    Button(dialog, "buTest")->click();
    EXPECT_FALSE(dialog.Testing());
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Information);
    EXPECT_EQ(Prompter.Log[0].Text, "Tick the spam databases you want to test.");
}

TEST_F(SpamDatabaseDnsTest, AResolverThatCannotStartIsShownWithItsCause)
{
    TScopedDnsServers servers("not-an-address");
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    QSignalSpy finished(&dialog, &TfSpamDatabase::TestFinished);
    Button(dialog, "buTest")->click();
    ASSERT_TRUE(finished.wait(15000));
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(Prompter.Log[0].Text.starts_with(
        "The spam databases cannot be tested: The DNS servers \"not-an-address\" cannot be used: "))
        << Prompter.Log[0].Text;
    EXPECT_TRUE(Button(dialog, "buTest")->isEnabled());
    EXPECT_TRUE(Verdict(dialog, 0).isEmpty());
}

// Closing while the name server keeps silent stops the test at once instead of waiting out the
// query time-out, and the list is still written.
TEST_F(SpamDatabaseDnsTest, ClosingDuringATestStopsIt)
{
    test::TSilentDnsServer silent;
    TScopedDnsServers servers(silent.Server());
    TfSpamDatabase dialog(Path, Prompter);
    dialog.show();
    QSignalSpy finished(&dialog, &TfSpamDatabase::TestFinished);
    Button(dialog, "buTest")->click();
    ASSERT_TRUE(dialog.Testing());
    Tick(dialog, 2, true);
    const auto start = std::chrono::steady_clock::now();
    dialog.close();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << "the query time-out is 3 s";
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.Testing());
    EXPECT_EQ(Stored()[2], (TDatabaseEntry{Unticked, "-1"}));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 0) << "a stopped test has no verdicts to show";
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(Verdict(dialog, i).isEmpty()) << i;
    EXPECT_TRUE(Prompter.Log.empty());
}
