// tarnwick-cli rules as a script runs it: a real process on a private settings home.

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TProcess.h"
#include "support/TTempHome.h"

using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::RunProcess;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
using ::testing::HasSubstr;

namespace {

constexpr const char* Cli = TARNWICK_CLI;

class CliRulesTest : public ::testing::Test
{
protected:
    TTempHome Home;

    tarnwick::test::TProcessResult Run(const std::vector<std::string>& args)
    {
        return RunProcess(Cli, args, {}, {"TARNWICK_HOME=" + Home.Path()});
    }
    void SetUp() override
    {
        const auto r = Run({"settings", "import", Fixture("rules/TwoAccounts.reg")});
        ASSERT_EQ(r.Status, 0) << r.Err;
    }
};

} // namespace

TEST_F(CliRulesTest, ListReportsUnknownCriteriaAndShowsTheDefaultAccountsRules)
{
    auto r = Run({"rules", "list"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "000\tenabled\t2\tBoss\n001\tdisabled\t1\ta/b\n002\tenabled\t1\tOdd\n");
    EXPECT_EQ(r.Err, "tarnwick-cli: error: Odd: This Rule contains an unknown criteria!\n");
    // The unknown criterion was removed from the store: a second listing is quiet.
    r = Run({"rules", "list", "AAAAA"});
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(Run({"rules", "list", "Work"}).Out, "");
}

TEST_F(CliRulesTest, ExportAndImportCarryRulesToAnotherAccount)
{
    const std::string folder = Home / "exported";
    auto r = Run({"rules", "export", "Home", folder});
    EXPECT_EQ(r.Status, 1) << "the rule named a/b cannot be a file";
    EXPECT_THAT(r.Err, HasSubstr("\"a/b\" cannot be exported"));
    EXPECT_THAT(r.Out, HasSubstr("Exported 2 rule(s)"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/Boss.tkf"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/Odd.tkf"));
    // Boss: 4 + 4 name bytes + 16, a from-list block (16 + 4 + 7) and an attachments block (16).
    EXPECT_EQ(ReadFileBytes(folder + "/Boss.tkf").size(), 24u + 27u + 16u);

    r = Run({"rules", "import", "Work", folder + "/"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("Imported 2 rule(s); the account has 2 rule(s)."));
    EXPECT_EQ(Run({"rules", "list", "Work"}).Out, "000\tenabled\t2\tBoss\n001\tenabled\t1\tOdd\n");
}

TEST_F(CliRulesTest, FailuresGoToStandardErrorWithNonZeroStatus)
{
    WriteFileBytes(Home / "short.tkf", std::string("\x05\x00\x00\x00", 4) + "ab");
    struct
    {
        std::vector<std::string> Args;
        int Status;
        const char* Message;
    } cases[] = {
        {{"rules", "list", "Nobody"}, 1, "There is no account named \"Nobody\"."},
        {{"rules", "import", Home / "missing"}, 1, "There is no file or folder"},
        {{"rules", "import", Home / "short.tkf"},
         1,
         "short.tkf\" cannot be read: the file is shorter than its name"},
        {{"rules", "export"}, 2, "Usage: tarnwick-cli rules export"},
        {{"rules", "list", "a", "b"}, 2, "Usage: tarnwick-cli rules list"},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Message;
        EXPECT_THAT(r.Err, HasSubstr(c.Message));
    }
    TTempHome empty(false);
    const auto r = RunProcess(Cli, {"rules", "export", empty / "x"}, {}, {"TARNWICK_HOME=" + empty.Path()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr("You have to create an account in order to save rules !"));
}
