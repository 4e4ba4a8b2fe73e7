#include "rules/TRuleMatcher.h"

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "accounts/TAdmin.h"
#include "core/TSettingsStore.h"
#include "rules/TRuleListClass.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::rules;
using tarnwick::accounts::TMailMessage;
using tarnwick::core::TAnswer;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;

namespace {

TRulesCriteria Words(std::int32_t type, std::vector<std::string> entries, std::int32_t flags = 0,
                     std::int32_t logic = 0)
{
    TRulesCriteria c;
    c.Type = type;
    c.Flags = flags;
    c.Logic = logic;
    c.ValueType = ValueList;
    c.ListValue = JoinList(entries);
    c.ValueSet = !entries.empty();
    return c;
}

TRulesCriteria Number(std::int32_t type, std::int32_t value, std::int32_t flags = 0, std::int32_t logic = 0)
{
    TRulesCriteria c;
    c.Type = type;
    c.Flags = flags;
    c.Logic = logic;
    c.ValueType = ValueInteger;
    c.IntValue = value;
    c.ValueSet = true;
    return c;
}

TRuleClass RuleOf(std::vector<TRulesCriteria> criteria)
{
    TRuleClass rule;
    rule.Name = "R";
    rule.Enabled = 1;
    rule.Criteria = std::move(criteria);
    return rule;
}

TMatchSettings Settings(bool caseSensitive, bool wholeWords)
{
    TMatchSettings s;
    s.CaseSensitive = caseSensitive;
    s.WholeWordsOnly = wholeWords;
    return s;
}

} // namespace

// Every matching edge of one entry against one text, under both options.
TEST(RuleMatching, EntryAgainstText)
{
    struct
    {
        bool CaseSensitive;
        bool WholeWords;
        const char* Entry;
        const char* Text;
        bool Matches;
    } cases[] = {
        {false, true, "cat", "cat food", true}, // a blank stands for the missing character before
        {false, true, "cat", "cats", false},
        {false, true, "cat", "the cat", true},          // ... and after
        {false, true, "cat", "concatenate cat", false}, // only the first occurrence counts
        {false, true, "cat", "cat-food", true},         // punctuation is no word character
        {false, true, "caf", "caf\xC3\xA9", true},      // nor is a byte of é
        {false, true, "cat", "2cat", false},            // digits are word characters
        {false, true, "cat", "_cat_", true},            // the underscore is not
        {false, false, "cat", "cats", true},
        {false, false, "cat", "concatenate", true},
        {false, false, "CAT", "my cat", true},
        {true, false, "CAT", "my cat", false},
        {true, false, "cat", "my cat", true},
        {false, false, "\xC3\x89", "\xC3\xA9", false}, // É never matches é: only A-Z fold
        {true, false, "\xC3\x89", "\xC3\xA9", false},
        {false, false, "x", "", false},
        {false, false, "", "anything", false},
        {false, true, "a b", "xa b", false}, // the entry may hold blanks
        {false, true, "a b", "(a b)", true},
    };
    TScriptedPrompter prompter;
    for (const auto& c : cases) {
        TRuleMatcher matcher(Settings(c.CaseSensitive, c.WholeWords), prompter);
        EXPECT_EQ(matcher.MatchEntry(c.Entry, c.Text), c.Matches)
            << "entry \"" << c.Entry << "\" text \"" << c.Text << "\" case " << c.CaseSensitive << " whole "
            << c.WholeWords;
        // A word-list criterion over the subject gives the same answer.
        TRuleClass rule = RuleOf({Words(CriterionSubject, {c.Entry})});
        TMailMessage message;
        message.Subject = c.Text;
        EXPECT_EQ(matcher.RuleMatches(rule, message), c.Matches && *c.Entry) << c.Entry << " / " << c.Text;
    }
}

TEST(RuleMatching, CriterionOutcomes)
{
    TMailMessage m;
    m.FromText = "Bob Smith <bob@example.org>";
    m.FromAddress = "bob@example.org";
    m.Subject = "Cheap pills";
    m.ToText = "alice@example.org";
    m.CcText = "carol@example.org";
    m.Priority = tarnwick::accounts::PriorityHigh;
    m.Size = 2048;
    m.HasAttachments = true;

    struct
    {
        const char* Name;
        TRulesCriteria Criterion;
        bool Matches;
        std::int32_t Size = 2048;
    } cases[] = {
        {"from any", Words(CriterionFrom, {"nobody", "smith"}), true},
        {"from negated", Words(CriterionFrom, {"smith"}, FlagNegated), false},
        {"subject all", Words(CriterionSubject, {"cheap", "pills"}, FlagAll), true},
        {"subject all, one missing", Words(CriterionSubject, {"cheap", "watches"}, FlagAll), false},
        {"all with no entries", Words(CriterionSubject, {}, FlagAll), true},
        {"negated all with no entries", Words(CriterionSubject, {}, FlagAll | FlagNegated), false},
        {"any with no entries", Words(CriterionSubject, {}), false},
        {"negated any with no entries", Words(CriterionSubject, {}, FlagNegated), true},
        {"to", Words(CriterionTo, {"alice"}), true},
        {"cc", Words(CriterionCc, {"alice"}), false},
        {"to or cc: in cc", Words(CriterionToOrCc, {"carol"}), true},
        {"to or cc: in to", Words(CriterionToOrCc, {"alice"}), true},
        {"to or cc negated: in one", Words(CriterionToOrCc, {"carol"}, FlagNegated), false},
        {"to or cc negated: in neither", Words(CriterionToOrCc, {"dave"}, FlagNegated), true},
        {"to or cc all: split over both", Words(CriterionToOrCc, {"alice", "carol"}, FlagAll), false},
        {"priority high", Number(CriterionPriority, 2), true},
        {"priority low", Number(CriterionPriority, 1), false},
        {"priority other value", Number(CriterionPriority, 3), false},
        {"priority ignores flags", Number(CriterionPriority, 2, FlagNegated), true},
        {"size 1 at 2047 bytes", Number(CriterionSize, 1), false, 2047},
        {"size 1 at 2048 bytes", Number(CriterionSize, 1), true, 2048},
        {"size 0 at 1023 bytes", Number(CriterionSize, 0), false, 1023},
        {"size 0 at 1024 bytes", Number(CriterionSize, 0), true, 1024},
        {"size ignores flags", Number(CriterionSize, 0, FlagNegated), true, 1024},
        {"attachments",
         [] {
             TRulesCriteria c;
             c.Type = CriterionAttachments;
             c.Flags = FlagNegated;
             return c;
         }(),
         true},
        {"account in list", Number(CriterionAccount, 1), true},
        {"account of another name", Number(CriterionAccount, 0), false},
        {"account index outside the list", Number(CriterionAccount, 2), false},
        {"account index negative", Number(CriterionAccount, -1), false},
        {"text value instead of a list",
         [] {
             TRulesCriteria c = Words(CriterionSubject, {});
             c.ValueType = ValueText;
             c.ListValue.clear();
             c.TextValue = "Cheap";
             return c;
         }(),
         false},
        {"unknown type", Number(77, 1), false},
    };
    TScriptedPrompter prompter;
    TMatchSettings settings = Settings(false, false);
    // The account name is lower-cased, the address searched as stored.
    settings.AccountNames = {"Work", "EXAMPLE.org"};
    TRuleMatcher matcher(settings, prompter);
    for (const auto& c : cases) {
        TRuleClass rule = RuleOf({c.Criterion});
        m.Size = c.Size;
        EXPECT_EQ(matcher.RuleMatches(rule, m), c.Matches) << c.Name;
    }
}

TEST(RuleMatching, JoinsApplyStrictlyLeftToRight)
{
    // Outcomes: subject "yes" true, subject "no" false.
    const auto T = [](std::int32_t logic) { return Words(CriterionSubject, {"yes"}, 0, logic); };
    const auto F = [](std::int32_t logic) { return Words(CriterionSubject, {"no"}, 0, logic); };
    struct
    {
        const char* Name;
        std::vector<TRulesCriteria> Criteria;
        bool Matches;
    } cases[] = {
        {"no criteria", {}, false},
        {"(F and T) or T", {F(0), T(LogicAnd), T(LogicOr)}, true},
        {"(T or T) and F: no precedence of and", {T(0), T(LogicOr), F(LogicAnd)}, false},
        {"T or F and F is (T or F) and F", {T(0), F(LogicOr), F(LogicAnd)}, false},
        {"first criterion's join is not consulted", {F(LogicOr), F(LogicOr)}, false},
        {"first criterion's and is not consulted", {T(LogicAnd), F(LogicOr)}, true},
        {"any join but 2 is or", {F(0), T(0)}, true},
        {"join 7 is or", {F(0), T(7)}, true},
    };
    TScriptedPrompter prompter;
    TRuleMatcher matcher(Settings(false, false), prompter);
    TMailMessage m;
    m.Subject = "yes";
    for (auto& c : cases) {
        TRuleClass rule = RuleOf(c.Criteria);
        EXPECT_EQ(matcher.RuleMatches(rule, m), c.Matches) << c.Name;
    }
}

class BodyCriterionTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::string Cache = Home / "cache";
    TMatchSettings Match = [this] {
        std::filesystem::create_directories(Cache);
        TMatchSettings s = Settings(false, true);
        s.CacheFolder = Cache; // without a trailing separator
        return s;
    }();

    // The record of a message with these header lines whose cache file `name` holds it.
    TMailMessage Record(const std::string& name, std::vector<std::string> headers)
    {
        TMailMessage m;
        m.CacheName = name;
        m.Headers = std::move(headers);
        return m;
    }

    TMailMessage Cached(const std::string& name, std::vector<std::string> headers, const std::string& body)
    {
        std::string content;
        for (const auto& line : headers)
            content += line + "\r\n";
        WriteFileBytes(Cache + "/" + name + ".eml", content + "\r\n" + body);
        return Record(name, std::move(headers));
    }
};

TEST_F(BodyCriterionTest, LinesOfTheCachedMessageAreSearched)
{
    const TMailMessage m = Cached("a", {"Subject: greetings"}, "Hello WORLD\r\nworldwide news\r\n");
    struct
    {
        std::vector<std::string> Entries;
        std::int32_t Flags;
        bool Matches;
    } cases[] = {
        {{"world"}, 0, true},     // case ignored, first line holding it
        {{"greetings"}, 0, true}, // header lines are part of the stored message
        {{"wide"}, 0, false},     // not a whole word on the first line holding it
        {{"hello", "news"}, FlagAll, true},
        {{"hello", "absent"}, FlagAll, false},
        {{"absent"}, FlagNegated, true},
    };
    TScriptedPrompter prompter;
    TRuleMatcher matcher(Match, prompter);
    for (const auto& c : cases) {
        TRuleClass rule = RuleOf({Words(CriterionBody, c.Entries, c.Flags)});
        EXPECT_EQ(matcher.RuleMatches(rule, m), c.Matches) << c.Entries[0];
    }
    EXPECT_TRUE(prompter.Log.empty());
}

TEST_F(BodyCriterionTest, MissingCacheFileAsksOncePerRun)
{
    TMailMessage missing;
    missing.CacheName = "missing";
    missing.Subject = "hello";
    struct
    {
        TAnswer Answer;
        bool Asked;
        bool Cancelled;
    } cases[] = {{TAnswer::Yes, true, false}, {TAnswer::No, false, true}};
    for (const auto& c : cases) {
        TScriptedPrompter prompter({c.Answer});
        TRuleMatcher matcher(Match, prompter);
        // The body criterion comes after a decided "or": it is still evaluated and asks.
        TRuleClass rule =
            RuleOf({Words(CriterionSubject, {"hello"}), Words(CriterionBody, {"x"}, 0, LogicOr)});
        EXPECT_TRUE(matcher.RuleMatches(rule, missing));
        EXPECT_EQ(rule.AskedFullMessage, c.Asked);
        EXPECT_EQ(rule.Cancelled, c.Cancelled);
        // The second message asks nothing more (the script holds no further answer).
        EXPECT_TRUE(matcher.RuleMatches(rule, missing));
        ASSERT_EQ(prompter.Log.size(), 1u);
        EXPECT_EQ(prompter.Log[0].Text, FullMessageQuestion);
        EXPECT_EQ(prompter.Log[0].Kind, tarnwick::core::TMessageKind::Information);
        // Without lines, "all" with an entry fails and "any" finds nothing.
        TRuleClass all = RuleOf({Words(CriterionBody, {"x"}, FlagAll)});
        all.AskedFullMessage = true;
        EXPECT_FALSE(matcher.RuleMatches(all, missing));
    }
}

TEST_F(BodyCriterionTest, ACacheFileOfAnotherMessageWithTheSameNameCountsAsMissing)
{
    // Neither message has a Message-Id; one sender, one day: one cache name, and the file holds
    // the lunch message.
    const std::string from = "From: Bob Smith <bob@example.com>",
                      date = "Date: Thu, 01 Jan 2004 12:00:00 +0000";
    const TMailMessage lunch = Cached("shared", {from, "Subject: lunch", date}, "let's eat at noon\r\n");
    const TMailMessage dinner = Record("shared", {from, "Subject: dinner", date});
    struct
    {
        const char* Name;
        const TMailMessage& Message;
        bool Matches;
        bool Asked;
    } cases[] = {
        {"the message in the file", lunch, true, false},
        {"the other message", dinner, false, true},
    };
    for (const auto& c : cases) {
        TScriptedPrompter prompter({TAnswer::Yes});
        TRuleMatcher matcher(Match, prompter);
        TRuleClass rule = RuleOf({Words(CriterionBody, {"eat"})});
        EXPECT_EQ(matcher.RuleMatches(rule, c.Message), c.Matches) << c.Name;
        EXPECT_EQ(prompter.Log.size(), c.Asked ? 1u : 0u) << c.Name;
        EXPECT_EQ(matcher.BodyLines(c.Message).empty(), !c.Matches) << c.Name;
    }
}

TEST(RuleMatching, AnyRuleEvaluatesEveryEnabledRule)
{
    TRuleListClass list;
    for (int i = 0; i < 3; ++i) {
        list.Rules.push_back(std::make_unique<TRuleClass>(RuleOf({Words(CriterionBody, {"x"})})));
        list.Rules.back()->AskedFullMessage = false;
    }
    list.Rules[1]->Enabled = 0;
    list.Rules[0]->Criteria.insert(list.Rules[0]->Criteria.begin(), Words(CriterionSubject, {"hit"}));
    list.Rules[0]->Criteria[1].Logic = LogicOr;
    // Rule 0 matches at once; rule 2 is still evaluated and asks; the disabled rule never does.
    TScriptedPrompter prompter({TAnswer::Yes, TAnswer::Yes});
    TMatchSettings settings = Settings(false, false);
    settings.CacheFolder = "/nonexistent-cache";
    TRuleMatcher matcher(settings, prompter);
    TMailMessage m;
    m.Subject = "hit";
    EXPECT_TRUE(matcher.AnyRuleMatches(list, m));
    EXPECT_EQ(prompter.Log.size(), 2u);
    EXPECT_FALSE(list.Rules[1]->AskedFullMessage);
    EXPECT_TRUE(list.Rules[2]->AskedFullMessage);

    TRuleListClass none;
    EXPECT_FALSE(matcher.AnyRuleMatches(none, m));
}

TEST(RuleMatching, AccountNamesAreTheDisplayNamesInAccountOrder)
{
    TTempHome home(false);
    tarnwick::accounts::TAdmin admin(std::make_shared<tarnwick::core::TSettingsStore>(home / "settings.db"),
                                     [] { return std::make_shared<const tarnwick::core::TOptionRec>(); });
    for (const char* name : {"Work", "example.org"}) {
        tarnwick::accounts::TUserID id;
        id.DisplayName = name;
        admin.AddUser(id);
    }
    TScriptedPrompter prompter;
    TMatchSettings settings;
    settings.AccountNames = AccountNamesOf(admin);
    EXPECT_EQ(settings.AccountNames, (std::vector<std::string>{"Work", "example.org"}));
    TRuleMatcher matcher(settings, prompter);
    TRuleClass rule = RuleOf({Number(CriterionAccount, 1)});
    TMailMessage m;
    m.FromAddress = "bob@example.org";
    EXPECT_TRUE(matcher.RuleMatches(rule, m));
}
