// The account dialogs on their own and through the main window's account commands, with a real
// settings store. Dialogs are driven through their controls; the main window's modal runner hands
// each dialog it opens to the next step of a script instead of running its event loop.

#include <deque>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TRegistry.h"
#include "gui/accounts/TfAcounts.h"
#include "gui/accounts/TfAddUserWizard.h"
#include "gui/accounts/TfUserProperties.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

using namespace tarnwick;
using core::TAnswer;
using gui::TfAcounts;
using gui::TfAddUserWizard;
using gui::TfMain;
using gui::TfUserProperties;
using test::TScriptedPrompter;
using TMode = TfAddUserWizard::TMode;
using TOutcome = TfAddUserWizard::TOutcome;

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

void Type(QObject& dialog, const char* field, const QString& text)
{
    auto* edit = Child<QLineEdit>(dialog, field);
    edit->clear();
    QTest::keyClicks(edit, text);
}

QString Title(QObject& dialog)
{
    return Child<QLabel>(dialog, "laTitle")->text();
}

struct TFields
{
    QString DisplayName = QStringLiteral("Jane Doe");
    QString Server = QStringLiteral("pop.example.org");
    QString Account = QStringLiteral("jane");
    QString Password = QStringLiteral("s3cret");
    bool Remember = true;
    bool Default = false;
};

// Walks the wizard from page 1 to page 4 with `fields`, leaving it on page 4.
void FillWizard(TfAddUserWizard& wizard, const TFields& fields)
{
    Type(wizard, "edDisplayName", fields.DisplayName);
    Button(wizard, "buNext")->click();
    Type(wizard, "edServer", fields.Server);
    Button(wizard, "buNext")->click();
    Type(wizard, "edAccountName", fields.Account);
    Type(wizard, "edPassword", fields.Password);
    Child<QCheckBox>(wizard, "cbRememberPassword")->setChecked(fields.Remember);
    Button(wizard, "buNext")->click();
    Child<QCheckBox>(wizard, "cbDefault")->setChecked(fields.Default);
}

class AccountDialogsTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;
    // Steps for the dialogs the main window opens, in order.
    std::deque<std::function<int(QDialog&)>> Script;
    std::vector<QString> Opened; // object names of the dialogs run

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        SetOption([](core::TOptionRec& o) { o.ConfirmRemoveUser = "1"; });
        Admin = std::make_unique<accounts::TAdmin>(core::Hive(), [] { return core::Options(); });
        // Key names AAAAA, BBBBB, ... so that the accounts load in the order they were added.
        Admin->SetLetterSource([drawn = 0]() mutable { return drawn++ / 5 % 26; });
    }
    void TearDown() override
    {
        EXPECT_TRUE(Script.empty()) << Script.size() << " dialog step(s) never ran";
        Admin.reset();
        core::FinalizeModules();
    }

    static void SetOption(const std::function<void(core::TOptionRec&)>& change)
    {
        core::TOptionRec rec = *core::Options();
        change(rec);
        core::PublishOptions(rec);
    }

    // Saved accounts "A0", "A1", ... on pop0.example.org, ...; the first is the default.
    void SaveAccounts(int count)
    {
        for (int i = 0; i < count; ++i) {
            accounts::TUserID id;
            id.DisplayName = "A" + std::to_string(i);
            id.AccountName = "user" + std::to_string(i);
            id.Host = "pop" + std::to_string(i) + ".example.org";
            id.Password = "pw" + std::to_string(i);
            id.RememberPassword = true;
            id.ShortVis = true;
            Admin->AddUser(id);
        }
        Admin->SaveUsers();
        Admin->LoadUsers();
    }

    std::unique_ptr<TfMain> Open()
    {
        auto window = std::make_unique<TfMain>(*Admin, Prompter, nullptr, [this](QDialog& dialog) {
            Opened.push_back(dialog.objectName());
            if (Script.empty()) {
                ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
                return 0;
            }
            auto step = std::move(Script.front());
            Script.pop_front();
            return step(dialog);
        });
        Admin->MakeInitialCurrent();
        return window;
    }

    // The values stored for each account key, by display name.
    static std::map<std::string, std::map<std::string, std::string>> Stored()
    {
        core::TRegistry reg(core::Hive());
        std::map<std::string, std::map<std::string, std::string>> accounts;
        if (!reg.OpenKey(accounts::AccountsKey, false))
            return accounts;
        for (const auto& key : reg.GetKeyNames()) {
            core::TRegistry account(core::Hive());
            account.OpenKey(std::string(accounts::AccountsKey) + "\\" + key, false);
            std::map<std::string, std::string> values;
            for (const auto& name : account.GetValueNames())
                values[name] = account.ReadString(name);
            accounts[values["Display Name"]] = values;
        }
        return accounts;
    }

    int CurrentIndex() const { return Admin->IndexOf(Admin->CurrentUser()); }

    static std::vector<bool> Visible(TfMain& window, const char* menu)
    {
        std::vector<bool> shown;
        const auto items = Child<QMenu>(window, menu)->actions();
        for (qsizetype i = 2; i < items.size(); ++i)
            shown.push_back(items[i]->isVisible());
        return shown;
    }

    static QString RootCaption(TfMain& window)
    {
        auto* root = window.NodeAt(0);
        return root ? root->text(0) : QString();
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const auto& entry : Prompter.Log)
            texts.push_back(entry.Text);
        return texts;
    }
};

// ---- Add User Wizard -------------------------------------------------------------------------------

TEST_F(AccountDialogsTest, WizardWalksItsPagesWithTheNextCheckAndBack)
{
    TfAddUserWizard wizard(TMode::Normal, *Admin, Prompter);
    auto* next = Button(wizard, "buNext");
    auto* back = Button(wizard, "buBack");
    EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Add User Wizard"));
    EXPECT_EQ(Button(wizard, "buCancel")->text(), QStringLiteral("Cancel"));

    // Each page: its title, Next off while the page's fields are incomplete, on once they are.
    struct Page
    {
        int Step;
        const char* Title;
        std::function<void()> Complete;
    };
    const Page pages[] = {
        {1, "Your Name", [&] { Type(wizard, "edDisplayName", QStringLiteral("Jane Doe")); }},
        {2, "E-mail Server Name",
         [&] {
             Type(wizard, "edServer", QStringLiteral("   "));
             EXPECT_FALSE(next->isEnabled()) << "blanks are no server";
             Type(wizard, "edServer", QStringLiteral(" pop.example.org "));
         }},
        {3, "Internet Mail Logon",
         [&] {
             Type(wizard, "edAccountName", QStringLiteral("jane"));
             EXPECT_FALSE(next->isEnabled()) << "the password is needed too";
             // Also when it is not to be remembered.
             Child<QCheckBox>(wizard, "cbRememberPassword")->setChecked(false);
             EXPECT_FALSE(next->isEnabled());
             Type(wizard, "edPassword", QStringLiteral("s3cret"));
         }},
    };
    for (const auto& page : pages) {
        SCOPED_TRACE(page.Title);
        EXPECT_EQ(wizard.Step(), page.Step);
        EXPECT_EQ(Title(wizard), QString::fromLatin1(page.Title));
        EXPECT_EQ(next->text(), QStringLiteral("&Next >"));
        EXPECT_EQ(back->isEnabled(), page.Step > 1);
        EXPECT_FALSE(next->isEnabled());
        page.Complete();
        EXPECT_TRUE(next->isEnabled());
        next->click();
    }
    EXPECT_EQ(wizard.Step(), 4);
    EXPECT_EQ(Title(wizard), QStringLiteral("Congratulations"));
    EXPECT_EQ(next->text(), QStringLiteral("&Finish"));
    EXPECT_TRUE(next->isEnabled());
    EXPECT_FALSE(Child<QCheckBox>(wizard, "cbDefault")->isChecked());

    // Back to page 1 and forward again: the fields are kept, the Next check follows the page.
    const std::pair<int, const char*> backs[] = {{3, "&Next >"}, {2, "&Next >"}, {1, "&Next >"}};
    for (const auto& [step, text] : backs) {
        back->click();
        EXPECT_EQ(wizard.Step(), step);
        EXPECT_EQ(next->text(), QString::fromLatin1(text));
        EXPECT_TRUE(next->isEnabled());
    }
    EXPECT_FALSE(back->isEnabled());
    Type(wizard, "edDisplayName", QString());
    EXPECT_FALSE(next->isEnabled());
    Type(wizard, "edDisplayName", QStringLiteral("Jane"));
    for (int i = 0; i < 4; ++i)
        next->click();

    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    EXPECT_EQ(wizard.Outcome(), TOutcome::Ok);
    EXPECT_TRUE(Prompter.Log.empty());
    accounts::TUserID expected;
    expected.DisplayName = "Jane";
    expected.Host = "pop.example.org";
    expected.AccountName = "jane";
    expected.Password = "s3cret";
    expected.ShortVis = true;
    expected.RememberPassword = false;
    EXPECT_EQ(wizard.UserID(), expected);
}

TEST_F(AccountDialogsTest, NoToTheExitQuestionResetsTheWizardAndYesCancelsIt)
{
    struct Case
    {
        TMode Mode;
        int ResetStep;
        const char* ResetTitle;
        const char* NextText;
    };
    const Case cases[] = {{TMode::Normal, 1, "Your Name", "&Next >"},
                          {TMode::FirstStart, 0, "Welcome to Orvalent Tarnwick", "&Continue"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ResetTitle);
        Prompter.Log.clear();
        Prompter.Answers = {TAnswer::No, TAnswer::Yes};
        TfAddUserWizard wizard(c.Mode, *Admin, Prompter);
        if (c.Mode == TMode::FirstStart)
            Button(wizard, "buNext")->click();
        FillWizard(wizard, {});
        ASSERT_EQ(wizard.Step(), 4);

        Button(wizard, "buCancel")->click();
        EXPECT_EQ(wizard.Step(), c.ResetStep);
        EXPECT_EQ(Title(wizard), QString::fromLatin1(c.ResetTitle));
        EXPECT_EQ(Button(wizard, "buNext")->text(), QString::fromLatin1(c.NextText));
        for (const char* field : {"edDisplayName", "edServer", "edAccountName", "edPassword"})
            EXPECT_TRUE(Child<QLineEdit>(wizard, field)->text().isEmpty()) << field;
        EXPECT_TRUE(Child<QCheckBox>(wizard, "cbRememberPassword")->isChecked());

        // Escape asks as Cancel does; Yes ends the wizard with Cancel.
        QTest::keyClick(&wizard, Qt::Key_Escape);
        EXPECT_EQ(wizard.result(), QDialog::Rejected);
        EXPECT_EQ(wizard.Outcome(), TOutcome::Cancel);
        ASSERT_EQ(Prompter.Log.size(), 2u);
        for (const auto& entry : Prompter.Log) {
            EXPECT_EQ(entry.Kind, core::TMessageKind::Warning);
            EXPECT_EQ(entry.Text, "Are you sure you want to exit the wizard?");
            EXPECT_EQ(entry.Buttons, (std::vector<TAnswer>{TAnswer::Yes, TAnswer::No}));
        }
    }
}

TEST_F(AccountDialogsTest, FirstStartPageOffersTheManualSetUpOrTheImport)
{
    TfAddUserWizard wizard(TMode::FirstStart, *Admin, Prompter);
    auto* next = Button(wizard, "buNext");
    auto* back = Button(wizard, "buBack");
    EXPECT_EQ(wizard.Step(), 0);
    EXPECT_EQ(Title(wizard), QStringLiteral("Welcome to Orvalent Tarnwick"));
    EXPECT_TRUE(back->isHidden());
    EXPECT_EQ(next->text(), QStringLiteral("&Continue"));
    EXPECT_TRUE(Child<QRadioButton>(wizard, "rbManual")->isChecked());

    next->click();
    EXPECT_EQ(wizard.Step(), 1);
    EXPECT_EQ(Title(wizard), QStringLiteral("Your Name"));
    EXPECT_FALSE(back->isHidden());
    EXPECT_FALSE(back->isEnabled());
    EXPECT_EQ(next->text(), QStringLiteral("&Next >"));
    EXPECT_FALSE(next->isEnabled());

    wizard.ResetWizard(); // what the wizard's activation does
    EXPECT_EQ(wizard.Step(), 0);
    Child<QRadioButton>(wizard, "rbImport")->setChecked(true);
    next->click();
    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    EXPECT_EQ(wizard.Outcome(), TOutcome::Import);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(AccountDialogsTest, SecurityChoiceProposesThePortUnlessOneWasTyped)
{
    struct Step
    {
        const char* Typed; // port typed first, or nullptr
        int Security;      // 0 None, 1 STARTTLS, 2 SSL/TLS
        int Port;          // expected afterwards
    };
    const Step steps[] = {
        {nullptr, 2, 995}, {nullptr, 1, 110},  {nullptr, 2, 995}, {nullptr, 0, 110},
        {"2110", 2, 2110}, {nullptr, 0, 2110}, {"995", 1, 110},   {"110", 1, 110},
    };
    TfAddUserWizard wizard(TMode::Normal, *Admin, Prompter);
    auto* port = Child<QSpinBox>(wizard, "edPort");
    auto* security = Child<QComboBox>(wizard, "cbSecurity");
    EXPECT_EQ(port->value(), 110);
    EXPECT_EQ(port->minimum(), 1);
    EXPECT_EQ(port->maximum(), 65535);
    ASSERT_EQ(security->count(), 3);
    EXPECT_EQ(security->itemText(0), QStringLiteral("None"));
    EXPECT_EQ(security->itemText(1), QStringLiteral("STARTTLS"));
    EXPECT_EQ(security->itemText(2), QStringLiteral("SSL/TLS"));
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.Security) + (step.Typed ? std::string(" after ") + step.Typed : ""));
        if (step.Typed != nullptr) {
            port->selectAll();
            QTest::keyClicks(port, QString::fromLatin1(step.Typed));
        }
        security->setCurrentIndex(step.Security);
        emit security->activated(step.Security);
        EXPECT_EQ(port->value(), step.Port);
    }
    FillWizard(wizard, {});
    Button(wizard, "buNext")->click();
    EXPECT_EQ(wizard.UserID().Port, 110);
    EXPECT_EQ(wizard.UserID().Security, accounts::TConnectionSecurity::StartTls);
}

TEST_F(AccountDialogsTest, TickingDefaultMovesTheDefaultOnlyWhenFinished)
{
    SaveAccounts(2);
    ASSERT_EQ(Admin->DefaultIndex(), 0);
    struct Case
    {
        const char* Name;
        bool Tick;
        bool Cancel;
        int DefaultAfter;
    };
    const Case cases[] = {{"not ticked, finished", false, false, 0},
                          {"ticked, cancelled", true, true, 0},
                          {"ticked, finished", true, false, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Admin->SetDefault(Admin->DefaultIndex(), 0);
        Prompter.Answers = {TAnswer::Yes};
        TfAddUserWizard wizard(TMode::Normal, *Admin, Prompter);
        TFields fields;
        fields.Default = c.Tick;
        FillWizard(wizard, fields);
        Button(wizard, c.Cancel ? "buCancel" : "buNext")->click();
        EXPECT_EQ(Admin->DefaultIndex(), c.DefaultAfter);
        EXPECT_EQ(wizard.UserID().IsDefault, c.Tick);
        Prompter.Answers.clear();
    }
}

TEST_F(AccountDialogsTest, DraggingTheHeaderMovesTheWizard)
{
    TfAddUserWizard wizard(TMode::Normal, *Admin, Prompter);
    wizard.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
    wizard.move(100, 80);
    auto* header = Child<QWidget>(wizard, "imHeader");
    const QPoint grab(30, 20);
    auto send = [&](QEvent::Type type, QPoint offset, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(grab + offset), QPointF(header->mapToGlobal(grab) + offset), button,
                          held, Qt::NoModifier);
        QApplication::sendEvent(header, &event);
    };
    send(QEvent::MouseButtonPress, {}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, {40, 25}, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {40, 25}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(wizard.pos(), QPoint(140, 105));
    send(QEvent::MouseMove, {90, 90}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(wizard.pos(), QPoint(140, 105)) << "released: no more moving";
    wizard.hide();
}

// ---- first start -------------------------------------------------------------------------------------

TEST_F(AccountDialogsTest, FirstStartAddsSavesAndShowsTheNewAccount)
{
    Script.push_back([](QDialog& dialog) {
        auto& wizard = dynamic_cast<TfAddUserWizard&>(dialog);
        EXPECT_EQ(wizard.Mode(), TMode::FirstStart);
        Button(wizard, "buNext")->click(); // Continue with the manual set-up
        FillWizard(wizard, {});
        Button(wizard, "buNext")->click();
        return wizard.result();
    });
    auto window = Open();
    ASSERT_EQ(Admin->Count(), 1u);
    EXPECT_EQ(CurrentIndex(), 0);
    EXPECT_EQ(Admin->DefaultIndex(), 0);
    EXPECT_EQ(RootCaption(*window), QStringLiteral("User: Jane Doe (pop.example.org)"));
    EXPECT_EQ(window->Messages().User(), Admin->CurrentUser());
    EXPECT_EQ(Child<QStackedWidget>(*window, "nbookMain")->currentIndex(), gui::PageWork);
    EXPECT_TRUE(Child<QAction>(*window, "tbReceive")->isEnabled());
    EXPECT_EQ(Visible(*window, "ReceiveMails"), std::vector<bool>{true});
    EXPECT_EQ(Admin->UserAt(0).ID().KeyName.size(), 5u) << "loaded back from the store";

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    const auto& values = stored.at("Jane Doe");
    EXPECT_EQ(values.at("Acount Name"), "jane");
    EXPECT_EQ(values.at("Host"), "pop.example.org");
    EXPECT_EQ(values.at("Default"), "1");
    EXPECT_EQ(values.at("ShortVis"), "1");
    EXPECT_EQ(values.at("Remember Password"), "1");
    EXPECT_NE(values.at("Password"), "s3cret") << "stored scrambled";
}

TEST_F(AccountDialogsTest, FirstStartWizardRunsModallyInTheProgramsOwnWay)
{
    // No runner: the window runs the wizard's own event loop, as the program does. The wizard
    // opens reset and modal, and is driven from inside its loop.
    bool driven = false;
    QTimer::singleShot(0, [&] {
        auto* wizard = qobject_cast<TfAddUserWizard*>(QApplication::activeModalWidget());
        ASSERT_NE(wizard, nullptr);
        driven = true;
        EXPECT_EQ(wizard->Step(), 0);
        Button(*wizard, "buNext")->click();
        FillWizard(*wizard, {});
        Button(*wizard, "buNext")->click();
    });
    TfMain window(*Admin, Prompter);
    EXPECT_TRUE(driven);
    EXPECT_EQ(Admin->Count(), 1u);
    EXPECT_EQ(Stored().count("Jane Doe"), 1u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AccountDialogsTest, FirstStartImportChoiceRunsTheImport)
{
    auto chooseImport = [](QDialog& dialog) {
        auto& wizard = dynamic_cast<TfAddUserWizard&>(dialog);
        Child<QRadioButton>(wizard, "rbImport")->setChecked(true);
        Button(wizard, "buNext")->click();
        return wizard.result();
    };
    {
        SCOPED_TRACE("no import on this system");
        Script.push_back(chooseImport);
        auto window = Open();
        EXPECT_EQ(Texts(), std::vector<std::string>{
                               "No Outlook Express accounts import is available on this system."});
        EXPECT_EQ(Prompter.Log.front().Kind, core::TMessageKind::Information);
        EXPECT_FALSE(Admin->HasUsers());
        EXPECT_TRUE(Stored().empty());
        EXPECT_EQ(Child<QStackedWidget>(*window, "nbookMain")->currentIndex(), gui::PagePresentation);
        EXPECT_FALSE(Child<QAction>(*window, "tbReceive")->isEnabled());
    }
    {
        SCOPED_TRACE("cancelled wizard");
        Prompter.Log.clear();
        Script.push_back([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
        auto window = Open();
        EXPECT_TRUE(Prompter.Log.empty());
        EXPECT_EQ(Child<QStackedWidget>(*window, "nbookMain")->currentIndex(), gui::PagePresentation);
        for (const char* name : {"tbAddBlack", "tbAddWhite", "tbDelete", "tbReceive", "tbEmpty", "tbFind"})
            EXPECT_FALSE(Child<QAction>(*window, name)->isEnabled()) << name;
    }
    {
        SCOPED_TRACE("import chosen and available");
        Prompter.Log.clear();
        int asked = 0;
        Script.push_back([&](QDialog& dialog) {
            // The window being made is already a top-level widget: the import is attached to it as
            // the program's import would be.
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* main = qobject_cast<TfMain*>(widget))
                    main->Commands().ImportAccounts = [&](QWidget*) {
                        ++asked;
                        std::vector<accounts::TUserID> ids(2);
                        for (std::size_t i = 0; i < ids.size(); ++i) {
                            ids[i].DisplayName = "Imported" + std::to_string(i);
                            ids[i].Host = "pop.imported.org";
                            ids[i].AccountName = "imp";
                            ids[i].ShortVis = true;
                        }
                        return std::optional{ids};
                    };
            return chooseImport(dialog);
        });
        auto window = Open();
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(Prompter.Log.empty()) << "no current account: the last one is made current unasked";
        ASSERT_EQ(Admin->Count(), 2u);
        EXPECT_EQ(Admin->CurrentUser()->ID().DisplayName, "Imported0") << "the default after the start";
        EXPECT_EQ(Stored().size(), 2u);
        EXPECT_EQ(Visible(*window, "popupMoreUsers"), (std::vector<bool>{true, true}));
        EXPECT_EQ(Child<QStackedWidget>(*window, "nbookMain")->currentIndex(), gui::PageWork);
    }
}

// ---- main window: add and import ----------------------------------------------------------------

TEST_F(AccountDialogsTest, NewAccountIsAddedSwitchedToAsAnsweredAndSavedAtOnce)
{
    struct Case
    {
        const char* Name;
        bool Receiving;
        std::vector<TAnswer> Answers;
        int CurrentAfter;
    };
    const Case cases[] = {{"switch: Yes", false, {TAnswer::Yes}, 1},
                          {"switch: No", false, {TAnswer::No}, 0},
                          {"while receiving: no question", true, {}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SaveAccounts(1);
        auto window = Open();
        if (c.Receiving)
            window->EnterReceivingMode();
        Prompter.Log.clear();
        Prompter.Answers.assign(c.Answers.begin(), c.Answers.end());
        Script.push_back([](QDialog& dialog) {
            auto& wizard = dynamic_cast<TfAddUserWizard&>(dialog);
            EXPECT_EQ(wizard.Mode(), TMode::Normal);
            FillWizard(wizard, {});
            Button(wizard, "buNext")->click();
            return wizard.result();
        });
        // The drop-down's "Add new accounts..." is the command's entry.
        Child<QMenu>(*window, "popupMoreUsers")->actions().at(0)->trigger();
        EXPECT_EQ(Admin->Count(), 2u);
        EXPECT_EQ(CurrentIndex(), c.CurrentAfter);
        EXPECT_EQ(RootCaption(*window), c.CurrentAfter == 1
                                            ? QStringLiteral("User: Jane Doe (pop.example.org)")
                                            : QStringLiteral("User: A0 (pop0.example.org)"));
        EXPECT_EQ(window->Messages().User(), Admin->CurrentUser());
        EXPECT_EQ(Texts(), c.Answers.empty()
                               ? std::vector<std::string>{}
                               : std::vector<std::string>{std::string(core::texts::SwitchToNewUser)});
        EXPECT_EQ(Stored().size(), 2u);
        EXPECT_EQ(Stored().at("Jane Doe").at("Default"), "0");
        EXPECT_EQ(Visible(*window, "ReceiveMails"), (std::vector<bool>{true, true}));

        // Cancel adds nothing and saves nothing.
        Prompter.Answers = {TAnswer::Yes};
        Script.push_back([](QDialog& dialog) {
            Button(dialog, "buCancel")->click();
            return dialog.result();
        });
        window->AddAccountClick();
        EXPECT_EQ(Admin->Count(), 2u);
        if (c.Receiving)
            window->LeaveReceivingMode();
        window.reset();
        core::TRegistry(core::Hive()).DeleteKey(accounts::AccountsKey);
        Admin->LoadUsers();
        Admin->LoadUsers();
    }
}

TEST_F(AccountDialogsTest, ImportWithoutAnImportChangesNothingAndAnImportAsksToSwitch)
{
    SaveAccounts(1);
    auto window = Open();
    const auto before = Stored();
    window->ImportAccountsClick();
    EXPECT_EQ(Texts(),
              std::vector<std::string>{"No Outlook Express accounts import is available on this system."});
    EXPECT_EQ(Admin->Count(), 1u);
    EXPECT_EQ(Stored(), before);

    const struct
    {
        TAnswer Answer;
        const char* Batch;
        const char* Current;
    } cases[] = {{TAnswer::No, "B", "A0"}, {TAnswer::Yes, "C", "C1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Batch);
        Prompter.Log.clear();
        Prompter.Answers = {c.Answer};
        window->Commands().ImportAccounts = [batch = std::string(c.Batch)](QWidget*) {
            std::vector<accounts::TUserID> ids(2);
            ids[0].DisplayName = batch + "0";
            ids[1].DisplayName = batch + "1";
            return std::optional{ids};
        };
        window->ImportAccountsClick();
        EXPECT_EQ(Texts(), std::vector<std::string>{std::string(core::texts::SwitchToNewUser)});
        EXPECT_EQ(Admin->CurrentUser()->ID().DisplayName, c.Current);
        EXPECT_EQ(Stored().size(), Admin->Count());
    }
    // Cancel in the import: nothing added, the accounts saved all the same.
    Prompter.Log.clear();
    window->Commands().ImportAccounts = [](QWidget*) {
        return std::optional<std::vector<accounts::TUserID>>{};
    };
    window->ImportAccountsClick();
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_EQ(Admin->Count(), 5u);
}

// ---- accounts dialog -----------------------------------------------------------------------------

TEST_F(AccountDialogsTest, AccountsDialogListsAccountsAndEnablesByTheSelection)
{
    SaveAccounts(2);
    auto window = Open();
    Admin->UserAt(1).MutableID().Organization = "Org";
    Admin->UserAt(1).MutableID().ShortVis = false;
    Script.push_back([&](QDialog& dialog) {
        auto& accountsDialog = dynamic_cast<TfAcounts&>(dialog);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Accounts"));
        auto* list = Child<QTreeWidget>(dialog, "lvAccounts");
        const auto* header = list->headerItem();
        EXPECT_EQ(header->text(0), QStringLiteral("User name"));
        EXPECT_EQ(header->text(1), QStringLiteral("Server"));
        EXPECT_EQ(header->text(2), QStringLiteral("Organization"));
        EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("A0 ( default )"));
        EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("pop1.example.org"));
        EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("Org"));
        EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
        EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Unchecked);
        const char* texts[][2] = {
            {"buAdd", "&Add..."},       {"buRemove", "&Remove"},          {"buProperties", "&Properties..."},
            {"buSwitch", "&Switch to"}, {"buDefault", "Set as &default"}, {"buImport", "Import"},
            {"buClose", "&Close"}};
        for (const auto& [name, text] : texts)
            EXPECT_EQ(Button(dialog, name)->text(), QString::fromLatin1(text));
        EXPECT_TRUE(Button(dialog, "buClose")->isDefault());

        const char* needSelection[] = {"buProperties", "buRemove", "buSwitch", "buDefault"};
        for (const char* name : needSelection)
            EXPECT_FALSE(Button(dialog, name)->isEnabled()) << name;
        accountsDialog.SelectRow(1);
        for (const char* name : needSelection)
            EXPECT_TRUE(Button(dialog, name)->isEnabled()) << name;
        // A receive or a fill forbids switching.
        window->EnterReceivingMode();
        accountsDialog.UpdateButtons();
        EXPECT_FALSE(Button(dialog, "buSwitch")->isEnabled());
        EXPECT_TRUE(Button(dialog, "buRemove")->isEnabled());
        window->LeaveReceivingMode();
        window->BeginFill(QStringLiteral("x"));
        accountsDialog.UpdateButtons();
        EXPECT_FALSE(Button(dialog, "buSwitch")->isEnabled());
        window->EndFill();
        accountsDialog.UpdateButtons();
        EXPECT_TRUE(Button(dialog, "buSwitch")->isEnabled());
        QTest::keyClick(&dialog, Qt::Key_Escape); // closes as "&Close" does
        return dialog.result();
    });
    Child<QAction>(*window, "Accounts1")->trigger();
    EXPECT_EQ(Opened, std::vector<QString>{QStringLiteral("fAcounts")});
    EXPECT_EQ(Stored().at("A1").at("Organization"), "Org") << "saved on the way out";
    EXPECT_EQ(Stored().at("A1").at("ShortVis"), "0");
}

TEST_F(AccountDialogsTest, RemovingTheCurrentAccountSwitchesToTheFirstAndTheLastLeavesNone)
{
    SaveAccounts(3);
    auto window = Open();
    window->SwitchToAccount(2);
    ASSERT_EQ(CurrentIndex(), 2);
    const std::string removedKey = Admin->UserAt(2).ID().KeyName;
    Prompter.Answers = {TAnswer::No, TAnswer::Yes, TAnswer::Yes, TAnswer::Yes};
    Script.push_back([&](QDialog& dialog) {
        auto& accountsDialog = dynamic_cast<TfAcounts&>(dialog);
        auto* list = Child<QTreeWidget>(dialog, "lvAccounts");
        accountsDialog.SelectRow(2);
        Button(dialog, "buRemove")->click(); // No: nothing happens
        EXPECT_EQ(list->topLevelItemCount(), 3);
        Button(dialog, "buRemove")->click();
        EXPECT_EQ(list->topLevelItemCount(), 2);
        EXPECT_FALSE(
            core::TRegistry(core::Hive()).KeyExists(std::string(accounts::AccountsKey) + "\\" + removedKey))
            << "the key goes at once";
        EXPECT_EQ(CurrentIndex(), 0);
        EXPECT_EQ(accountsDialog.SelectedIndex(), 0);
        EXPECT_EQ(RootCaption(*window), QStringLiteral("User: A0 (pop0.example.org)"));
        EXPECT_EQ(window->Messages().User(), Admin->CurrentUser());
        EXPECT_EQ(Visible(*window, "ReceiveMails"), (std::vector<bool>{true, true}));

        // A non-current account goes without a switch.
        accountsDialog.SelectRow(1);
        Button(dialog, "buRemove")->click();
        EXPECT_EQ(CurrentIndex(), 0);
        // The only account: nothing current, tree and list empty.
        accountsDialog.SelectRow(0);
        Button(dialog, "buRemove")->click();
        EXPECT_EQ(list->topLevelItemCount(), 0);
        EXPECT_EQ(Admin->CurrentUser(), nullptr);
        EXPECT_EQ(window->Messages().User(), nullptr);
        EXPECT_EQ(window->Messages().rowCount(), 0);
        EXPECT_EQ(Child<QTreeWidget>(*window, "tvFilters")->topLevelItemCount(), 0);
        EXPECT_EQ(Child<QStackedWidget>(*window, "nbookMain")->currentIndex(), gui::PagePresentation);
        EXPECT_FALSE(Child<QAction>(*window, "tbReceive")->isEnabled());
        EXPECT_TRUE(Visible(*window, "popupMoreUsers").empty());
        for (const char* name : {"buProperties", "buRemove", "buSwitch", "buDefault"})
            EXPECT_FALSE(Button(dialog, name)->isEnabled()) << name;
        Button(dialog, "buClose")->click();
        return dialog.result();
    });
    window->AccountsClick();
    EXPECT_TRUE(Stored().empty());
    for (const auto& entry : Prompter.Log)
        EXPECT_EQ(entry.Text, "Are you sure you want to remove this user?");
    EXPECT_EQ(Prompter.Log.size(), 4u);
}

TEST_F(AccountDialogsTest, RemovingIsRefusedForTheCurrentAccountWhileBusyAndAsksOnlyWhenConfigured)
{
    SaveAccounts(2);
    auto window = Open();
    const struct
    {
        const char* Name;
        bool Receiving;
        bool Filtering;
    } busy[] = {{"receiving", true, false}, {"filtering", false, true}};
    TfAcounts dialog(*window, *Admin, Prompter);
    for (const auto& c : busy) {
        SCOPED_TRACE(c.Name);
        Prompter.Log.clear();
        if (c.Receiving)
            window->EnterReceivingMode();
        if (c.Filtering)
            window->BeginFill(QStringLiteral("x"));
        dialog.SelectRow(0);
        Button(dialog, "buRemove")->click();
        EXPECT_EQ(Texts(), std::vector<std::string>{"You cannot delete this user !"});
        EXPECT_EQ(Prompter.Log.front().Kind, core::TMessageKind::Information);
        EXPECT_EQ(Admin->Count(), 2u);
        if (c.Receiving)
            window->LeaveReceivingMode();
        if (c.Filtering)
            window->EndFill();
    }
    Prompter.Log.clear();
    SetOption([](core::TOptionRec& o) { o.ConfirmRemoveUser = "0"; });
    dialog.SelectRow(1);
    Button(dialog, "buRemove")->click();
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_EQ(Admin->Count(), 1u);
}

TEST_F(AccountDialogsTest, SwitchSetDefaultAndCheckMarksReachTheWindowAndTheStore)
{
    SaveAccounts(3);
    auto window = Open();
    Script.push_back([&](QDialog& dialog) {
        auto& accountsDialog = dynamic_cast<TfAcounts&>(dialog);
        auto* list = Child<QTreeWidget>(dialog, "lvAccounts");
        accountsDialog.SelectRow(1);
        Button(dialog, "buSwitch")->click();
        EXPECT_EQ(CurrentIndex(), 1);
        EXPECT_EQ(RootCaption(*window), QStringLiteral("User: A1 (pop1.example.org)"));
        EXPECT_EQ(window->Messages().User(), Admin->CurrentUser());

        Button(dialog, "buDefault")->click();
        EXPECT_EQ(Admin->DefaultIndex(), 1);
        EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("A0"));
        EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("A1 ( default )"));

        // Unticking hides the account in both receive menus at once; ticking shows it again.
        list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        list->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
        for (const char* menu : {"ReceiveMails", "popupMoreUsers"})
            EXPECT_EQ(Visible(*window, menu), (std::vector<bool>{false, true, false})) << menu;
        list->topLevelItem(2)->setCheckState(0, Qt::Checked);
        EXPECT_EQ(Visible(*window, "ReceiveMails"), (std::vector<bool>{false, true, true}));
        EXPECT_EQ(Stored().at("A0").at("ShortVis"), "1") << "only in memory until Close";
        Button(dialog, "buClose")->click();
        return dialog.result();
    });
    window->AccountsClick();
    const auto stored = Stored();
    EXPECT_EQ(stored.at("A0").at("ShortVis"), "0");
    EXPECT_EQ(stored.at("A2").at("ShortVis"), "1");
    EXPECT_EQ(stored.at("A0").at("Default"), "0");
    EXPECT_EQ(stored.at("A1").at("Default"), "1");
    // A new window (a new start) keeps the items hidden.
    window.reset();
    Admin->LoadUsers();
    window = Open();
    EXPECT_EQ(Visible(*window, "ReceiveMails"), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(CurrentIndex(), 1) << "the default is shown at start";
}

TEST_F(AccountDialogsTest, AddAndImportInTheDialogSaveOnlyOnClose)
{
    SaveAccounts(1);
    auto window = Open();
    window->Commands().ImportAccounts = [](QWidget*) {
        std::vector<accounts::TUserID> ids(1);
        ids[0].DisplayName = "Imported";
        return std::optional{ids};
    };
    Prompter.Answers = {TAnswer::No, TAnswer::Yes};
    Script.push_back([&](QDialog& dialog) {
        auto* list = Child<QTreeWidget>(dialog, "lvAccounts");
        Button(dialog, "buAdd")->click();
        EXPECT_EQ(list->topLevelItemCount(), 2);
        EXPECT_EQ(Visible(*window, "ReceiveMails").size(), 2u);
        EXPECT_EQ(Stored().size(), 1u) << "the dialog's add saves on Close";
        Button(dialog, "buImport")->click();
        EXPECT_EQ(list->topLevelItemCount(), 3);
        EXPECT_EQ(Stored().size(), 3u) << "the import saves at once";
        EXPECT_EQ(Admin->CurrentUser()->ID().DisplayName, "Imported");
        Button(dialog, "buClose")->click();
        return dialog.result();
    });
    Script.push_back([](QDialog& dialog) {
        EXPECT_EQ(dialog.parent()->objectName(), QStringLiteral("fAcounts"));
        FillWizard(dynamic_cast<TfAddUserWizard&>(dialog), {});
        Button(dialog, "buNext")->click();
        return dialog.result();
    });
    window->AccountsClick();
    EXPECT_EQ(Texts(), std::vector<std::string>(2, std::string(core::texts::SwitchToNewUser)));
    EXPECT_EQ(Opened, (std::vector<QString>{QStringLiteral("fAcounts"), QStringLiteral("fAddUserWizard")}));
}

// ---- properties dialog ---------------------------------------------------------------------------

TEST_F(AccountDialogsTest, PropertiesReportOnlyRealChanges)
{
    accounts::TUserID id;
    id.DisplayName = "Jane";
    id.Host = "pop.example.org";
    id.AccountName = "jane";
    id.Organization = "Org";
    id.Password = "old";
    id.RememberPassword = true;
    struct Case
    {
        const char* Name;
        std::function<void(TfUserProperties&)> Edit;
        bool Changed;
        std::function<void(accounts::TUserID&)> Expect;
    };
    const Case cases[] = {
        {"nothing", [](TfUserProperties&) {}, false, [](accounts::TUserID&) {}},
        {"same text typed again",
         [](TfUserProperties& d) { Type(d, "edDisplayName", QStringLiteral("Jane")); }, false,
         [](accounts::TUserID&) {}},
        {"organisation", [](TfUserProperties& d) { Type(d, "edOrganization", QStringLiteral("New")); }, true,
         [](accounts::TUserID& e) { e.Organization = "New"; }},
        {"server and account",
         [](TfUserProperties& d) {
             Type(d, "edServer", QStringLiteral("pop2.example.org"));
             Type(d, "edAccountName", QStringLiteral("j2"));
         },
         true,
         [](accounts::TUserID& e) {
             e.Host = "pop2.example.org";
             e.AccountName = "j2";
         }},
        {"new password", [](TfUserProperties& d) { Type(d, "edPassword", QStringLiteral("new")); }, true,
         [](accounts::TUserID& e) { e.Password = "new"; }},
        {"password edited back to the same",
         [](TfUserProperties& d) { Type(d, "edPassword", QStringLiteral("old")); }, true,
         [](accounts::TUserID&) {}},
        {"security",
         [](TfUserProperties& d) {
             auto* security = Child<QComboBox>(d, "cbSecurity");
             security->setCurrentIndex(2);
             emit security->activated(2);
         },
         true,
         [](accounts::TUserID& e) {
             e.Security = accounts::TConnectionSecurity::Tls;
             e.Port = 995;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TfUserProperties dialog(id);
        c.Edit(dialog);
        Button(dialog, "buOK")->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.IdentityChanged(), c.Changed);
        accounts::TUserID expected = id;
        c.Expect(expected);
        EXPECT_EQ(dialog.UserID(), expected);
    }
}

TEST_F(AccountDialogsTest, PropertiesOpenOnGeneralAndShowThePasswordOnlyWhenRemembered)
{
    accounts::TUserID id;
    id.DisplayName = "Jane";
    id.Password = "kept in memory";
    id.RememberPassword = false;
    TfUserProperties dialog(id);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("User Properties"));
    EXPECT_EQ(Child<QStackedWidget>(dialog, "nbPages")->currentIndex(), 0);
    EXPECT_EQ(Title(dialog), QStringLiteral("General"));
    auto* tree = Child<QTreeWidget>(dialog, "tvPages");
    EXPECT_FALSE(tree->itemsExpandable());
    tree->setCurrentItem(tree->topLevelItem(0)->child(1));
    EXPECT_EQ(Title(dialog), QStringLiteral("Server Information"));
    EXPECT_EQ(Child<QStackedWidget>(dialog, "nbPages")->currentIndex(), 1);

    auto* password = Child<QLineEdit>(dialog, "edPassword");
    auto* remember = Child<QCheckBox>(dialog, "cbRememberPassword");
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_FALSE(password->isEnabled());
    remember->click();
    EXPECT_TRUE(remember->isChecked());
    EXPECT_TRUE(password->isEnabled());
    QTest::keyClicks(password, QStringLiteral("typed"));
    Button(dialog, "buOK")->click();
    EXPECT_TRUE(dialog.IdentityChanged());
    EXPECT_TRUE(dialog.UserID().RememberPassword);
    EXPECT_EQ(dialog.UserID().Password, "typed");
}

TEST_F(AccountDialogsTest, UntickingRememberPasswordKeepsThePasswordForThisRunOnly)
{
    SaveAccounts(1);
    {
        core::TRegistry reg(core::Hive());
        reg.OpenKey(std::string(accounts::AccountsKey) + "\\" + Admin->UserAt(0).ID().KeyName, false);
        ASSERT_TRUE(reg.ValueExists("Password"));
    }
    auto window = Open();
    Script.push_back([&](QDialog& dialog) {
        dynamic_cast<TfAcounts&>(dialog).SelectRow(0);
        Button(dialog, "buProperties")->click();
        Button(dialog, "buClose")->click();
        return dialog.result();
    });
    Script.push_back([](QDialog& dialog) {
        auto& properties = dynamic_cast<TfUserProperties&>(dialog);
        Type(dialog, "edDisplayName", QStringLiteral("Renamed"));
        properties.ShowPage(1);
        EXPECT_EQ(Child<QLineEdit>(dialog, "edPassword")->text(), QStringLiteral("pw0"));
        Child<QCheckBox>(dialog, "cbRememberPassword")->click();
        EXPECT_FALSE(Child<QLineEdit>(dialog, "edPassword")->isEnabled());
        Button(dialog, "buOK")->click();
        return dialog.result();
    });
    window->AccountsClick();
    const accounts::TUserID& id = Admin->UserAt(0).ID();
    EXPECT_FALSE(id.RememberPassword);
    EXPECT_EQ(id.Password, "pw0") << "kept for this run";
    // The window shows the new name at once: tree and menus.
    EXPECT_EQ(RootCaption(*window), QStringLiteral("User: Renamed (pop0.example.org)"));
    EXPECT_EQ(Child<QMenu>(*window, "ReceiveMails")->actions().at(2)->text(), QStringLiteral("Renamed"));
    const auto stored = Stored().at("Renamed");
    EXPECT_EQ(stored.at("Remember Password"), "0");
    EXPECT_EQ(stored.count("Password"), 0u) << "not saved";
    Admin->LoadUsers();
    EXPECT_EQ(Admin->UserAt(0).ID().Password, "") << "the next run asks";
}

} // namespace
