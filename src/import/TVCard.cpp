#include "TVCard.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include <glib.h>

#include "core/TextUtils.h"

namespace tarnwick::import {

namespace {

using core::AsciiEqualNoCase;
using core::AsciiLower;
using core::AsciiUpper;

// Splits the text into logical lines: a physical line ends at LF (a CR before it is dropped); a
// line starting with a blank or a tab continues the one before it, without that first character;
// a quoted-printable value ending in "=" (a soft line break) continues on the next line as it is.
class TLogicalLines
{
public:
    explicit TLogicalLines(std::string_view text)
        : Text_(text)
    {}

    // The next logical line; `overlong` tells that it grew past MaxVCardLine and was cut there.
    bool Next(std::string& line, bool& overlong)
    {
        if (Pos_ >= Text_.size())
            return false;
        line.clear();
        overlong = false;
        Scanned_ = 0;
        InQuote_ = false;
        Colon_ = std::string::npos;
        QuotedPrintable_ = false;
        Append(line, Physical(), overlong);
        while (Pos_ < Text_.size()) {
            const std::string_view next = Peek();
            if (!next.empty() && (next[0] == ' ' || next[0] == '\t')) {
                Physical();
                Append(line, next.substr(1), overlong);
            } else if (SoftBreak(line) && !StartsEnd(next)) {
                Physical();
                line.pop_back();
                Append(line, next, overlong);
            } else {
                break;
            }
        }
        return true;
    }

private:
    std::string_view Peek() const
    {
        const std::size_t end = Text_.find('\n', Pos_);
        std::string_view physical =
            Text_.substr(Pos_, end == std::string_view::npos ? std::string_view::npos : end - Pos_);
        if (!physical.empty() && physical.back() == '\r')
            physical.remove_suffix(1);
        return physical;
    }

    std::string_view Physical()
    {
        const std::string_view physical = Peek();
        const std::size_t end = Text_.find('\n', Pos_);
        Pos_ = end == std::string_view::npos ? Text_.size() : end + 1;
        return physical;
    }

    void Append(std::string& line, std::string_view part, bool& overlong)
    {
        if (line.size() + part.size() > MaxVCardLine) {
            part = part.substr(0, MaxVCardLine - line.size());
            overlong = true;
        }
        line.append(part);
        FindColon(line);
    }

    // Finds the colon that ends the property's name and parameters (a quoted parameter value may
    // hold one), scanning each character once however many parts the line is made of.
    void FindColon(const std::string& line)
    {
        for (; Colon_ == std::string::npos && Scanned_ < line.size(); ++Scanned_) {
            const char c = line[Scanned_];
            if (c == '"') {
                InQuote_ = !InQuote_;
            } else if (c == ':' && !InQuote_) {
                Colon_ = Scanned_;
                const std::string head = AsciiUpper(std::string_view(line).substr(0, Colon_));
                QuotedPrintable_ = head.find("QUOTED-PRINTABLE") != std::string::npos;
            }
        }
    }

    bool SoftBreak(const std::string& line) const
    {
        return QuotedPrintable_ && line.size() > Colon_ + 1 && line.back() == '=';
    }

    // A writer that ends the last line of a value with "=" must not swallow the card's end.
    static bool StartsEnd(std::string_view line) { return AsciiEqualNoCase(line.substr(0, 4), "END:"); }

    std::string_view Text_;
    std::size_t Pos_ = 0;
    std::size_t Scanned_ = 0;
    bool InQuote_ = false;
    std::size_t Colon_ = std::string::npos;
    bool QuotedPrintable_ = false;
};

struct TParam
{
    std::string Key; // upper case
    std::string Value;
};

struct TProperty
{
    std::string Name; // upper case, without its group prefix
    std::vector<TParam> Params;
    std::string Value;

    bool HasParamValue(std::string_view key, std::string_view value) const
    {
        return std::any_of(Params.begin(), Params.end(),
                           [&](const TParam& p) { return p.Key == key && AsciiEqualNoCase(p.Value, value); });
    }
    std::optional<std::string> Param(std::string_view key) const
    {
        for (const auto& p : Params)
            if (p.Key == key)
                return p.Value;
        return std::nullopt;
    }
};

// Splits at `separator` outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    bool inQuote = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            inQuote = !inQuote;
        else if (text[i] == separator && !inQuote) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::string Unquoted(std::string_view text)
{
    text = core::TrimBlanksAndControls(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

bool IsNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// "[group.]NAME *(;PARAM) : VALUE"; nothing when the line is not a property.
std::optional<TProperty> ParseProperty(const std::string& line)
{
    bool inQuote = false;
    std::size_t colon = std::string::npos;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            inQuote = !inQuote;
        else if (line[i] == ':' && !inQuote) {
            colon = i;
            break;
        }
    }
    if (colon == std::string::npos)
        return std::nullopt;
    const std::string_view head = std::string_view(line).substr(0, colon);
    const auto parts = SplitOutsideQuotes(head, ';');
    std::string_view name = core::TrimBlanksAndControls(parts[0]);
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name = name.substr(dot + 1);
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameCharacter))
        return std::nullopt;

    TProperty property;
    property.Name = AsciiUpper(name);
    property.Value = line.substr(colon + 1);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string_view param = parts[i];
        const std::size_t equals = param.find('=');
        if (equals == std::string_view::npos) {
            // vCard 2.1 writes bare values: "EMAIL;INTERNET;PREF", "NOTE;QUOTED-PRINTABLE".
            const std::string value = Unquoted(param);
            const std::string upper = AsciiUpper(value);
            const bool encoding =
                upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "8BIT" || upper == "7BIT";
            property.Params.push_back({encoding ? "ENCODING" : "TYPE", value});
            continue;
        }
        const std::string key = AsciiUpper(core::TrimBlanksAndControls(param.substr(0, equals)));
        for (const auto value : SplitOutsideQuotes(param.substr(equals + 1), ','))
            property.Params.push_back({key, Unquoted(value)});
    }
    return property;
}

std::string QuotedPrintableDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size()) {
            const int high = core::HexDigitValue(text[i + 1]);
            const int low = core::HexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        if (text[i] == '=' && i + 1 == text.size())
            break; // a soft line break with nothing after it
        out += text[i];
    }
    return out;
}

// The property's value as UTF-8 text, still escaped.
std::string DecodedValue(const TProperty& property)
{
    std::string bytes = property.Value;
    if (property.HasParamValue("ENCODING", "QUOTED-PRINTABLE"))
        bytes = QuotedPrintableDecoded(bytes);
    return CharsetToUtf8(bytes, property.Param("CHARSET").value_or(""));
}

// Splits a structured value at the semicolons that are not escaped.
std::vector<std::string> Components(std::string_view text)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text[i];
            parts.back() += text[++i];
        } else if (text[i] == ';') {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

// Text escapes: "\\", "\;", "\,", "\:" stand for the character, "\n" and "\N" for a line break.
std::string Unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'n' || next == 'N')
            out += '\n';
        else if (next == '\\' || next == ';' || next == ',' || next == ':')
            out += next;
        else {
            out += '\\';
            out += next;
        }
    }
    return out;
}

// A text for one line of a list: control characters (line breaks among them) become blanks, runs
// of blanks one, and the ends are trimmed.
std::string OneLine(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const bool blank = static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ';
        if (blank) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// 1..100 as PREF gives it (1 most preferred), TYPE=pref as 1, no preference after every other.
int PreferenceRank(const TProperty& property)
{
    if (const auto pref = property.Param("PREF")) {
        const auto number = core::ParseInt32(core::Trim(*pref));
        return number && *number >= 1 && *number <= 100 ? *number : 100;
    }
    return property.HasParamValue("TYPE", "pref") ? 1 : 101;
}

struct TCardBuilder
{
    TVCard Card;
    std::vector<std::pair<int, std::string>> RankedEmails;

    void Apply(const TProperty& property)
    {
        const std::string& name = property.Name;
        if (name == "FN") {
            Card.FormattedName = OneLine(Unescaped(DecodedValue(property)));
        } else if (name == "N") {
            auto parts = Components(DecodedValue(property));
            parts.resize(5);
            // Family; Given; Additional; Prefix; Suffix, read as a name is said.
            std::string composed;
            for (const std::size_t index : {3u, 1u, 2u, 0u, 4u}) {
                const std::string part = OneLine(Unescaped(parts[index]));
                if (part.empty())
                    continue;
                if (!composed.empty())
                    composed += ' ';
                composed += part;
            }
            Card.ComposedName = composed;
        } else if (name == "ORG") {
            Card.Organization = OneLine(Unescaped(Components(DecodedValue(property))[0]));
        } else if (name == "EMAIL") {
            std::string address = OneLine(Unescaped(DecodedValue(property)));
            if (AsciiEqualNoCase(std::string_view(address).substr(0, 7), "mailto:"))
                address.erase(0, 7);
            if (!address.empty() && RankedEmails.size() < MaxVCardEmails)
                RankedEmails.emplace_back(PreferenceRank(property), address);
        } else if (name == "KIND") {
            const std::string kind = AsciiLower(core::Trim(Unescaped(DecodedValue(property))));
            Card.Kind = kind.empty() || kind == "individual" ? TVCard::TKind::Person
                        : kind == "group"                    ? TVCard::TKind::Group
                                                             : TVCard::TKind::Other;
        } else if (name == "X-ADDRESSBOOKSERVER-KIND") {
            if (AsciiEqualNoCase(core::Trim(DecodedValue(property)), "group"))
                Card.Kind = TVCard::TKind::Group;
        } else if (name == "UID") {
            std::string uid = AsciiLower(core::Trim(Unescaped(DecodedValue(property))));
            if (uid.starts_with("urn:uuid:"))
                uid.erase(0, 9);
            Card.Uid = uid;
        } else if (name == "MEMBER" || name == "X-ADDRESSBOOKSERVER-MEMBER") {
            std::string member = core::Trim(Unescaped(DecodedValue(property)));
            if (!member.empty())
                Card.Members.push_back(std::move(member));
        }
    }

    TVCard Finish()
    {
        std::stable_sort(RankedEmails.begin(), RankedEmails.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [rank, address] : RankedEmails)
            Card.Emails.push_back(std::move(address));
        return std::move(Card);
    }
};

bool IsCardMarker(const TProperty& property, std::string_view name)
{
    return property.Name == name && AsciiEqualNoCase(core::Trim(property.Value), "VCARD");
}

} // namespace

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset)
{
    const std::string name = AsciiLower(core::Trim(charset));
    if (name.empty() || name == "utf-8" || name == "utf8") {
        if (core::IsValidUtf8(bytes))
            return std::string(bytes);
        return core::Windows1252ToUtf8(bytes);
    }
    if (name == "windows-1252" || name == "cp1252" || name == "iso-8859-1" || name == "latin1" ||
        name == "us-ascii" || name == "ascii" || name.size() > 64)
        return core::Windows1252ToUtf8(bytes);
    gsize read = 0;
    gsize written = 0;
    GError* error = nullptr;
    gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", name.c_str(),
                                 &read, &written, &error);
    if (error)
        g_error_free(error);
    if (!converted)
        return core::Windows1252ToUtf8(bytes);
    std::string out(converted, written);
    g_free(converted);
    if (read != bytes.size() || !core::IsValidUtf8(out))
        return core::Windows1252ToUtf8(bytes);
    return out;
}

TVCardText ParseVCards(std::string_view text, std::size_t cardRoom)
{
    TVCardText result;
    TLogicalLines lines(text);
    std::string line;
    bool overlong = false;
    std::optional<TCardBuilder> card;
    bool bad = false;
    std::size_t properties = 0;
    bool strayRun = false;

    const auto skip = [&] {
        ++result.Skipped;
        card.reset();
    };
    while (lines.Next(line, overlong)) {
        if (core::TrimBlanksAndControls(line).empty())
            continue;
        const auto property = overlong ? std::nullopt : ParseProperty(line);
        if (property && IsCardMarker(*property, "BEGIN")) {
            if (card) // a card that never ended
                skip();
            card.emplace();
            bad = false;
            properties = 0;
            strayRun = false;
            continue;
        }
        if (!card) {
            // Text outside any card: one run of it counts once, a stray END not at all.
            if (!(property && IsCardMarker(*property, "END")) && !strayRun) {
                strayRun = true;
                ++result.Skipped;
            }
            continue;
        }
        if (property && IsCardMarker(*property, "END")) {
            if (bad || result.Cards.size() >= cardRoom)
                skip();
            else {
                result.Cards.push_back(card->Finish());
                card.reset();
            }
            continue;
        }
        if (!property || ++properties > MaxVCardProperties) {
            bad = true;
            continue;
        }
        if (!bad)
            card->Apply(*property);
    }
    if (card)
        skip();
    return result;
}

} // namespace tarnwick::import
