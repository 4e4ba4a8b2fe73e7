// Saves and imports of rules that the store fails halfway through: each rule lands whole or not at
// all, and an import goes on with the next rule.

#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "accounts/TUser.h"
#include "core/Errors.h"
#include "core/TRegFile.h"
#include "core/TRegistry.h"
#include "rules/TOutlook6Identities.h"
#include "rules/TRuleFile.h"
#include "rules/TRuleListClass.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::rules;
using namespace tarnwick::core;
using tarnwick::accounts::TUser;
using tarnwick::accounts::TUserID;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

// Values holding this text are refused by the store once `RefuseMarkedValues` has run.
constexpr const char* Marker = "REFUSED-BY-DISK";
constexpr const char* Identity = "\\Identities\\{5A1D0E3B-2C4F-4B6A-8E9D-0F1A2B3C4D5E}";

TRulesCriteria ListCriterion(std::int32_t type, const std::string& entry)
{
    TRulesCriteria c;
    c.Type = type;
    c.ValueType = ValueList;
    c.ListValue = JoinList({entry});
    return c;
}

// A rule whose second criterion carries `second`: a store refusing it fails after the rule's own
// values and its first criterion were written.
TRuleClass TwoCriteriaRule(const std::string& name, const std::string& second)
{
    TRuleClass rule;
    rule.Name = name;
    rule.Enabled = 1;
    rule.Criteria = {ListCriterion(CriterionFrom, "first"), ListCriterion(CriterionSubject, second)};
    rule.Criteria[1].Logic = LogicOr;
    return rule;
}

std::string RegHex(const std::string& bytes)
{
    std::string hex;
    char byte[4];
    for (unsigned char c : bytes) {
        std::snprintf(byte, sizeof byte, "%02x", c);
        hex += (hex.empty() ? "" : ",") + std::string(byte);
    }
    return hex;
}

// An Outlook Express mail rule as a ".reg" export holds it, with the same two criteria.
std::string OutlookRule(const std::string& key, const std::string& name, const std::string& second)
{
    const std::string base = std::string("[HKEY_CURRENT_USER") + Identity + OutlookRulesSubKey + "\\" + key;
    std::string text = base + "]\r\n\"Name\"=\"" + name + "\"\r\n\"Enabled\"=dword:00000001\r\n" +
                       "\"Version\"=dword:00000005\r\n\r\n";
    const std::pair<const char*, std::string> criteria[] = {{"0000000c", "first"}, {"00000008", second}};
    for (std::size_t i = 0; i < 2; ++i) {
        text +=
            base + "\\Criteria\\00" + std::to_string(i) + "]\r\n\"Flags\"=dword:00000000\r\n" +
            "\"Logic\"=dword:0000000" + (i == 0 ? "1" : "0") + "\r\n\"Type\"=dword:" + criteria[i].first +
            "\r\n\"ValueType\"=dword:00000041\r\n\"Value\"=hex:" + RegHex(JoinList({criteria[i].second})) +
            "\r\n\r\n";
    }
    return text;
}

class TFailingStore
{
public:
    TTempHome Home{false};
    std::shared_ptr<TSettingsStore> Store = std::make_shared<TSettingsStore>(Home / "settings.db");
    TRegistry Reg{Store};
    TScriptedPrompter Prompter;
    TUser User{[] {
        TUserID id;
        id.KeyName = "ABCDE";
        return id;
    }()};

    std::string RuleKey(const char* name) const { return RulesKeyOf(User.ID()) + "\\" + name; }

    // From now on the store refuses to write any value holding the marker, as a full disk or a
    // failing device would refuse a write in the middle of a save.
    void RefuseMarkedValues()
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((Home / "settings.db").c_str(), &db), SQLITE_OK);
        const std::string sql = std::string("CREATE TRIGGER refuse_marked BEFORE INSERT ON vals WHEN "
                                            "instr(NEW.data, CAST('") +
                                Marker +
                                "' AS BLOB)) > 0 BEGIN SELECT RAISE(ABORT, 'disk I/O refused'); END;";
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error;
        sqlite3_free(error);
        sqlite3_close(db);
    }

    std::vector<std::string> StoredRuleKeys()
    {
        if (!Reg.OpenKey(RulesKeyOf(User.ID()), false))
            return {};
        return Reg.GetKeyNames();
    }

    // Each stored rule as "name: entry, entry" after a fresh load, which must report nothing.
    std::vector<std::string> StoredRules()
    {
        TScriptedPrompter prompter;
        TRuleListClass list;
        LoadRules(Reg, prompter, list, User.ID());
        for (const auto& entry : prompter.Log)
            ADD_FAILURE() << "loading the stored rules reported: " << entry.Text;
        std::vector<std::string> rules;
        for (const auto& rule : list.Rules) {
            std::string text = rule->Name + ":";
            for (const auto& criterion : rule->Criteria)
                for (const auto& entry : SplitList(criterion.ListValue))
                    text += " " + entry;
            rules.push_back(text);
        }
        return rules;
    }
};

struct TFailureCase
{
    const char* Name;
    // Sets up what is stored before, makes the store refuse marked values, runs the operation and
    // returns the error texts it reported or threw.
    std::function<std::vector<std::string>(TFailingStore&)> Run;
    std::vector<std::string> Keys;  // rule keys stored afterwards
    std::vector<std::string> Rules; // the stored rules afterwards, as StoredRules gives them
    std::vector<std::string> Texts; // parts of the one error reported
    std::size_t ListedRules;        // rules in the account's list in memory afterwards
};

} // namespace

TEST(RuleStoreFailures, AFailedRuleLeavesNoHalfWrittenKeyAndTheOthersLand)
{
    const TFailureCase cases[] = {
        {"saving a new rule",
         [](TFailingStore& s) -> std::vector<std::string> {
             s.RefuseMarkedValues();
             try {
                 SaveRule(s.Reg, TwoCriteriaRule("New", Marker), s.RuleKey("000"), true);
             } catch (const TStoreError& e) {
                 return {e.what()};
             }
             return {};
         },
         {},
         {},
         {"disk I/O refused"},
         0},
        {"saving over a stored rule",
         [](TFailingStore& s) -> std::vector<std::string> {
             SaveRule(s.Reg, TwoCriteriaRule("Old", "second"), s.RuleKey("000"), true);
             s.RefuseMarkedValues();
             try {
                 SaveRule(s.Reg, TwoCriteriaRule("Changed", Marker), s.RuleKey("000"), true);
             } catch (const TStoreError& e) {
                 return {e.what()};
             }
             return {};
         },
         {"000"},
         {"Old: first second"},
         {"disk I/O refused"},
         0},
        {"importing a folder of rule files",
         [](TFailingStore& s) {
             const std::string folder = s.Home / "in";
             std::filesystem::create_directories(folder);
             WriteRuleFile(TwoCriteriaRule("A", "a"), folder + "/a.tkf");
             WriteRuleFile(TwoCriteriaRule("B", Marker), folder + "/b.tkf");
             WriteRuleFile(TwoCriteriaRule("C", "c"), folder + "/c.tkf");
             s.RefuseMarkedValues();
             const TRuleFileResult result = ImportRuleFiles(s.Reg, s.Prompter, s.User, folder);
             EXPECT_EQ(result.Done, 2);
             EXPECT_EQ(s.Prompter.Log.size(), result.Errors.size());
             return result.Errors;
         },
         {"000", "001"},
         {"A: first a", "C: first c"},
         {"The rule file \"", "/in/b.tkf\" cannot be imported", "disk I/O refused"},
         2},
        {"importing Outlook Express rules",
         [](TFailingStore& s) {
             TRegFile::Import(s.Reg,
                              "Windows Registry Editor Version 5.00\r\n\r\n" + OutlookRule("000", "A", "a") +
                                  OutlookRule("001", "B", Marker) + OutlookRule("002", "C", "c"),
                              "test");
             const TOutlook6Identities identities = ReadOutlook6Identities(s.Reg);
             s.RefuseMarkedValues();
             EXPECT_EQ(ImportOutlookRules(s.Reg, s.Prompter, s.User, identities, {{0, 0}, {0, 1}, {0, 2}}),
                       2);
             std::vector<std::string> texts;
             for (const auto& entry : s.Prompter.Log)
                 texts.push_back(entry.Text);
             return texts;
         },
         {"000", "001"},
         {"A: first a", "C: first c"},
         {"The Outlook Express rule \"B\" cannot be imported", "disk I/O refused"},
         2},
    };
    for (const auto& c : cases) {
        TFailingStore s;
        const std::vector<std::string> texts = c.Run(s);
        ASSERT_EQ(texts.size(), 1u) << c.Name;
        for (const auto& part : c.Texts)
            EXPECT_THAT(texts[0], HasSubstr(part)) << c.Name;
        EXPECT_THAT(s.StoredRuleKeys(), ElementsAreArray(c.Keys)) << c.Name;
        EXPECT_THAT(s.StoredRules(), ElementsAreArray(c.Rules)) << c.Name;
        EXPECT_EQ(RulesOf(s.User).Rules.size(), c.ListedRules) << c.Name;
        // The store stays usable after the failure.
        SaveRule(s.Reg, TwoCriteriaRule("Later", "later"), s.RuleKey("00F"), true);
        EXPECT_EQ(s.StoredRules().back(), "Later: first later") << c.Name;
    }
}
