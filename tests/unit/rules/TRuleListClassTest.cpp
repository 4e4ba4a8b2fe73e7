#include "rules/TRuleListClass.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/TRegFile.h"
#include "core/TRegistry.h"
#include "rules/Errors.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::rules;
using namespace tarnwick::core;
using tarnwick::accounts::TUser;
using tarnwick::accounts::TUserID;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr const char* RulesPath = "\\Software\\Orvalent\\Tarnwick\\Acounts\\ABCDE\\Rules";
const std::string Rules = std::string("HKEY_CURRENT_USER") + RulesPath;

class RuleStoreTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::shared_ptr<TSettingsStore> Store = std::make_shared<TSettingsStore>(Home / "settings.db");
    TRegistry Reg{Store};
    TScriptedPrompter Prompter;
    TUserID Id = [] {
        TUserID id;
        id.KeyName = "ABCDE";
        return id;
    }();
    TRuleListClass List;

    void Import(const std::string& body)
    {
        TRegFile::Import(Reg, "Windows Registry Editor Version 5.00\r\n\r\n" + body, "test");
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& entry : Prompter.Log)
            texts.push_back(entry.Text);
        return texts;
    }
    std::vector<std::int32_t> StoredLogic(const std::string& rulePath)
    {
        std::vector<std::int32_t> logic;
        Reg.OpenKey(rulePath + "\\Criteria", false);
        for (const auto& name : Reg.GetKeyNames()) {
            Reg.OpenKey(rulePath + "\\Criteria\\" + name, false);
            logic.push_back(Reg.ReadInteger("Logic"));
        }
        return logic;
    }
};

std::string
Criterion(const std::string& rule, const std::string& key, int logic, int type,
          const std::string& extra = "\"ValueType\"=dword:00000013\r\n\"Value\"=dword:00000001\r\n")
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", type);
    return std::string("[") + Rules + "\\" + rule + "\\Criteria\\" + key +
           "]\r\n\"Flags\"=dword:00000000\r\n" + "\"Logic\"=dword:0000000" + std::to_string(logic) +
           "\r\n\"Type\"=dword:" + hex + "\r\n" + extra + "\r\n";
}

std::string RuleKey(const std::string& rule, const std::string& name, bool withShow = true)
{
    return std::string("[") + Rules + "\\" + rule + "]\r\n\"Name\"=\"" + name +
           "\"\r\n\"Enabled\"=dword:00000001\r\n\"Version\"=dword:00000000\r\n" +
           (withShow ? "\"Show\"=dword:00000001\r\n" : "") + "\r\n";
}

} // namespace

TEST(RuleKeyNumbers, FormatKeyNumberPadsUpperCaseHex)
{
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "000"},
        {10, "00A"},
        {26, "01A"},
        {255, "0FF"},
        {4095, "FFF"},
        {4096, "1000"},
        {0x7FFFFFFF, "7FFFFFFF"},
    };
    for (const auto& [n, text] : cases)
        EXPECT_EQ(FormatKeyNumber(n), text) << n;
}

TEST(RuleLists, EditorLinesJoinAndSplitWithNulSeparators)
{
    const std::string stored = JoinList({"a", "", "b"});
    EXPECT_EQ(stored, std::string("a\0\0b\0\0\0", 7));
    EXPECT_THAT(SplitList(stored), ElementsAre("a", "b"));
    // Text after the last NUL is no entry; a list without any NUL has none.
    EXPECT_THAT(SplitList(std::string("x\0tail", 6)), ElementsAre("x"));
    EXPECT_TRUE(SplitList("no separator").empty());
}

TEST_F(RuleStoreTest, StoredJoinsShiftOntoTheNextCriterionAndBackOnSave)
{
    Import(RuleKey("000", "Shift", false) + Criterion("000", "000", 1, 15) + Criterion("000", "001", 1, 14) +
           Criterion("000", "002", 0, 13));
    LoadRules(Reg, Prompter, List, Id);
    ASSERT_EQ(List.Count(), 1);
    const TRuleClass& rule = List.At(0);
    EXPECT_EQ(rule.Show, 1) << "a rule key without Show loads with Show 1";
    std::vector<std::int32_t> logic;
    for (const auto& c : rule.Criteria)
        logic.push_back(c.Logic);
    EXPECT_THAT(logic, ElementsAre(0, 1, 1));

    SaveRule(Reg, rule, rule.KeyPath, true);
    EXPECT_THAT(StoredLogic(rule.KeyPath), ElementsAre(1, 1, 0));
    Reg.OpenKey(rule.KeyPath, false);
    EXPECT_EQ(Reg.ReadInteger("Show"), 1);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(RuleStoreTest, UnknownCriterionIsReportedDeletedAndItsJoinCarriedOn)
{
    // The second key has an unknown type and the stored join 2 ("and" with the third).
    Import(RuleKey("000", "Mixed") + Criterion("000", "000", 1, 15) + Criterion("000", "001", 2, 99) +
           Criterion("000", "002", 0, 14));
    LoadRules(Reg, Prompter, List, Id);
    EXPECT_THAT(Messages(), ElementsAre("Mixed\n\nThis Rule contains an unknown criteria!"));
    EXPECT_EQ(Prompter.Log[0].Kind, TMessageKind::Error);
    ASSERT_EQ(List.Count(), 1);
    const auto& criteria = List.At(0).Criteria;
    ASSERT_EQ(criteria.size(), 2u);
    EXPECT_EQ(criteria[0].Type, 15);
    EXPECT_EQ(criteria[1].Type, 14);
    EXPECT_EQ(criteria[1].Logic, 2) << "the third criterion takes the join stored on the deleted key";
    EXPECT_EQ(criteria[1].KeyNumber, 2);
    EXPECT_FALSE(Reg.KeyExists(std::string(RulesPath) + "\\000\\Criteria\\001"));
}

TEST_F(RuleStoreTest, RuleWithoutValidCriteriaIsReportedAndDeleted)
{
    Import(RuleKey("000", "OnlyUnknown") + Criterion("000", "000", 0, 3) + RuleKey("001", "Empty") +
           RuleKey("002", "Good") + Criterion("002", "000", 0, 14));
    LoadRules(Reg, Prompter, List, Id);
    EXPECT_THAT(Messages(), ElementsAre("OnlyUnknown\n\nThis Rule contains an unknown criteria!",
                                        "OnlyUnknown\n\nThis Rule contains no valid criteria!",
                                        "Empty\n\nThis Rule contains no valid criteria!"));
    ASSERT_EQ(List.Count(), 1);
    EXPECT_EQ(List.At(0).Name, "Good");
    EXPECT_FALSE(Reg.KeyExists(std::string(RulesPath) + "\\000"));
    EXPECT_FALSE(Reg.KeyExists(std::string(RulesPath) + "\\001"));
}

TEST_F(RuleStoreTest, ValuesAreReadByTheirValueType)
{
    struct
    {
        const char* Extra;
        int ValueType;
        bool ValueSet;
        std::int32_t IntValue;
        std::string Text;
        std::string List;
    } cases[] = {
        {"\"ValueType\"=dword:00000013\r\n\"Value\"=dword:ffffffff\r\n", 19, false, -1, "", ""},
        {"\"ValueType\"=dword:00000013\r\n\"Value\"=dword:00000000\r\n", 19, true, 0, "", ""},
        {"\"ValueType\"=dword:0000001e\r\n\"Value\"=\"words\"\r\n", 30, true, 0, "words", ""},
        {"\"ValueType\"=dword:0000001e\r\n\"Value\"=\"\"\r\n", 30, false, 0, "", ""},
        {"\"ValueType\"=dword:00000041\r\n\"Value\"=hex:61,00,00,62,00\r\n", 65, true, 0, "",
         std::string("a\0\0b\0", 5)},
        // No value kind: the criterion stays, not set.
        {"", 0, false, 0, "", ""},
        // A value kind without a value reads as not set.
        {"\"ValueType\"=dword:00000013\r\n", 19, false, -1, "", ""},
    };
    for (const auto& c : cases) {
        TRuleListClass list;
        Reg.DeleteKey(std::string("\\Software\\Orvalent\\Tarnwick\\Acounts"));
        Import(RuleKey("000", "V") + Criterion("000", "000", 0, 12, c.Extra));
        LoadRules(Reg, Prompter, list, Id);
        ASSERT_EQ(list.Count(), 1) << c.Extra;
        const TRulesCriteria& got = list.At(0).Criteria.at(0);
        EXPECT_EQ(got.ValueType, c.ValueType) << c.Extra;
        EXPECT_EQ(got.ValueSet, c.ValueSet) << c.Extra;
        if (c.ValueType == 19) {
            EXPECT_EQ(got.IntValue, c.IntValue) << c.Extra;
        }
        EXPECT_EQ(got.TextValue, c.Text) << c.Extra;
        EXPECT_EQ(got.ListValue, c.List) << c.Extra;
    }
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(RuleStoreTest, UnreadableValuesSkipTheCriterionOrRuleWithAMessageAndTheLoadGoesOn)
{
    struct
    {
        std::string Keys;
        int Rules;        // rules loaded besides "Fine"
        int Criteria;     // criteria of the first rule when it loads
        const char* Text; // part of the message
        bool RuleKeyKept; // the damaged rule's key is still there
    } cases[] = {
        // Flags missing in the first criterion: it is left out, the second loads.
        {RuleKey("000", "R") + "[" + Rules +
             "\\000\\Criteria\\000]\r\n\"Logic\"=dword:00000000\r\n\"Type\"=dword:0000000e\r\n\r\n" +
             Criterion("000", "001", 0, 14),
         1, 1, "A criterion of this rule cannot be read", true},
        // Type stored as text.
        {RuleKey("000", "R") + "[" + Rules +
             "\\000\\Criteria\\000]\r\n\"Flags\"=dword:00000000\r\n\"Logic\"=dword:00000000\r\n\"Type\"="
             "\"14\"\r\n\r\n" +
             Criterion("000", "001", 0, 14),
         1, 1, "A criterion of this rule cannot be read", true},
        // An integer value stored as text.
        {RuleKey("000", "R") +
             Criterion("000", "000", 0, 15, "\"ValueType\"=dword:00000013\r\n\"Value\"=\"1\"\r\n") +
             Criterion("000", "001", 0, 14),
         1, 1, "A criterion of this rule cannot be read", true},
        // A list longer than a rule may hold.
        {RuleKey("000", "R") +
             Criterion(
                 "000", "000", 0, 12,
                 "\"ValueType\"=dword:00000041\r\n\"Value\"=hex:" +
                     [] {
                         std::string hex;
                         for (int i = 0; i < 2050; ++i)
                             hex += i ? ",61" : "61";
                         return hex;
                     }() +
                     "\r\n") +
             Criterion("000", "001", 0, 14),
         1, 1, "longer than 2049 bytes", true},
        // Enabled missing: the rule is left out, its key kept.
        {std::string("[") + Rules + "\\000]\r\n\"Name\"=\"R\"\r\n\"Version\"=dword:00000000\r\n\r\n" +
             Criterion("000", "000", 0, 14),
         0, 0, "R\n\nThis Rule cannot be read", true},
    };
    for (const auto& c : cases) {
        Reg.DeleteKey(std::string("\\Software\\Orvalent\\Tarnwick\\Acounts"));
        Import(c.Keys + RuleKey("001", "Fine") + Criterion("001", "000", 0, 14));
        TScriptedPrompter prompter;
        TRuleListClass list;
        ASSERT_NO_THROW(LoadRules(Reg, prompter, list, Id)) << c.Text;
        ASSERT_EQ(list.Count(), c.Rules + 1) << c.Text;
        EXPECT_EQ(list.At(list.Rules.size() - 1).Name, "Fine");
        if (c.Rules > 0) {
            EXPECT_EQ(list.At(0).Criteria.size(), static_cast<std::size_t>(c.Criteria)) << c.Text;
        }
        ASSERT_EQ(prompter.Log.size(), 1u) << c.Text;
        EXPECT_THAT(prompter.Log[0].Text, HasSubstr(c.Text));
        EXPECT_EQ(Reg.KeyExists(std::string(RulesPath) + "\\000"), c.RuleKeyKept) << c.Text;
    }
}

TEST_F(RuleStoreTest, RuleWhoseCriteriaAreAllUnreadableIsReportedLeftOutAndKeptAsStored)
{
    const std::string key = std::string("[") + Rules + "\\000\\Criteria\\";
    const std::string longList = "\"ValueType\"=dword:00000041\r\n\"Value\"=hex:" + [] {
        std::string hex;
        for (int i = 0; i < 2050; ++i)
            hex += i ? ",61" : "61";
        return hex;
    }() + "\r\n";
    struct
    {
        const char* Name;
        std::string Criteria; // the criterion keys of rule "R"
        std::size_t Unreadable;
        std::size_t Unknown;
    } cases[] = {
        {"Flags missing", key + "000]\r\n\"Logic\"=dword:00000000\r\n\"Type\"=dword:0000000e\r\n\r\n", 1, 0},
        {"Logic missing", key + "000]\r\n\"Flags\"=dword:00000000\r\n\"Type\"=dword:0000000e\r\n\r\n", 1, 0},
        {"Type stored as text",
         key + "000]\r\n\"Flags\"=dword:00000000\r\n\"Logic\"=dword:00000000\r\n\"Type\"=\"14\"\r\n\r\n", 1,
         0},
        {"ValueType stored as text",
         Criterion("000", "000", 0, 15, "\"ValueType\"=\"19\"\r\n\"Value\"=dword:00000001\r\n"), 1, 0},
        {"integer value stored as text",
         Criterion("000", "000", 0, 15, "\"ValueType\"=dword:00000013\r\n\"Value\"=\"1\"\r\n"), 1, 0},
        {"list longer than a rule holds", Criterion("000", "000", 0, 12, longList), 1, 0},
        {"two criteria, neither readable",
         key + "000]\r\n\"Logic\"=dword:00000001\r\n\"Type\"=dword:0000000e\r\n\r\n" +
             Criterion("000", "001", 0, 15, "\"ValueType\"=dword:00000013\r\n\"Value\"=hex:01\r\n"),
         2, 0},
        // The criterion of unknown type is reported, but its key stays with the rule left out.
        {"an unreadable criterion beside one of unknown type",
         Criterion("000", "000", 2, 99) + Criterion("000", "001", 0, 12, longList), 1, 1},
    };
    for (const auto& c : cases) {
        Reg.DeleteKey(std::string("\\Software\\Orvalent\\Tarnwick\\Acounts"));
        Import(RuleKey("000", "R") + c.Criteria + RuleKey("001", "Fine") + Criterion("001", "000", 0, 14));
        const std::string stored = TRegFile::Export(Reg, std::string(RulesPath) + "\\000");
        TScriptedPrompter prompter;
        TRuleListClass list;
        ASSERT_NO_THROW(LoadRules(Reg, prompter, list, Id)) << c.Name;
        ASSERT_EQ(list.Count(), 1) << c.Name;
        EXPECT_EQ(list.At(0).Name, "Fine") << c.Name;
        EXPECT_EQ(TRegFile::Export(Reg, std::string(RulesPath) + "\\000"), stored)
            << c.Name << ": the rule left out is stored as it was";

        std::size_t unreadable = 0;
        std::size_t unknown = 0;
        for (const auto& entry : prompter.Log) {
            EXPECT_EQ(entry.Kind, TMessageKind::Error) << c.Name;
            unreadable += entry.Text.starts_with("R\n\nA criterion of this rule cannot be read (key 00");
            unknown += entry.Text == std::string("R") + UnknownCriteriaText;
        }
        EXPECT_EQ(unreadable, c.Unreadable) << c.Name;
        EXPECT_EQ(unknown, c.Unknown) << c.Name;
        ASSERT_EQ(prompter.Log.size(), c.Unreadable + c.Unknown + 1) << c.Name;
        EXPECT_EQ(
            prompter.Log.back().Text,
            "R\n\nNo criterion of this Rule can be read. The Rule is left out and kept as it is stored.")
            << c.Name;
    }
}

TEST_F(RuleStoreTest, SaveRefusesAListLongerThanTheStoreHoldsAndWritesNothing)
{
    TRuleClass rule;
    rule.Name = "Long";
    TRulesCriteria c;
    c.Type = CriterionFrom;
    c.ValueType = ValueList;
    c.ListValue = std::string(2049, 'a');
    rule.Criteria.push_back(c);
    const std::string path = std::string("\\Software\\Orvalent\\Tarnwick\\Acounts\\ABCDE\\Rules\\000");
    EXPECT_TRUE(SaveRule(Reg, rule, path, true)) << "2049 bytes is the limit itself";
    Reg.OpenKey(path + "\\Criteria\\000", false);
    EXPECT_EQ(Reg.GetDataSize("Value"), 2049);

    rule.Name = "Longer";
    rule.Criteria[0].ListValue += 'b';
    try {
        SaveRule(Reg, rule, path, true);
        FAIL() << "a 2050-byte list was saved";
    } catch (const TRuleError& e) {
        EXPECT_THAT(e.what(), HasSubstr("2050 bytes"));
    }
    Reg.OpenKey(path, false);
    EXPECT_EQ(Reg.ReadString("Name"), "Long") << "nothing of the refused rule was written";
    Reg.OpenKey(path + "\\Criteria\\000", false);
    EXPECT_EQ(Reg.GetDataSize("Value"), 2049);
}

TEST_F(RuleStoreTest, NewRulesTakeTheFirstFreeKeyNumber)
{
    struct
    {
        std::vector<std::string> Existing;
        const char* Next;
    } cases[] = {
        {{}, "000"},
        {{"000", "001", "003"}, "002"},
        {{"001"}, "000"},
        // Names compare as the store compares them: "00a" is the key of 10, and "00b" of 11.
        {{"000", "001", "002", "003", "004", "005", "006", "007", "008", "009", "00a"}, "00B"},
        {{"000", "001", "002", "003", "004", "005", "006", "007", "008", "009", "00a", "00b"}, "00C"},
        {{"00a"}, "000"},
    };
    for (const auto& c : cases) {
        Reg.DeleteKey("\\Software\\Orvalent\\Tarnwick\\Acounts");
        for (const auto& name : c.Existing)
            Reg.CreateKey(RulesKeyOf(Id) + "\\" + name);
        EXPECT_EQ(FormatKeyNumber(NextFreeKeyNumber(Reg, Id)), c.Next);
    }
    Reg.DeleteKey("\\Software\\Orvalent\\Tarnwick\\Acounts");
    for (int n = 0; n <= 0xFF; ++n)
        Reg.CreateKey(RulesKeyOf(Id) + "\\" + FormatKeyNumber(n));
    EXPECT_EQ(FormatKeyNumber(NextFreeKeyNumber(Reg, Id)), "100");
}

TEST_F(RuleStoreTest, ANewRuleNeverTakesTheKeyOfAStoredRuleWrittenInOtherCase)
{
    // Rules brought in from elsewhere (a .reg file, another program) may have lower-case key names.
    std::string keys;
    for (int n = 0; n < 10; ++n)
        keys += RuleKey(FormatKeyNumber(n), "R" + std::to_string(n)) +
                Criterion(FormatKeyNumber(n), "000", 0, 14);
    Import(keys + RuleKey("00a", "Lower") + Criterion("00a", "000", 0, 14));
    LoadRules(Reg, Prompter, List, Id);
    ASSERT_EQ(List.Count(), 11);

    TRuleClass& added = AddNewRule(Reg, List, Id);
    added.Criteria.push_back(List.At(0).Criteria.at(0));
    SaveRule(Reg, added, added.KeyPath, true);
    // A second new rule, not yet saved, does not share the first one's key either.
    TRuleClass& second = AddNewRule(Reg, List, Id);
    EXPECT_EQ(added.KeyPath, RulesKeyOf(Id) + "\\00B");
    EXPECT_EQ(second.KeyPath, RulesKeyOf(Id) + "\\00C");

    TRuleListClass again;
    LoadRules(Reg, Prompter, again, Id);
    ASSERT_EQ(again.Count(), 12);
    EXPECT_EQ(again.At(10).Name, "Lower") << "the rule under \"00a\" is still there";
    EXPECT_EQ(again.At(11).Name, added.Name);
    EXPECT_TRUE(Prompter.Log.empty());
}

TEST_F(RuleStoreTest, NewRuleNamesFillTheFirstGap)
{
    for (const char* name : {"New Rule #1", "New Rule #3", "new rule #2"}) {
        List.Rules.push_back(std::make_unique<TRuleClass>());
        List.Rules.back()->Name = name;
    }
    TRuleClass& added = AddNewRule(Reg, List, Id);
    EXPECT_EQ(added.Name, "New Rule #2");
    EXPECT_EQ(List.Current, &added);
    EXPECT_EQ(added.Show, 0);
    EXPECT_EQ(added.KeyPath, RulesKeyOf(Id) + "\\000");
    EXPECT_FALSE(Reg.KeyExists(added.KeyPath)) << "a new rule reaches the store only when saved";
    EXPECT_EQ(AddNewRule(Reg, List, Id).Name, "New Rule #4");
}

TEST_F(RuleStoreTest, RulesKeyFollowsTheAccountKeyName)
{
    EXPECT_EQ(RulesKeyOf(Id), "\\Software\\Orvalent\\Tarnwick\\Acounts\\ABCDE\\Rules");
    EXPECT_EQ(RulesKeyOf(TUserID{}), "\\Software\\Orvalent\\Tarnwick\\Acounts\\Rules");
}

TEST_F(RuleStoreTest, EnablingDeletingAndTheCheckList)
{
    Import(RuleKey("000", "A") + Criterion("000", "000", 0, 14) + RuleKey("001", "B") +
           Criterion("001", "000", 0, 14));
    TUser user(Id);
    TRuleListClass& list = RulesOf(user);
    EXPECT_EQ(&RulesOf(user), &list);
    LoadRules(Reg, Prompter, list, Id);
    SetRuleEnabled(Reg, list, 0, 0);
    EXPECT_THAT(FillRuleCheckList(list), ElementsAre(TRuleCheckRow{"A", false}, TRuleCheckRow{"B", true}));
    list.Current = &list.At(0);
    DeleteRule(Reg, list, 0);
    EXPECT_EQ(list.Current, nullptr);
    TRuleListClass again;
    LoadRules(Reg, Prompter, again, Id);
    EXPECT_THAT(FillRuleCheckList(again), ElementsAre(TRuleCheckRow{"B", true}));
}
