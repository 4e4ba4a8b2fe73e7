// Arbitrary bytes as a rule file: the reader either fills a rule or throws its file error. A rule it
// accepts fits the store (no list longer than MaxListBytes, measured as the UTF-8 it is kept as) and
// writes a file that reads back to the same rule.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "rules/Errors.h"
#include "rules/TRuleFile.h"

using namespace tarnwick::rules;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::stringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TRulestype rule;
    try {
        ReadRuleStream(rule, in, "fuzz");
    } catch (const TRuleFileError&) {
        return 0;
    }
    for (const auto& criterion : rule.Criteria) {
        if (criterion.ListValue.size() > MaxListBytes)
            std::abort();
    }
    std::stringstream out;
    WriteRuleStream(rule, out);
    TRulestype again;
    ReadRuleStream(again, out, "written");
    if (!(again == rule))
        std::abort();
    return 0;
}
