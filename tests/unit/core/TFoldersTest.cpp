#include "core/TFolders.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/TRegistry.h"
#include "support/TTempHome.h"

using namespace tarnwick::core;
using tarnwick::test::TTempHome;

namespace {

class FoldersTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    TRegistry Reg{std::make_shared<TSettingsStore>(Home / "settings.db")};
    TEnvironment Env{"", "", Home / "xdg-data", "", Home / "home"};
    std::string Program = Home / "bin/";

    std::string StoredAppData()
    {
        Reg.OpenKey(ShellFoldersKey, false);
        return Reg.ReadString("AppData");
    }
};

} // namespace

TEST_F(FoldersTest, MissingAppDataIsSeededFromTheEnvironmentAndBothLevelsAreMade)
{
    const TFolders folders = DetermineFolders(Reg, Env, Program);
    EXPECT_EQ(StoredAppData(), Home / "xdg-data");
    EXPECT_EQ(folders.DataFolder, Home / "xdg-data/Orvalent/Tarnwick/");
    EXPECT_TRUE(std::filesystem::is_directory(folders.DataFolder));
    struct stat st
    {};
    ::stat(folders.DataFolder.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(folders.ProgramFolder, Program);
    EXPECT_EQ(folders.ProgramFolderNoSep, Home / "bin");
}

TEST_F(FoldersTest, StoredAppDataWinsWithOrWithoutTrailingSeparator)
{
    for (const std::string& stored : {Home / "roaming", Home / "roaming/"}) {
        Reg.OpenKey(ShellFoldersKey, true);
        Reg.WriteString("AppData", stored);
        EXPECT_EQ(DetermineFolders(Reg, Env, Program).DataFolder, Home / "roaming/Orvalent/Tarnwick/");
    }
}

TEST_F(FoldersTest, EmptyAppDataPutsTheDataIntoTheProgramFolder)
{
    Reg.OpenKey(ShellFoldersKey, true);
    Reg.WriteString("AppData", "");
    EXPECT_EQ(DetermineFolders(Reg, Env, Program).DataFolder, Program);
    EXPECT_EQ(StoredAppData(), "");
}

TEST_F(FoldersTest, AppDataOfAnotherKindIsLeftAloneAndTheEnvironmentServes)
{
    Reg.OpenKey(ShellFoldersKey, true);
    Reg.WriteInteger("AppData", 5);
    EXPECT_EQ(DetermineFolders(Reg, Env, Program).DataFolder, Home / "xdg-data/Orvalent/Tarnwick/");
    Reg.OpenKey(ShellFoldersKey, false);
    EXPECT_EQ(Reg.ReadInteger("AppData"), 5);
}

TEST(Environment, DefaultLocations)
{
    struct TCase
    {
        const char* Name;
        TEnvironment Env;
        const char* Settings;
        const char* AppData;
        const char* Cache;
    } cases[] = {
        {"XdgUnset",
         {"", "", "", "", "/home/u"},
         "/home/u/.config/Orvalent/Tarnwick/settings.db",
         "/home/u/.local/share",
         "/home/u/.cache/Orvalent/Tarnwick"},
        {"XdgSet",
         {"", "/c/", "/d", "/k", "/home/u"},
         "/c/Orvalent/Tarnwick/settings.db",
         "/d",
         "/k/Orvalent/Tarnwick"},
        {"XdgRelativeIgnored",
         {"", "rel", "rel", "rel", "/home/u"},
         "/home/u/.config/Orvalent/Tarnwick/settings.db",
         "/home/u/.local/share",
         "/home/u/.cache/Orvalent/Tarnwick"},
        {"TarnwickHome", {"/t/", "/c", "/d", "/k", "/home/u"}, "/t/settings.db", "/t/data", "/t/cache"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Env.SettingsFile(), c.Settings);
        EXPECT_EQ(c.Env.AppDataBase(), c.AppData);
        EXPECT_EQ(c.Env.DefaultCacheDir(), c.Cache);
    }
}

TEST(Folders, CacheFolderAndProgramFolder)
{
    EXPECT_EQ(CacheFolder("/home/u/.cache/Orvalent/Tarnwick"),
              "/home/u/.cache/Orvalent/Tarnwick/VedOzurCache");
    EXPECT_EQ(ProgramFolderOf("/opt/tarnwick/bin/tarnwick"), "/opt/tarnwick/bin/");
}
