#include "rules/TRuleListClass.h"

#include <algorithm>
#include <optional>
#include <set>

#include "core/Errors.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "core/TextUtils.h"
#include "rules/Errors.h"

namespace tarnwick::rules {

namespace {

constexpr const char* CriteriaKey = "\\Criteria";

void ReportError(core::TPrompter& prompter, const std::string& text)
{
    prompter.Inform(core::TMessageKind::Error, text);
}

// Reads the value of a criterion key by its value type. Throws core::TStoreError when the value is
// of the wrong kind and TRuleError when a list is longer than the store allows.
void ReadCriterionValue(core::TRegistry& registry, TRulesCriteria& criterion)
{
    if (!registry.ValueExists("ValueType"))
        return;
    criterion.ValueType = registry.ReadInteger("ValueType");
    const bool hasValue = registry.ValueExists("Value");
    switch (criterion.ValueType) {
    case ValueInteger:
        criterion.IntValue = hasValue ? registry.ReadInteger("Value") : -1;
        criterion.ValueSet = criterion.IntValue != -1;
        break;
    case ValueText:
        criterion.TextValue = hasValue ? registry.ReadString("Value") : std::string();
        criterion.ValueSet = !criterion.TextValue.empty();
        break;
    case ValueList:
        criterion.ListValue = hasValue ? registry.ReadBinaryData("Value") : std::string();
        if (criterion.ListValue.size() > MaxListBytes)
            throw TRuleError("its list of " + std::to_string(criterion.ListValue.size()) +
                             " bytes is longer than " + std::to_string(MaxListBytes) + " bytes");
        criterion.ValueSet = !criterion.ListValue.empty();
        break;
    default:
        break;
    }
}

// Writes the rule's values and criteria; SaveRule runs it as one transaction.
void WriteRule(core::TRegistry& registry, const TRuleClass& rule, const std::string& keyPath,
               bool rewriteCriteria)
{
    registry.OpenKey(keyPath, true);
    registry.WriteString("Name", rule.Name);
    registry.WriteInteger("Enabled", rule.Enabled);
    registry.WriteInteger("Version", rule.Version);
    registry.WriteInteger("Show", rule.Show);
    if (rewriteCriteria)
        registry.DeleteKey(keyPath + CriteriaKey);
    for (std::size_t i = 0; i < rule.Criteria.size(); ++i) {
        const TRulesCriteria& criterion = rule.Criteria[i];
        registry.OpenKey(keyPath + CriteriaKey + "\\" + FormatKeyNumber(static_cast<std::int32_t>(i)), true);
        registry.WriteInteger("Flags", criterion.Flags);
        registry.WriteInteger("Logic", i + 1 < rule.Criteria.size() ? rule.Criteria[i + 1].Logic : 0);
        registry.WriteInteger("Type", criterion.Type);
        registry.WriteInteger("ValueType", criterion.ValueType);
        switch (criterion.ValueType) {
        case ValueInteger:
            registry.WriteInteger("Value", criterion.IntValue);
            break;
        case ValueText:
            registry.WriteString("Value", criterion.TextValue);
            break;
        case ValueList:
            registry.WriteBinaryData("Value", criterion.ListValue);
            break;
        default:
            break;
        }
    }
}

} // namespace

TRuleListClass& RulesOf(accounts::TUser& user)
{
    if (auto* list = dynamic_cast<TRuleListClass*>(user.Rules.get()))
        return *list;
    auto list = std::make_unique<TRuleListClass>();
    TRuleListClass& result = *list;
    user.Rules = std::move(list);
    return result;
}

std::string RulesKeyOf(const accounts::TUserID& id)
{
    std::string key = accounts::AccountsKey;
    if (!id.KeyName.empty())
        key += "\\" + id.KeyName;
    return key + "\\Rules";
}

TRuleLoad LoadRule(core::TRegistry& registry, core::TPrompter& prompter, TRuleClass& rule,
                   const std::string& keyPath)
{
    if (!registry.OpenKey(keyPath, false))
        return TRuleLoad::Missing;
    rule.Name = registry.ReadString("Name");
    rule.Enabled = registry.ReadInteger("Enabled");
    rule.Version = registry.ReadInteger("Version");
    rule.Show = registry.ValueExists("Show") ? registry.ReadInteger("Show") : 1;

    const std::string criteriaPath = keyPath + CriteriaKey;
    std::vector<std::string> names;
    if (registry.OpenKey(criteriaPath, false))
        names = registry.GetKeyNames();

    std::int32_t carried = LogicNone;
    int accepted = 0;
    int unreadable = 0;
    // Keys of criteria of unknown type, deleted once it is clear that the rule is kept or dropped.
    std::vector<std::string> unknown;
    for (std::size_t j = 0; j < names.size(); ++j) {
        const std::string path = criteriaPath + "\\" + names[j];
        TRulesCriteria criterion;
        criterion.KeyNumber = static_cast<std::int32_t>(j);
        try {
            if (!registry.OpenKey(path, false))
                continue;
            criterion.Flags = registry.ReadInteger("Flags");
            if (j > 0)
                criterion.Logic = carried;
            carried = registry.ReadInteger("Logic");
            criterion.Type = registry.ReadInteger("Type");
            if (!IsValidCriterionType(criterion.Type)) {
                ReportError(prompter, rule.Name + UnknownCriteriaText);
                // The key enumerated is the one deleted, whatever its name.
                unknown.push_back(path);
                continue;
            }
            if (criterion.Type == CriterionAttachments)
                criterion.ValueSet = true;
            ReadCriterionValue(registry, criterion);
        } catch (const core::TError& e) {
            ReportError(prompter, rule.Name + "\n\nA criterion of this rule cannot be read (key " + names[j] +
                                      "): " + e.what() + "\nIt is left out.");
            ++unreadable;
            continue;
        }
        rule.Criteria.push_back(std::move(criterion));
        ++accepted;
    }
    if (accepted == 0 && unreadable > 0)
        return TRuleLoad::UnreadableCriteria;
    for (const auto& path : unknown)
        registry.DeleteKey(path);
    return accepted > 0 ? TRuleLoad::Usable : TRuleLoad::NoValidCriteria;
}

void LoadRules(core::TRegistry& registry, core::TPrompter& prompter, TRuleListClass& list,
               const accounts::TUserID& id)
{
    list.Rules.clear();
    list.Current = nullptr;
    const std::string rulesKey = RulesKeyOf(id);
    if (!registry.OpenKey(rulesKey, false))
        return;
    const std::vector<std::string> names = registry.GetKeyNames();
    for (const auto& name : names) {
        auto rule = std::make_unique<TRuleClass>();
        rule->KeyPath = rulesKey + "\\" + name;
        TRuleLoad loaded = TRuleLoad::Missing;
        try {
            loaded = LoadRule(registry, prompter, *rule, rule->KeyPath);
        } catch (const core::TError& e) {
            // The rule's own values are unreadable: leave it out, but keep its key for a repair.
            ReportError(prompter, (rule->Name.empty() ? name : rule->Name) +
                                      "\n\nThis Rule cannot be read: " + e.what());
            continue;
        }
        switch (loaded) {
        case TRuleLoad::Usable:
            list.Rules.push_back(std::move(rule));
            break;
        case TRuleLoad::UnreadableCriteria:
            // Each criterion was reported already; the key stays for a repair.
            ReportError(prompter, rule->Name + UnreadableCriteriaText);
            break;
        case TRuleLoad::NoValidCriteria:
            // Nothing of such a rule can ever match: it has no criterion, or only ones of kinds this
            // program does not know (reported above).
            ReportError(prompter, rule->Name + NoValidCriteriaText);
            registry.DeleteKey(rule->KeyPath);
            break;
        case TRuleLoad::Missing:
            // Gone since the names were read: nothing to load or report.
            break;
        }
    }
}

bool SaveRule(core::TRegistry& registry, const TRuleClass& rule, const std::string& keyPath,
              bool rewriteCriteria)
{
    for (const auto& criterion : rule.Criteria) {
        if (criterion.ValueType == ValueList && criterion.ListValue.size() > MaxListBytes)
            throw TRuleError("The rule \"" + rule.Name + "\" cannot be saved: a list of " +
                             std::to_string(criterion.ListValue.size()) + " bytes is longer than the " +
                             std::to_string(MaxListBytes) + " bytes a rule can hold.");
    }
    // One transaction: a store error halfway through leaves the rule as it was (or absent), never
    // a rule key with only some of its values or criteria.
    try {
        registry.Store().Transaction([&] { WriteRule(registry, rule, keyPath, rewriteCriteria); });
    } catch (...) {
        // The key the cursor stands on may have been rolled back with the rest.
        registry.CloseKey();
        throw;
    }
    return true;
}

std::int32_t NextFreeKeyNumber(core::TRegistry& registry, const accounts::TUserID& id,
                               const TRuleListClass* pending)
{
    const std::string rulesKey = RulesKeyOf(id);
    registry.OpenKey(rulesKey, true);
    // The store takes "00a" and "00A" for the same key, so a number is free only when no subkey
    // (and no unsaved rule of the list) has its name in any letter case.
    std::set<std::string> taken;
    for (const auto& name : registry.GetKeyNames())
        taken.insert(core::FoldCase(name));
    if (pending != nullptr) {
        const std::string prefix = core::FoldCase(rulesKey + "\\");
        for (const auto& rule : pending->Rules) {
            const std::string path = core::FoldCase(rule->KeyPath);
            if (path.starts_with(prefix))
                taken.insert(path.substr(prefix.size()));
        }
    }
    std::int32_t n = 0;
    while (taken.contains(core::FoldCase(FormatKeyNumber(n))))
        ++n;
    return n;
}

std::string NewRuleName(const TRuleListClass& list)
{
    for (int k = 1;; ++k) {
        const std::string name = "New Rule #" + std::to_string(k);
        const bool taken = std::any_of(list.Rules.begin(), list.Rules.end(),
                                       [&](const auto& rule) { return rule->Name == name; });
        if (!taken)
            return name;
    }
}

TRuleClass& AddNewRule(core::TRegistry& registry, TRuleListClass& list, const accounts::TUserID& id)
{
    const std::int32_t n = NextFreeKeyNumber(registry, id, &list);
    auto rule = std::make_unique<TRuleClass>();
    rule->KeyPath = RulesKeyOf(id) + "\\" + FormatKeyNumber(n);
    rule->Name = NewRuleName(list);
    rule->Enabled = 0;
    rule->Version = 0;
    rule->Show = 0;
    list.Rules.push_back(std::move(rule));
    list.Current = list.Rules.back().get();
    return *list.Current;
}

void DeleteRule(core::TRegistry& registry, TRuleListClass& list, std::size_t index)
{
    TRuleClass& rule = list.At(index);
    registry.DeleteKey(rule.KeyPath);
    if (list.Current == &rule)
        list.Current = nullptr;
    list.Rules.erase(list.Rules.begin() + static_cast<std::ptrdiff_t>(index));
}

void SetRuleEnabled(core::TRegistry& registry, TRuleListClass& list, std::size_t index, std::int32_t value)
{
    TRuleClass& rule = list.At(index);
    rule.Enabled = value;
    SaveRule(registry, rule, rule.KeyPath, true);
}

bool MoveRuleKey(core::TRegistry& registry, const std::string& fromPath, const std::string& toPath)
{
    return registry.CopyKey(fromPath, toPath);
}

std::vector<TRuleCheckRow> FillRuleCheckList(const TRuleListClass& list)
{
    std::vector<TRuleCheckRow> rows;
    for (const auto& rule : list.Rules)
        rows.push_back({rule->Name, rule->IsEnabled()});
    return rows;
}

} // namespace tarnwick::rules
