#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/TUser.h"
#include "rules/TRuleClass.h"

namespace tarnwick::core {
class TRegistry;
class TPrompter;
} // namespace tarnwick::core

namespace tarnwick::rules {

inline constexpr const char* UnknownCriteriaText = "\n\nThis Rule contains an unknown criteria!";
inline constexpr const char* NoValidCriteriaText = "\n\nThis Rule contains no valid criteria!";
inline constexpr const char* UnreadableCriteriaText =
    "\n\nNo criterion of this Rule can be read. The Rule is left out and kept as it is stored.";

// One row of the rules dialog's check list.
struct TRuleCheckRow
{
    std::string Name;
    bool Checked = false;
    bool operator==(const TRuleCheckRow&) const = default;
};

// The rules of one account, in the order of their keys in the store. Owns its rules.
class TRuleListClass : public accounts::TUserAttachment
{
public:
    std::vector<std::unique_ptr<TRuleClass>> Rules;
    // The rule being edited, described or applied; null when none.
    TRuleClass* Current = nullptr;
    bool UserFiltersEnabled = true;

    std::int32_t Count() const { return static_cast<std::int32_t>(Rules.size()); }
    TRuleClass& At(std::size_t index) { return *Rules.at(index); }
    const TRuleClass& At(std::size_t index) const { return *Rules.at(index); }
};

// The rule list of an account, made on first use.
TRuleListClass& RulesOf(accounts::TUser& user);

// "\Software\Orvalent\Tarnwick\Acounts\<key name>\Rules" (without the key name when it is empty).
std::string RulesKeyOf(const accounts::TUserID& id);

// What LoadRule made of a rule key.
enum class TRuleLoad
{
    Missing,            // there is no such key
    Usable,             // at least one criterion was accepted
    NoValidCriteria,    // no criterion keys, or only ones of unknown type
    UnreadableCriteria, // no criterion accepted, and at least one could not be read
};

// Reads one rule's values and criteria into `rule`, appending to its criteria. A criterion whose
// values cannot be read is reported and left out (its key stays). Criteria of unknown type are
// reported and, unless the rule turns out unreadable, their keys deleted: a rule that is left out
// is not touched. Throws core::TError when the rule's own values cannot be read.
TRuleLoad LoadRule(core::TRegistry& registry, core::TPrompter& prompter, TRuleClass& rule,
                   const std::string& keyPath);

// Reads every rule of the account. A rule without a valid criterion is reported and deleted. A
// rule whose own values or all of whose criteria cannot be read is reported and left out of the
// list without touching its key, so a repaired store loads it again.
void LoadRules(core::TRegistry& registry, core::TPrompter& prompter, TRuleListClass& list,
               const accounts::TUserID& id);

// Writes the rule to `keyPath` in one transaction: when the store fails halfway, the key is left as
// it was (or absent) and the store's error is thrown. Throws TRuleError, before anything is
// written, when a list value is longer than the store allows.
bool SaveRule(core::TRegistry& registry, const TRuleClass& rule, const std::string& keyPath,
              bool rewriteCriteria = true);

// The smallest key number whose name is not a subkey of the account's rules key (created when
// missing) nor the key of a rule of `pending`, compared without regard to case as the store
// compares key names.
std::int32_t NextFreeKeyNumber(core::TRegistry& registry, const accounts::TUserID& id,
                               const TRuleListClass* pending = nullptr);
// "New Rule #k" with the smallest k that no rule of the list is named.
std::string NewRuleName(const TRuleListClass& list);

// Appends a fresh, unsaved rule under the next key number free in the store and in the list, and
// makes it current.
TRuleClass& AddNewRule(core::TRegistry& registry, TRuleListClass& list, const accounts::TUserID& id);
// Deletes the rule's key tree and removes it from the list.
void DeleteRule(core::TRegistry& registry, TRuleListClass& list, std::size_t index);
void SetRuleEnabled(core::TRegistry& registry, TRuleListClass& list, std::size_t index, std::int32_t value);
// Copies the key tree at `fromPath` to `toPath`, keeping the source; false when the source is missing.
bool MoveRuleKey(core::TRegistry& registry, const std::string& fromPath, const std::string& toPath);
std::vector<TRuleCheckRow> FillRuleCheckList(const TRuleListClass& list);

} // namespace tarnwick::rules
