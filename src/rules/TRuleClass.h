#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rules/TRulesCriteria.h"

namespace tarnwick::rules {

// One rule as stored.
struct TRulestype
{
    std::string Name;
    std::int32_t Enabled = 0; // 1 enabled, anything else disabled
    std::int32_t Version = 0;
    std::int32_t Show = 1;
    std::vector<TRulesCriteria> Criteria;

    bool operator==(const TRulestype&) const = default;
};

// One rule in memory: the stored rule, where it is stored, and the flags of its current run.
class TRuleClass : public TRulestype
{
public:
    std::string KeyPath;
    // The user agreed, during this run, to go on without whole messages.
    bool AskedFullMessage = false;
    // The user declined, during this run, to go on without whole messages.
    bool Cancelled = false;

    bool IsEnabled() const { return Enabled == 1; }
};

} // namespace tarnwick::rules
