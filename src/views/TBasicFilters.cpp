#include "views/TBasicFilters.h"

#include "core/TextUtils.h"
#include "views/ClassMark.h"

namespace tarnwick::views {

namespace {

// Unicode case folding; plain ASCII texts (most addresses) fold the letters A to Z alone, which is
// the same result without the cost of the general folding.
std::string Fold(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return core::FoldCase(text);
    return core::AsciiLower(text);
}

} // namespace

TBasicFilters::TBasicFilters(std::vector<std::string> whiteList, std::vector<std::string> blackList)
    : WhiteList(std::move(whiteList))
    , BlackList(std::move(blackList))
{
    for (const auto& text : WhiteList)
        White_.insert(Fold(text));
    for (const auto& text : BlackList)
        Black_.insert(Fold(text));
}

bool TBasicFilters::Accepts(const accounts::TMailMessage& message, int viewIndex)
{
    const std::string sender = Fold(message.FromAddress);
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
