#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::rules {

// Criterion type codes, as Outlook Express stores them in its mail rules.
enum TCriterionType : std::int32_t
{
    CriterionSubject = 8,
    CriterionBody = 9,
    CriterionTo = 10,
    CriterionCc = 11,
    CriterionFrom = 12,
    CriterionPriority = 13,
    CriterionAttachments = 14,
    CriterionSize = 15,
    CriterionAccount = 19,
    CriterionToOrCc = 22,
};

// Value kinds of a criterion.
enum TValueType : std::int32_t
{
    ValueNone = 0,
    ValueInteger = 19,
    ValueText = 30,
    ValueList = 65,
};

inline constexpr std::int32_t FlagNegated = 1; // "does not contain"
inline constexpr std::int32_t FlagAll = 2;     // every entry must match
inline constexpr std::int32_t LogicNone = 0;
inline constexpr std::int32_t LogicOr = 1;
inline constexpr std::int32_t LogicAnd = 2;

// The most bytes a list value may hold in the store and in rule files.
inline constexpr std::size_t MaxListBytes = 2049;

// The ten criterion types this program knows.
bool IsValidCriterionType(std::int32_t type);

// One criterion of a rule. `Logic` joins this criterion to the ones before it (0 for the first);
// the store and the rule files keep the join on the criterion before instead.
struct TRulesCriteria
{
    std::int32_t Flags = 0;
    std::int32_t Logic = LogicNone;
    std::int32_t Type = 0;
    bool ValueSet = false;
    std::int32_t IntValue = 0;
    std::string TextValue;
    std::string ListValue; // entries, each followed by one NUL byte
    std::int32_t ValueType = ValueNone;
    std::int32_t KeyNumber = 0;

    bool operator==(const TRulesCriteria&) const = default;
};

// The entries of a list value: the texts before each NUL byte, empty ones dropped; text after the
// last NUL is no entry.
std::vector<std::string> SplitList(std::string_view list);
// A list value of entries as the rule editor writes it: each entry with its NUL, then two more NULs.
std::string JoinList(const std::vector<std::string>& entries);

// The name of a rule or criterion key: upper-case hexadecimal, at least three digits.
std::string FormatKeyNumber(std::int32_t n);

} // namespace tarnwick::rules
