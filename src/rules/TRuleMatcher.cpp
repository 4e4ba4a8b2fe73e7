#include "rules/TRuleMatcher.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "accounts/TAdmin.h"
#include "core/TFolders.h"
#include "core/TOptionRec.h"
#include "core/TPrompter.h"
#include "core/TextUtils.h"
#include "retrieval/TCacheFile.h"
#include "rules/TRuleListClass.h"

namespace tarnwick::rules {

namespace {

template <typename Test> bool Combine(const std::vector<std::string>& entries, bool all, Test test)
{
    bool value = all;
    for (const auto& entry : entries) {
        if (value != all)
            break;
        value = test(entry);
    }
    return value;
}

// The lines of the cache file at `path` when it holds the message with `headerLines`; nothing when
// the file is missing or holds another message that got the same cache name.
std::optional<std::vector<std::string>> CachedLines(const std::string& path,
                                                    const std::vector<std::string>& headerLines)
{
    std::optional<std::ifstream> in = retrieval::OpenCacheFile(headerLines, path);
    if (!in)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(*in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

std::vector<std::string> AccountNamesOf(accounts::TAdmin& admin)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < admin.Count(); ++i)
        names.push_back(admin.UserAt(i).ID().DisplayName);
    return names;
}

bool IsWordCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

TMatchSettings TMatchSettings::FromOptions(const core::TOptionRec& options,
                                           std::vector<std::string> accountNames)
{
    TMatchSettings settings;
    settings.CaseSensitive = core::IsOn(options.RuleCase);
    settings.WholeWordsOnly = core::IsOn(options.WholeWordsOnly);
    settings.CacheFolder = core::CacheFolder(options.CacheDir);
    settings.AccountNames = std::move(accountNames);
    return settings;
}

TRuleMatcher::TRuleMatcher(TMatchSettings settings, core::TPrompter& prompter)
    : Settings_(std::move(settings))
    , Prompter_(prompter)
{
    if (!Settings_.CacheFolder.empty() && Settings_.CacheFolder.back() != '/')
        Settings_.CacheFolder += '/';
}

bool TRuleMatcher::MatchEntry(std::string_view entry, std::string_view text) const
{
    if (entry.empty())
        return false;
    std::string foldedEntry, foldedText;
    if (!Settings_.CaseSensitive) {
        foldedEntry = core::AsciiLower(entry);
        foldedText = core::AsciiLower(text);
        entry = foldedEntry;
        text = foldedText;
    }
    const std::size_t at = text.find(entry);
    if (at == std::string_view::npos)
        return false;
    if (!Settings_.WholeWordsOnly)
        return true;
    const char before = at == 0 ? ' ' : text[at - 1];
    const std::size_t end = at + entry.size();
    const char after = end >= text.size() ? ' ' : text[end];
    return !IsWordCharacter(before) && !IsWordCharacter(after);
}

bool TRuleMatcher::Contains(std::string_view text, std::string_view entry) const
{
    if (Settings_.CaseSensitive)
        return text.find(entry) != std::string_view::npos;
    return core::AsciiLower(text).find(core::AsciiLower(entry)) != std::string::npos;
}

bool TRuleMatcher::MatchBodyEntry(std::string_view entry, const std::vector<std::string>& lines) const
{
    if (entry.empty())
        return false;
    for (const auto& line : lines)
        if (Contains(line, entry))
            return MatchEntry(entry, line);
    return false;
}

std::string TRuleMatcher::CacheFile(const accounts::TMailMessage& message) const
{
    return Settings_.CacheFolder + message.CacheName + ".eml";
}

std::vector<std::string> TRuleMatcher::BodyLines(const accounts::TMailMessage& message) const
{
    // A file of another message with the same cache name is no file of this one.
    return CachedLines(CacheFile(message), message.Headers).value_or(std::vector<std::string>());
}

bool TRuleMatcher::ListValue(const TRulesCriteria& criterion, std::string_view text) const
{
    // The text is folded once and each entry as it comes, so that the search below is exact.
    std::string foldedText, foldedEntry;
    if (!Settings_.CaseSensitive) {
        foldedText = core::AsciiLower(text);
        text = foldedText;
    }
    const bool all = (criterion.Flags & FlagAll) != 0;
    bool value = all;
    const std::string_view list = criterion.ListValue;
    std::size_t start = 0;
    for (std::size_t nul = list.find('\0'); nul != std::string_view::npos && value == all;
         start = nul + 1, nul = list.find('\0', start)) {
        std::string_view entry = list.substr(start, nul - start);
        if (entry.empty())
            continue;
        if (!Settings_.CaseSensitive) {
            foldedEntry = core::AsciiLower(entry);
            entry = foldedEntry;
        }
        const std::size_t at = text.find(entry);
        if (at == std::string_view::npos || !Settings_.WholeWordsOnly) {
            value = at != std::string_view::npos;
            continue;
        }
        const char before = at == 0 ? ' ' : text[at - 1];
        const std::size_t end = at + entry.size();
        const char after = end >= text.size() ? ' ' : text[end];
        value = !IsWordCharacter(before) && !IsWordCharacter(after);
    }
    return value;
}

bool TRuleMatcher::BodyListValue(const TRulesCriteria& criterion, const std::vector<std::string>& lines) const
{
    const std::vector<std::string> entries = SplitList(criterion.ListValue);
    return Combine(entries, (criterion.Flags & FlagAll) != 0,
                   [&](const std::string& entry) { return MatchBodyEntry(entry, lines); });
}

bool TRuleMatcher::CriterionOutcome(TRuleClass& rule, const TRulesCriteria& criterion,
                                    const accounts::TMailMessage& message)
{
    const bool negated = (criterion.Flags & FlagNegated) != 0;
    switch (criterion.Type) {
    case CriterionFrom:
        return ListValue(criterion, message.FromText) != negated;
    case CriterionSubject:
        return ListValue(criterion, message.Subject) != negated;
    case CriterionTo:
        return ListValue(criterion, message.ToText) != negated;
    case CriterionCc:
        return ListValue(criterion, message.CcText) != negated;
    case CriterionToOrCc:
        return (ListValue(criterion, message.ToText) || ListValue(criterion, message.CcText)) != negated;
    case CriterionBody: {
        // A cache file that holds another message with the same cache name counts as missing.
        const std::optional<std::vector<std::string>> lines =
            CachedLines(CacheFile(message), message.Headers);
        if (!lines && !rule.AskedFullMessage && !rule.Cancelled) {
            const core::TAnswer answer = Prompter_.Ask(core::TMessageKind::Information, FullMessageQuestion,
                                                       {core::TAnswer::Yes, core::TAnswer::No});
            if (answer == core::TAnswer::Yes)
                rule.AskedFullMessage = true;
            else
                rule.Cancelled = true;
        }
        return BodyListValue(criterion, lines ? *lines : std::vector<std::string>()) != negated;
    }
    case CriterionPriority:
        if (criterion.IntValue == 1)
            return message.Priority == accounts::PriorityLow;
        if (criterion.IntValue == 2)
            return message.Priority == accounts::PriorityHigh;
        return false;
    case CriterionAccount: {
        if (criterion.IntValue < 0 ||
            static_cast<std::size_t>(criterion.IntValue) >= Settings_.AccountNames.size())
            return false;
        const std::string name =
            core::AsciiLower(Settings_.AccountNames[static_cast<std::size_t>(criterion.IntValue)]);
        return !name.empty() && message.FromAddress.find(name) != std::string::npos;
    }
    case CriterionSize:
        return criterion.IntValue < message.Size / 1024;
    case CriterionAttachments:
        return message.HasAttachments;
    default:
        return false;
    }
}

bool TRuleMatcher::RuleMatches(TRuleClass& rule, const accounts::TMailMessage& message)
{
    if (rule.Criteria.empty())
        return false;
    bool result = false;
    for (std::size_t i = 0; i < rule.Criteria.size(); ++i) {
        const TRulesCriteria& criterion = rule.Criteria[i];
        const bool outcome = CriterionOutcome(rule, criterion, message);
        if (i == 0)
            result = outcome;
        else if (criterion.Logic == LogicAnd)
            result = result && outcome;
        else
            result = result || outcome;
    }
    return result;
}

bool TRuleMatcher::AnyRuleMatches(TRuleListClass& list, const accounts::TMailMessage& message)
{
    bool any = false;
    for (auto& rule : list.Rules)
        if (rule->IsEnabled() && RuleMatches(*rule, message))
            any = true;
    return any;
}

} // namespace tarnwick::rules
