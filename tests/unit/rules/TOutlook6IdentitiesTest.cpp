#include "rules/TOutlook6Identities.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "accounts/TUser.h"
#include "core/TRegFile.h"
#include "core/TRegistry.h"
#include "rules/TRuleListClass.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::rules;
using namespace tarnwick::core;
using tarnwick::accounts::TUser;
using tarnwick::accounts::TUserID;
using tarnwick::test::Fixture;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using ::testing::ElementsAre;

namespace {

constexpr const char* Main = "\\Identities\\{1B6E0C4A-7D2F-4E55-9C1A-3F2B8D6E4A10}";

class OutlookRulesTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::shared_ptr<TSettingsStore> Store = std::make_shared<TSettingsStore>(Home / "settings.db");
    TRegistry Reg{Store};
    TScriptedPrompter Prompter;
    TUser User{[] {
        TUserID id;
        id.KeyName = "ABCDE";
        return id;
    }()};

    void SetUp() override { TRegFile::ImportFile(Reg, Fixture("rules/OutlookRules.reg")); }
};

} // namespace

TEST_F(OutlookRulesTest, IdentitiesWithTheirRules)
{
    const TOutlook6Identities identities = ReadOutlook6Identities(Reg);
    ASSERT_EQ(identities.size(), 2u);
    const std::string rules =
        std::string(Main) + "\\Software\\Microsoft\\Outlook Express\\5.0\\Rules\\Mail\\";
    EXPECT_EQ(identities[0].KeyPath, Main);
    EXPECT_EQ(identities[0].UserName, "Main Identity");
    EXPECT_THAT(identities[0].RuleKeyPaths, ElementsAre(rules + "000", rules + "001"));
    EXPECT_THAT(identities[0].RuleNames, ElementsAre("Secure mail only", "From the boss"));
    EXPECT_EQ(identities[1].UserName, "Second");
    EXPECT_TRUE(identities[1].RuleKeyPaths.empty()) << "an identity without a rules key has empty lists";

    TTempHome empty(false);
    TRegistry bare(std::make_shared<TSettingsStore>(empty / "settings.db"));
    EXPECT_TRUE(ReadOutlook6Identities(bare).empty());
}

TEST_F(OutlookRulesTest, RowsAreUniqueByIdentityAndRule)
{
    std::vector<TRuleImportRow> rows;
    EXPECT_TRUE(AddImportRow(rows, {0, 1}));
    EXPECT_FALSE(AddImportRow(rows, {0, 1}));
    EXPECT_TRUE(AddImportRow(rows, {1, 1}));
    EXPECT_THAT(rows, ElementsAre(TRuleImportRow{0, 1}, TRuleImportRow{1, 1}));
}

TEST_F(OutlookRulesTest, RuleWithOnlyAnUnknownCriterionIsReportedTwiceAndRemoved)
{
    const TOutlook6Identities identities = ReadOutlook6Identities(Reg);
    EXPECT_EQ(ImportOutlookRules(Reg, Prompter, User, identities, {{0, 0}}), 1);
    // The source key stays where it is.
    EXPECT_TRUE(Reg.KeyExists(identities[0].RuleKeyPaths[0] + "\\Criteria\\000"));

    TScriptedPrompter prompter;
    TRuleListClass& list = RulesOf(User);
    LoadRules(Reg, prompter, list, User.ID());
    ASSERT_EQ(prompter.Log.size(), 2u);
    EXPECT_EQ(prompter.Log[0].Text, "Secure mail only\n\nThis Rule contains an unknown criteria!");
    EXPECT_EQ(prompter.Log[1].Text, "Secure mail only\n\nThis Rule contains no valid criteria!");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(Reg.KeyExists(RulesKeyOf(User.ID()) + "\\000"));
}

TEST_F(OutlookRulesTest, EachRunCreatesNewRulesUnderFreshKeys)
{
    const TOutlook6Identities identities = ReadOutlook6Identities(Reg);
    EXPECT_EQ(ImportOutlookRules(Reg, Prompter, User, identities, {{0, 1}}), 1);
    // Rows outside the identities are skipped.
    EXPECT_EQ(ImportOutlookRules(Reg, Prompter, User, identities, {{0, 1}, {1, 0}, {5, 0}}), 1);
    TScriptedPrompter prompter;
    TRuleListClass& list = RulesOf(User);
    LoadRules(Reg, prompter, list, User.ID());
    EXPECT_TRUE(prompter.Log.empty());
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.At(0).KeyPath, RulesKeyOf(User.ID()) + "\\000");
    EXPECT_EQ(list.At(1).KeyPath, RulesKeyOf(User.ID()) + "\\001");
    for (const auto& rule : list.Rules) {
        EXPECT_EQ(rule->Name, "From the boss");
        EXPECT_EQ(rule->Version, 5);
        EXPECT_EQ(rule->Show, 1) << "missing Show loads as 1";
        ASSERT_EQ(rule->Criteria.size(), 1u);
        EXPECT_EQ(SplitList(rule->Criteria[0].ListValue), std::vector<std::string>{"boss"});
    }
}
