#include "views/ClassMark.h"

#include <algorithm>

#include "core/TextUtils.h"

namespace tarnwick::views {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && core::AsciiEqualNoCase(text.substr(0, prefix.size()), prefix);
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string_view StripClassMarkView(std::string_view subject)
{
    if (StartsWithNoCase(subject, QuestionableMark))
        return subject.substr(QuestionableMark.size());
    if (StartsWithNoCase(subject, SpamMark))
        return subject.substr(SpamMark.size());
    return subject;
}

std::string StripClassMark(std::string_view subject)
{
    return std::string(StripClassMarkView(subject));
}

std::string ReplaceClassPrefix(std::string_view subject, std::string_view newPrefix)
{
    std::string result(newPrefix);
    result += StripClassMarkView(subject);
    return result;
}

bool ContainsNoCase(std::string_view text, std::string_view needle)
{
    const auto found = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                   [](char a, char b) { return Lower(a) == Lower(b); });
    return found != text.end() || needle.empty();
}

} // namespace tarnwick::views
