#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "views/TAbstractFiltering.h"

namespace tarnwick::views {

// The "Good", "Spam" and "Questionable" views: the sender against the enabled rows of the white and
// black lists, compared as the lists compare addresses (classify::SameListAddress: letter case
// ignored, the domain's also beyond ASCII; not trimmed), and the spam mark of the subject.
class TBasicFilters : public TAbstractFiltering
{
public:
    TBasicFilters(std::vector<std::string> whiteList, std::vector<std::string> blackList);

    bool Accepts(const accounts::TMailMessage& message, int viewIndex) override;

    const std::vector<std::string> WhiteList;
    const std::vector<std::string> BlackList;

private:
    std::unordered_set<std::string> White_; // classify::ListAddressKey of each text
    std::unordered_set<std::string> Black_; // classify::ListAddressKey of each text
};

} // namespace tarnwick::views
