#include "TDecodeIp.h"

#include <unordered_set>

#include "core/TextUtils.h"

namespace tarnwick::classify {

namespace {

bool IsOctet(std::string_view part)
{
    if (part.empty())
        return false;
    unsigned value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255)
            return false;
    }
    return true;
}

bool IsTokenSeparator(char c)
{
    return c == ' ' || c == '(' || c == ')' || c == '[' || c == ']';
}

std::size_t FindNoCase(std::string_view text, std::string_view what)
{
    if (what.size() > text.size())
        return std::string_view::npos;
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i)
        if (core::AsciiEqualNoCase(text.substr(i, what.size()), what))
            return i;
    return std::string_view::npos;
}

} // namespace

bool IsValidIPv4(std::string_view text)
{
    std::string_view rest = core::TrimBlanksAndControls(text);
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        if (!IsOctet(part))
            return false;
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    }
    return true;
}

TDecodeIp::TDecodeIp(std::vector<std::string> headerLines)
    : Lines_(std::move(headerLines))
{}

void TDecodeIp::ExtractAddresses(std::vector<std::string>& out)
{
    out.clear();
    Segments_.clear();

    // Segments: the sending part and the receiving part of each "Received" line.
    for (const std::string& line : Lines_) {
        const std::string_view text = line;
        if (!core::AsciiEqualNoCase(text.substr(0, 8), "Received"))
            continue;
        const std::size_t from = FindNoCase(text, ": from");
        if (from == std::string_view::npos)
            continue;
        const std::string_view rest = text.substr(from + 6);
        const std::size_t by = rest.find("by");
        const std::string_view before = core::TrimBlanksAndControls(rest.substr(0, by));
        if (!before.empty())
            Segments_.emplace_back(before);
        if (by == std::string_view::npos)
            continue;
        const std::string_view after = rest.substr(by + 2);
        if (core::TrimBlanksAndControls(after).empty())
            continue;
        Segments_.emplace_back(after.substr(0, after.find(';')));
    }

    // Tokens and candidates.
    std::unordered_set<std::string> seen;
    for (const std::string& segment : Segments_) {
        std::size_t pos = 0;
        while (pos < segment.size()) {
            while (pos < segment.size() && IsTokenSeparator(segment[pos]))
                ++pos;
            std::size_t end = pos;
            while (end < segment.size() && !IsTokenSeparator(segment[end]))
                ++end;
            if (end == pos)
                break;
            const std::string_view token(segment.data() + pos, end - pos);
            pos = end;

            std::string candidate;
            if (IsValidIPv4(token)) {
                candidate = std::string(core::TrimBlanksAndControls(token));
            } else {
                std::string digits;
                for (const char c : token)
                    if ((c >= '0' && c <= '9') || c == '.')
                        digits += c;
                if (!digits.empty() && IsValidIPv4(digits))
                    candidate = std::move(digits);
            }
            if (!candidate.empty() && seen.insert(candidate).second)
                out.push_back(std::move(candidate));
        }
    }
}

} // namespace tarnwick::classify
