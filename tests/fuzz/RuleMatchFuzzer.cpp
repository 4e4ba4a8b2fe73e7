// Arbitrary texts against rules and views: a rule built from the first bytes, message fields from
// the rest. Matching must never crash, hang or read outside its texts.

#include <cstdint>
#include <string>
#include <vector>

#include "core/TPrompter.h"
#include "rules/TRuleMatcher.h"
#include "views/ClassMark.h"
#include "views/TAdvancedFilters.h"
#include "views/TBasicFilters.h"

using namespace tarnwick;

namespace {

class TSilentPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string&) override {}
    core::TAnswer Ask(core::TMessageKind, const std::string&, const std::vector<core::TAnswer>&) override
    {
        return core::TAnswer::Yes;
    }
};

// Takes the text up to the next 0xFF byte (or the end).
std::string Take(std::string_view& input)
{
    const std::size_t end = input.find('\xFF');
    std::string part(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return part;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::uint8_t options = data[0];
    input.remove_prefix(1);

    static const std::int32_t types[] = {8, 9, 10, 11, 12, 13, 14, 15, 19, 22, 0};
    rules::TRuleClass rule;
    rule.Enabled = 1;
    const std::string criteria = Take(input);
    for (std::size_t i = 0; i + 1 < criteria.size() && i < 16; i += 2) {
        rules::TRulesCriteria c;
        c.Type = types[static_cast<std::uint8_t>(criteria[i]) % std::size(types)];
        c.Flags = criteria[i + 1] & 3;
        c.Logic = (criteria[i + 1] >> 2) & 3;
        c.ValueType = c.Type == 13 || c.Type == 15 || c.Type == 19 ? rules::ValueInteger : rules::ValueList;
        c.IntValue = static_cast<std::int8_t>(criteria[i + 1]);
        c.ListValue = Take(input);
        rule.Criteria.push_back(c);
    }
    accounts::TMailMessage message;
    message.Subject = Take(input);
    message.FromText = Take(input);
    message.FromName = message.FromText;
    message.FromAddress = Take(input);
    message.ToText = Take(input);
    message.CcText = Take(input);
    message.CacheName = "none";
    message.Size = static_cast<std::int32_t>(size * 997);

    TSilentPrompter prompter;
    rules::TMatchSettings settings;
    settings.CaseSensitive = options & 1;
    settings.WholeWordsOnly = options & 2;
    settings.CacheFolder = "/nonexistent-tarnwick-cache";
    settings.AccountNames = {message.ToText, ""};
    rules::TRuleMatcher matcher(settings, prompter);
    matcher.RuleMatches(rule, message);
    for (const auto& c : rule.Criteria)
        for (const auto& entry : rules::SplitList(c.ListValue))
            matcher.MatchEntry(entry, message.Subject);

    views::TBasicFilters basic({message.ToText}, {message.CcText});
    for (int view : {4, 5, 6})
        basic.Accepts(message, view);
    views::StripClassMark(message.Subject);
    auto advanced = views::TAdvancedFiltersSettings::Defaults();
    advanced.CharacterAppearance = options >> 4;
    views::TAdvancedFilters filter(advanced, "", "", prompter);
    filter.SetCharacters(rules::SplitList(message.CcText));
    filter.HasForeignCharacters(message.Subject);
    for (int view = 9; view <= 13; ++view)
        filter.Accepts(message, view);
    return 0;
}
