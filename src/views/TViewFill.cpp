#include "views/TViewFill.h"

#include <stdexcept>

#include "accounts/TUser.h"
#include "core/TRegistry.h"
#include "rules/TRuleListClass.h"
#include "views/TAdvancedFilters.h"
#include "views/TBasicFilters.h"

namespace tarnwick::views {

namespace {

// Clears the account's StopView when the fill ends, however it ends.
class TStopViewReset
{
public:
    explicit TStopViewReset(accounts::TUser& user)
        : User_(user)
    {}
    ~TStopViewReset() { User_.StopView = false; }
    TStopViewReset(const TStopViewReset&) = delete;
    TStopViewReset& operator=(const TStopViewReset&) = delete;

private:
    accounts::TUser& User_;
};

class TFill
{
public:
    TFill(accounts::TUser& user, TViewInputs& inputs)
        : User(user)
        , Inputs(inputs)
    {}

    // Visits every record; `decide` returns whether the record qualifies and may end the fill by
    // setting End. False from the loop when StopView ended it.
    template <typename Decide> void Visit(Decide decide)
    {
        const std::size_t total = User.Mails.Count();
        for (std::size_t i = 0; i < total; ++i) {
            if (User.StopView) {
                Result.End = TFillEnd::Stopped;
                return;
            }
            if (Inputs.Progress)
                Inputs.Progress(i, total);
            const accounts::TMailMessage* message = User.Mails.At(i);
            if (message == nullptr)
                continue;
            const bool qualifies = decide(*message);
            if (Result.End != TFillEnd::Completed)
                return;
            if (qualifies)
                Add(i, *message);
        }
    }

    void Add(std::size_t index, const accounts::TMailMessage& message)
    {
        Result.Rows.push_back({index, message.Number});
        if (Inputs.OnRow)
            Inputs.OnRow(Result.Rows.back());
    }

    core::TRegistry& Registry() const
    {
        if (!Inputs.Registry)
            throw std::invalid_argument("a view fill needs the settings store");
        return *Inputs.Registry;
    }
    core::TPrompter& Prompter() const
    {
        if (!Inputs.Prompter)
            throw std::invalid_argument("a view fill needs a prompter");
        return *Inputs.Prompter;
    }

    accounts::TUser& User;
    TViewInputs& Inputs;
    TFillResult Result;
};

void FillDuplicates(TFill& fill, TAdvancedFilters& filter)
{
    const std::vector<std::size_t> indexes = filter.FindDuplicates(fill.User.Mails);
    for (std::size_t n = 0; n < indexes.size(); ++n) {
        if (fill.User.StopView) {
            fill.Result.End = TFillEnd::Stopped;
            return;
        }
        if (fill.Inputs.Progress)
            fill.Inputs.Progress(n, indexes.size());
        if (const accounts::TMailMessage* message = fill.User.Mails.At(indexes[n]))
            fill.Add(indexes[n], *message);
    }
}

void FillRule(TFill& fill, std::size_t k)
{
    rules::TRuleListClass& list = rules::RulesOf(fill.User);
    if (k >= list.Rules.size())
        return;
    rules::TRuleClass& rule = list.At(k);
    if (!fill.Inputs.NodeEnabled.value_or(rule.IsEnabled())) {
        rules::SetRuleEnabled(fill.Registry(), list, k, 0);
        return;
    }
    rule.AskedFullMessage = false;
    rule.Cancelled = false;
    rules::TRuleMatcher matcher(fill.Inputs.Match, fill.Prompter());
    fill.Visit([&](const accounts::TMailMessage& message) {
        if (message.Trashed)
            return false;
        if (rule.Cancelled) {
            fill.Result.End = TFillEnd::Abandoned;
            return false;
        }
        return matcher.RuleMatches(rule, message);
    });
}

void FillAllRules(TFill& fill)
{
    rules::TRuleListClass& list = rules::RulesOf(fill.User);
    if (!fill.Inputs.NodeEnabled.value_or(list.UserFiltersEnabled))
        return;
    // Each run asks the full-message question at most once per rule.
    for (auto& rule : list.Rules) {
        rule->AskedFullMessage = false;
        rule->Cancelled = false;
    }
    rules::TRuleMatcher matcher(fill.Inputs.Match, fill.Prompter());
    fill.Visit([&](const accounts::TMailMessage& message) {
        return !message.Trashed && matcher.AnyRuleMatches(list, message);
    });
}

} // namespace

TFillResult FillView(accounts::TUser& user, int position, TViewInputs& inputs)
{
    TStopViewReset reset(user);
    TFill fill(user, inputs);
    switch (position) {
    case ViewRoot:
    case ViewFiltered:
    case ViewAdvancedFilters:
        fill.Result.End = TFillEnd::NoList;
        break;
    case ViewAllMessages:
        fill.Visit([](const accounts::TMailMessage& message) { return !message.Trashed; });
        break;
    case ViewTrash:
        if (user.TrashNotEmpty)
            fill.Visit([](const accounts::TMailMessage& message) { return message.Trashed; });
        break;
    case ViewGood:
    case ViewSpam:
    case ViewQuestionable: {
        TBasicFilters filter(inputs.WhiteList, inputs.BlackList);
        fill.Visit([&](const accounts::TMailMessage& message) {
            return !message.Trashed && filter.Accepts(message, position);
        });
        break;
    }
    case ViewDuplicates:
    case ViewAttachments:
    case ViewHighPriority:
    case ViewForeignCharacters:
    case ViewDeliveryErrors:
    case ViewVeryLarge: {
        TAdvancedFilters filter(ReadFilterSettings(fill.Registry()), inputs.DataFolder,
                                inputs.Match.CacheFolder, fill.Prompter());
        if (position == ViewDuplicates) {
            FillDuplicates(fill, filter);
            break;
        }
        fill.Visit([&](const accounts::TMailMessage& message) {
            if (message.Trashed)
                return false;
            const bool accepted = filter.Accepts(message, position);
            if (!filter.GoOn)
                fill.Result.End = TFillEnd::Abandoned;
            return accepted;
        });
        break;
    }
    case ViewUserFilters:
        FillAllRules(fill);
        break;
    default:
        if (position >= RuleViewBase)
            FillRule(fill, static_cast<std::size_t>(position - RuleViewBase));
        break;
    }
    return std::move(fill.Result);
}

} // namespace tarnwick::views
