#include "rules/TOutlook6Identities.h"

#include <algorithm>

#include "accounts/TUser.h"
#include "core/Errors.h"
#include "core/TPrompter.h"
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

int ImportOutlookRules(core::TRegistry& registry, core::TPrompter& prompter, accounts::TUser& user,
                       const TOutlook6Identities& identities, const std::vector<TRuleImportRow>& rows)
{
    TRuleListClass& list = RulesOf(user);
    int copied = 0;
    for (const auto& row : rows) {
        if (row.IdentityID >= identities.size() ||
            row.RuleID >= identities[row.IdentityID].RuleKeyPaths.size())
            continue;
        const TOutlook6Identity& identity = identities[row.IdentityID];
        const std::string& source = identity.RuleKeyPaths[row.RuleID];
        const std::size_t before = list.Rules.size();
        // Taking the key and copying the rule are one transaction: a rule that fails halfway
        // leaves no key behind, and the rows after it are still imported.
        try {
            registry.Store().Transaction([&] {
                TRuleClass& rule = AddNewRule(registry, list, user.ID());
                if (!MoveRuleKey(registry, source, rule.KeyPath))
                    throw core::TStoreError("its key \"" + source + "\" no longer exists.");
            });
            ++copied;
        } catch (const core::TError& e) {
            list.Rules.erase(list.Rules.begin() + static_cast<std::ptrdiff_t>(before), list.Rules.end());
            list.Current = nullptr;
            const std::string name =
                row.RuleID < identity.RuleNames.size() ? identity.RuleNames[row.RuleID] : source;
            prompter.Inform(core::TMessageKind::Error,
                            "The Outlook Express rule \"" + name + "\" cannot be imported: " + e.what());
        }
    }
    return copied;
}

} // namespace tarnwick::rules
