#include "rules/TRulesCriteria.h"

namespace tarnwick::rules {

bool IsValidCriterionType(std::int32_t type)
{
    switch (type) {
    case CriterionSubject:
    case CriterionBody:
    case CriterionTo:
    case CriterionCc:
    case CriterionFrom:
    case CriterionPriority:
    case CriterionAttachments:
    case CriterionSize:
    case CriterionAccount:
    case CriterionToOrCc:
        return true;
    default:
        return false;
    }
}

std::vector<std::string> SplitList(std::string_view list)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t nul = list.find('\0'); nul != std::string_view::npos; nul = list.find('\0', start)) {
        if (nul > start)
            entries.emplace_back(list.substr(start, nul - start));
        start = nul + 1;
    }
    return entries;
}

std::string JoinList(const std::vector<std::string>& entries)
{
    std::string list;
    for (const auto& entry : entries) {
        list += entry;
        list += '\0';
    }
    list.append(2, '\0');
    return list;
}

std::string FormatKeyNumber(std::int32_t n)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    auto value = static_cast<std::uint32_t>(n);
    std::string text;
    do {
        text.insert(text.begin(), Digits[value % 16]);
        value /= 16;
    } while (value != 0);
    if (text.size() < 3)
        text.insert(0, 3 - text.size(), '0');
    return text;
}

} // namespace tarnwick::rules
