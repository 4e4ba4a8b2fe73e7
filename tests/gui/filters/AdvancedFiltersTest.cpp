// The advanced filter settings window, the character window and the main window's commands that
// open them, against the real store and data folder of a temporary home.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TOptionRec.h"
#include "core/TRegistry.h"
#include "core/TSettingsStore.h"
#include "gui/filters/TfAdvFilterSettings.h"
#include "gui/filters/TfForeignCharacters.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "support/TTestAccount.h"
#include "support/TWidgetLookup.h"
#include "views/TAbstractFiltering.h"
#include "views/TAdvancedFiltersSettings.h"
#include "views/TForeignCharacters.h"

using namespace tarnwick;
using gui::TfAdvFilterSettings;
using gui::TfForeignCharacters;
using test::ReadFileBytes;
using test::TScriptedPrompter;
using test::WriteFileBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using test::Child;

void Click(QWidget& window, const char* button)
{
    if (auto* b = Child<QPushButton>(window, button))
        b->click();
}

QString CurrentPage(QWidget& dialog)
{
    return Child<QStackedWidget>(dialog, "nbFilterPages")->currentWidget()->objectName();
}

// The list's texts as shown, in UTF-8.
std::vector<std::string> Texts(QWidget& dialog)
{
    std::vector<std::string> texts;
    auto* list = Child<QListWidget>(dialog, "lbCharacters");
    for (int row = 0; row < list->count(); ++row)
        texts.push_back(list->item(row)->text().toStdString());
    return texts;
}

class AdvancedFiltersTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<core::TRegistry> Reg;
    std::string DataFolder;
    // Shows the character dialog opened from the settings dialog; unset: Cancel, unseen.
    std::function<int(QDialog&)> Runner;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        Reg = std::make_unique<core::TRegistry>(core::Hive());
        DataFolder = core::Folders().DataFolder;
    }
    void TearDown() override
    {
        Reg.reset();
        core::FinalizeModules();
    }

    std::unique_ptr<TfAdvFilterSettings> Dialog(int preset = -1)
    {
        return std::make_unique<TfAdvFilterSettings>(
            *Reg, Prompter, DataFolder,
            [this](QDialog& dialog) { return Runner ? Runner(dialog) : int(QDialog::Rejected); }, preset);
    }

    std::string Stored(const char* name)
    {
        Reg->OpenKey(core::OptionsKey, true);
        return Reg->ValueExists(name) ? Reg->ReadString(name) : std::string("(none)");
    }
    void Store(const char* name, const char* text)
    {
        Reg->OpenKey(core::OptionsKey, true);
        Reg->WriteString(name, text);
    }
};

} // namespace

TEST_F(AdvancedFiltersTest, SpinBoxesHaveTheirRangesAndClampStoredNumbers)
{
    const struct
    {
        const char* Control;
        const char* Value;
        int Min;
        int Max;
    } cases[] = {
        {"seDuplicates", "Duplicates", 2, 50},
        {"seCharacterAppearance", "CharacterAppearance", 1, 200},
        {"seLargerThenSize", "LargerThenSize", 1, 2000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Control);
        for (const auto& [stored, shown] : {std::pair{c.Min - 1, c.Min}, std::pair{c.Max + 1, c.Max}}) {
            Store(c.Value, std::to_string(stored).c_str());
            auto dialog = Dialog();
            auto* box = Child<QSpinBox>(*dialog, c.Control);
            EXPECT_EQ(box->minimum(), c.Min);
            EXPECT_EQ(box->maximum(), c.Max);
            EXPECT_EQ(box->value(), shown) << "stored " << stored;
        }
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AdvancedFiltersTest, EverySettingTravelsThroughOkAndTheStore)
{
    {
        auto dialog = Dialog();
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Advanced Filters "));
        EXPECT_EQ(dialog->objectName(), QStringLiteral("fAdvFilterSettings"));
        // The defaults of an empty store, each turned over.
        Child<QSpinBox>(*dialog, "seDuplicates")->setValue(17);
        for (const char* box : {"cbIdemSubject", "cbIdemTo", "cbIdemFrom", "cbIdemSize", "cbForeignInSubject",
                                "cbForeignInFrom", "cbForeignInTo", "cbForeignInBody"})
            Child<QCheckBox>(*dialog, box)->click();
        Child<QRadioButton>(*dialog, "rbLowPriority")->click();
        Child<QSpinBox>(*dialog, "seCharacterAppearance")->setValue(150);
        Child<QSpinBox>(*dialog, "seLargerThenSize")->setValue(1999);
        Click(*dialog, "buOK");
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    }
    const std::pair<const char*, const char*> stored[] = {
        {"Duplicates", "17"},      {"IdemSubject", "0"},       {"IdemFrom", "-1"},
        {"IdemTo", "-1"},          {"IdemSize", "-1"},         {"HighPririty", "0"},
        {"LowPririty", "-1"},      {"LargerThenSize", "1999"}, {"CharacterAppearance", "150"},
        {"ForeignInSubject", "0"}, {"ForeignInFrom", "-1"},    {"ForeignInTo", "-1"},
        {"ForeignInBody", "-1"},
    };
    for (const auto& [name, text] : stored)
        EXPECT_EQ(Stored(name), text) << name;

    auto again = Dialog();
    EXPECT_EQ(Child<QSpinBox>(*again, "seDuplicates")->value(), 17);
    EXPECT_FALSE(Child<QCheckBox>(*again, "cbIdemSubject")->isChecked());
    for (const char* box :
         {"cbIdemTo", "cbIdemFrom", "cbIdemSize", "cbForeignInFrom", "cbForeignInTo", "cbForeignInBody"})
        EXPECT_TRUE(Child<QCheckBox>(*again, box)->isChecked()) << box;
    EXPECT_FALSE(Child<QRadioButton>(*again, "rbHighPriority")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(*again, "rbLowPriority")->isChecked());
    EXPECT_EQ(Child<QSpinBox>(*again, "seCharacterAppearance")->value(), 150);
    EXPECT_EQ(Child<QSpinBox>(*again, "seLargerThenSize")->value(), 1999);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AdvancedFiltersTest, CancelStoresNothing)
{
    auto dialog = Dialog();
    Child<QSpinBox>(*dialog, "seDuplicates")->setValue(9);
    Child<QCheckBox>(*dialog, "cbForeignInBody")->click();
    Click(*dialog, "buCancel");
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    for (const char* name : {"Duplicates", "ForeignInBody", "IdemSubject"})
        EXPECT_EQ(Stored(name), "(none)") << name;
}

TEST_F(AdvancedFiltersTest, UnreadableValuesAreReportedShownAsDefaultsAndRepairedByOk)
{
    auto settings = views::TAdvancedFiltersSettings::Defaults();
    settings.Duplicates = 7;
    settings.IdemSize = true;
    settings.LargerThenSize = 300;
    views::WriteFilterSettings(*Reg, settings);
    Store("IdemSize", "yes");
    Store("CharacterAppearance", "many");

    auto dialog = Dialog();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Warning);
    for (const char* part : {"\"IdemSize\"", "'yes'", "\"CharacterAppearance\"", "'many'"})
        EXPECT_THAT(Prompter.Log[0].Text, HasSubstr(part));
    EXPECT_THAT(Prompter.Log[0].Text, Not(HasSubstr("Duplicates")));
    EXPECT_FALSE(Child<QCheckBox>(*dialog, "cbIdemSize")->isChecked());       // default
    EXPECT_EQ(Child<QSpinBox>(*dialog, "seCharacterAppearance")->value(), 4); // default
    EXPECT_EQ(Child<QSpinBox>(*dialog, "seDuplicates")->value(), 7);          // kept
    EXPECT_EQ(Child<QSpinBox>(*dialog, "seLargerThenSize")->value(), 300);    // kept

    Click(*dialog, "buOK");
    EXPECT_EQ(Stored("IdemSize"), "0");
    EXPECT_EQ(Stored("CharacterAppearance"), "4");
    EXPECT_EQ(Stored("Duplicates"), "7");
    EXPECT_EQ(Stored("LargerThenSize"), "300");
    settings.IdemSize = false;
    settings.CharacterAppearance = 4;
    EXPECT_EQ(views::ReadFilterSettings(*Reg), settings);
}

TEST_F(AdvancedFiltersTest, AStoreThatRefusesTheWriteIsReportedAndTheDialogStays)
{
    const std::string path = Home / "refusing.db";
    Reg = std::make_unique<core::TRegistry>(std::make_shared<core::TSettingsStore>(path));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER refuse BEFORE INSERT ON vals BEGIN SELECT RAISE(ABORT, 'disk "
                           "I/O refused'); END;",
                           nullptr, nullptr, &error),
              SQLITE_OK)
        << error;
    sqlite3_free(error);
    sqlite3_close(db);

    auto dialog = Dialog();
    dialog->show();
    Child<QSpinBox>(*dialog, "seDuplicates")->setValue(5);
    Click(*dialog, "buOK");
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Error);
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("cannot be stored"));
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("disk I/O refused"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Child<QSpinBox>(*dialog, "seDuplicates")->value(), 5);
}

TEST_F(AdvancedFiltersTest, ThePresetFilterIsSelectedAndARowShowsItsPage)
{
    const char* const pages[] = {"tsDuplicates",        "tsAttachments",    "tsPriority",
                                 "tsForeignCharacters", "tsDeliveryErrors", "tsVeryLarge"};
    const std::pair<int, int> presets[] = {{-1, 0}, {0, 0}, {2, 2}, {5, 5}, {6, 0}};
    for (const auto& [preset, row] : presets) {
        auto dialog = Dialog(preset);
        EXPECT_EQ(Child<QListWidget>(*dialog, "lbFilters")->currentRow(), row) << preset;
        EXPECT_EQ(CurrentPage(*dialog), QString::fromLatin1(pages[row])) << preset;
    }
    auto dialog = Dialog();
    auto* list = Child<QListWidget>(*dialog, "lbFilters");
    ASSERT_EQ(list->count(), 6);
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("With Attachements"));
    for (int row : {3, 1, 5, 0}) {
        list->setCurrentRow(row);
        EXPECT_EQ(CurrentPage(*dialog), QString::fromLatin1(pages[row]));
    }
}

TEST_F(AdvancedFiltersTest, CharacterSettingsOpensTheCharacterDialogThroughTheRunner)
{
    QString shown;
    Runner = [&](QDialog& dialog) {
        shown = dialog.objectName() + QStringLiteral(" ") + dialog.windowTitle();
        return int(QDialog::Rejected);
    };
    auto dialog = Dialog(3);
    Click(*dialog, "buCharacterSettings");
    EXPECT_EQ(shown, QStringLiteral("fForeignCharacters Character Settings"));
}

TEST_F(AdvancedFiltersTest, WithoutTheFileTheCharacterListHoldsCodes128To254Sorted)
{
    TfForeignCharacters dialog(Prompter, DataFolder);
    const auto entries = dialog.Entries();
    ASSERT_EQ(entries.size(), 127u);
    auto initial = views::TForeignCharacters::InitialSet();
    // Every code from 128 (the euro sign) to 254 (thorn), not 255.
    EXPECT_EQ(initial.front(), "\xE2\x82\xAC");
    EXPECT_EQ(initial.back(), "\xC3\xBE");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "\xC3\xBF"), 0);
    std::sort(initial.begin(), initial.end()); // UTF-8 bytes sort as code points do
    EXPECT_EQ(entries, initial);
    EXPECT_EQ(entries.front(), "\xC2\x81");    // U+0081, the first code point of the set
    EXPECT_EQ(entries.back(), "\xE2\x84\xA2"); // U+2122, the trade mark sign, the last
    // What would show as an empty box or as nothing shows its code instead; the entry stays.
    const auto shown = Texts(dialog);
    EXPECT_EQ(shown.front(), "U+0081");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "U+00A0"), 1); // the no-break space
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "\xE2\x82\xAC"), 1);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AdvancedFiltersTest, AddAndDeleteKeepTheCharacterListSorted)
{
    WriteFileBytes(DataFolder + "Characters.dat", "z\r\n\xC3\xA9\r\na\r\n");
    TfForeignCharacters dialog(Prompter, DataFolder);
    dialog.show();
    EXPECT_THAT(Texts(dialog), ElementsAre("a", "z", "\xC3\xA9"));
    auto* field = Child<QLineEdit>(dialog, "edCharacter");
    auto* remove = Child<QPushButton>(dialog, "buDelete");
    EXPECT_FALSE(remove->isEnabled());

    for (const char* typed : {"m", "a", ""}) { // a duplicate is taken; an empty field adds nothing
        QTest::keyClicks(field, QString::fromLatin1(typed));
        Click(dialog, "buAdd");
        EXPECT_TRUE(field->text().isEmpty()) << typed;
    }
    EXPECT_THAT(Texts(dialog), ElementsAre("a", "a", "m", "z", "\xC3\xA9"));

    auto* list = Child<QListWidget>(dialog, "lbCharacters");
    list->item(2)->setSelected(true);
    list->item(4)->setSelected(true);
    EXPECT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_THAT(Texts(dialog), ElementsAre("a", "a", "z"));
    EXPECT_FALSE(remove->isEnabled());
}

TEST_F(AdvancedFiltersTest, TheFieldHoldsOneUserPerceivedCharacter)
{
    WriteFileBytes(DataFolder + "Characters.dat", "");
    const QString clef = QString::fromUcs4(U"\U0001D11E");  // outside the BMP: two code units
    const QString accented = QString::fromUcs4(U"e\u0301"); // a letter and its combining mark
    const QString fullWidth = QString::fromUcs4(U"\uFF5A"); // above the surrogates in UTF-16
    // Pieces put into the field one after another (as typing or pasting does) and what it keeps.
    const struct
    {
        std::vector<QString> Pieces;
        QString Kept;
    } cases[] = {
        {{QStringLiteral("a"), QStringLiteral("b")}, QStringLiteral("a")},
        {{QStringLiteral("xy")}, QString()}, // a paste of two characters is refused whole
        {{clef}, clef},
        {{clef, QStringLiteral("x")}, clef},
        {{QStringLiteral("e"), QString::fromUcs4(U"\u0301")}, accented},
    };
    TfForeignCharacters dialog(Prompter, DataFolder);
    dialog.show();
    auto* field = Child<QLineEdit>(dialog, "edCharacter");
    for (const auto& c : cases) {
        field->clear();
        for (const QString& piece : c.Pieces)
            field->insert(piece);
        EXPECT_EQ(field->text(), c.Kept) << c.Pieces.front().toStdString();
    }
    field->clear();

    for (const QString& character : {clef, fullWidth, accented}) {
        field->insert(character);
        Click(dialog, "buAdd");
    }
    // Sorted by code point: U+0065 U+0301, U+FF5A, U+1D11E.
    EXPECT_THAT(Texts(dialog),
                ElementsAre(accented.toStdString(), fullWidth.toStdString(), clef.toStdString()));
}

TEST_F(AdvancedFiltersTest, OkWritesTheListInDisplayOrderAndCancelWritesNothing)
{
    const std::string file = DataFolder + "Characters.dat";
    {
        TfForeignCharacters dialog(Prompter, DataFolder);
        Click(dialog, "buCancel");
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    // Bytes that are not UTF-8 (a list from Windows) go back as they came.
    WriteFileBytes(file, "q\r\n\xE9\r\nb\r\n");
    {
        TfForeignCharacters dialog(Prompter, DataFolder);
        QTest::keyClicks(Child<QLineEdit>(dialog, "edCharacter"), QStringLiteral("c"));
        Click(dialog, "buAdd");
        Click(dialog, "buCancel");
        EXPECT_EQ(ReadFileBytes(file), "q\r\n\xE9\r\nb\r\n");
    }
    TfForeignCharacters dialog(Prompter, DataFolder);
    QTest::keyClicks(Child<QLineEdit>(dialog, "edCharacter"), QStringLiteral("c"));
    Click(dialog, "buAdd");
    Click(dialog, "buOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadFileBytes(file), "b\r\nc\r\nq\r\n\xE9\r\n");
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AdvancedFiltersTest, CharacterFileFailuresNameTheFileAndTheReason)
{
    const std::string file = DataFolder + "Characters.dat";
    std::filesystem::create_directory(file);
    {
        TfForeignCharacters dialog(Prompter, DataFolder);
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Error);
        EXPECT_THAT(Prompter.Log[0].Text, HasSubstr(file));
        EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("Is a directory"));
        EXPECT_TRUE(dialog.Entries().empty());
    }
    std::filesystem::remove(file);
    Prompter.Log.clear();

    // The new list cannot be written beside the old one.
    std::filesystem::create_directory(file + ".new");
    TfForeignCharacters dialog(Prompter, DataFolder);
    dialog.show();
    Click(dialog, "buOK");
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr(file));
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("Is a directory"));
    // The dialog stays with its list, so the user can try again or cancel.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Entries().size(), 127u);
}

namespace {

// The main window over one account with records of every priority.
class FilterCommandsTest : public AdvancedFiltersTest
{
protected:
    std::unique_ptr<accounts::TAdmin> Admin;
    int Runs = 0;

    void SetUp() override
    {
        AdvancedFiltersTest::SetUp();
        Admin = test::AdminWithOneAccount();
    }
    void TearDown() override
    {
        Admin.reset();
        AdvancedFiltersTest::TearDown();
    }

    std::unique_ptr<gui::TfMain> Open()
    {
        auto window = std::make_unique<gui::TfMain>(*Admin, Prompter, nullptr, [this](QDialog& dialog) {
            ++Runs;
            return Runner ? Runner(dialog) : int(QDialog::Rejected);
        });
        Admin->MakeInitialCurrent();
        // Records of every priority, added once the account is current (that clears its list).
        const std::int32_t priorities[] = {accounts::PriorityHigh, accounts::PriorityLow,
                                           accounts::PriorityNormal, accounts::PriorityLow,
                                           accounts::PriorityHigh};
        std::int32_t number = 0;
        for (const auto priority : priorities) {
            accounts::TMailMessage m;
            m.Number = ++number;
            m.Subject = "message " + std::to_string(number);
            m.Priority = priority;
            m.Size = 1000;
            Admin->UserAt(0).Mails.Add(m);
        }
        return window;
    }

    static std::vector<std::int32_t> Numbers(gui::TfMain& window)
    {
        std::vector<std::int32_t> numbers;
        for (const auto& key : window.Messages().Rows())
            numbers.push_back(key.Number);
        return numbers;
    }
};

} // namespace

TEST_F(FilterCommandsTest, RuleSettingsOnAnAdvancedViewOpensItsPageAndAppliesTheViewAgainOnOk)
{
    auto window = Open();
    window->SelectPosition(views::ViewHighPriority);
    window->tvFiltersClick();
    EXPECT_THAT(Numbers(*window), ElementsAre(1, 5));

    // Cancel leaves the list as it was; OK applies the view with the low priority chosen.
    const struct
    {
        int Answer;
        std::vector<std::int32_t> Shown;
    } answers[] = {{QDialog::Rejected, {1, 5}}, {QDialog::Accepted, {2, 4}}};
    for (const auto& c : answers) {
        SCOPED_TRACE(c.Answer);
        const int answer = c.Answer;
        QString page;
        Runner = [&](QDialog& dialog) {
            page = CurrentPage(dialog);
            Child<QRadioButton>(dialog, "rbLowPriority")->click();
            if (answer == QDialog::Accepted)
                Click(dialog, "buOK");
            else
                Click(dialog, "buCancel");
            return dialog.result();
        };
        window->RuleSettings1Click();
        EXPECT_EQ(page, QStringLiteral("tsPriority"));
        EXPECT_EQ(window->SelectedPosition(), views::ViewHighPriority);
        EXPECT_EQ(window->State().AppliedNode, views::ViewHighPriority);
        EXPECT_EQ(Numbers(*window), c.Shown);
        EXPECT_EQ(Stored("LowPririty"), answer == QDialog::Accepted ? "-1" : "(none)");
    }
    EXPECT_EQ(window->findChildren<TfAdvFilterSettings*>().size(), 0) << "the dialog outlived the command";
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(FilterCommandsTest, RuleSettingsElsewhereOpensNoFilterSettings)
{
    auto window = Open();
    for (const int position : {views::ViewAllMessages, views::ViewAdvancedFilters, views::ViewUserFilters}) {
        window->SelectPosition(position);
        window->RuleSettings1Click();
    }
    EXPECT_EQ(Runs, 0);
}

TEST_F(FilterCommandsTest, AdvancedFiltersOpensTheFirstFilterAndEndsWithTheRootSelected)
{
    auto window = Open();
    window->SelectPosition(views::ViewHighPriority);
    window->tvFiltersClick();
    for (const char* button : {"buCancel", "buOK"}) {
        SCOPED_TRACE(button);
        QString page;
        Runner = [&](QDialog& dialog) {
            page = CurrentPage(dialog);
            Click(dialog, button);
            return dialog.result();
        };
        window->AdvancedFilters1Click();
        EXPECT_EQ(page, QStringLiteral("tsDuplicates"));
        EXPECT_EQ(window->SelectedPosition(), views::ViewRoot);
        // The root is only selected: the list still shows the view applied before.
        EXPECT_EQ(window->State().AppliedNode, views::ViewHighPriority);
        EXPECT_THAT(Numbers(*window), ElementsAre(1, 5));
        window->SelectPosition(views::ViewHighPriority);
    }
}
