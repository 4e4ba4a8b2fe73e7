#include "core/Modules.h"

#include <atomic>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/TRegistry.h"
#include "support/TTempHome.h"

using namespace tarnwick::core;
using tarnwick::test::TTempHome;
using ::testing::HasSubstr;

namespace {

class ModulesTest : public ::testing::Test
{
protected:
    TTempHome Home;
    std::vector<std::string> Notices;

    void TearDown() override { FinalizeModules(); }

    void Start() { InitializeModules(Home / "bin/tarnwick", TEnvironment::FromProcess(), Notices); }
};

} // namespace

TEST_F(ModulesTest, FirstStartWritesDefaultsAndTheSecondLoadReadsThem)
{
    Start();
    EXPECT_TRUE(Notices.empty());
    // The first load finds nothing, so the record stays empty until the options are loaded again.
    EXPECT_EQ(*Options(), TOptionRec{});
    TRegistry reg(Hive());
    ASSERT_TRUE(reg.OpenKey(OptionsKey, false));
    EXPECT_EQ(reg.ReadInteger("CacheLimit"), 32);
    EXPECT_FALSE(reg.ValueExists("WholeWordsOnly"));
    EXPECT_EQ(reg.ReadString("Standard Interface"), "0");

    LoadOptionsAtStart();
    EXPECT_EQ(Options()->TimeOut, 3);
    EXPECT_EQ(Options()->DownloadSpeed, 0);
    EXPECT_EQ(Options()->WholeWordsOnly, "");
    EXPECT_EQ(Options()->CacheDir, Home / "cache");
    EXPECT_EQ(Folders().DataFolder, Home / "data/Orvalent/Tarnwick/");
    EXPECT_EQ(Folders().ProgramFolder, Home / "bin/");
    EXPECT_EQ(CacheFolder(Options()->CacheDir), Home / "cache/VedOzurCache");

    ASSERT_TRUE(reg.OpenKey(InstallPathKey, false));
    EXPECT_EQ(reg.ReadString("Path"), Home / "bin/tarnwick");
}

TEST_F(ModulesTest, InstallPathIsWrittenOnlyOnce)
{
    {
        TRegistry reg(std::make_shared<TSettingsStore>(Home / "settings.db"));
        reg.OpenKey(InstallPathKey, true);
        reg.WriteString("Path", "/first/tarnwick");
    }
    Start();
    TRegistry reg(Hive());
    reg.OpenKey(InstallPathKey, false);
    EXPECT_EQ(reg.ReadString("Path"), "/first/tarnwick");
}

TEST_F(ModulesTest, ADamagedOptionIsRepairedAloneAndReported)
{
    Start();
    LoadOptionsAtStart();
    {
        TRegistry reg(Hive());
        reg.OpenKey(OptionsKey, false);
        reg.WriteString("AutoReceive", "1");
        reg.WriteString("Confirm remove user", "0");
        reg.DeleteValue("CacheLimit");
    }
    FinalizeModules();

    Start();
    ASSERT_EQ(Notices.size(), 1u);
    EXPECT_THAT(Notices[0], HasSubstr("\"CacheLimit\""));
    EXPECT_EQ(Options()->AutoReceive, "1");
    LoadOptionsAtStart();
    EXPECT_EQ(Options()->AutoReceive, "1");
    EXPECT_EQ(Options()->ConfirmRemoveUser, "0");
    EXPECT_EQ(Options()->CacheLimit, 32);
    // The store is whole again: the next start reads it without a word.
    FinalizeModules();
    Notices.clear();
    Start();
    EXPECT_TRUE(Notices.empty());
    TRegistry reg(Hive());
    reg.OpenKey(OptionsKey, false);
    EXPECT_EQ(reg.ReadInteger("CacheLimit"), 32);
    EXPECT_EQ(reg.ReadString("AutoReceive"), "1");
}

TEST_F(ModulesTest, DamagedSettingsFileIsKeptAsideWithANotice)
{
    tarnwick::test::WriteFileBytes(Home / "settings.db", std::string(4096, 'x'));
    Start();
    ASSERT_EQ(Notices.size(), 1u);
    EXPECT_THAT(Notices[0], HasSubstr(Home / "settings.db"));
    EXPECT_THAT(Notices[0], HasSubstr("kept as"));
    LoadOptionsAtStart();
    EXPECT_EQ(Options()->CacheLimit, 32);
}

// Workers read the options while the window replaces them; every snapshot must be whole.
TEST_F(ModulesTest, ConcurrentReadersNeverSeeAHalfReplacedRecord)
{
    Start();
    const auto makeRecord = [](int generation) {
        TOptionRec rec;
        const std::string mark = std::string(64, static_cast<char>('a' + generation % 26));
        rec.CacheDir = rec.AutoscrollonAdd = rec.RuleCase = mark;
        rec.ResponseAction = rec.DatabaseAction = generation;
        return rec;
    };
    PublishOptions(makeRecord(0));

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const auto options = Options();
                if (options->CacheDir != options->AutoscrollonAdd || options->CacheDir != options->RuleCase ||
                    options->ResponseAction != options->DatabaseAction ||
                    options->CacheDir[0] != static_cast<char>('a' + options->ResponseAction % 26))
                    ++torn;
            }
        });
    }
    TRegistry reg(Hive());
    for (int generation = 1; generation <= 300; ++generation) {
        PublishOptions(makeRecord(generation));
        if (generation % 50 == 0)
            WriteOptions(reg, *Options());
    }
    stop = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(Options()->ResponseAction, 300);
}
