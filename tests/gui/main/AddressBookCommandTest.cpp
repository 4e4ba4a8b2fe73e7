// Tools "Address Book...": the desktop's contacts program found through xdg-mime and its desktop
// file, in a private XDG world whose program is a script recording how it was called.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAction>
#include <QTest>

#include "accounts/TAdmin.h"
#include "core/Modules.h"
#include "gui/common/TContactsProgram.h"
#include "gui/main/TfMain.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "support/TTestAccount.h"

using namespace tarnwick;
using gui::NoContactsProgramText;
using gui::TContactsProgram;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable (or removes it) for one test and puts the old value back.
class TScopedEnv
{
public:
    TScopedEnv(const char* name, const std::string* value)
        : Name_(name)
        , Had_(qEnvironmentVariableIsSet(name))
    {
        Old_ = qgetenv(name);
        if (value)
            qputenv(name, QByteArray::fromStdString(*value));
        else
            qunsetenv(name);
    }
    ~TScopedEnv()
    {
        if (Had_)
            qputenv(Name_, Old_);
        else
            qunsetenv(Name_);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* Name_;
    bool Had_;
    QByteArray Old_;
};

class AddressBookCommandTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::string DataHome = Home / "xdg data";
    std::string ConfigHome = Home / "xdg-config";
    std::string SystemData = Home / "xdg-system";
    std::string Record = Home / "called.txt";
    // A private desktop: no desktop environment that xdg-mime would ask instead of its files.
    TScopedEnv Data{"XDG_DATA_HOME", &DataHome};
    TScopedEnv Config{"XDG_CONFIG_HOME", &ConfigHome};
    TScopedEnv Dirs{"XDG_DATA_DIRS", &SystemData};
    TScopedEnv Desktop{"XDG_CURRENT_DESKTOP", nullptr};
    TScopedEnv Session{"DESKTOP_SESSION", nullptr};
    TScopedEnv Kde{"KDE_FULL_SESSION", nullptr};
    TScopedEnv Gnome{"GNOME_DESKTOP_SESSION_ID", nullptr};
    std::vector<std::string> Notices;
    test::TScriptedPrompter Prompter;
    std::unique_ptr<accounts::TAdmin> Admin;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        // An account, so that the window does not greet a first start with the account wizard.
        Admin = test::AdminWithOneAccount();
        fs::create_directories(DataHome + "/applications");
        fs::create_directories(ConfigHome);
        fs::create_directories(SystemData + "/applications");
        // The contacts program: writes its arguments, one a line, into the record in one step.
        fs::create_directories(Home / "bin dir");
        test::WriteFileBytes(Home / "bin dir/contacts", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + Record +
                                                            ".part\" && mv \"" + Record + ".part\" \"" +
                                                            Record + "\"\n");
        fs::permissions(Home / "bin dir/contacts", fs::perms::owner_all);
    }
    void TearDown() override
    {
        Admin.reset();
        core::FinalizeModules();
    }

    void Register(const std::string& id)
    {
        test::WriteFileBytes(ConfigHome + "/mimeapps.list",
                             "[Default Applications]\ntext/vcard=" + id + "\n");
    }
    void WriteDesktopFile(const std::string& path, const std::string& exec)
    {
        fs::create_directories(fs::path(path).parent_path());
        test::WriteFileBytes(path,
                             "[Desktop Action New]\nExec=/bin/false\n\n[Desktop Entry]\nType=Application\n"
                             "Name=Contacts\nExec=" +
                                 exec + "\n");
    }

    // Runs Tools "Address Book..." of a main window.
    void RunCommand()
    {
        gui::TfMain window(*Admin, Prompter);
        auto* action = window.findChild<QAction*>(QStringLiteral("AddressBook1"));
        ASSERT_NE(action, nullptr);
        action->trigger();
    }
};

} // namespace

// A registered program starts with the arguments of its Exec line, field codes left out; one in a
// system folder is found as well, below a subfolder for a dashed id.
TEST_F(AddressBookCommandTest, TheRegisteredContactsProgramStarts)
{
    const std::string script = "\"" + (Home / "bin dir/contacts") + "\"";
    const struct
    {
        const char* Id;
        std::string File;
        std::string Exec;
        std::string Called;
    } cases[] = {
        {"tarnwick-test.desktop", DataHome + "/applications/tarnwick-test.desktop",
         script + " --open %U \"two  words\" 50%% %i", "--open\ntwo  words\n50%\n"},
        {"vendor-contacts.desktop", SystemData + "/applications/vendor/contacts.desktop", script + " %f", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Id);
        fs::remove(Record);
        Register(c.Id);
        WriteDesktopFile(c.File, c.Exec);
        RunCommand();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(Record), 10000);
        EXPECT_EQ(test::ReadFileBytes(Record), c.Called.empty() ? "\n" : c.Called);
        fs::remove(c.File);
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

// Without a program to start the user is told so, how to set one, and what went wrong.
TEST_F(AddressBookCommandTest, NoProgramIsReportedWithItsCause)
{
    const struct
    {
        const char* Name;
        const char* Id;   // registered, or none
        std::string Exec; // the desktop file's Exec, or no desktop file
        std::string Cause;
    } cases[] = {
        {"nothing registered", nullptr, "", ""},
        // xdg-mime names no program whose desktop file is gone.
        {"no desktop file", "gone.desktop", "", ""},
        {"missing program", "broken.desktop", "/no/such/program %U",
         "\n\nThe contacts program of \"" + DataHome +
             "/applications/broken.desktop\" could not be started: the program \"/no/such/program\" was not "
             "found "
             "or is not executable."},
        {"empty Exec", "broken.desktop", "%U",
         "\n\nThe contacts program of \"" + DataHome +
             "/applications/broken.desktop\" could not be started: its desktop file has no Exec line."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(ConfigHome + "/mimeapps.list");
        fs::remove(DataHome + "/applications/broken.desktop");
        if (c.Id)
            Register(c.Id);
        if (!c.Exec.empty())
            WriteDesktopFile(DataHome + "/applications/" + c.Id, c.Exec);
        Prompter.Log.clear();
        RunCommand();
        ASSERT_EQ(Prompter.Log.size(), 1u);
        EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Information);
        EXPECT_EQ(Prompter.Log[0].Text, NoContactsProgramText + c.Cause);
    }
    EXPECT_FALSE(fs::exists(Record));
}

TEST(ContactsProgramTest, ExecLinesBecomeProgramAndArguments)
{
    const struct
    {
        const char* Exec;
        std::vector<const char*> Command;
    } cases[] = {
        {"gnome-contacts", {"gnome-contacts"}},
        {"kaddressbook %u", {"kaddressbook"}},
        {"  app   --x   %F  ", {"app", "--x"}},
        {"app --file=%f --name=%c", {"app", "--file=", "--name="}},
        {"\"/opt/My Apps/app\" \"a \\\"q\\\" \\\\ b\" \"\"", {"/opt/My Apps/app", "a \"q\" \\ b", ""}},
        {"app 100%% \"50%%\"", {"app", "100%", "50%"}},
        {"app\t--tab", {"app", "--tab"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Exec);
        QStringList expected;
        for (const char* argument : c.Command)
            expected << QString::fromUtf8(argument);
        EXPECT_EQ(TContactsProgram::CommandOf(QString::fromUtf8(c.Exec)), expected);
    }
}
