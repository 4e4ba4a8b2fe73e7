#include "views/TBasicFilters.h"

#include "classify/TAddressList.h"
#include "views/ClassMark.h"

namespace tarnwick::views {

TBasicFilters::TBasicFilters(std::vector<std::string> whiteList, std::vector<std::string> blackList)
    : WhiteList(std::move(whiteList))
    , BlackList(std::move(blackList))
{
    for (const auto& text : WhiteList)
        White_.insert(classify::ListAddressKey(text));
    for (const auto& text : BlackList)
        Black_.insert(classify::ListAddressKey(text));
}

bool TBasicFilters::Accepts(const accounts::TMailMessage& message, int viewIndex)
{
    const std::string sender = classify::ListAddressKey(message.FromAddress);
    const bool good = White_.contains(sender);
    const bool spam = Black_.contains(sender) || ContainsNoCase(message.Subject, SpamMark);
    switch (viewIndex) {
    case ViewGood:
        return good;
    case ViewSpam:
        return spam;
    case ViewQuestionable:
        return !good && !spam;
    default:
        return false;
    }
}

} // namespace tarnwick::views
