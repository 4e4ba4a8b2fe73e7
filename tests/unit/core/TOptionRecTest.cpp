#include "core/TOptionRec.h"

#include <gtest/gtest.h>

#include "core/TRegistry.h"
#include "support/TTempHome.h"

using namespace tarnwick::core;
using tarnwick::test::TTempHome;

namespace {

class OptionsTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    TRegistry Reg{std::make_shared<TSettingsStore>(Home / "settings.db")};

    void SetUp() override { WriteDefaultOptions(Reg, "/cache"); }

    TOptionRec ReadWith(const char* name, const std::string& text)
    {
        Reg.OpenKey(OptionsKey, false);
        Reg.WriteString(name, text);
        TOptionRec rec;
        EXPECT_TRUE(ReadOptions(Reg, rec));
        return rec;
    }
};

} // namespace

TEST_F(OptionsTest, DefaultsReadBack)
{
    TOptionRec rec;
    ASSERT_TRUE(ReadOptions(Reg, rec));
    EXPECT_EQ(rec.RuleCase, "0");
    EXPECT_EQ(rec.WholeWordsOnly, "");
    EXPECT_EQ(rec.TimeOut, 3);
    EXPECT_EQ(TimeoutMsOf(rec.TimeOut), 30000);
    EXPECT_EQ(rec.DownloadSpeed, 0);
    EXPECT_EQ(ConnectionsOf(rec.DownloadSpeed), 1);
    EXPECT_EQ(rec.CacheLimit, 32);
    EXPECT_EQ(rec.AutoscrollonAdd, "1");
    EXPECT_EQ(rec.ClearCache, "1");
    EXPECT_EQ(rec.CacheDir, "/cache");
    EXPECT_EQ(rec.WarnAddressInList, "1");
    EXPECT_TRUE(rec.UseDefaultMessage);
    EXPECT_EQ(rec.ResponseAction, 1);
    EXPECT_EQ(rec.DatabaseAction, 1);

    Reg.OpenKey(OptionsKey, false);
    EXPECT_FALSE(Reg.ValueExists("WholeWordsOnly"));
    EXPECT_EQ(Reg.ReadString("ShowFilteredRule"), "1");
    EXPECT_EQ(Reg.ReadString("Standard Interface"), "0");
    EXPECT_EQ(Reg.ReadString("Use default message"), "-1");
    EXPECT_EQ(Reg.GetDataType("TimeOut"), TRegDataType::Integer);
}

TEST_F(OptionsTest, FlagsCountOnlyWhenExactlyOne)
{
    for (const char* text : {"1", "0", "01", " 1", "1 ", "yes", "true", ""}) {
        const TOptionRec rec = ReadWith("AutoReceive", text);
        EXPECT_EQ(IsOn(rec.AutoReceive), std::string(text) == "1") << '"' << text << '"';
    }
}

TEST_F(OptionsTest, UseDefaultMessageConversion)
{
    struct
    {
        const char* Text;
        bool Value;
    } cases[] = {{"0", false},     {"-1", true},     {"5", true},     {"TRUE", true}, {"true", true},
                 {"False", false}, {"fALSE", false}, {"maybe", true}, {"", true}};
    for (const auto& c : cases)
        EXPECT_EQ(ReadWith("Use default message", c.Text).UseDefaultMessage, c.Value) << '"' << c.Text << '"';
}

TEST_F(OptionsTest, ActionCodesThatAreNotNumbersReadAsOne)
{
    struct
    {
        const char* Text;
        int Value;
    } cases[] = {{"0", 0}, {"1", 1}, {"", 1}, {"spam", 1}, {"2", 2}, {" 0", 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(ReadWith("ResponseAction", c.Text).ResponseAction, c.Value) << '"' << c.Text << '"';
        EXPECT_EQ(ReadWith("DatabaseAction", c.Text).DatabaseAction, c.Value) << '"' << c.Text << '"';
    }
}

TEST_F(OptionsTest, HandEditedIndicesAreClampedIntoTheirTables)
{
    Reg.OpenKey(OptionsKey, false);
    Reg.WriteInteger("TimeOut", 99);
    Reg.WriteInteger("DownloadSpeed", -3);
    TOptionRec rec;
    ASSERT_TRUE(ReadOptions(Reg, rec));
    EXPECT_EQ(rec.TimeOut, 5);
    EXPECT_EQ(rec.DownloadSpeed, 0);
}

// One damaged value must not cost the user the others: each value that cannot be read takes its
// default and is named with the reason, every other one keeps its stored value.
TEST_F(OptionsTest, AnUnreadableValueTakesItsDefaultAndTheOthersKeepTheirs)
{
    Reg.OpenKey(OptionsKey, false);
    Reg.WriteString("AutoReceive", "1");
    Reg.WriteString("DownloadSpeed", "2"); // text where a number belongs
    Reg.WriteInteger("ClearCache", 0);     // a number where text belongs
    Reg.DeleteValue("CacheLimit");
    Reg.WriteString("CacheDir", "/mine");
    Reg.WriteString("DatabaseAction", "0");
    Reg.WriteInteger("ResponseAction", 0);
    TOptionRec rec;
    const TOptionsRead read = ReadOptionsReporting(Reg, rec, "/default-cache");
    EXPECT_TRUE(read.Found);
    EXPECT_FALSE(read.Complete());
    EXPECT_FALSE(ReadOptions(Reg, rec));

    EXPECT_EQ(rec.AutoReceive, "1");
    EXPECT_EQ(rec.CacheDir, "/mine");
    EXPECT_EQ(rec.DatabaseAction, 0);
    EXPECT_EQ(rec.DownloadSpeed, 0);
    EXPECT_EQ(rec.ClearCache, "1");
    EXPECT_EQ(rec.CacheLimit, 32);
    EXPECT_EQ(rec.ResponseAction, 1);

    struct TExpected
    {
        const char* Name;
        const char* Reason;
        const char* Default;
    };
    const TExpected expected[] = {
        {"DownloadSpeed", "it is not stored as a number", "0"},
        {"CacheLimit", "it is missing", "32"},
        {"ClearCache", "it is not stored as text", "1"},
        {"ResponseAction", "it is not stored as text", "1"},
    };
    ASSERT_EQ(read.Unreadable.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(read.Unreadable[i].Name, expected[i].Name);
        EXPECT_EQ(read.Unreadable[i].Reason, expected[i].Reason);
        EXPECT_EQ(read.Unreadable[i].Default, expected[i].Default);
    }
    EXPECT_EQ(UnreadableOptionText(read.Unreadable[1]),
              "The option \"CacheLimit\" could not be read from the settings (it is missing); its "
              "default \"32\" is used and stored instead.");
}

// Settings written before the address book option existed: it reads as empty (search the usual
// places) and the read counts as complete, so no notice is shown for it.
TEST_F(OptionsTest, AnAddressBookPathNeverWrittenReadsAsEmpty)
{
    Reg.OpenKey(OptionsKey, false);
    ASSERT_TRUE(Reg.DeleteValue("AddressBookPath"));
    TOptionRec rec;
    rec.AddressBookPath = "/before";
    const TOptionsRead read = ReadOptionsReporting(Reg, rec, "/cache");
    EXPECT_TRUE(read.Complete());
    EXPECT_EQ(rec.AddressBookPath, "");

    Reg.OpenKey(OptionsKey, false);
    Reg.WriteInteger("AddressBookPath", 7);
    ASSERT_FALSE(ReadOptionsReporting(Reg, rec, "/cache").Unreadable.empty());
    EXPECT_EQ(rec.AddressBookPath, "");
}

TEST_F(OptionsTest, MissingKeysReadAsFailure)
{
    TTempHome other(false);
    TRegistry empty(std::make_shared<TSettingsStore>(other / "settings.db"));
    TOptionRec rec;
    EXPECT_FALSE(ReadOptions(empty, rec));
    empty.CreateKey(TarnwickKey);
    EXPECT_FALSE(ReadOptions(empty, rec));
    EXPECT_EQ(rec, TOptionRec{});
}

TEST_F(OptionsTest, WriteOptionsStoresEveryFieldAndLeavesOtherValues)
{
    TOptionRec rec;
    ASSERT_TRUE(ReadOptions(Reg, rec));
    rec.WholeWordsOnly = "1";
    rec.TimeOut = 1;
    rec.DownloadSpeed = 4;
    rec.CacheDir = "/elsewhere";
    rec.UseDefaultMessage = false;
    rec.ResponseAction = 0;
    rec.ConfirmRemoveUser = "0";
    rec.AddressBookPath = "/home/me/Contacts Ä.vcf";
    WriteOptions(Reg, rec);

    TOptionRec back;
    ASSERT_TRUE(ReadOptions(Reg, back));
    EXPECT_EQ(back, rec);
    Reg.OpenKey(OptionsKey, false);
    EXPECT_EQ(Reg.ReadString("WholeWordsOnly"), "1");
    EXPECT_EQ(Reg.ReadString("Use default message"), "0");
    EXPECT_EQ(Reg.ReadString("ResponseAction"), "0");
    EXPECT_EQ(Reg.ReadString("ShowFilteredRule"), "1");
}
