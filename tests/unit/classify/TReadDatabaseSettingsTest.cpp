#include "classify/TReadDatabaseSettings.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "core/Errors.h"
#include "support/TTempHome.h"

using namespace tarnwick::classify;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
using namespace std::string_literals;

TEST(DatabaseSettingsTest, ReadsAsEnabled)
{
    const struct
    {
        const char* Value;
        bool Enabled;
    } cases[] = {
        {"-1", true},   {"1", true},      {"42", true},   {" -1 ", true},
        {"True", true}, {"tRUE", true},   {"0", false},   {"-0", false},
        {"000", false}, {"False", false}, {"", false},    {"yes", false},
        {"1x", false},  {"0x1", false},   {"--1", false}, {"99999999999999999999", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadsAsEnabled(c.Value), c.Enabled) << '"' << c.Value << '"';
}

TEST(DatabaseSettingsTest, ReadsTheSectionWhateverSurroundsIt)
{
    const struct
    {
        const char* Name;
        std::string Content;
        std::vector<std::string> Entries;
        std::vector<std::string> Enabled;
    } cases[] = {
        {"CRLF line ends",
         "[Databases]\r\nbl.one.test=-1\r\nbl.two.test=0\r\n",
         {"bl.one.test=-1", "bl.two.test=0"},
         {"bl.one.test"}},
        {"LF line ends, no final line end",
         "[Databases]\nbl.one.test=-1\nbl.two.test=True",
         {"bl.one.test=-1", "bl.two.test=True"},
         {"bl.one.test", "bl.two.test"}},
        {"no section", "bl.one.test=-1\n[Other]\nbl.two.test=-1\n", {}, {}},
        {"empty file", "", {}, {}},
        {"junk lines, comments, blanks and other sections",
         "junk before\n[Other]\nx=1\n[ databases ]\n; comment\n\njunk line\n =-1\n  bl.one.test  =  -1  "
         "\n[Later]\ny=1\n",
         {"bl.one.test=-1"},
         {"bl.one.test"}},
        {"duplicate keys: the first counts",
         "[Databases]\nbl.one.test=0\nBL.ONE.TEST=-1\nbl.two.test=-1\n",
         {"bl.one.test=0", "bl.two.test=-1"},
         {"bl.two.test"}},
        {"values that are neither numbers nor booleans are off",
         "[Databases]\nbl.one.test=on\nbl.two.test=\nbl.three.test=-1\n",
         {"bl.one.test=on", "bl.two.test=", "bl.three.test=-1"},
         {"bl.three.test"}},
        {"a second Databases section is not read",
         "[Databases]\na.test=-1\n[Databases]\nb.test=-1\n",
         {"a.test=-1"},
         {"a.test"}},
        {"zero bytes and an unterminated header",
         "[Databases\n[Databases]\na.test=-1\0\nb\0.test=1\n"s,
         {"a.test=-1", "b\0.test=1"s},
         {"a.test", "b\0.test"s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempHome home;
        WriteFileBytes(home / "Databases.ini", c.Content);
        TReadDatabaseSettings settings(home / "Databases.ini");
        settings.ReadServers();
        std::vector<std::string> entries{"stale"};
        settings.GetServers(entries);
        EXPECT_EQ(entries, c.Entries);
        EXPECT_EQ(settings.EnabledServers(), c.Enabled);
    }
}

TEST(DatabaseSettingsTest, WriteServersReplacesTheSectionOnly)
{
    TTempHome home;
    const std::string path = home / "Databases.ini";
    WriteFileBytes(path, "; kept\r\n[Databases]\r\nold.test=-1\r\n[Other]\r\nkey=value\r\n");
    TReadDatabaseSettings settings(path);
    settings.WriteServers({{"b.test", "-1"}, {"a.test", "0"}, {"c.test", "True"}});
    EXPECT_EQ(ReadFileBytes(path),
              "; kept\r\n[Other]\r\nkey=value\r\n[Databases]\r\nb.test=-1\r\na.test=0\r\nc.test=-1\r\n");
    settings.WriteServers({});
    EXPECT_EQ(ReadFileBytes(path), "; kept\r\n[Other]\r\nkey=value\r\n");

    TReadDatabaseSettings fresh(home / "New.ini");
    fresh.WriteServers({{"x.test", "0"}});
    EXPECT_EQ(ReadFileBytes(home / "New.ini"), "[Databases]\nx.test=0\n");

    EXPECT_THROW(settings.WriteServers({{"bad=name", "-1"}}), tarnwick::core::TFileError);
    EXPECT_THROW(settings.WriteServers({{"two\nlines", "-1"}}), tarnwick::core::TFileError);
    EXPECT_EQ(ReadFileBytes(path), "; kept\r\n[Other]\r\nkey=value\r\n") << "a refused write changes nothing";
}

TEST(DatabaseSettingsTest, MissingAndUnreadableFiles)
{
    TTempHome home;
    TReadDatabaseSettings missing(home / "none.ini");
    missing.ReadServers();
    EXPECT_TRUE(missing.Entries().empty());

    // A folder in the file's place cannot be read, whoever runs the test.
    std::filesystem::create_directory(home / "locked.ini");
    TReadDatabaseSettings locked(home / "locked.ini");
    try {
        locked.ReadServers();
        ADD_FAILURE() << "no error";
    } catch (const tarnwick::core::TFileError& e) {
        EXPECT_STREQ(e.what(), "File can not be read !!!");
        const auto* read = dynamic_cast<const TDatabaseReadError*>(&e);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->Cause(), "Cannot read \"" + home / "locked.ini" + "\": it is not a file.");
    }
}

TEST(DatabaseSettingsTest, TheDialogsAddAppendsNewNamesDisabled)
{
    std::vector<TDatabaseEntry> entries{{"bl.one.test", "-1"}};
    EXPECT_FALSE(AddDatabaseEntry(entries, "   "));
    EXPECT_FALSE(AddDatabaseEntry(entries, " BL.One.TEST\t"));
    EXPECT_TRUE(AddDatabaseEntry(entries, " two.test "));
    EXPECT_EQ(entries, (std::vector<TDatabaseEntry>{{"bl.one.test", "-1"}, {" two.test ", "0"}}));
    EXPECT_FALSE(entries.back().Enabled()) << "a new server takes part in no lookup until it is ticked";
    EXPECT_EQ(FindDatabaseEntry(entries, "TWO.test"), entries.begin() + 1);
}
