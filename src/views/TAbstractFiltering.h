#pragma once

#include "accounts/TMailMessage.h"

namespace tarnwick::views {

// Positions of the folder tree's nodes, depth first; the rule at index k is at RuleViewBase + k.
enum TViewPosition : int
{
    ViewRoot = 0,
    ViewAllMessages = 1,
    ViewTrash = 2,
    ViewFiltered = 3,
    ViewGood = 4,
    ViewSpam = 5,
    ViewQuestionable = 6,
    ViewAdvancedFilters = 7,
    ViewDuplicates = 8,
    ViewAttachments = 9,
    ViewHighPriority = 10,
    ViewForeignCharacters = 11,
    ViewDeliveryErrors = 12,
    ViewVeryLarge = 13,
    ViewUserFilters = 14,
    RuleViewBase = 15,
};

// A view that decides message by message which records it shows.
class TAbstractFiltering
{
public:
    virtual ~TAbstractFiltering() = default;
    virtual bool Accepts(const accounts::TMailMessage& message, int viewIndex) = 0;
};

} // namespace tarnwick::views
