#include "views/TViewFill.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "accounts/TUser.h"
#include "core/Errors.h"
#include "core/TOptionRec.h"
#include "core/TRegistry.h"
#include "rules/TRuleListClass.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TAbstractFiltering.h"
#include "views/TForeignCharacters.h"

using namespace tarnwick::views;
using namespace tarnwick::rules;
using tarnwick::accounts::TMailMessage;
using tarnwick::accounts::TUser;
using tarnwick::accounts::TUserID;
using tarnwick::core::TAnswer;
using tarnwick::core::TRegistry;
using tarnwick::core::TSettingsStore;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using ::testing::ElementsAre;

namespace {

TRulesCriteria SubjectHas(std::string word, std::int32_t type = CriterionSubject)
{
    TRulesCriteria c;
    c.Type = type;
    c.ValueType = ValueList;
    c.ListValue = JoinList({std::move(word)});
    return c;
}

class ViewFillTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    TRegistry Reg{std::make_shared<TSettingsStore>(Home / "settings.db")};
    TScriptedPrompter Prompter;
    TUser User{[] {
        TUserID id;
        id.KeyName = "ABCDE";
        return id;
    }()};
    TViewInputs Inputs = [this] {
        TViewInputs inputs;
        inputs.Registry = &Reg;
        inputs.Prompter = &Prompter;
        inputs.DataFolder = Home.Path();
        inputs.Match.CacheFolder = Home / "cache";
        inputs.WhiteList = {"friend@example.org"};
        inputs.BlackList = {"spam@example.org"};
        return inputs;
    }();

    void SetUp() override
    {
        // Records 0..5 with server numbers 11..16; 2 and 5 are in the trash.
        const struct
        {
            const char* Subject;
            const char* From;
            bool Trashed;
            std::int32_t Size;
        } records[] = {
            {"hello", "friend@example.org", false, 100},      {"offer", "spam@example.org", false, 30000},
            {"offer", "spam@example.org", true, 100},         {"hello again", "x@example.org", false, 100},
            {" [ Spam ] hello", "y@example.org", false, 100}, {"trashed big", "x@example.org", true, 90000},
        };
        std::int32_t number = 11;
        for (const auto& r : records) {
            TMailMessage m;
            m.Subject = r.Subject;
            m.FromAddress = r.From;
            m.Trashed = r.Trashed;
            m.Size = r.Size;
            m.Number = number++;
            m.CacheName = "m" + std::to_string(m.Number);
            User.Mails.Add(m);
        }
        User.TrashNotEmpty = true;
    }

    std::vector<std::size_t> Indexes(const TFillResult& result)
    {
        std::vector<std::size_t> indexes;
        for (const auto& row : result.Rows)
            indexes.push_back(row.RecordIndex);
        return indexes;
    }

    TRuleClass& AddRule(std::vector<TRulesCriteria> criteria, std::int32_t enabled = 1)
    {
        TRuleClass& rule = AddNewRule(Reg, RulesOf(User), User.ID());
        rule.Enabled = enabled;
        rule.Criteria = std::move(criteria);
        SaveRule(Reg, rule, rule.KeyPath, true);
        return rule;
    }
};

} // namespace

TEST_F(ViewFillTest, EachPositionSelectsItsRecords)
{
    AddRule({SubjectHas("hello")});
    AddRule({SubjectHas("offer")}, 0);
    struct
    {
        int Position;
        std::vector<std::size_t> Rows;
        TFillEnd End = TFillEnd::Completed;
    } cases[] = {
        {ViewRoot, {}, TFillEnd::NoList},
        {ViewAllMessages, {0, 1, 3, 4}},
        {ViewTrash, {2, 5}},
        {ViewFiltered, {}, TFillEnd::NoList},
        {ViewGood, {0}},
        {ViewSpam, {1, 4}},
        {ViewQuestionable, {3}},
        {ViewAdvancedFilters, {}, TFillEnd::NoList},
        {ViewDuplicates, {0, 3}}, // "hello" and "hello again" differ; " [ Spam ] hello" equals "hello"
        {ViewVeryLarge, {1}},
        {ViewUserFilters, {0, 3, 4}}, // the disabled rule takes no part
        {RuleViewBase + 0, {0, 3, 4}},
        {RuleViewBase + 5, {}},
    };
    for (const auto& c : cases) {
        const TFillResult result = FillView(User, c.Position, Inputs);
        if (c.Position == ViewDuplicates) {
            EXPECT_THAT(Indexes(result), ElementsAre(0, 4)) << "duplicates by stripped subject";
            continue;
        }
        EXPECT_EQ(Indexes(result), c.Rows) << c.Position;
        EXPECT_EQ(result.End, c.End) << c.Position;
    }
    const TFillResult all = FillView(User, ViewAllMessages, Inputs);
    EXPECT_EQ(all.Rows[1], (TRowKey{1, 12}));

    User.TrashNotEmpty = false;
    EXPECT_TRUE(FillView(User, ViewTrash, Inputs).Rows.empty()) << "an empty trash visits nothing";
}

TEST_F(ViewFillTest, StopViewEndsTheFillAndIsClearedAfterwards)
{
    for (int position : {int(ViewAllMessages), int(ViewDuplicates), int(ViewSpam), int(ViewVeryLarge)}) {
        std::vector<std::size_t> progress;
        Inputs.Progress = [&](std::size_t index, std::size_t) {
            progress.push_back(index);
            if (index == 0)
                User.RequestStopView(); // the user selects another node while events are pumped
        };
        std::vector<TRowKey> streamed;
        Inputs.OnRow = [&](const TRowKey& row) { streamed.push_back(row); };
        const TFillResult result = FillView(User, position, Inputs);
        EXPECT_EQ(result.End, TFillEnd::Stopped) << position;
        EXPECT_THAT(progress, ElementsAre(0)) << position;
        EXPECT_LE(result.Rows.size(), 1u) << position;
        EXPECT_EQ(streamed, result.Rows) << position;
        EXPECT_FALSE(User.StopView) << position;
    }
    // A stop requested before the fill ends it before the first record.
    Inputs.Progress = nullptr;
    User.RequestStopView();
    EXPECT_TRUE(FillView(User, ViewAllMessages, Inputs).Rows.empty());
    EXPECT_FALSE(User.StopView);
}

TEST_F(ViewFillTest, DisabledNodes)
{
    AddRule({SubjectHas("hello")});
    Inputs.NodeEnabled = false;
    EXPECT_TRUE(FillView(User, RuleViewBase, Inputs).Rows.empty());
    Reg.OpenKey(RulesOf(User).At(0).KeyPath, false);
    EXPECT_EQ(Reg.ReadInteger("Enabled"), 0) << "a disabled rule node stores its rule as disabled";
    EXPECT_TRUE(FillView(User, ViewUserFilters, Inputs).Rows.empty());
    // A node shown enabled applies the rule whatever its stored value.
    Inputs.NodeEnabled = true;
    EXPECT_THAT(Indexes(FillView(User, RuleViewBase, Inputs)), ElementsAre(0, 3, 4));
}

TEST_F(ViewFillTest, DecliningTheFullMessageQuestionEndsTheRuleRun)
{
    AddRule({SubjectHas("hello"), [] {
                 TRulesCriteria body = SubjectHas("x", CriterionBody);
                 body.Logic = LogicOr;
                 return body;
             }()});
    // Record 0 is decided with an empty body; the run ends before record 1.
    Prompter.Answers = {TAnswer::No};
    TFillResult result = FillView(User, RuleViewBase, Inputs);
    EXPECT_EQ(result.End, TFillEnd::Abandoned);
    EXPECT_THAT(Indexes(result), ElementsAre(0));
    // Yes goes on without asking again; the next run asks afresh.
    Prompter.Answers = {TAnswer::Yes};
    result = FillView(User, RuleViewBase, Inputs);
    EXPECT_EQ(result.End, TFillEnd::Completed);
    EXPECT_THAT(Indexes(result), ElementsAre(0, 3, 4));
    Prompter.Answers = {TAnswer::Yes};
    FillView(User, ViewUserFilters, Inputs);
    EXPECT_EQ(Prompter.Log.size(), 3u);
}

TEST_F(ViewFillTest, ForeignCharacterViewWithoutACharacterSetIsAbandoned)
{
    const TFillResult result = FillView(User, ViewForeignCharacters, Inputs);
    EXPECT_EQ(result.End, TFillEnd::Abandoned);
    EXPECT_TRUE(result.Rows.empty());
    EXPECT_EQ(Prompter.Log.size(), 1u);

    TForeignCharacters::Write(Home.Path(), {"l"});
    EXPECT_THAT(Indexes(FillView(User, ViewForeignCharacters, Inputs)), ElementsAre())
        << "hello has only two";
    Inputs.Progress = nullptr;
    TForeignCharacters::Write(Home.Path(), {"l", "o", "e"});
    EXPECT_THAT(Indexes(FillView(User, ViewForeignCharacters, Inputs)), ElementsAre(0, 3, 4));
}

TEST_F(ViewFillTest, UnconvertibleSettingsFailTheFillAndClearStopView)
{
    Reg.OpenKey(tarnwick::core::OptionsKey, true);
    Reg.WriteString("LargerThenSize", "big");
    User.RequestStopView();
    EXPECT_THROW(FillView(User, ViewVeryLarge, Inputs), tarnwick::core::TConversionError);
    EXPECT_FALSE(User.StopView);
}
