#include "accounts/TAdmin.h"

#include <cstdio>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/ScrambleText.h"
#include "core/TRegFile.h"
#include "core/TRegistry.h"
#include "core/TextUtils.h"
#include "support/TTempHome.h"

using namespace tarnwick::accounts;
using namespace tarnwick::core;
using tarnwick::test::TTempHome;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

namespace {

class TRecordingObserver : public TAccountsObserver
{
public:
    std::vector<std::string> Events;
    void AccountsExist(bool exist) override { Events.push_back(exist ? "exist" : "none"); }
    void AccountMadeCurrent(TUser& user) override { Events.push_back("current " + user.ID().DisplayName); }
    void AccountMenusChanged() override { Events.push_back("menus"); }
};

TUserID Account(const std::string& name, const std::string& host = "pop.example.org")
{
    TUserID id;
    id.DisplayName = name;
    id.AccountName = name + "-login";
    id.Host = host;
    id.Organization = "Org of " + name;
    id.ShortVis = true;
    return id;
}

class AdminTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::shared_ptr<TSettingsStore> Hive = std::make_shared<TSettingsStore>(Home / "settings.db");
    std::shared_ptr<const TOptionRec> Opts = std::make_shared<const TOptionRec>();
    std::unique_ptr<TAdmin> Admin = MakeAdmin();
    TRecordingObserver Observer;

    std::unique_ptr<TAdmin> MakeAdmin()
    {
        return std::make_unique<TAdmin>(Hive, [this] { return Opts; });
    }
    // The administrator of a second program start on the same store.
    std::unique_ptr<TAdmin> Restart()
    {
        Admin.reset();
        auto admin = MakeAdmin();
        admin->LoadUsers();
        return admin;
    }
    TRegistry Reg{Hive};
};

} // namespace

TEST_F(AdminTest, FirstStartCreatesTheAccountsKeyAndHasNoAccounts)
{
    Admin->LoadUsers();
    EXPECT_FALSE(Admin->HasUsers());
    EXPECT_TRUE(Reg.KeyExists(AccountsKey));
    EXPECT_EQ(Admin->MakeCurrent(0), nullptr);
    EXPECT_EQ(Admin->MakeInitialCurrent(), nullptr);
}

TEST_F(AdminTest, OnlyOneAdministratorAtATime)
{
    try {
        TAdmin second(Hive);
        FAIL() << "a second administrator was created";
    } catch (const TError& e) {
        EXPECT_STREQ(e.what(), "Administrator has been initialized !");
    }
    Admin.reset();
    EXPECT_NO_THROW(TAdmin{Hive});
}

TEST_F(AdminTest, AccountsRoundTripThroughTheStoreInKeyNameOrder)
{
    Admin->SetObserver(&Observer);
    TUserID first = Account("First");
    first.RememberPassword = true;
    first.Password = "s\xC3\xA9"
                     "cret pass";
    first.Security = TConnectionSecurity::Tls;
    first.Port = 995;
    TUserID second = Account("Second");
    Admin->AddUser(first);
    Admin->AddUser(second);
    EXPECT_THAT(Observer.Events, ElementsAre("exist"));
    EXPECT_TRUE(Admin->UserAt(0).ID().IsDefault); // the first account becomes the default

    // Fixed letters make "First" land after "Second" in key-name order.
    int calls = 0;
    Admin->SetLetterSource([&] { return calls++ < 5 ? 25 : 0; }); // ZZZZZ, then AAAAA
    Admin->SaveUsers();
    EXPECT_EQ(Admin->UserAt(0).ID().KeyName, "ZZZZZ");
    EXPECT_EQ(Admin->UserAt(1).ID().KeyName, "AAAAA");
    EXPECT_TRUE(Reg.KeyExists(std::string(AccountsKey) + "\\ZZZZZ\\Rules"));

    auto admin = Restart();
    ASSERT_EQ(admin->Count(), 2u);
    EXPECT_EQ(admin->UserAt(0).ID().DisplayName, "Second");
    const TUserID& loaded = admin->UserAt(1).ID();
    TUserID expected = first;
    expected.IsDefault = true;
    expected.KeyName = "ZZZZZ";
    EXPECT_EQ(loaded, expected);
}

TEST_F(AdminTest, NewKeyNamesNeverReuseAnExistingNameInAnyCase)
{
    Reg.OpenKey(std::string(AccountsKey) + "\\qwert", true);
    Admin->LoadUsers();
    Admin->AddUser(Account("A"));
    Admin->AddUser(Account("B"));
    // The letters spell "QWERT" three times and "QWERS" twice before anything new.
    const std::string script = "QWERTQWERTQWERTQWERSQWERSABCDE";
    std::size_t pos = 0;
    Admin->SetLetterSource([&] { return script[pos++ % script.size()] - 'A'; });
    Admin->SaveUsers();
    EXPECT_EQ(Admin->UserAt(1).ID().KeyName, "QWERS");
    EXPECT_EQ(Admin->UserAt(2).ID().KeyName, "ABCDE");
    Reg.OpenKey(AccountsKey, false);
    EXPECT_THAT(Reg.GetKeyNames(), ElementsAre("ABCDE", "QWERS", "qwert"));
    for (int i = 0; i < 50; ++i)
        EXPECT_THAT(NewKeyName({"AAAAA"}, RandomLetters()), MatchesRegex("[A-Z][A-Z][A-Z][A-Z][A-Z]"));
}

TEST_F(AdminTest, APasswordNotRememberedIsNeitherLoadedNorKept)
{
    TUserID id = Account("Mail");
    id.RememberPassword = true;
    id.Password = "hunter2";
    Admin->AddUser(id);
    Admin->SaveUsers();
    const std::string key = std::string(AccountsKey) + "\\" + Admin->UserAt(0).ID().KeyName;
    Reg.OpenKey(key, false);
    const std::string stored = Reg.ReadString("Password");
    EXPECT_NE(stored, "hunter2");
    EXPECT_TRUE(IsValidUtf8(stored));

    // Another program left a password behind with the flag cleared: it is not read.
    Reg.WriteString("Remember Password", "0");
    auto admin = Restart();
    EXPECT_EQ(admin->UserAt(0).ID().Password, "");
    EXPECT_FALSE(admin->UserAt(0).ID().RememberPassword);

    // Saving with the flag cleared removes it from the disk.
    admin->SaveUsers();
    Reg.OpenKey(key, false);
    EXPECT_FALSE(Reg.ValueExists("Password"));
}

TEST_F(AdminTest, PasswordsBroughtOverFromWindowsAreRead)
{
    // Windows kept the scrambled ANSI bytes as text of its code page, and its ".reg" export carries
    // them as UTF-16 ("hex(1)" since they include control characters). "Pässw€rd" in Windows-1252
    // is P \xE4 s s w \x80 r d.
    const std::string scrambled = ScrambleText("P\xE4ssw\x80rd", "Vorn", TScrambleDirection::Store);
    std::string hex;
    for (const char c : Utf8ToUtf16Le(Windows1252ToUtf8(scrambled)) + std::string(2, '\0')) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x,", static_cast<unsigned char>(c));
        hex += buf;
    }
    hex.pop_back();
    const std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Acounts\\WINDO]\r\n"
                            "\"Display Name\"=\"From Windows\"\r\n"
                            "\"Acount Name\"=\"user\"\r\n"
                            "\"Password\"=hex(1):" +
                            hex + "\r\n\"Remember Password\"=\"1\"\r\n\"Default\"=\"1\"\r\n";
    TRegFile::Import(Reg, reg, "windows.reg");
    Admin->LoadUsers();
    ASSERT_EQ(Admin->Count(), 1u);
    EXPECT_EQ(Admin->UserAt(0).ID().Password, "P\xC3\xA4ssw\xE2\x82\xACrd");
    EXPECT_EQ(Admin->UserAt(0).ID().Port, 110);
    EXPECT_EQ(Admin->UserAt(0).ID().Security, TConnectionSecurity::None);
}

TEST_F(AdminTest, DamagedFlagsAndConnectionValuesReadAsDefaults)
{
    struct
    {
        const char* Name;
        std::vector<std::pair<const char*, const char*>> Values;
        bool Remember, ShortVis, Default;
        int Port;
        TConnectionSecurity Security;
    } cases[] = {
        {"Missing", {}, false, false, false, 110, TConnectionSecurity::None},
        {"Ones",
         {{"Remember Password", "1"}, {"ShortVis", "1"}, {"Default", "1"}},
         true,
         true,
         true,
         110,
         TConnectionSecurity::None},
        {"NotNumbers",
         {{"Remember Password", "yes"}, {"ShortVis", "true"}, {"Default", " 1"}},
         false,
         false,
         false,
         110,
         TConnectionSecurity::None},
        {"OtherNumbers",
         {{"ShortVis", "2"}, {"Default", "-1"}},
         false,
         false,
         false,
         110,
         TConnectionSecurity::None},
        {"TlsWithoutPort", {{"Security", "2"}}, false, false, false, 995, TConnectionSecurity::Tls},
        {"StartTlsPort",
         {{"Security", "1"}, {"Port", "1110"}},
         false,
         false,
         false,
         1110,
         TConnectionSecurity::StartTls},
        {"BadPortAndSecurity",
         {{"Security", "7"}, {"Port", "99999"}},
         false,
         false,
         false,
         110,
         TConnectionSecurity::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Reg.DeleteKey(AccountsKey);
        Reg.OpenKey(std::string(AccountsKey) + "\\KEYNM", true);
        Reg.WriteString("Display Name", "x");
        for (const auto& [name, value] : c.Values)
            Reg.WriteString(name, value);
        Admin->LoadUsers();
        ASSERT_EQ(Admin->Count(), 1u);
        const TUserID& id = Admin->UserAt(0).ID();
        EXPECT_EQ(id.RememberPassword, c.Remember);
        EXPECT_EQ(id.ShortVis, c.ShortVis);
        EXPECT_EQ(id.IsDefault, c.Default);
        EXPECT_EQ(id.Port, c.Port);
        EXPECT_EQ(id.Security, c.Security);
        EXPECT_EQ(id.KeyName, "KEYNM");
    }
}

TEST_F(AdminTest, RemovingAccounts)
{
    Admin->SetObserver(&Observer);
    Admin->AddUser(Account("Saved"));
    Admin->SaveUsers();
    const std::string savedKey = std::string(AccountsKey) + "\\" + Admin->UserAt(0).ID().KeyName;
    Reg.OpenKey(savedKey + "\\Rules\\000", true);
    Admin->AddUser(Account("Unsaved"));
    const std::string before = TRegFile::Export(Reg, "\\Software");

    Admin->SetCurrentUser(&Admin->UserAt(1));
    Admin->RemoveUser(1); // never saved: the store stays as it was
    EXPECT_EQ(TRegFile::Export(Reg, "\\Software"), before);
    EXPECT_EQ(Admin->CurrentUser(), nullptr);

    Admin->RemoveUser(0);
    EXPECT_FALSE(Reg.KeyExists(savedKey));
    EXPECT_TRUE(Reg.KeyExists(AccountsKey));
    EXPECT_THAT(Observer.Events, ElementsAre("exist", "menus", "menus", "none"));
}

TEST_F(AdminTest, MakeCurrentTakesTheReceiveSettingsFromTheOptions)
{
    struct
    {
        int DownloadSpeed, TimeOut;
        const char* Full;
        TReceiveSettings Expected;
    } cases[] = {{0, 3, "0", {1, 30000, false}}, {1, 0, "1", {2, 2000, true}},
                 {2, 1, "", {4, 5000, false}},   {3, 2, "1 ", {6, 10000, false}},
                 {4, 4, "1", {8, 60000, true}},  {4, 5, "1", {8, 120000, true}}};
    Admin->SetObserver(&Observer);
    Admin->AddUser(Account("One"));
    for (const auto& c : cases) {
        TOptionRec options;
        options.DownloadSpeed = c.DownloadSpeed;
        options.TimeOut = c.TimeOut;
        options.AlwaysFullMessage = c.Full;
        Opts = std::make_shared<const TOptionRec>(options);
        TUser* user = Admin->MakeCurrent(0);
        ASSERT_EQ(user, &Admin->UserAt(0));
        EXPECT_EQ(user->Settings, c.Expected) << c.DownloadSpeed << "/" << c.TimeOut;
    }
    EXPECT_EQ(Observer.Events.back(), "current One");
}

TEST_F(AdminTest, InitialCurrentAccountIsTheDefaultElseTheFirst)
{
    Admin->AddUser(Account("A"));
    Admin->AddUser(Account("B"));
    Admin->SetDefault(0, 1);
    EXPECT_FALSE(Admin->UserAt(0).ID().IsDefault);
    EXPECT_EQ(Admin->DefaultIndex(), 1);
    EXPECT_EQ(Admin->MakeInitialCurrent(), &Admin->UserAt(1));
    Admin->UserAt(1).MutableID().IsDefault = false;
    EXPECT_EQ(Admin->MakeInitialCurrent(), &Admin->UserAt(0));
}

TEST_F(AdminTest, AccountListAndMenusAsData)
{
    Admin->AddUser(Account("Home", "pop.home.example"));
    TUserID hidden = Account("Work", "mail.work.example");
    hidden.ShortVis = false;
    Admin->AddUser(hidden);

    EXPECT_THAT(Admin->FillAccountList(),
                ElementsAre(TAccountListRow{"Home ( default )", "pop.home.example", "Org of Home", true},
                            TAccountListRow{"Work", "mail.work.example", "Org of Work", false}));
    const TAccountMenus menus = Admin->BuildAccountMenus();
    EXPECT_THAT(menus.Receive, ElementsAre(TAccountMenuItem{"Current User", -1, true, true, "F5"},
                                           TAccountMenuItem{"", -2, true, false, ""},
                                           TAccountMenuItem{"Home", 0, true, false, ""},
                                           TAccountMenuItem{"Work", 1, false, false, ""}));
    EXPECT_THAT(menus.Popup, ElementsAre(TAccountMenuItem{"Add new accounts...", -1, true, false, ""},
                                         TAccountMenuItem{"", -2, true, false, ""},
                                         TAccountMenuItem{"Home", 0, true, false, ""},
                                         TAccountMenuItem{"Work", 1, false, false, ""}));
}
