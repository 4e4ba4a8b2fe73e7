#include "rules/TRuleFile.h"

#include <filesystem>
#include <sstream>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "accounts/TUser.h"
#include "core/TRegistry.h"
#include "rules/Errors.h"
#include "rules/TRuleListClass.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::rules;
using namespace tarnwick::core;
using tarnwick::accounts::TUser;
using tarnwick::accounts::TUserID;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

namespace {

std::string Le(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
            static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
}

TRulesCriteria ListCriterion(std::int32_t type, std::string list, std::int32_t logic = 0)
{
    TRulesCriteria c;
    c.Type = type;
    c.Logic = logic;
    c.ValueType = ValueList;
    c.ListValue = std::move(list);
    return c;
}

std::string ToBytes(const TRulestype& rule)
{
    std::stringstream stream;
    WriteRuleStream(rule, stream);
    return stream.str();
}

TRulestype FromBytes(const std::string& bytes)
{
    std::stringstream stream(bytes);
    TRulestype rule;
    ReadRuleStream(rule, stream, "memory");
    return rule;
}

// What a rule file carries of each criterion.
std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::string>>
Essentials(const TRulestype& rule)
{
    std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::string>> result;
    for (const auto& c : rule.Criteria)
        result.emplace_back(c.Flags, c.Logic, c.Type, c.ValueType, c.ListValue);
    return result;
}

} // namespace

TEST(RuleFileLayout, BytesOfHeaderAndBlocks)
{
    TRulestype oneEntry;
    oneEntry.Name = "R";
    oneEntry.Enabled = 1;
    oneEntry.Show = 1;
    oneEntry.Criteria = {ListCriterion(CriterionFrom, std::string("x\0", 2))};

    TRulestype andJoin;
    andJoin.Name = "AB";
    TRulesCriteria size;
    size.Type = CriterionSize;
    size.ValueType = ValueInteger;
    size.IntValue = 7;
    TRulesCriteria attachments;
    attachments.Type = CriterionAttachments;
    attachments.Logic = LogicAnd;
    andJoin.Criteria = {size, attachments};

    TRulestype text;
    text.Name = "";
    text.Version = 3;
    TRulesCriteria words;
    words.Type = CriterionSubject;
    words.ValueType = ValueText;
    words.TextValue = "hi";
    text.Criteria = {words};

    struct
    {
        const char* Name;
        TRulestype Rule;
        std::string Bytes;
    } cases[] = {
        {"one-entry from list: 21 header bytes, 22 block bytes", oneEntry,
         Le(1) + "R" + Le(1) + Le(1) + Le(0) + Le(1) + Le(0) + Le(0) + Le(12) + Le(65) + Le(2) +
             std::string("x\0", 2)},
        {"and-join written on the first block; attachments block has 16 bytes", andJoin,
         Le(2) + "AB" + Le(0) + Le(1) + Le(0) + Le(2) + Le(0) + Le(2) + Le(15) + Le(19) + Le(7) + Le(0) +
             Le(0) + Le(14) + Le(0)},
        {"empty name, text value", text,
         Le(0) + Le(0) + Le(1) + Le(3) + Le(1) + Le(0) + Le(0) + Le(8) + Le(30) + Le(2) + "hi"},
    };
    for (const auto& c : cases) {
        const std::string bytes = ToBytes(c.Rule);
        EXPECT_EQ(bytes, c.Bytes) << c.Name;
        const TRulestype back = FromBytes(bytes);
        EXPECT_EQ(back.Name, c.Rule.Name) << c.Name;
        EXPECT_EQ(back.Enabled, c.Rule.Enabled) << c.Name;
        EXPECT_EQ(back.Show, c.Rule.Show) << c.Name;
        EXPECT_EQ(back.Version, c.Rule.Version) << c.Name;
        ASSERT_EQ(back.Criteria.size(), c.Rule.Criteria.size()) << c.Name;
        for (std::size_t i = 0; i < back.Criteria.size(); ++i) {
            EXPECT_EQ(back.Criteria[i].Logic, c.Rule.Criteria[i].Logic) << c.Name << " criterion " << i;
            EXPECT_EQ(back.Criteria[i].Type, c.Rule.Criteria[i].Type) << c.Name;
            EXPECT_EQ(back.Criteria[i].ValueType, c.Rule.Criteria[i].ValueType) << c.Name;
            EXPECT_EQ(back.Criteria[i].ListValue, c.Rule.Criteria[i].ListValue) << c.Name;
            EXPECT_EQ(back.Criteria[i].TextValue, c.Rule.Criteria[i].TextValue) << c.Name;
            EXPECT_FALSE(back.Criteria[i].ValueSet);
        }
    }
    EXPECT_EQ(ToBytes(oneEntry).size(), 21u + 22u);
}

TEST(RuleFileLayout, WindowsNamesAreTakenAsWindows1252)
{
    const std::string bytes = Le(4) + "Caf\xE9" + Le(1) + Le(1) + Le(0) + Le(0);
    EXPECT_EQ(FromBytes(bytes).Name, "Caf\xC3\xA9");
}

TEST(RuleFileLayout, ShortOrImpossibleFilesAreRefusedWithAClearError)
{
    const std::string header = Le(1) + "R" + Le(1) + Le(1) + Le(0);
    struct
    {
        const char* Name;
        std::string Bytes;
        const char* Message;
    } cases[] = {
        {"empty file", "", "ends inside its name length"},
        {"name longer than the file", Le(100) + "abc", "shorter than its name of 100 bytes"},
        {"huge name length", Le(0x7FFFFFFF), "shorter than its name"},
        {"negative name length", Le(-5) + "abc", "impossible length -5"},
        {"header cut short", Le(1) + "R" + Le(1) + Le(1), "ends inside its Version value"},
        {"count larger than the blocks", header + Le(2) + Le(0) + Le(0) + Le(14) + Le(0),
         "ends inside its criterion flags"},
        {"huge count", header + Le(0x7FFFFFFF), "ends inside its criterion flags"},
        {"negative count", header + Le(-1), "negative"},
        {"list longer than the file", header + Le(1) + Le(0) + Le(0) + Le(12) + Le(65) + Le(10) + "ab",
         "shorter than its list value of 10 bytes"},
        {"list longer than a rule holds", header + Le(1) + Le(0) + Le(0) + Le(12) + Le(65) + Le(5000),
         "longer than the 2049 bytes"},
        {"text block cut in its length", header + Le(1) + Le(0) + Le(0) + Le(8) + Le(30) + "\x01",
         "ends inside its text length"},
        // Windows-1252 lists are measured as the UTF-8 they are stored and written as.
        {"Windows-1252 list one byte too long as UTF-8",
         header + Le(1) + Le(0) + Le(0) + Le(12) + Le(65) + Le(1026) + std::string(1024, '\xE9') +
             std::string(2, '\0'),
         "its list of 1026 bytes is 2050 bytes as UTF-8, longer than the 2049 bytes"},
        {"euro signs three times as long as UTF-8",
         header + Le(1) + Le(0) + Le(0) + Le(12) + Le(65) + Le(700) + std::string(700, '\x80'),
         "its list of 700 bytes is 2100 bytes as UTF-8"},
    };
    for (const auto& c : cases) {
        try {
            FromBytes(c.Bytes);
            ADD_FAILURE() << c.Name << ": no error";
        } catch (const TRuleFileError& e) {
            EXPECT_THAT(e.what(), HasSubstr("\"memory\" cannot be read")) << c.Name;
            EXPECT_THAT(e.what(), HasSubstr(c.Message)) << c.Name;
        }
    }
}

TEST(RuleFileLayout, ListsThatFitAsUtf8RoundTripThroughFileAndStore)
{
    struct
    {
        const char* Name;
        std::string Raw;  // the list as the file holds it
        std::string Utf8; // the list as it is read
    } cases[] = {
        {"2049 bytes of UTF-8 as they are", std::string(2048, 'a') + '\0', std::string(2048, 'a') + '\0'},
        {"Windows-1252 growing to exactly 2049 bytes", std::string(1024, '\xE9') + '\0',
         [] {
             std::string utf8;
             for (int i = 0; i < 1024; ++i)
                 utf8 += "\xC3\xA9";
             return utf8 + '\0';
         }()},
        {"euro signs growing to 2049 bytes", std::string(683, '\x80'),
         [] {
             std::string utf8;
             for (int i = 0; i < 683; ++i)
                 utf8 += "\xE2\x82\xAC";
             return utf8;
         }()},
    };
    for (const auto& c : cases) {
        const std::string header = Le(1) + "R" + Le(1) + Le(1) + Le(0) + Le(1);
        const std::string file =
            header + Le(0) + Le(0) + Le(12) + Le(65) + Le(static_cast<std::int32_t>(c.Raw.size())) + c.Raw;
        const TRulestype read = FromBytes(file);
        ASSERT_EQ(read.Criteria.size(), 1u) << c.Name;
        EXPECT_EQ(read.Criteria[0].ListValue, c.Utf8) << c.Name;
        ASSERT_EQ(read.Criteria[0].ListValue.size(), MaxListBytes) << c.Name;
        EXPECT_EQ(FromBytes(ToBytes(read)), read) << c.Name << ": written and read again";

        TTempHome home(false);
        TRegistry reg(std::make_shared<TSettingsStore>(home / "settings.db"));
        TRuleClass rule;
        static_cast<TRulestype&>(rule) = read;
        EXPECT_NO_THROW(SaveRule(reg, rule, "\\Rules\\000", true)) << c.Name;
    }
}

TEST(RuleFileLayout, FuzzedFileWhoseListGrowsPastTheLimitAsUtf8IsRefusedNamingIt)
{
    // Found by rule_file_fuzz: the 2048-byte list of its 33rd criterion is not UTF-8 and grows to
    // 2717 bytes as Windows-1252 text, which no rule can store or write again.
    const std::string file = tarnwick::test::Fixture("rules/Windows1252ListGrowsPastTheLimitAsUtf8.tkf");
    TRulestype rule;
    try {
        ReadRuleFile(rule, file);
        FAIL() << "the file was accepted";
    } catch (const TRuleFileError& e) {
        EXPECT_THAT(e.what(), HasSubstr("The rule file \"" + file + "\" cannot be read"));
        EXPECT_THAT(e.what(),
                    HasSubstr("its list of 2048 bytes is 2717 bytes as UTF-8, longer than the 2049"));
    }
}

class RuleFileFolderTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::shared_ptr<TSettingsStore> Store = std::make_shared<TSettingsStore>(Home / "settings.db");
    TRegistry Reg{Store};
    TScriptedPrompter Prompter;
    TUser User{[] {
        TUserID id;
        id.KeyName = "ABCDE";
        id.DisplayName = "Main";
        return id;
    }()};

    TRuleClass& Add(const std::string& name, std::vector<TRulesCriteria> criteria)
    {
        TRuleClass& rule = AddNewRule(Reg, RulesOf(User), User.ID());
        rule.Name = name;
        rule.Enabled = 1;
        rule.Criteria = std::move(criteria);
        SaveRule(Reg, rule, rule.KeyPath, true);
        return rule;
    }
    std::vector<std::string> StoredRuleKeys()
    {
        Reg.OpenKey(RulesKeyOf(User.ID()), true);
        return Reg.GetKeyNames();
    }
};

TEST_F(RuleFileFolderTest, ExportedFolderImportsWithAndWithoutTrailingSeparator)
{
    Add("Alpha", {ListCriterion(CriterionFrom, JoinList({"a"})),
                  ListCriterion(CriterionSubject, JoinList({"b"}), LogicAnd)});
    Add("Beta", {ListCriterion(CriterionTo, JoinList({"c"}))});
    Add("Gamma", {ListCriterion(CriterionCc, JoinList({"d"}))});
    const std::string folder = Home / "export/deeper";
    const TRuleFileResult exported = ExportRules(Prompter, &User, folder, true);
    EXPECT_EQ(exported.Done, 3);
    EXPECT_TRUE(exported.Errors.empty());
    WriteFileBytes(folder + "/notes.txt", "not a rule file");

    for (const std::string& path : {folder, folder + "/"}) {
        TUserID otherId;
        otherId.KeyName = path.back() == '/' ? "SLASH" : "PLAIN";
        TUser other(otherId);
        const TRuleFileResult imported = ImportRuleFiles(Reg, Prompter, other, path);
        EXPECT_EQ(imported.Done, 3) << path;
        Reg.OpenKey(RulesKeyOf(otherId), false);
        EXPECT_THAT(Reg.GetKeyNames(), ElementsAre("000", "001", "002")) << path;
        TRuleListClass loaded;
        LoadRules(Reg, Prompter, loaded, otherId);
        ASSERT_EQ(loaded.Count(), 3);
        EXPECT_EQ(loaded.At(0).Name, "Alpha") << "the name stored in the file replaces \"New Rule #1\"";
        EXPECT_EQ(Essentials(loaded.At(0)), Essentials(RulesOf(User).At(0)));
        EXPECT_EQ(loaded.At(0).Criteria[1].Logic, LogicAnd);
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(RuleFileFolderTest, ImportOfOneFileAndOfPathsThatAreNeither)
{
    Add("Keep", {ListCriterion(CriterionFrom, JoinList({"a"}))});
    const std::string file = Home / "single.TKF";
    WriteRuleFile(RulesOf(User).At(0), file);
    EXPECT_EQ(ImportRuleFiles(Reg, Prompter, User, file).Done, 1);
    EXPECT_EQ(ImportRuleFiles(Reg, Prompter, User, Home / "missing").Done, 0);
    EXPECT_EQ(ImportRuleFiles(Reg, Prompter, User, "").Done, 0);
    EXPECT_THAT(StoredRuleKeys(), ElementsAre("000", "001"));
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(RuleFileFolderTest, ABrokenFileIsReportedAndTheOthersStillImport)
{
    const std::string folder = Home / "in";
    std::filesystem::create_directories(folder + "/dir.tkf");
    Add("Good", {ListCriterion(CriterionFrom, JoinList({"a"}))});
    WriteRuleFile(RulesOf(User).At(0), folder + "/b.tkf");
    WriteFileBytes(folder + "/a.tkf", Le(1) + "R" + Le(1));
    TUserID targetId;
    targetId.KeyName = "OTHER";
    TUser target(targetId);
    const TRuleFileResult result = ImportRuleFiles(Reg, Prompter, target, folder);
    EXPECT_EQ(result.Done, 1);
    ASSERT_EQ(result.Errors.size(), 2u);
    EXPECT_THAT(result.Errors[0], HasSubstr("a.tkf\" cannot be read: the file ends inside its Show value"));
    EXPECT_THAT(result.Errors[1], HasSubstr("dir.tkf\" cannot be read: it is a folder"));
    EXPECT_EQ(Prompter.Log.size(), 2u);
    EXPECT_EQ(RulesOf(target).Count(), 1) << "the failed imports leave no rule behind";
    Reg.OpenKey(RulesKeyOf(targetId), false);
    EXPECT_THAT(Reg.GetKeyNames(), ElementsAre("000"));
}

TEST_F(RuleFileFolderTest, AListTooLongToStoreIsRefusedAtImportAndTheOthersImport)
{
    const std::string folder = Home / "fuzzed";
    std::filesystem::create_directories(folder);
    const std::string grown = folder + "/grown.tkf";
    WriteFileBytes(
        grown, ReadFileBytes(tarnwick::test::Fixture("rules/Windows1252ListGrowsPastTheLimitAsUtf8.tkf")));
    TRulestype good;
    good.Name = "Good";
    good.Criteria = {ListCriterion(CriterionFrom, JoinList({"a"}))};
    WriteRuleFile(good, folder + "/good.tkf");

    const TRuleFileResult result = ImportRuleFiles(Reg, Prompter, User, folder);
    EXPECT_EQ(result.Done, 1);
    ASSERT_EQ(result.Errors.size(), 1u);
    EXPECT_THAT(result.Errors[0],
                HasSubstr("\"" + grown + "\" cannot be read: its list of 2048 bytes is 2717"));
    EXPECT_THAT(StoredRuleKeys(), ElementsAre("000"));
    ASSERT_EQ(RulesOf(User).Count(), 1);
    EXPECT_EQ(RulesOf(User).At(0).Name, "Good");
}

TEST_F(RuleFileFolderTest, ExportReportsUnwritableNamesAndWritesTheRest)
{
    Add("a/b", {ListCriterion(CriterionFrom, JoinList({"a"}))});
    Add("../escape", {ListCriterion(CriterionFrom, JoinList({"a"}))});
    Add(std::string(300, 'n'), {ListCriterion(CriterionFrom, JoinList({"a"}))});
    Add("fine", {ListCriterion(CriterionFrom, JoinList({"a"}))});
    const std::string folder = Home / "out";
    const TRuleFileResult result = ExportRules(Prompter, &User, folder, true);
    EXPECT_EQ(result.Done, 1);
    ASSERT_EQ(result.Errors.size(), 3u);
    EXPECT_THAT(result.Errors[0], HasSubstr("\"a/b\" cannot be exported"));
    EXPECT_THAT(result.Errors[2], HasSubstr("cannot be created"));
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path().filename().string());
    EXPECT_THAT(files, ElementsAre("fine.tkf"));
    EXPECT_FALSE(std::filesystem::exists(Home / "escape.tkf"));
}

TEST_F(RuleFileFolderTest, ExportFolderQuestionAndNoAccount)
{
    Add("R", {ListCriterion(CriterionFrom, JoinList({"a"}))});
    struct
    {
        const char* Name;
        bool Create;
        std::vector<TAnswer> Answers;
        int Written;
        std::size_t Questions;
    } cases[] = {
        {"check box ticked", true, {}, 1, 0},
        {"answered yes", false, {TAnswer::Yes}, 1, 1},
        {"answered no", false, {TAnswer::No}, 0, 1},
    };
    for (const auto& c : cases) {
        const std::string folder = Home / (std::string("q/") + c.Name);
        TScriptedPrompter prompter(c.Answers);
        EXPECT_EQ(ExportRules(prompter, &User, folder, c.Create).Done, c.Written) << c.Name;
        ASSERT_EQ(prompter.Log.size(), c.Questions) << c.Name;
        if (c.Questions) {
            EXPECT_EQ(prompter.Log[0].Text, "The specified directory does not exist. Create it?");
        }
        EXPECT_EQ(std::filesystem::exists(folder + "/R.tkf"), c.Written == 1) << c.Name;
    }
    TScriptedPrompter prompter;
    EXPECT_EQ(ExportRules(prompter, nullptr, Home / "x", true).Done, 0);
    ASSERT_EQ(prompter.Log.size(), 1u);
    EXPECT_EQ(prompter.Log[0].Text, "You have to create an account in order to save rules !");
    EXPECT_EQ(ExportRules(prompter, &User, "", true).Done, 0);
}
