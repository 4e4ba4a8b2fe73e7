#include "rules/TOutlook6Identities.h"

#include <algorithm>

#include "accounts/TUser.h"
#include "core/Errors.h"
#include "core/TRegistry.h"
#include "rules/TRuleListClass.h"

namespace tarnwick::rules {

namespace {

std::string ReadNameOrEmpty(core::TRegistry& registry, const char* value)
{
    try {
        return registry.ReadString(value);
    } catch (const core::TError&) {
        return {};
    }
}

} // namespace

TOutlook6Identities ReadOutlook6Identities(core::TRegistry& registry)
{
    TOutlook6Identities identities;
    if (!registry.OpenKey(IdentitiesKey, false))
        return identities;
    const std::vector<std::string> ids = registry.GetKeyNames();
    for (const auto& id : ids) {
        TOutlook6Identity identity;
        identity.KeyPath = std::string(IdentitiesKey) + "\\" + id;
        if (registry.OpenKey(identity.KeyPath, false))
            identity.UserName = ReadNameOrEmpty(registry, "Username");
        const std::string rulesKey = identity.KeyPath + OutlookRulesSubKey;
        if (registry.OpenKey(rulesKey, false)) {
            for (const auto& rule : registry.GetKeyNames())
                identity.RuleKeyPaths.push_back(rulesKey + "\\" + rule);
        }
        for (const auto& path : identity.RuleKeyPaths) {
            registry.OpenKey(path, false);
            identity.RuleNames.push_back(ReadNameOrEmpty(registry, "Name"));
        }
        identities.push_back(std::move(identity));
    }
    return identities;
}

bool AddImportRow(std::vector<TRuleImportRow>& rows, TRuleImportRow row)
{
    if (std::find(rows.begin(), rows.end(), row) != rows.end())
        return false;
    rows.push_back(row);
    return true;
}

int ImportOutlookRules(core::TRegistry& registry, accounts::TUser& user,
                       const TOutlook6Identities& identities, const std::vector<TRuleImportRow>& rows)
{
    TRuleListClass& list = RulesOf(user);
    int copied = 0;
    for (const auto& row : rows) {
        if (row.IdentityID >= identities.size() ||
            row.RuleID >= identities[row.IdentityID].RuleKeyPaths.size())
            continue;
        TRuleClass& rule = AddNewRule(registry, list, user.ID());
        if (MoveRuleKey(registry, identities[row.IdentityID].RuleKeyPaths[row.RuleID], rule.KeyPath)) {
            ++copied;
        } else {
            list.Rules.pop_back();
            list.Current = nullptr;
        }
    }
    return copied;
}

} // namespace tarnwick::rules
