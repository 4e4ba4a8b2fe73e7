// tarnwick-cli as a user runs it: a real process on a private settings home.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TProcess.h"
#include "support/TTempHome.h"

using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::RunProcess;
using tarnwick::test::TTempHome;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* Cli = TARNWICK_CLI;

class CliTest : public ::testing::Test
{
protected:
    TTempHome Home;

    tarnwick::test::TProcessResult Run(const std::vector<std::string>& args, const std::string& input = {})
    {
        return RunProcess(Cli, args, input, {"TARNWICK_HOME=" + Home.Path()});
    }
};

} // namespace

TEST_F(CliTest, FirstRunWritesTheDefaultOptions)
{
    const auto r = Run({"settings", "export", "HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Options"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("Windows Registry Editor Version 5.00\r\n"));
    EXPECT_THAT(r.Out, HasSubstr("\"CacheLimit\"=dword:00000020\r\n"));
    EXPECT_THAT(r.Out, HasSubstr("\"CacheDir\"=\"" + Home.Path() + "/cache\"\r\n"));
    EXPECT_THAT(r.Out, Not(HasSubstr("WholeWordsOnly")));
}

TEST_F(CliTest, ExportAndImportCarrySettingsToAnotherHome)
{
    ASSERT_EQ(Run({"settings", "import", Fixture("registry/WindowsExportUtf16.reg")}).Status, 0);
    const std::string backup = Home / "backup.reg";
    const auto exported = Run({"settings", "export", "\\Software\\Orvalent", backup});
    ASSERT_EQ(exported.Status, 0) << exported.Err;

    TTempHome other(false);
    const auto imported = RunProcess(Cli, {"settings", "import", "-"}, ReadFileBytes(backup),
                                     {"TARNWICK_HOME=" + other.Path()});
    ASSERT_EQ(imported.Status, 0) << imported.Err;
    const auto again = RunProcess(Cli, {"settings", "export", "\\Software\\Orvalent"}, {},
                                  {"TARNWICK_HOME=" + other.Path()});
    EXPECT_EQ(again.Out, ReadFileBytes(backup));
    EXPECT_THAT(again.Out, HasSubstr("\"TimeOut\"=dword:00000002"));
}

TEST_F(CliTest, ImportWarnsAboutOtherHives)
{
    const auto r = Run({"settings", "import", Fixture("registry/WindowsExportUtf16.reg")});
    EXPECT_EQ(r.Status, 0);
    EXPECT_THAT(r.Err, HasSubstr("warning:"));
    EXPECT_THAT(r.Err, HasSubstr("HKEY_LOCAL_MACHINE"));
}

TEST_F(CliTest, FailuresGoToStandardErrorWithNonZeroStatus)
{
    struct
    {
        std::vector<std::string> Args;
        std::string Input;
        int Status;
        const char* Message;
    } cases[] = {
        {{"settings", "import", "-"},
         "Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"x\"=dword:zz\n",
         1,
         "standard input, line 3:"},
        {{"settings", "import", "/nonexistent/file.reg"}, "", 1, "Cannot read \"/nonexistent/file.reg\""},
        {{"settings", "export", "\\Software\\Missing"}, "", 1, "does not exist"},
        {{"settings", "export"}, "", 2, "Usage: tarnwick-cli settings export"},
        {{"frobnicate"}, "", 2, "unknown command"},
        {{}, "", 2, "Commands:"},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.Args, c.Input);
        EXPECT_EQ(r.Status, c.Status) << c.Message;
        EXPECT_THAT(r.Err, HasSubstr(c.Message));
        EXPECT_EQ(r.Out, "");
    }
}

TEST_F(CliTest, HelpIsOfferedEverywhere)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"settings", "--help"},
                                               {"settings", "export", "--help"},
                                               {"settings", "import", "-h"}}) {
        const auto r = Run(args);
        EXPECT_EQ(r.Status, 0);
        EXPECT_THAT(r.Out, HasSubstr("settings"));
        EXPECT_EQ(r.Err, "");
    }
}
