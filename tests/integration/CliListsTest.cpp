// tarnwick-cli list ... and databases ...: a real process on a private home, one conversation of
// commands per test, each step checked for its status and what it printed.

#include <set>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "classify/TAddressLists.h"
#include "classify/TLvfFile.h"
#include "support/TProcess.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using tarnwick::test::ReadFileBytes;
using tarnwick::test::RunProcess;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
using ::testing::HasSubstr;

namespace {

struct TStep
{
    std::vector<std::string> Args;
    int Status;
    std::string Out; // exact
    std::string Err; // a part of it; empty: nothing at all
};

class CliListsTest : public ::testing::Test
{
protected:
    TTempHome Home;

    void RunSteps(const std::vector<TStep>& steps)
    {
        for (const auto& step : steps) {
            std::string line;
            for (const auto& arg : step.Args)
                line += arg + " ";
            SCOPED_TRACE(line);
            const auto r = RunProcess(TARNWICK_CLI, step.Args, {}, {"TARNWICK_HOME=" + Home.Path()});
            EXPECT_EQ(r.Status, step.Status);
            EXPECT_EQ(r.Out, step.Out);
            if (step.Err.empty())
                EXPECT_EQ(r.Err, "");
            else
                EXPECT_THAT(r.Err, HasSubstr(step.Err));
        }
    }
    std::string DataFile(const std::string& name) { return Home.Path() + "/data/Orvalent/Tarnwick/" + name; }
};

} // namespace

TEST_F(CliListsTest, AddressLists)
{
    RunSteps({
        {{"list", "black", "show"}, 0, "", ""},
        {{"list", "black", "add", "spam@x.org"}, 0, "Added \"spam@x.org\" to the Black list.\n", ""},
        {{"list", "white", "add", "SPAM@X.ORG"}, 1, "", "This address is already in the Black list.\n"},
        {{"list", "black", "add", "Spam@x.org"}, 1, "", "This address is already in the Black list.\n"},
        {{"list", "white", "add", "Spam@X.Org."}, 1, "", "This address is already in the Black list.\n"},
        {{"list", "black", "add", "news@b\u00FCcher.example"},
         0,
         "Added \"news@b\u00FCcher.example\" to the Black list.\n",
         ""},
        {{"list", "black", "add", "NEWS@B\u00DCCHER.EXAMPLE"},
         1,
         "",
         "This address is already in the Black list.\n"},
        {{"list", "black", "add", "n\u00C9ws@b\u00FCcher.example"},
         0,
         "Added \"n\u00C9ws@b\u00FCcher.example\" to the Black list.\n",
         ""},
        {{"list", "black", "remove", "News@B\u00DCcher.example."},
         0,
         "Removed \"News@B\u00DCcher.example.\" from the Black list.\n",
         ""},
        {{"list", "black", "remove", "n\u00E9ws@b\u00FCcher.example"},
         1,
         "",
         "\"n\u00E9ws@b\u00FCcher.example\" is not in the Black list.\n"},
        {{"list", "black", "remove", "N\u00C9WS@B\u00FCcher.example"},
         0,
         "Removed \"N\u00C9WS@B\u00FCcher.example\" from the Black list.\n",
         ""},
        {{"list", "black", "add", "@no-plausibility-test"},
         0,
         "Added \"@no-plausibility-test\" to the Black list.\n",
         ""},
        {{"list", "white", "add", "zoe@x.org"}, 0, "Added \"zoe@x.org\" to the White list.\n", ""},
        {{"list", "white", "add", "amy@x.org"}, 0, "Added \"amy@x.org\" to the White list.\n", ""},
        {{"list", "white", "show"}, 0, "[x] amy@x.org\n[x] zoe@x.org\n", ""},
        {{"list", "black", "remove", "SPAM@x.org"}, 0, "Removed \"SPAM@x.org\" from the Black list.\n", ""},
        {{"list", "black", "remove", "spam@x.org"}, 1, "", "\"spam@x.org\" is not in the Black list.\n"},
        {{"list", "black", "show"}, 0, "[x] @no-plausibility-test\n", ""},
        {{"list", "black", "add"}, 2, "", "Usage: tarnwick-cli list black"},
        {{"list", "black", "frob", "x"}, 2, "", "Unknown action \"frob\""},
        {{"list", "grey", "show"}, 2, "", "\"list\" needs one of these commands"},
    });
    // The files are the LVF files the program reads.
    const auto white = tarnwick::classify::ReadLvf(ReadFileBytes(DataFile("WhiteList.scl")));
    EXPECT_EQ(white.Rows.size(), 2u);
}

TEST_F(CliListsTest, ADamagedListFileIsReportedAndKept)
{
    RunSteps({{{"list", "black", "add", "a@x.org"}, 0, "Added \"a@x.org\" to the Black list.\n", ""}});
    const std::string damaged = ReadFileBytes(DataFile("BlackList.scl")).substr(0, 10);
    WriteFileBytes(DataFile("BlackList.scl"), damaged);
    RunSteps({
        {{"list", "black", "show"}, 0, "", "ends before all its rows"},
        {{"list", "black", "add", "b@x.org"}, 0, "Added \"b@x.org\" to the Black list.\n", "ends before"},
    });
    EXPECT_EQ(ReadFileBytes(DataFile("BlackList.scl.damaged")), damaged);
}

// The program has the lists loaded and changes them while tarnwick-cli (from cron) changes the
// files; the program's save merges, so both sides' changes stay: additions, removals and ticks.
TEST_F(CliListsTest, TheProgramsSaveKeepsWhatTheCommandLineChanged)
{
    using tarnwick::classify::TAddressList;
    using tarnwick::classify::TAddressRow;
    using tarnwick::classify::TListKind;
    RunSteps({
        {{"list", "black", "add", "ticked@x.org"}, 0, "Added \"ticked@x.org\" to the Black list.\n", ""},
        {{"list", "black", "add", "old@x.org"}, 0, "Added \"old@x.org\" to the Black list.\n", ""},
        {{"list", "white", "add", "friend@x.org"}, 0, "Added \"friend@x.org\" to the White list.\n", ""},
    });
    const std::string folder = Home.Path() + "/data/Orvalent/Tarnwick/";
    tarnwick::test::TScriptedPrompter quiet;
    tarnwick::classify::TAddressLists program;
    ASSERT_TRUE(program.Load(folder, quiet));
    program.Change(TListKind::Black, [](TAddressList& black, TAddressList& white) {
        black.Rows[0].Enabled = false;
        tarnwick::classify::MoveToList(black, white, "friend@x.org");
    });
    RunSteps({
        {{"list", "black", "add", "cron@x.org"}, 0, "Added \"cron@x.org\" to the Black list.\n", ""},
        {{"list", "black", "remove", "old@x.org"}, 0, "Removed \"old@x.org\" from the Black list.\n", ""},
        {{"list", "white", "add", "pal@x.org"}, 0, "Added \"pal@x.org\" to the White list.\n", ""},
    });
    EXPECT_TRUE(program.Save(folder).empty());
    RunSteps({
        {{"list", "black", "show"}, 0, "[ ] ticked@x.org\n[x] cron@x.org\n[x] friend@x.org\n", ""},
        {{"list", "white", "show"}, 0, "[x] pal@x.org\n", ""},
    });
    EXPECT_EQ(program.Black()->Rows,
              (std::vector<TAddressRow>{
                  {"ticked@x.org", false, {}}, {"cron@x.org", true, {}}, {"friend@x.org", true, {}}}))
        << "the program holds the command line's changes too";
}

// Commands started at once never lose each other's changes: each read-merge-write of a list file
// holds the file's lock.
TEST_F(CliListsTest, CommandsRunningAtOnceAllCount)
{
    RunSteps(
        {{{"list", "black", "add", "first@x.org"}, 0, "Added \"first@x.org\" to the Black list.\n", ""}});
    constexpr int Count = 8;
    std::vector<tarnwick::test::TProcessResult> results(Count);
    std::vector<std::thread> threads;
    for (int i = 0; i < Count; ++i)
        threads.emplace_back([&, i] {
            results[i] =
                RunProcess(TARNWICK_CLI, {"list", "black", "add", "n" + std::to_string(i) + "@x.org"}, {},
                           {"TARNWICK_HOME=" + Home.Path()});
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& result : results)
        EXPECT_EQ(result.Status, 0) << result.Err;
    const auto black = tarnwick::classify::ReadLvf(ReadFileBytes(DataFile("BlackList.scl")));
    std::set<std::string> addresses;
    for (const auto& row : black.Rows)
        addresses.insert(row.Address);
    std::set<std::string> want{"first@x.org"};
    for (int i = 0; i < Count; ++i)
        want.insert("n" + std::to_string(i) + "@x.org");
    EXPECT_EQ(addresses, want);
    EXPECT_EQ(black.Rows.size(), want.size());
}

TEST_F(CliListsTest, SpamDatabases)
{
    RunSteps({
        {{"databases", "show"}, 0, "", ""},
        {{"databases", "add", "bl.one.test"},
         0,
         "Added \"bl.one.test\" (disabled; enable it to use it).\n",
         ""},
        {{"databases", "add", " BL.ONE.TEST "}, 1, "", "\"BL.ONE.TEST\" is already in the list."},
        {{"databases", "add", "two.test"}, 0, "Added \"two.test\" (disabled; enable it to use it).\n", ""},
        {{"databases", "enable", "Bl.One.Test"}, 0, "Enabled \"bl.one.test\".\n", ""},
        {{"databases", "show"}, 0, "[x] bl.one.test\n[ ] two.test\n", ""},
        {{"databases", "disable", "missing.test"}, 1, "", "\"missing.test\" is not in the list."},
        {{"databases", "add", "bad=name"}, 1, "", "cannot be stored"},
        {{"databases", "remove", "two.test"}, 0, "Removed \"two.test\".\n", ""},
        {{"databases", "disable", "bl.one.test"}, 0, "Disabled \"bl.one.test\".\n", ""},
        {{"databases", "enable"}, 2, "", "Usage: tarnwick-cli databases"},
    });
    EXPECT_EQ(ReadFileBytes(DataFile("Databases.ini")), "[Databases]\nbl.one.test=0\n");
    RunSteps({{{"databases", "remove", "bl.one.test"}, 0, "Removed \"bl.one.test\".\n", ""}});
    EXPECT_EQ(ReadFileBytes(DataFile("Databases.ini")), "") << "no rows leave no section";
}

TEST_F(CliListsTest, HelpForEachCommand)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"list", "black", "--help"},
                                               {"list", "white", "-h"},
                                               {"databases", "--help"},
                                               {"list", "--help"}}) {
        const auto r = RunProcess(TARNWICK_CLI, args, {}, {"TARNWICK_HOME=" + Home.Path()});
        EXPECT_EQ(r.Status, 0);
        EXPECT_THAT(r.Out, HasSubstr(args[0] == "list" ? "list " : "databases"));
        EXPECT_EQ(r.Err, "");
    }
}
