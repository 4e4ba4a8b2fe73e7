#include "core/TRegistry.h"

#include <filesystem>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "core/Errors.h"
#include "support/TTempHome.h"

using namespace tarnwick::core;
using tarnwick::test::TTempHome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class RegistryTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::string File = Home / "settings.db";
    std::shared_ptr<TSettingsStore> Store = std::make_shared<TSettingsStore>(File);
    TRegistry Reg{Store};
};

} // namespace

TEST_F(RegistryTest, ValueKindsReadBackWithTheirKindAndSize)
{
    ASSERT_TRUE(Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Options", true));
    Reg.WriteString("Text", "gr\xC3\xBC\xC3\x9F");
    Reg.WriteExpandString("Path", "%HOME%/x");
    Reg.WriteInteger("Number", -5);
    Reg.WriteBinaryData("Blob", std::string("\0\1\2\xFF", 4));

    EXPECT_EQ(Reg.ReadString("Text"), "gr\xC3\xBC\xC3\x9F");
    EXPECT_EQ(Reg.ReadString("Path"), "%HOME%/x");
    EXPECT_EQ(Reg.ReadInteger("Number"), -5);
    EXPECT_EQ(Reg.ReadBinaryData("Blob"), std::string("\0\1\2\xFF", 4));

    EXPECT_EQ(Reg.GetDataType("Text"), TRegDataType::String);
    EXPECT_EQ(Reg.GetDataType("Path"), TRegDataType::ExpandString);
    EXPECT_EQ(Reg.GetDataType("Number"), TRegDataType::Integer);
    EXPECT_EQ(Reg.GetDataType("Blob"), TRegDataType::Binary);
    EXPECT_EQ(Reg.GetDataType("Missing"), std::nullopt);
    EXPECT_EQ(Reg.GetDataSize("Blob"), 4);
    EXPECT_EQ(Reg.GetDataSize("Number"), 4);
    EXPECT_EQ(Reg.GetDataSize("Missing"), -1);

    // Rewriting replaces the kind as well; names compare without regard to case.
    Reg.WriteString("NUMBER", "7");
    EXPECT_EQ(Reg.GetDataType("number"), TRegDataType::String);
    EXPECT_THAT(Reg.GetValueNames(), ElementsAre("Text", "Path", "NUMBER", "Blob"));
}

TEST_F(RegistryTest, MissingAndWrongKindReads)
{
    Reg.OpenKey("\\K", true);
    Reg.WriteString("S", "1");
    Reg.WriteInteger("I", 1);

    EXPECT_EQ(Reg.ReadString("Missing"), "");
    EXPECT_FALSE(Reg.ValueExists("Missing"));
    EXPECT_THROW(Reg.ReadInteger("Missing"), TStoreError);
    EXPECT_THROW(Reg.ReadInteger("S"), TStoreError);
    EXPECT_THROW(Reg.ReadString("I"), TStoreError);
    EXPECT_THROW(Reg.ReadBinaryData("Missing"), TStoreError);
    EXPECT_TRUE(Reg.DeleteValue("s"));
    EXPECT_FALSE(Reg.DeleteValue("s"));
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrderAndOpenInAnyCase)
{
    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Acounts", true);
    for (const char* name : {"beta", "QWERT", "Alpha", "gamma", "ALPHA2", "abc"})
        Reg.CreateKey(name);
    Reg.CreateKey("alpha"); // the same key as "Alpha"

    EXPECT_THAT(Reg.GetKeyNames(), ElementsAre("abc", "Alpha", "ALPHA2", "beta", "gamma", "QWERT"));
    EXPECT_TRUE(Reg.KeyExists("\\software\\ORVALENT\\tarnwick\\acounts\\qwert"));
    ASSERT_TRUE(Reg.OpenKey("qwert", false));
    EXPECT_EQ(Reg.CurrentPath(), "\\Software\\Orvalent\\Tarnwick\\Acounts\\QWERT"); // as stored
}

TEST_F(RegistryTest, PathsWithoutLeadingBackslashAreBelowTheCurrentKey)
{
    EXPECT_FALSE(Reg.OpenKey("\\A\\B", false));
    Reg.OpenKey("\\A", true);
    Reg.OpenKey("B", true);
    EXPECT_EQ(Reg.CurrentPath(), "\\A\\B");
    EXPECT_TRUE(Reg.KeyExists("\\A\\B"));
    EXPECT_FALSE(Reg.KeyExists("\\B"));
    Reg.CloseKey();
    EXPECT_TRUE(Reg.KeyExists("A\\B")); // no key open: relative to the root
    EXPECT_THROW(Reg.OpenKey("\\A\\\\B", true), TStoreError);
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeTree)
{
    Reg.OpenKey("\\T\\Acounts\\ABCDE\\Rules\\000", true);
    Reg.WriteString("Name", "rule");
    Reg.OpenKey("\\T\\Acounts\\ABCDE", false);
    Reg.WriteString("Host", "pop.example.org");
    Reg.CloseKey();

    EXPECT_TRUE(Reg.DeleteKey("\\T\\Acounts\\abcde"));
    EXPECT_FALSE(Reg.KeyExists("\\T\\Acounts\\ABCDE"));
    EXPECT_FALSE(Reg.KeyExists("\\T\\Acounts\\ABCDE\\Rules\\000"));
    EXPECT_TRUE(Reg.KeyExists("\\T\\Acounts"));
    EXPECT_FALSE(Reg.DeleteKey("\\T\\Acounts\\ABCDE"));
    // Nothing is left behind in the file.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM keys), (SELECT count(*) FROM vals)", -1, &st,
                       nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 3); // root, T, Acounts
    EXPECT_EQ(sqlite3_column_int(st, 1), 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(RegistryTest, CopyKeyCopiesTheTreeAndKeepsTheSource)
{
    Reg.OpenKey("\\Identities\\{1}\\Rules\\Mail\\000", true);
    Reg.WriteString("Name", "OE rule");
    Reg.WriteBinaryData("Criteria", std::string("\1\0\2", 3));
    Reg.OpenKey("Criteria\\000", true);
    Reg.WriteInteger("Type", 4);
    Reg.CloseKey();
    Reg.OpenKey("\\Mine\\Rules\\003", true);
    Reg.WriteString("Existing", "kept");
    Reg.CloseKey();

    ASSERT_TRUE(Reg.CopyKey("\\Identities\\{1}\\Rules\\Mail\\000", "\\Mine\\Rules\\003"));
    ASSERT_TRUE(Reg.OpenKey("\\Mine\\Rules\\003", false));
    EXPECT_EQ(Reg.ReadString("Name"), "OE rule");
    EXPECT_EQ(Reg.ReadString("Existing"), "kept");
    EXPECT_EQ(Reg.ReadBinaryData("Criteria"), std::string("\1\0\2", 3));
    ASSERT_TRUE(Reg.OpenKey("Criteria\\000", false));
    EXPECT_EQ(Reg.ReadInteger("Type"), 4);
    EXPECT_TRUE(Reg.KeyExists("\\Identities\\{1}\\Rules\\Mail\\000\\Criteria\\000"));

    EXPECT_FALSE(Reg.CopyKey("\\Nowhere", "\\Else"));
    EXPECT_FALSE(Reg.KeyExists("\\Else"));
    EXPECT_THROW(Reg.CopyKey("\\Mine", "\\Mine\\Rules\\Inner"), TStoreError);
    EXPECT_FALSE(Reg.KeyExists("\\Mine\\Rules\\Inner"));
}

TEST_F(RegistryTest, ChangesPersistAndAreSeenByAnotherConnection)
{
    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick", true);
    Reg.WriteString("Shared", "one");
    TRegistry other(std::make_shared<TSettingsStore>(File));
    ASSERT_TRUE(other.OpenKey("\\Software\\Orvalent\\Tarnwick", false));
    EXPECT_EQ(other.ReadString("Shared"), "one");
    other.WriteString("Shared", "two");
    EXPECT_EQ(Reg.ReadString("Shared"), "two");
}

TEST_F(RegistryTest, AFailedTransactionLeavesNothingBehind)
{
    Reg.OpenKey("\\Options", true);
    Reg.WriteString("A", "old");
    EXPECT_THROW(Store->Transaction([&] {
        Reg.WriteString("A", "new");
        Reg.WriteString("B", "new");
        throw TError("stop half-way");
    }),
                 TError);
    EXPECT_EQ(Reg.ReadString("A"), "old");
    EXPECT_FALSE(Reg.ValueExists("B"));
}

TEST_F(RegistryTest, WritesIntoADeletedKeyFailInsteadOfResurrectingIt)
{
    Reg.OpenKey("\\Gone", true);
    TRegistry other(Store);
    other.DeleteKey("\\Gone");
    EXPECT_THROW(Reg.WriteString("X", "1"), TStoreError);
    EXPECT_FALSE(Reg.ValueExists("X"));
}

TEST(SettingsFile, IsCreatedPrivateWithItsFolder)
{
    TTempHome home(false);
    const std::string file = home / "deep/er/settings.db";
    TSettingsStore store(file);
    struct stat st
    {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // An existing file readable by others is made private when opened.
    ::chmod(file.c_str(), 0644);
    TSettingsStore again(file);
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsFile, DamagedFileIsReportedAndKeptAside)
{
    struct TCase
    {
        const char* Name;
        std::string Content;
    };
    const TCase cases[] = {
        {"garbage", "this is not a database at all, just text that someone saved over the settings"},
        {"truncated header", std::string("SQLite format 3\0", 16) + std::string(200, '\x07')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempHome home(false);
        const std::string file = home / "settings.db";
        tarnwick::test::WriteFileBytes(file, c.Content);

        try {
            TSettingsStore store(file);
            ADD_FAILURE() << "a damaged file was opened";
        } catch (const TStoreError& e) {
            EXPECT_THAT(e.what(), HasSubstr(file));
        }
        EXPECT_EQ(tarnwick::test::ReadFileBytes(file), c.Content) << "the damaged file was changed";

        std::string notice;
        auto store = TSettingsStore::OpenOrRecover(file, notice);
        EXPECT_THAT(notice, HasSubstr(file));
        std::string aside;
        for (const auto& entry : std::filesystem::directory_iterator(home.Path()))
            if (entry.path().filename().string().starts_with("settings.db.damaged-"))
                aside = entry.path().string();
        ASSERT_FALSE(aside.empty());
        EXPECT_THAT(notice, HasSubstr(aside));
        EXPECT_EQ(tarnwick::test::ReadFileBytes(aside), c.Content);
        TRegistry reg(store);
        EXPECT_TRUE(reg.OpenKey("\\Fresh", true));
    }
}

TEST(SettingsFile, ForeignDatabaseIsNotTakenOver)
{
    TTempHome home(false);
    const std::string file = home / "settings.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE photos(id INTEGER); INSERT INTO photos VALUES(1);", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);

    EXPECT_THROW(TSettingsStore{file}, TStoreError);
    std::string notice;
    TSettingsStore::OpenOrRecover(file, notice);
    EXPECT_THAT(notice, HasSubstr("not a Tarnwick settings file"));
}

TEST(SettingsFile, UnopenableFileIsAnErrorNamingIt)
{
    TTempHome home(false);
    tarnwick::test::WriteFileBytes(home / "plainfile", "x");
    const std::string file = home / "plainfile/settings.db"; // below a file: can never be created
    std::string notice;
    try {
        TSettingsStore::OpenOrRecover(file, notice);
        ADD_FAILURE() << "opened";
    } catch (const TStoreError& e) {
        EXPECT_THAT(e.what(), HasSubstr(file));
    }
    EXPECT_TRUE(notice.empty());
}
