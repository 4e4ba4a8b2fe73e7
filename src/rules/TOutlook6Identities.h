#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarnwick::core {
class TRegistry;
class TPrompter;
} // namespace tarnwick::core

namespace tarnwick::accounts {
class TUser;
}

namespace tarnwick::rules {

inline constexpr const char* IdentitiesKey = "\\Identities";
inline constexpr const char* OutlookRulesSubKey = "\\Software\\Microsoft\\Outlook Express\\5.0\\Rules\\Mail";

// One Outlook Express identity with the keys and names of its mail rules. On this system the
// identities are read from the same key paths of the settings store, filled by importing a
// Windows ".reg" export.
struct TOutlook6Identity
{
    std::string KeyPath; // "\Identities\<id>"
    std::string UserName;
    std::vector<std::string> RuleKeyPaths;
    std::vector<std::string> RuleNames;

    bool operator==(const TOutlook6Identity&) const = default;
};

using TOutlook6Identities = std::vector<TOutlook6Identity>;

// Every identity below "\Identities", in the store's order; empty when the key is missing.
TOutlook6Identities ReadOutlook6Identities(core::TRegistry& registry);

// One row of "Rules to import".
struct TRuleImportRow
{
    std::size_t IdentityID = 0;
    std::size_t RuleID = 0;
    bool operator==(const TRuleImportRow&) const = default;
};

// Adds a row unless the same pair is listed already; true when it was added.
bool AddImportRow(std::vector<TRuleImportRow>& rows, TRuleImportRow row);

// Copies the key tree of each row's rule under a new rule key of the account, each rule in one
// transaction. The rules are read (and criteria of unknown kinds reported and dropped) by the next
// LoadRules. A rule that cannot be copied is reported through the prompter, leaves no key behind,
// and the other rows are still imported. Returns the number of rules copied; rows that point
// outside the identities are skipped.
int ImportOutlookRules(core::TRegistry& registry, core::TPrompter& prompter, accounts::TUser& user,
                       const TOutlook6Identities& identities, const std::vector<TRuleImportRow>& rows);

} // namespace tarnwick::rules
