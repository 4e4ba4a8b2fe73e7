// The options dialog with a real settings store: its controls against the options record and the
// store, the cache folder, Clear Cache now, the trash notice's twin box, and how the main window
// opens it. Dialogs the options dialog opens are handed to a script instead of their event loop.

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <tuple>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TRegistry.h"
#include "gui/accounts/TDialogHeader.h"
#include "gui/attach/TFBrowse.h"
#include "gui/main/TfMain.h"
#include "gui/options/TfOptions.h"
#include "gui/receive/TfTrashInfo.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "support/TTestAccount.h"
#include "support/TWidgetLookup.h"

namespace tarnwick::core {
// Readable options in failure messages.
void PrintTo(const TOptionRec& r, std::ostream* out)
{
    *out << "{RuleCase=" << r.RuleCase << " WholeWordsOnly=" << r.WholeWordsOnly
         << " AutoReceive=" << r.AutoReceive << " TimeOut=" << r.TimeOut << " RAlwaysonTop=" << r.RAlwaysonTop
         << " AutoscrollonAdd=" << r.AutoscrollonAdd << " DownloadSpeed=" << r.DownloadSpeed
         << " AlwaysFullMessage=" << r.AlwaysFullMessage << " CacheLimit=" << r.CacheLimit
         << " ClearCache=" << r.ClearCache << " CacheDir=" << r.CacheDir
         << " ConfirmEmptyTrash=" << r.ConfirmEmptyTrash << " ConfirmRemoveRule=" << r.ConfirmRemoveRule
         << " ConfirmRemoveUser=" << r.ConfirmRemoveUser << " ConfirmRemoveAddress=" << r.ConfirmRemoveAddress
         << " ConfirmExitUserWizard=" << r.ConfirmExitUserWizard
         << " WarnAddressInList=" << r.WarnAddressInList << " WarnTrashNotEmpty=" << r.WarnTrashNotEmpty
         << " TrashNotEmptyAfterReceive=" << r.TrashNotEmptyAfterReceive
         << " IndividualButtons=" << r.IndividualButtons << " UseDefaultMessage=" << r.UseDefaultMessage
         << " ResponseAction=" << r.ResponseAction << " DatabaseAction=" << r.DatabaseAction
         << " AddressBookPath=" << r.AddressBookPath << "}";
}
} // namespace tarnwick::core

using namespace tarnwick;
using gui::TfOptions;
namespace fs = std::filesystem;

namespace {

using test::Child;
using test::WhenModal;

// The value a control shows: a box 0/1, a slider's stop, a list's item, the position of the radio
// button ticked in a group (-1: none).
int Shown(QWidget* control)
{
    if (auto* box = qobject_cast<QCheckBox*>(control))
        return box->isChecked() ? 1 : 0;
    if (auto* slider = qobject_cast<QSlider*>(control))
        return slider->value();
    if (auto* list = qobject_cast<QComboBox*>(control))
        return list->currentIndex();
    const auto buttons = control->findChildren<QRadioButton*>();
    for (qsizetype i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked())
            return static_cast<int>(i);
    return -1;
}

// Sets a control the way the user does.
void Choose(QWidget* control, int value)
{
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
        if (box->isChecked() != (value == 1))
            box->click();
    } else if (auto* slider = qobject_cast<QSlider*>(control)) {
        slider->setValue(value);
    } else if (auto* list = qobject_cast<QComboBox*>(control)) {
        list->setCurrentIndex(value);
    } else {
        control->findChildren<QRadioButton*>().at(value)->click();
    }
}

core::TOptionRec Stored()
{
    core::TRegistry reg(core::Hive());
    core::TOptionRec rec;
    EXPECT_TRUE(core::ReadOptions(reg, rec));
    return rec;
}

// Every value of the Options key: name, kind and data.
std::vector<std::tuple<std::string, std::int32_t, std::string>> StoredValues()
{
    core::TRegistry reg(core::Hive());
    reg.OpenKey(core::OptionsKey, false);
    std::vector<std::tuple<std::string, std::int32_t, std::string>> values;
    for (const auto& value : reg.ReadAllValues())
        values.emplace_back(value.Name, value.Kind, value.Data);
    return values;
}

void SetOptions(const std::function<void(core::TOptionRec&)>& change)
{
    core::TOptionRec rec = *core::Options();
    change(rec);
    core::PublishOptions(rec);
}

class OptionsDialogTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    test::TScriptedPrompter Prompter;
    std::unique_ptr<gui::TFBrowse> Browser;
    // Steps for the dialogs the options dialog opens, in order.
    std::deque<std::function<int(QDialog&)>> Script;
    std::vector<QString> Opened;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
    }
    void TearDown() override
    {
        EXPECT_TRUE(Script.empty()) << Script.size() << " dialog step(s) never ran";
        Browser.reset();
        core::FinalizeModules();
    }

    gui::TModalRunner Runner()
    {
        return [this](QDialog& dialog) {
            Opened.push_back(dialog.objectName());
            if (Script.empty()) {
                ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
                return 0;
            }
            auto step = std::move(Script.front());
            Script.pop_front();
            return step(dialog);
        };
    }

    std::unique_ptr<TfOptions> Make()
    {
        return std::make_unique<TfOptions>(Prompter, Runner(), [this]() -> gui::TFBrowse& {
            if (!Browser)
                Browser = std::make_unique<gui::TFBrowse>();
            return *Browser;
        });
    }

    // A browse step: the browser chooses `folder` and its OK is pressed.
    void ScriptBrowse(const std::string& folder)
    {
        Script.push_back([folder](QDialog& dialog) {
            auto* browser = qobject_cast<gui::TFBrowse*>(&dialog);
            EXPECT_NE(browser, nullptr);
            if (browser == nullptr)
                return 0;
            browser->SetFolder(QString::fromStdString(folder));
            return static_cast<int>(QDialog::Accepted);
        });
    }

    static QString CacheField(TfOptions& dialog) { return Child<QLineEdit>(dialog, "edCacheDir")->text(); }
};

// A field of the record as the store's text, for the table below.
struct TField
{
    std::function<void(core::TOptionRec&, const std::string&)> Set;
    std::function<std::string(const core::TOptionRec&)> Get;
};

TField Flag(std::string core::TOptionRec::*field)
{
    return {[field](core::TOptionRec& r, const std::string& v) { r.*field = v; },
            [field](const core::TOptionRec& r) { return r.*field; }};
}

TField Text(std::string core::TOptionRec::*field)
{
    return {[field](core::TOptionRec& r, const std::string& v) { r.*field = v; },
            [field](const core::TOptionRec& r) { return r.*field; }};
}

TField Number(std::int32_t core::TOptionRec::*field)
{
    return {[field](core::TOptionRec& r, const std::string& v) { r.*field = std::stoi(v); },
            [field](const core::TOptionRec& r) { return std::to_string(r.*field); }};
}

struct TValue
{
    std::string Stored;  // the field's value when the dialog fills its controls
    int Shown;           // what the control shows then
    std::string Written; // what OK stores then
    std::string Text{};  // a text field: what it shows then, and what the user types to choose it
};

} // namespace

// Each option goes from the store through the record into its control and back with OK, and a
// control the user changes reaches the record and the store.
TEST_F(OptionsDialogTest, EveryOptionRoundTripsThroughTheDialogAndTheStore)
{
    using R = core::TOptionRec;
    // A flag is on only for exactly "1"; OK then writes the canonical "0" or "1".
    const std::vector<TValue> flag = {{"1", 1, "1"}, {"0", 0, "0"}, {"yes", 0, "0"}, {" 1", 0, "0"}};
    const std::vector<TValue> action = {{"2", -1, "2"}, {"0", 0, "0"}, {"1", 1, "1"}};
    const struct
    {
        const char* Control;
        TField Field;
        std::vector<TValue> Values;
    } rows[] = {
        {"cbAutoReceive", Flag(&R::AutoReceive), flag},
        {"tbTimeOut", Number(&R::TimeOut), {{"0", 0, "0"}, {"3", 3, "3"}, {"5", 5, "5"}}},
        {"cbRAlwaysonTop", Flag(&R::RAlwaysonTop), flag},
        {"cbAutoscrollonAdd", Flag(&R::AutoscrollonAdd), flag},
        {"cbAlwaysFullMessage", Flag(&R::AlwaysFullMessage), flag},
        {"cmbDownloadSpeed", Number(&R::DownloadSpeed), {{"0", 0, "0"}, {"2", 2, "2"}, {"4", 4, "4"}}},
        {"cbRuleCase", Flag(&R::RuleCase), flag},
        {"cbWholeWordsOnly", Flag(&R::WholeWordsOnly), flag},
        {"cbClearCache", Flag(&R::ClearCache), flag},
        {"cbConfirmEmptyTrash", Flag(&R::ConfirmEmptyTrash), flag},
        {"cbConfirmRemoveRule", Flag(&R::ConfirmRemoveRule), flag},
        {"cbConfirmRemoveUser", Flag(&R::ConfirmRemoveUser), flag},
        {"cbConfirmRemoveAddress", Flag(&R::ConfirmRemoveAddress), flag},
        {"cbWarnAddressInList", Flag(&R::WarnAddressInList), flag},
        {"cbWarnTrashNotEmpty", Flag(&R::WarnTrashNotEmpty), flag},
        {"cbTrashNotEmptyAfterReceive", Flag(&R::TrashNotEmptyAfterReceive), flag},
        // An action code other than 0 and 1 ticks neither button and is kept.
        {"gbDatabaseAction", Number(&R::DatabaseAction), action},
        {"gbResponseAction", Number(&R::ResponseAction), action},
        // The address book's place is kept as typed, without blanks around it; empty searches the
        // desktop's places.
        {"edAddressBook",
         Text(&R::AddressBookPath),
         {{"", 0, "", ""},
          {"/home/ü/Kontakte.vcf", 0, "/home/ü/Kontakte.vcf", "/home/ü/Kontakte.vcf"},
          {"  /srv/contacts dir ", 0, "/srv/contacts dir", "  /srv/contacts dir "}}},
    };
    auto dialog = Make();
    for (const auto& row : rows) {
        auto* control = Child<QWidget>(*dialog, row.Control);
        ASSERT_NE(control, nullptr);
        const auto& values = row.Values;
        for (std::size_t i = 0; i < values.size(); ++i) {
            SCOPED_TRACE(std::string(row.Control) + " = \"" + values[i].Stored + "\"");
            core::TOptionRec rec = *core::Options();
            row.Field.Set(rec, values[i].Stored);
            {
                core::TRegistry reg(core::Hive());
                core::WriteOptions(reg, rec);
            }
            core::PublishOptions(rec);
            dialog->FillControls(*core::Options());
            if (auto* edit = qobject_cast<QLineEdit*>(control))
                EXPECT_EQ(edit->text().toStdString(), values[i].Text);
            else
                EXPECT_EQ(Shown(control), values[i].Shown);

            Child<QPushButton>(*dialog, "buOK")->click();
            EXPECT_EQ(row.Field.Get(Stored()), values[i].Written);
            EXPECT_EQ(*core::Options(), Stored()) << "the record is what was stored";

            // The user's change of the control.
            const TValue& next = values[(i + 1) % values.size()];
            if (next.Shown < 0)
                continue;
            if (auto* edit = qobject_cast<QLineEdit*>(control)) {
                // As typed or pasted (key clicks cannot type letters beyond ASCII).
                edit->selectAll();
                edit->insert(QString::fromStdString(next.Text));
            } else {
                Choose(control, next.Shown);
            }
            Child<QPushButton>(*dialog, "buOK")->click();
            EXPECT_EQ(row.Field.Get(Stored()), next.Written) << "chosen " << next.Shown;
            EXPECT_EQ(row.Field.Get(*core::Options()), next.Written);
        }
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(OptionsDialogTest, OkWithoutChangesWritesEveryValue)
{
    {
        // Defaults leave "WholeWordsOnly" out; a value lost from the store reads as empty.
        core::TRegistry reg(core::Hive());
        reg.OpenKey(core::OptionsKey, false);
        ASSERT_FALSE(reg.ValueExists("WholeWordsOnly"));
        ASSERT_TRUE(reg.DeleteValue("Confirm remove rule"));
    }
    core::LoadOptionsAtStart();
    const core::TOptionRec before = *core::Options();
    auto dialog = Make();
    Child<QPushButton>(*dialog, "buOK")->click();

    core::TRegistry reg(core::Hive());
    reg.OpenKey(core::OptionsKey, false);
    for (const char* name : {"RuleCase",
                             "WholeWordsOnly",
                             "TimeOut",
                             "AutoReceive",
                             "RAlwaysonTop",
                             "AutoscrollonAdd",
                             "DownloadSpeed",
                             "AlwaysFullMessage",
                             "CacheLimit",
                             "ClearCache",
                             "CacheDir",
                             "Confirm empty trash",
                             "Confirm remove rule",
                             "Confirm remove user",
                             "Confirm remove address",
                             "Confirm exit user wizard",
                             "Warning trash not empty",
                             "Warning address already in list",
                             "Trash not empty after receive",
                             "Individual Buttons",
                             "Use default message",
                             "ResponseAction",
                             "DatabaseAction",
                             "AddressBookPath"})
        EXPECT_TRUE(reg.ValueExists(name)) << name;
    EXPECT_EQ(reg.ReadString("WholeWordsOnly"), "0");
    EXPECT_EQ(reg.ReadString("Confirm remove rule"), "0");
    core::TOptionRec expected = before;
    expected.WholeWordsOnly = "0";
    expected.ConfirmRemoveRule = "0";
    EXPECT_EQ(Stored(), expected) << "the options the dialog does not show are carried unchanged";
    EXPECT_EQ(*core::Options(), expected);
}

// Cancel, Escape and the close button all put the record back into the controls and store nothing.
TEST_F(OptionsDialogTest, CancelLeavesStoreAndRecordAndResetsTheControls)
{
    const std::vector<std::pair<const char*, std::function<void(TfOptions&)>>> cancels = {
        {"Cancel", [](TfOptions& d) { Child<QPushButton>(d, "buCancel")->click(); }},
        {"Escape", [](TfOptions& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close button", [](TfOptions& d) { d.close(); }},
    };
    const fs::path other = Home / "other-cache";
    fs::create_directories(other);
    for (const auto& [name, cancel] : cancels) {
        SCOPED_TRACE(name);
        auto dialog = Make();
        dialog->show();
        // One OK first: the record then holds the texts the controls give (a flag never stored,
        // like "WholeWordsOnly", is "0" from then on).
        Child<QPushButton>(*dialog, "buOK")->click();
        dialog->show();
        const auto storedBefore = StoredValues();
        const core::TOptionRec recordBefore = *core::Options();

        Child<QCheckBox>(*dialog, "cbAutoReceive")->setChecked(!core::IsOn(recordBefore.AutoReceive));
        Child<QCheckBox>(*dialog, "cbClearCache")->setChecked(!core::IsOn(recordBefore.ClearCache));
        Child<QSlider>(*dialog, "tbTimeOut")->setValue(recordBefore.TimeOut == 0 ? 5 : 0);
        Child<QComboBox>(*dialog, "cmbDownloadSpeed")
            ->setCurrentIndex(recordBefore.DownloadSpeed == 0 ? 4 : 0);
        Child<QRadioButton>(*dialog, recordBefore.DatabaseAction == 0 ? "rbDatabaseMark" : "rbDatabaseDelete")
            ->setChecked(true);
        Child<QLineEdit>(*dialog, "edCacheDir")->setText(QString::fromStdString(other.string()));
        cancel(*dialog);

        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_EQ(StoredValues(), storedBefore);
        EXPECT_EQ(*core::Options(), recordBefore);
        core::TOptionRec shown = recordBefore;
        dialog->CopyControls(shown);
        EXPECT_EQ(shown, recordBefore) << "the controls show the record again";
    }
}

TEST_F(OptionsDialogTest, OkTakesOnlyAnExistingFolderForTheCache)
{
    const std::string data = core::Folders().DataFolder; // ends in "/"
    ASSERT_EQ(data.back(), '/');
    const std::string dataNoSep = data.substr(0, data.size() - 1);
    const std::string existing = Home / "my cache";
    fs::create_directories(existing);
    // A new installation: the cache folder in use is made with the first message it keeps.
    const std::string inUse = core::Options()->CacheDir;
    ASSERT_FALSE(fs::exists(inUse));
    const struct
    {
        const char* Name;
        std::string Typed;
        std::string CacheDir;
        std::string Field;
    } cases[] = {
        {"the folder in use, not made yet", inUse, inUse, inUse},
        {"missing folder", Home / "no/such/folder", dataNoSep, data},
        {"empty field", "", dataNoSep, data},
        {"relative name", "my cache", dataNoSep, data},
        {"a file, not a folder", core::Hive()->Path(), dataNoSep, data},
        {"existing folder", existing, existing, existing},
        {"existing folder with separators", existing + "//", existing, existing},
    };
    auto dialog = Make();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Child<QLineEdit>(*dialog, "edCacheDir")->setText(QString::fromStdString(c.Typed));
        Child<QPushButton>(*dialog, "buOK")->click();
        EXPECT_EQ(Stored().CacheDir, c.CacheDir);
        EXPECT_EQ(core::Options()->CacheDir, c.CacheDir);
        EXPECT_EQ(CacheField(*dialog).toStdString(), c.Field);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    }
}

// A folder chosen with the browse button counts at once, survives Cancel and is stored by the next
// OK; a browse that is cancelled changes nothing.
TEST_F(OptionsDialogTest, BrowsedCacheFolderCountsAtOnceAndIsStoredWithTheNextOk)
{
    const std::string storedBefore = Stored().CacheDir;
    const std::string chosen = Home / "chosen";
    fs::create_directories(chosen);
    auto dialog = Make();

    Script.push_back([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
    Child<QPushButton>(*dialog, "buBrowse")->click();
    EXPECT_EQ(core::Options()->CacheDir, storedBefore);
    EXPECT_EQ(CacheField(*dialog).toStdString(), storedBefore);

    ScriptBrowse(chosen + "/");
    Child<QPushButton>(*dialog, "buBrowse")->click();
    EXPECT_EQ(Opened, (std::vector<QString>{QStringLiteral("FBrowse"), QStringLiteral("FBrowse")}));
    EXPECT_EQ(core::Options()->CacheDir, chosen);
    EXPECT_EQ(CacheField(*dialog).toStdString(), chosen);
    EXPECT_EQ(Stored().CacheDir, storedBefore) << "not stored before OK";

    Child<QPushButton>(*dialog, "buCancel")->click();
    EXPECT_EQ(core::Options()->CacheDir, chosen);
    EXPECT_EQ(CacheField(*dialog).toStdString(), chosen);
    EXPECT_EQ(Stored().CacheDir, storedBefore);

    Child<QPushButton>(*dialog, "buOK")->click();
    EXPECT_EQ(Stored().CacheDir, chosen);
}

TEST_F(OptionsDialogTest, ClearCacheNowDeletesTheCacheButNothingALinkPointsTo)
{
    const std::string cacheDir = Home / "cachedir";
    const std::string cache = core::CacheFolder(cacheDir);
    const std::string outside = Home / "outside";
    fs::create_directories(cache + "/sub");
    fs::create_directories(outside);
    test::WriteFileBytes(cache + "/a.eml", "a");
    test::WriteFileBytes(cache + "/sub/b.eml", "b");
    test::WriteFileBytes(outside + "/keep.eml", "keep");
    fs::create_directory_symlink(outside, cache + "/link");
    SetOptions([&](core::TOptionRec& o) { o.CacheDir = cacheDir; });
    auto dialog = Make();
    dialog->show();
    auto* button = Child<QPushButton>(*dialog, "buClearCache");

    // A timer due at once fires only while events are pumped during the deletion.
    std::optional<bool> enabledMeanwhile;
    QTimer::singleShot(0, dialog.get(), [&] { enabledMeanwhile = button->isEnabled(); });
    button->click();

    ASSERT_TRUE(enabledMeanwhile.has_value()) << "events were pumped during the deletion";
    EXPECT_FALSE(*enabledMeanwhile);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(fs::exists(fs::symlink_status(cache)));
    EXPECT_TRUE(fs::is_directory(cacheDir));
    EXPECT_EQ(test::ReadFileBytes(outside + "/keep.eml"), "keep");
    EXPECT_TRUE(Prompter.Log.empty()) << "clearing the cache reports nothing";
}

// The address book button asks through its hook with what the field shows; a choice goes into the
// field and is stored by OK, a cancelled one changes nothing, and Cancel drops a choice.
TEST_F(OptionsDialogTest, AddressBookButtonFillsTheFieldForOk)
{
    auto dialog = Make();
    std::vector<QString> asked;
    QString answer;
    dialog->SetAddressBookChooser([&](QWidget* parent, const QString& current) {
        EXPECT_EQ(parent, dialog.get());
        asked.push_back(current);
        return answer;
    });
    auto* field = Child<QLineEdit>(*dialog, "edAddressBook");
    auto* button = Child<QPushButton>(*dialog, "buAddressBook");
    ASSERT_NE(field, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(field->toolTip().isEmpty());
    EXPECT_EQ(dialog->CurrentPage(), TfOptions::PageMailReceiving);
    dialog->ShowPage(TfOptions::PageRules);
    EXPECT_TRUE(field->isVisibleTo(dialog.get())) << "on the Rules page";

    answer = QStringLiteral("/home/me/contacts.vcf");
    button->click();
    EXPECT_EQ(field->text(), answer);
    EXPECT_EQ(Stored().AddressBookPath, "") << "only OK stores it";
    answer.clear();
    button->click();
    EXPECT_EQ(field->text(), QStringLiteral("/home/me/contacts.vcf")) << "a cancelled choice";
    Child<QPushButton>(*dialog, "buOK")->click();
    EXPECT_EQ(Stored().AddressBookPath, "/home/me/contacts.vcf");
    EXPECT_EQ(core::Options()->AddressBookPath, "/home/me/contacts.vcf");

    answer = QStringLiteral("/home/me/folder");
    button->click();
    Child<QPushButton>(*dialog, "buCancel")->click();
    EXPECT_EQ(field->text(), QStringLiteral("/home/me/contacts.vcf"));
    EXPECT_EQ(Stored().AddressBookPath, "/home/me/contacts.vcf");
    EXPECT_EQ(asked, (std::vector<QString>{QString(), QStringLiteral("/home/me/contacts.vcf"),
                                           QStringLiteral("/home/me/contacts.vcf")}));
}

TEST_F(OptionsDialogTest, AStoreThatRefusesTheWriteKeepsTheDialogOpenAndTheRecord)
{
    auto dialog = Make();
    dialog->show();
    const core::TOptionRec before = *core::Options();
    const auto storedBefore = StoredValues();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(core::Hive()->Path().c_str(), &db), SQLITE_OK);
        for (const char* sql : {"CREATE TRIGGER refuse_update BEFORE UPDATE ON vals BEGIN SELECT "
                                "RAISE(ABORT, 'disk quota exceeded'); "
                                "END",
                                "CREATE TRIGGER refuse_insert BEFORE INSERT ON vals BEGIN SELECT "
                                "RAISE(ABORT, 'disk quota exceeded'); "
                                "END"})
            ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    Child<QCheckBox>(*dialog, "cbAutoReceive")->setChecked(!core::IsOn(before.AutoReceive));
    Child<QPushButton>(*dialog, "buOK")->click();

    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Error);
    EXPECT_NE(Prompter.Log[0].Text.find("disk quota exceeded"), std::string::npos) << Prompter.Log[0].Text;
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(*core::Options(), before);
    EXPECT_EQ(StoredValues(), storedBefore);
    EXPECT_EQ(Child<QCheckBox>(*dialog, "cbAutoReceive")->isChecked(), !core::IsOn(before.AutoReceive))
        << "the user's change is still there to retry";
}

TEST_F(OptionsDialogTest, TreeShowsThePagesAndTheRootStaysOpen)
{
    auto dialog = Make();
    dialog->show();
    auto* tree = Child<QTreeWidget>(*dialog, "tvOptions");
    auto* pages = Child<QStackedWidget>(*dialog, "nbOptions");
    auto* header = Child<gui::TDialogHeader>(*dialog, "laPageHeader");
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("Options"));
    EXPECT_EQ(pages->currentIndex(), TfOptions::PageMailReceiving) << "made on the first page";
    EXPECT_EQ(header->Title(), QStringLiteral("Mail receiving"));

    const char* texts[] = {"Mail receiving", "Download",       "Rules",         "Cache",
                           "Confirmations",  "Spam Databases", "Filter Options"};
    ASSERT_EQ(root->childCount(), static_cast<int>(std::size(texts)));
    for (int page = static_cast<int>(std::size(texts)) - 1; page >= 0; --page) {
        SCOPED_TRACE(texts[page]);
        EXPECT_EQ(root->child(page)->text(0), QString::fromLatin1(texts[page]));
        tree->setCurrentItem(root->child(page));
        EXPECT_EQ(pages->currentIndex(), page);
        EXPECT_EQ(header->Title(), QString::fromLatin1(texts[page]));
    }
    tree->setCurrentItem(root);
    EXPECT_EQ(pages->currentIndex(), TfOptions::PageMailReceiving) << "the root changes nothing";
    EXPECT_EQ(header->Title(), QStringLiteral("Mail receiving"));

    tree->collapseItem(root);
    EXPECT_TRUE(root->isExpanded());
    tree->setCurrentItem(root);
    QTest::keyClick(tree, Qt::Key_Left);
    EXPECT_TRUE(root->isExpanded());

    // No Outlook Express to integrate with: its switch is hidden and stays cleared.
    EXPECT_TRUE(Child<QCheckBox>(*dialog, "cbOEIntegration")->isHidden());
    EXPECT_TRUE(Child<QLabel>(*dialog, "laOEIntegrationNote")->isHidden());
}

TEST_F(OptionsDialogTest, ConfigureOpensTheSpamDatabaseDialog)
{
    auto dialog = Make();
    Script.push_back([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
    Child<QPushButton>(*dialog, "buConfigure")->click();
    EXPECT_EQ(Opened, std::vector<QString>{QStringLiteral("fSpamDatabase")});
}

// ---- through the main window -------------------------------------------------------------------------

class OptionsInMainWindowTest : public OptionsDialogTest
{
protected:
    std::unique_ptr<accounts::TAdmin> Admin;

    void SetUp() override
    {
        OptionsDialogTest::SetUp();
        Admin = test::AdminWithOneAccount();
    }
    void TearDown() override
    {
        Admin.reset();
        OptionsDialogTest::TearDown();
    }

    std::unique_ptr<gui::TfMain> OpenMain()
    {
        auto window = std::make_unique<gui::TfMain>(*Admin, Prompter, nullptr, Runner());
        Admin->MakeInitialCurrent();
        return window;
    }
};

TEST_F(OptionsInMainWindowTest, ToolsMenuAndWelcomeLinkShowTheOneDialog)
{
    auto window = OpenMain();
    std::vector<QDialog*> shown;
    const std::vector<std::pair<const char*, std::function<void()>>> starts = {
        {"Tools menu", [&] { Child<QAction>(*window, "Options1")->trigger(); }},
        {"welcome page link",
         [&] { emit Child<QLabel>(*window, "ILOptions")->linkActivated(QStringLiteral("#")); }},
    };
    for (const auto& [name, start] : starts) {
        SCOPED_TRACE(name);
        Script.push_back([&](QDialog& dialog) {
            shown.push_back(&dialog);
            // The controls keep what was chosen between showings.
            if (shown.size() == 1) {
                Child<QCheckBox>(dialog, "cbRuleCase")->setChecked(true);
            } else {
                EXPECT_TRUE(Child<QCheckBox>(dialog, "cbRuleCase")->isChecked());
            }
            return static_cast<int>(QDialog::Accepted);
        });
        start();
    }
    EXPECT_EQ(Opened, (std::vector<QString>{QStringLiteral("fOptions"), QStringLiteral("fOptions")}));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0], &window->OptionsDialog());
    EXPECT_TRUE(Prompter.Log.empty());
}

// "Don't show this message next time" in the trash notice sets the options dialog's box to the
// opposite at once; a dialog made later fills it from the options.
TEST_F(OptionsInMainWindowTest, TrashNoticeBoxSetsTheOptionsBoxAtOnce)
{
    for (const bool dialogFirst : {true, false}) {
        SCOPED_TRACE(dialogFirst ? "dialog made before the notice" : "dialog made after the notice");
        SetOptions([](core::TOptionRec& o) { o.TrashNotEmptyAfterReceive = "1"; });
        {
            core::TRegistry reg(core::Hive());
            core::WriteOptions(reg, *core::Options());
        }
        auto window = OpenMain();
        window->Commands().Receive = [&] { Admin->CurrentUser()->TrashNotEmpty = true; };
        if (dialogFirst) {
            ASSERT_TRUE(
                Child<QCheckBox>(window->OptionsDialog(), "cbTrashNotEmptyAfterReceive")->isChecked());
        }
        std::vector<bool> follows;
        bool noticeShown = false;
        WhenModal<gui::TfTrashInfo>([&](gui::TfTrashInfo& notice) {
            noticeShown = true;
            auto* dontShow = Child<QCheckBox>(notice, "cbDontShow");
            for (const bool tick : {true, false, true}) {
                dontShow->setChecked(tick);
                EXPECT_EQ(core::Options()->TrashNotEmptyAfterReceive, tick ? "0" : "1");
                if (dialogFirst)
                    follows.push_back(Child<QCheckBox>(window->OptionsDialog(), "cbTrashNotEmptyAfterReceive")
                                          ->isChecked());
            }
            QTest::keyClick(&notice, Qt::Key_Escape);
        });
        window->ReceiveClick(-1);
        ASSERT_TRUE(noticeShown);
        if (dialogFirst) {
            EXPECT_EQ(follows, (std::vector<bool>{false, true, false}));
        }
        EXPECT_FALSE(Child<QCheckBox>(window->OptionsDialog(), "cbTrashNotEmptyAfterReceive")->isChecked());
        EXPECT_EQ(Stored().TrashNotEmptyAfterReceive, "1") << "stored only with the dialog's OK";
        Script.push_back([](QDialog& dialog) {
            Child<QPushButton>(dialog, "buOK")->click();
            return dialog.result();
        });
        window->Options1Click();
        EXPECT_EQ(Stored().TrashNotEmptyAfterReceive, "0");
    }
}
