#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "accounts/TMailMessage.h"
#include "rules/TRuleClass.h"

namespace tarnwick::core {
class TPrompter;
struct TOptionRec;
} // namespace tarnwick::core

namespace tarnwick::accounts {
class TAdmin;
}

namespace tarnwick::rules {

class TRuleListClass;

inline constexpr const char* FullMessageQuestion = "You have to download the full message in order to apply "
                                                   "this filter.\r\nDo you want to continue anyway ?";

// What a match depends on besides the rule and the message.
struct TMatchSettings
{
    bool CaseSensitive = false;  // the RuleCase option
    bool WholeWordsOnly = false; // the WholeWordsOnly option
    std::string CacheFolder;     // folder of the message cache files
    // The names the account criterion indexes; an index outside the list matches nothing.
    std::vector<std::string> AccountNames;

    static TMatchSettings FromOptions(const core::TOptionRec& options, std::vector<std::string> accountNames);
};

// Decides whether messages match rules. Texts are compared as bytes; ignoring case folds only the
// letters A to Z.
class TRuleMatcher
{
public:
    TRuleMatcher(TMatchSettings settings, core::TPrompter& prompter);

    // One list entry against one text: the first occurrence only, and under WholeWordsOnly only when
    // neither neighbour of that occurrence is a letter or digit.
    bool MatchEntry(std::string_view entry, std::string_view text) const;
    // The entry against the first line that holds it.
    bool MatchBodyEntry(std::string_view entry, const std::vector<std::string>& lines) const;

    // Evaluates every criterion and joins the outcomes strictly left to right. May ask the
    // full-message question once per run of the rule (see TRuleClass's run flags).
    bool RuleMatches(TRuleClass& rule, const accounts::TMailMessage& message);
    // True when an enabled rule of the list matches; every enabled rule is evaluated.
    bool AnyRuleMatches(TRuleListClass& list, const accounts::TMailMessage& message);

    // The outcome of one criterion.
    bool CriterionOutcome(TRuleClass& rule, const TRulesCriteria& criterion,
                          const accounts::TMailMessage& message);

    // The lines of the message's cache file; empty when it is missing.
    std::vector<std::string> BodyLines(const accounts::TMailMessage& message) const;

    std::string CacheFile(const accounts::TMailMessage& message) const;

    const TMatchSettings& Settings() const { return Settings_; }

private:
    bool ListValue(const TRulesCriteria& criterion, std::string_view text) const;
    bool BodyListValue(const TRulesCriteria& criterion, const std::vector<std::string>& lines) const;
    bool Contains(std::string_view text, std::string_view entry) const;

    TMatchSettings Settings_;
    core::TPrompter& Prompter_;
};

bool IsWordCharacter(char c);

// The account-name list of the account criterion: the display names of the configured accounts,
// in account order.
std::vector<std::string> AccountNamesOf(accounts::TAdmin& admin);

} // namespace tarnwick::rules
