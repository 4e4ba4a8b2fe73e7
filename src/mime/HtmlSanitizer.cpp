#include "HtmlSanitizer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/TextUtils.h"
#include "retrieval/HeaderText.h"

namespace tarnwick::mime {

namespace {

// How the sanitiser treats an element.
enum class TKind
{
    Unknown,   // the tag goes, its content stays as text
    Allowed,   // kept, with the allowed attributes
    Void,      // kept, never has content or an end tag
    Image,     // img: kept only with a cid: or data:image/ source
    DropAll,   // the element and everything up to its end tag go (script, style, title, ...)
    RawText,   // the content up to the end tag is text, not markup (textarea, xmp)
    PlainText, // everything after it is text
    Head,      // the document head: its content goes
};

struct TElement
{
    std::string_view Name;
    TKind Kind;
};

constexpr std::array Elements = {
    TElement{"a", TKind::Allowed},        TElement{"b", TKind::Allowed},
    TElement{"big", TKind::Allowed},      TElement{"blockquote", TKind::Allowed},
    TElement{"br", TKind::Void},          TElement{"caption", TKind::Allowed},
    TElement{"center", TKind::Allowed},   TElement{"code", TKind::Allowed},
    TElement{"col", TKind::Void},         TElement{"colgroup", TKind::Allowed},
    TElement{"dd", TKind::Allowed},       TElement{"div", TKind::Allowed},
    TElement{"dl", TKind::Allowed},       TElement{"dt", TKind::Allowed},
    TElement{"em", TKind::Allowed},       TElement{"font", TKind::Allowed},
    TElement{"h1", TKind::Allowed},       TElement{"h2", TKind::Allowed},
    TElement{"h3", TKind::Allowed},       TElement{"h4", TKind::Allowed},
    TElement{"h5", TKind::Allowed},       TElement{"h6", TKind::Allowed},
    TElement{"hr", TKind::Void},          TElement{"i", TKind::Allowed},
    TElement{"img", TKind::Image},        TElement{"li", TKind::Allowed},
    TElement{"ol", TKind::Allowed},       TElement{"p", TKind::Allowed},
    TElement{"pre", TKind::Allowed},      TElement{"s", TKind::Allowed},
    TElement{"small", TKind::Allowed},    TElement{"span", TKind::Allowed},
    TElement{"strike", TKind::Allowed},   TElement{"strong", TKind::Allowed},
    TElement{"sub", TKind::Allowed},      TElement{"sup", TKind::Allowed},
    TElement{"table", TKind::Allowed},    TElement{"tbody", TKind::Allowed},
    TElement{"td", TKind::Allowed},       TElement{"tfoot", TKind::Allowed},
    TElement{"th", TKind::Allowed},       TElement{"thead", TKind::Allowed},
    TElement{"tr", TKind::Allowed},       TElement{"tt", TKind::Allowed},
    TElement{"u", TKind::Allowed},        TElement{"ul", TKind::Allowed},
    TElement{"script", TKind::DropAll},   TElement{"style", TKind::DropAll},
    TElement{"title", TKind::DropAll},    TElement{"iframe", TKind::DropAll},
    TElement{"template", TKind::DropAll}, TElement{"textarea", TKind::RawText},
    TElement{"xmp", TKind::RawText},      TElement{"plaintext", TKind::PlainText},
    TElement{"head", TKind::Head},
};

TKind KindOf(std::string_view name, std::string_view& staticName)
{
    for (const TElement& element : Elements)
        if (element.Name == name) {
            staticName = element.Name;
            return element.Kind;
        }
    return TKind::Unknown;
}

// Attributes kept on every allowed element (href and src are handled apart).
constexpr std::array KeptAttributes = {
    std::string_view("align"),   std::string_view("valign"),      std::string_view("width"),
    std::string_view("height"),  std::string_view("colspan"),     std::string_view("rowspan"),
    std::string_view("border"),  std::string_view("cellpadding"), std::string_view("cellspacing"),
    std::string_view("bgcolor"), std::string_view("color"),       std::string_view("face"),
    std::string_view("size"),    std::string_view("title"),       std::string_view("alt"),
};

bool IsKeptAttribute(std::string_view name)
{
    for (const std::string_view kept : KeptAttributes)
        if (kept == name)
            return true;
    return false;
}

// Attributes that make a browser load something by themselves, on whatever element.
bool IsLoadingAttribute(std::string_view element, std::string_view name)
{
    for (const std::string_view loading : {"src", "srcset", "background", "lowsrc", "dynsrc", "poster",
                                           "data", "codebase", "manifest", "xlink:href", "formaction"})
        if (name == loading)
            return true;
    if (name == "href")
        for (const std::string_view linking : {"link", "base", "image", "use", "feimage"})
            if (element == linking)
                return true;
    return false;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsAsciiAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiAlnum(char c)
{
    return IsAsciiAlpha(c) || (c >= '0' && c <= '9');
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != prefix[i])
            return false;
    return true;
}

std::size_t CountOf(std::string_view text, std::string_view what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + what.size()))
        ++count;
    return count;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A numeric character reference as HTML reads it: no NUL, surrogate or value beyond Unicode, and
// 0x80-0x9F taken as windows-1252.
char32_t ReferencedChar(std::uint32_t value)
{
    static constexpr char16_t Windows1252[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    if (value >= 0x80 && value <= 0x9F)
        return Windows1252[value - 0x80];
    return value;
}

const std::unordered_map<std::string_view, char32_t>& NamedReferences()
{
    static const std::unordered_map<std::string_view, char32_t> names = {
        {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},      {"apos", '\''},
        {"nbsp", 0xA0},     {"iexcl", 0xA1},    {"cent", 0xA2},     {"pound", 0xA3},    {"curren", 0xA4},
        {"yen", 0xA5},      {"brvbar", 0xA6},   {"sect", 0xA7},     {"uml", 0xA8},      {"copy", 0xA9},
        {"ordf", 0xAA},     {"laquo", 0xAB},    {"not", 0xAC},      {"shy", 0xAD},      {"reg", 0xAE},
        {"macr", 0xAF},     {"deg", 0xB0},      {"plusmn", 0xB1},   {"sup2", 0xB2},     {"sup3", 0xB3},
        {"acute", 0xB4},    {"micro", 0xB5},    {"para", 0xB6},     {"middot", 0xB7},   {"cedil", 0xB8},
        {"sup1", 0xB9},     {"ordm", 0xBA},     {"raquo", 0xBB},    {"frac14", 0xBC},   {"frac12", 0xBD},
        {"frac34", 0xBE},   {"iquest", 0xBF},   {"Agrave", 0xC0},   {"Aacute", 0xC1},   {"Acirc", 0xC2},
        {"Atilde", 0xC3},   {"Auml", 0xC4},     {"Aring", 0xC5},    {"AElig", 0xC6},    {"Ccedil", 0xC7},
        {"Egrave", 0xC8},   {"Eacute", 0xC9},   {"Ecirc", 0xCA},    {"Euml", 0xCB},     {"Igrave", 0xCC},
        {"Iacute", 0xCD},   {"Icirc", 0xCE},    {"Iuml", 0xCF},     {"ETH", 0xD0},      {"Ntilde", 0xD1},
        {"Ograve", 0xD2},   {"Oacute", 0xD3},   {"Ocirc", 0xD4},    {"Otilde", 0xD5},   {"Ouml", 0xD6},
        {"times", 0xD7},    {"Oslash", 0xD8},   {"Ugrave", 0xD9},   {"Uacute", 0xDA},   {"Ucirc", 0xDB},
        {"Uuml", 0xDC},     {"Yacute", 0xDD},   {"THORN", 0xDE},    {"szlig", 0xDF},    {"agrave", 0xE0},
        {"aacute", 0xE1},   {"acirc", 0xE2},    {"atilde", 0xE3},   {"auml", 0xE4},     {"aring", 0xE5},
        {"aelig", 0xE6},    {"ccedil", 0xE7},   {"egrave", 0xE8},   {"eacute", 0xE9},   {"ecirc", 0xEA},
        {"euml", 0xEB},     {"igrave", 0xEC},   {"iacute", 0xED},   {"icirc", 0xEE},    {"iuml", 0xEF},
        {"eth", 0xF0},      {"ntilde", 0xF1},   {"ograve", 0xF2},   {"oacute", 0xF3},   {"ocirc", 0xF4},
        {"otilde", 0xF5},   {"ouml", 0xF6},     {"divide", 0xF7},   {"oslash", 0xF8},   {"ugrave", 0xF9},
        {"uacute", 0xFA},   {"ucirc", 0xFB},    {"uuml", 0xFC},     {"yacute", 0xFD},   {"thorn", 0xFE},
        {"yuml", 0xFF},     {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161},
        {"Yuml", 0x178},    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},
        {"emsp", 0x2003},   {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},
        {"rlm", 0x200F},    {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},
        {"sbquo", 0x201A},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"dagger", 0x2020},
        {"Dagger", 0x2021}, {"bull", 0x2022},   {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032},
        {"Prime", 0x2033},  {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},   {"trade", 0x2122},
        {"larr", 0x2190},   {"uarr", 0x2191},   {"rarr", 0x2192},   {"darr", 0x2193},   {"harr", 0x2194},
        {"hearts", 0x2665}, {"spades", 0x2660}, {"clubs", 0x2663},  {"diams", 0x2666},  {"check", 0x2713},
        {"star", 0x2606},   {"starf", 0x2605},  {"colon", ':'},     {"Tab", '\t'},      {"NewLine", '\n'},
        {"sol", '/'},       {"lpar", '('},      {"rpar", ')'},      {"period", '.'},    {"comma", ','},
        {"semi", ';'},      {"equals", '='},    {"num", '#'},       {"percnt", '%'},    {"excl", '!'},
        {"quest", '?'},     {"commat", '@'},    {"lowbar", '_'},    {"plus", '+'},
    };
    return names;
}

// Reads the character reference at text[pos] == '&'. On success appends the character and
// returns the length read; returns 0 when the '&' stands for itself.
std::size_t ReadReference(std::string_view text, std::size_t pos, std::string& out)
{
    std::size_t p = pos + 1;
    if (p < text.size() && text[p] == '#') {
        ++p;
        const bool hex = p < text.size() && (text[p] == 'x' || text[p] == 'X');
        if (hex)
            ++p;
        const std::size_t digits = p;
        std::uint32_t value = 0;
        for (; p < text.size(); ++p) {
            const char c = text[p];
            const int digit = hex ? core::HexDigitValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
            if (digit < 0)
                break;
            value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        }
        if (p == digits)
            return 0;
        if (p < text.size() && text[p] == ';')
            ++p;
        AppendUtf8(out, ReferencedChar(value));
        return p - pos;
    }
    const std::size_t name = p;
    while (p < text.size() && p - name < 32 && IsAsciiAlnum(text[p]))
        ++p;
    if (p == name || p >= text.size() || text[p] != ';')
        return 0;
    const auto found = NamedReferences().find(text.substr(name, p - name));
    if (found == NamedReferences().end())
        return 0;
    AppendUtf8(out, found->second);
    return p + 1 - pos;
}

// Appends text escaped; with `decode`, character references in it are read first (a reference
// can never make markup: what it stands for is escaped like any other character).
void AppendEscaped(std::string& out, std::string_view text, bool decode)
{
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if (c != '&' && c != '<' && c != '>' && c != '"' &&
            (u >= 0x20 || c == '\t' || c == '\n' || c == '\r') && u != 0x7F) {
            ++i;
            continue;
        }
        out.append(text.substr(run, i - run));
        std::size_t length = 1;
        if (c == '&') {
            std::string decoded;
            length = decode ? ReadReference(text, i, decoded) : 0;
            if (length == 0) {
                out += "&amp;";
                length = 1;
            } else {
                AppendEscaped(out, decoded, false);
            }
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else if (c == '\0') {
            out += "\xEF\xBF\xBD";
        } else {
            out += ' ';
        }
        i += length;
        run = i;
    }
    out.append(text.substr(run));
}

std::string DecodeReferences(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = text[i] == '&' ? ReadReference(text, i, out) : 0;
        if (length == 0)
            out += text[i++];
        else
            i += length;
    }
    return out;
}

// A URL as a browser reads it from an attribute: blanks and controls around it dropped, tabs and
// line breaks inside it dropped.
std::string CleanUrl(std::string_view decoded)
{
    std::size_t begin = 0;
    std::size_t end = decoded.size();
    while (begin < end && static_cast<unsigned char>(decoded[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(decoded[end - 1]) <= 0x20)
        --end;
    std::string url;
    for (std::size_t i = begin; i < end; ++i)
        if (decoded[i] != '\t' && decoded[i] != '\n' && decoded[i] != '\r')
            url += decoded[i];
    return url;
}

// The URL's scheme in lower case, or empty for a relative URL.
std::string SchemeOf(std::string_view url)
{
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if (c == ':')
            return i > 0 && IsAsciiAlpha(url[0]) ? core::AsciiLower(url.substr(0, i)) : std::string();
        if (!(IsAsciiAlnum(c) || c == '+' || c == '-' || c == '.'))
            return {};
    }
    return {};
}

bool IsLinkUrl(std::string_view url)
{
    const std::string scheme = SchemeOf(url);
    return scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "ftp";
}

// Image sources that need nothing outside the message: a part of it, or data in the URL. SVG is
// left out: it is a document, not a picture.
bool IsMessageImageUrl(std::string_view url)
{
    const std::string scheme = SchemeOf(url);
    if (scheme == "cid")
        return url.size() > 4;
    return scheme == "data" && StartsWithNoCase(url, "data:image/") &&
           !StartsWithNoCase(url, "data:image/svg");
}

struct TAttribute
{
    std::string Name; // lower case
    std::string_view Value;
    bool HasValue = false;
};

struct TTag
{
    bool End = false;
    std::string Name; // lower case
    std::vector<TAttribute> Attributes;
    const TAttribute* Find(std::string_view name) const
    {
        for (const TAttribute& attribute : Attributes)
            if (attribute.Name == name)
                return &attribute;
        return nullptr;
    }
};

constexpr std::size_t MaxOpenElements = 256;
constexpr std::size_t MaxAttributes = 64;

class TSanitizer
{
public:
    explicit TSanitizer(std::string_view in)
        : In_(in)
    {
        Out_.reserve(in.size() + in.size() / 8);
    }

    TSanitizedHtml Run()
    {
        while (Pos_ < In_.size()) {
            const std::size_t lt = In_.find('<', Pos_);
            const std::size_t end = lt == std::string_view::npos ? In_.size() : lt;
            if (end > Pos_)
                Text(In_.substr(Pos_, end - Pos_));
            Pos_ = end;
            if (Pos_ < In_.size())
                Markup();
        }
        while (!Open_.empty())
            Close();
        return {std::move(Out_), Blocked_};
    }

private:
    void Text(std::string_view text)
    {
        if (InHead_) {
            bool blank = true;
            for (const char c : text)
                blank = blank && IsSpace(c);
            if (blank)
                return;
            InHead_ = false; // text cannot stand in a head: the body has begun
        }
        AppendEscaped(Out_, text, true);
    }

    // At '<': a comment, a declaration, a tag, or a '<' that is only text.
    void Markup()
    {
        const std::string_view rest = In_.substr(Pos_);
        if (rest.starts_with("<!--")) {
            std::size_t from = Pos_ + 4;
            if (In_.substr(from).starts_with(">"))
                Pos_ = from + 1;
            else if (In_.substr(from).starts_with("->"))
                Pos_ = from + 2;
            else
                SkipPast("-->", from);
            return;
        }
        if (rest.starts_with("<!") || rest.starts_with("<?")) {
            SkipPast(">", Pos_ + 2); // doctype, CDATA, processing instruction: a bogus comment
            return;
        }
        if (rest.starts_with("</")) {
            if (rest.size() > 2 && IsAsciiAlpha(rest[2])) {
                TTag tag;
                if (ReadTag(tag))
                    EndTag(tag.Name);
            } else if (rest.starts_with("</>")) {
                Pos_ += 3;
            } else {
                SkipPast(">", Pos_ + 2);
            }
            return;
        }
        if (rest.size() > 1 && IsAsciiAlpha(rest[1])) {
            TTag tag;
            if (ReadTag(tag))
                StartTag(tag);
            return;
        }
        Out_ += "&lt;";
        ++Pos_;
    }

    // Moves past the next `terminator` at or after `from`; without one, the rest is dropped.
    void SkipPast(std::string_view terminator, std::size_t from)
    {
        const std::size_t at = In_.find(terminator, std::min(from, In_.size()));
        Pos_ = at == std::string_view::npos ? In_.size() : at + terminator.size();
    }

    // Reads the tag at Pos_ as the HTML tokenizer does. A tag that the input ends inside is
    // dropped with the rest of the input (false).
    bool ReadTag(TTag& tag)
    {
        std::size_t p = Pos_ + 1;
        if (In_[p] == '/') {
            tag.End = true;
            ++p;
        }
        const std::size_t name = p;
        while (p < In_.size() && !IsSpace(In_[p]) && In_[p] != '/' && In_[p] != '>')
            ++p;
        tag.Name = core::AsciiLower(In_.substr(name, p - name));
        for (;;) {
            while (p < In_.size() && (IsSpace(In_[p]) || In_[p] == '/'))
                ++p;
            if (p >= In_.size())
                break;
            if (In_[p] == '>') {
                Pos_ = p + 1;
                return true;
            }
            const std::size_t attributeName = p++;
            while (p < In_.size() && !IsSpace(In_[p]) && In_[p] != '/' && In_[p] != '>' && In_[p] != '=')
                ++p;
            TAttribute attribute;
            attribute.Name = core::AsciiLower(In_.substr(attributeName, p - attributeName));
            std::size_t q = p;
            while (q < In_.size() && IsSpace(In_[q]))
                ++q;
            if (q < In_.size() && In_[q] == '=') {
                p = q + 1;
                while (p < In_.size() && IsSpace(In_[p]))
                    ++p;
                if (p >= In_.size())
                    break;
                attribute.HasValue = true;
                if (In_[p] == '"' || In_[p] == '\'') {
                    const std::size_t close = In_.find(In_[p], p + 1);
                    if (close == std::string_view::npos)
                        break;
                    attribute.Value = In_.substr(p + 1, close - p - 1);
                    p = close + 1;
                } else {
                    const std::size_t value = p;
                    while (p < In_.size() && !IsSpace(In_[p]) && In_[p] != '>')
                        ++p;
                    attribute.Value = In_.substr(value, p - value);
                }
            }
            // The first of repeated attributes counts, as in a browser.
            if (tag.Attributes.size() < MaxAttributes && !tag.Find(attribute.Name))
                tag.Attributes.push_back(std::move(attribute));
        }
        Pos_ = In_.size();
        return false;
    }

    void StartTag(const TTag& tag)
    {
        std::string_view name;
        const TKind kind = KindOf(tag.Name, name);
        if (InHead_ && kind != TKind::DropAll && kind != TKind::Head && tag.Name != "meta" &&
            tag.Name != "link" && tag.Name != "base" && tag.Name != "html")
            InHead_ = false;
        switch (kind) {
        case TKind::Unknown:
            CountDroppedReferences(tag);
            if (tag.Name == "body")
                InHead_ = false;
            return;
        case TKind::Head:
            InHead_ = true;
            return;
        case TKind::DropAll:
            CountDroppedReferences(tag);
            SkipRawText(tag.Name, name == "style");
            return;
        case TKind::RawText: {
            const std::size_t begin = Pos_;
            const std::size_t end = FindEndTag(tag.Name);
            AppendEscaped(Out_, In_.substr(begin, end - begin), tag.Name == "textarea");
            return;
        }
        case TKind::PlainText:
            AppendEscaped(Out_, In_.substr(Pos_), false);
            Pos_ = In_.size();
            return;
        case TKind::Image:
            Image(tag);
            return;
        case TKind::Void:
        case TKind::Allowed:
            break;
        }
        CloseImplied(name);
        if (kind == TKind::Allowed && Open_.size() >= MaxOpenElements) {
            CountDroppedReferences(tag); // too deep to keep: its content stays as text
            return;
        }
        Out_ += '<';
        Out_ += name;
        WriteAttributes(tag, name);
        Out_ += '>';
        if (kind == TKind::Allowed)
            Open_.push_back(name);
    }

    void EndTag(const std::string& tagName)
    {
        std::string_view name;
        const TKind kind = KindOf(tagName, name);
        if (kind == TKind::Head) {
            InHead_ = false;
            return;
        }
        if (tagName == "br") { // "</br>" is read as a line break by every browser
            Out_ += "<br>";
            return;
        }
        if (kind != TKind::Allowed)
            return;
        for (std::size_t i = Open_.size(); i-- > 0;)
            if (Open_[i] == name) {
                while (Open_.size() > i)
                    Close();
                return;
            }
    }

    void Close()
    {
        Out_ += "</";
        Out_ += Open_.back();
        Out_ += '>';
        Open_.pop_back();
    }

    // Closes what a browser closes before such an element starts: the list item before the next,
    // the cell before the next cell, the row before the next row, the paragraph before a block.
    void CloseImplied(std::string_view name)
    {
        auto closeTo = [this](std::initializer_list<std::string_view> targets,
                              std::initializer_list<std::string_view> boundaries) {
            for (std::size_t i = Open_.size(); i-- > 0;) {
                for (const std::string_view boundary : boundaries)
                    if (Open_[i] == boundary)
                        return;
                for (const std::string_view target : targets)
                    if (Open_[i] == target) {
                        while (Open_.size() > i)
                            Close();
                        return;
                    }
            }
        };
        if (name == "li")
            closeTo({"li"}, {"ul", "ol", "table"});
        else if (name == "dt" || name == "dd")
            closeTo({"dt", "dd"}, {"dl", "table"});
        else if (name == "td" || name == "th")
            closeTo({"td", "th"}, {"tr", "table"});
        else if (name == "tr")
            closeTo({"tr"}, {"table", "thead", "tbody", "tfoot"});
        else if (name == "thead" || name == "tbody" || name == "tfoot")
            closeTo({"thead", "tbody", "tfoot"}, {"table"});
        for (const std::string_view block : {"p", "div", "table", "ul", "ol", "dl", "pre", "blockquote", "hr",
                                             "h1", "h2", "h3", "h4", "h5", "h6", "center"})
            if (name == block && !Open_.empty() && Open_.back() == "p") {
                Close();
                break;
            }
    }

    void WriteAttributes(const TTag& tag, std::string_view element)
    {
        for (const TAttribute& attribute : tag.Attributes) {
            const std::string& name = attribute.Name;
            if (name == "href" && element == "a") {
                const std::string url = CleanUrl(DecodeReferences(attribute.Value));
                if (IsLinkUrl(url))
                    WriteAttribute(name, url);
            } else if (name == "style") {
                const std::string style = SanitizeStyle(DecodeReferences(attribute.Value), Blocked_);
                if (!style.empty())
                    WriteAttribute(name, style);
            } else if (IsKeptAttribute(name) && attribute.HasValue) {
                WriteAttribute(name, DecodeReferences(attribute.Value));
            } else if (IsLoadingAttribute(element, name) && !CleanUrl(attribute.Value).empty()) {
                ++Blocked_;
            }
        }
    }

    void WriteAttribute(std::string_view name, std::string_view value)
    {
        Out_ += ' ';
        Out_ += name;
        Out_ += "=\"";
        AppendEscaped(Out_, value, false);
        Out_ += '"';
    }

    void Image(const TTag& tag)
    {
        const TAttribute* src = tag.Find("src");
        const std::string url = src ? CleanUrl(DecodeReferences(src->Value)) : std::string();
        if (IsMessageImageUrl(url)) {
            TTag kept;
            for (const TAttribute& attribute : tag.Attributes)
                if (attribute.Name != "src")
                    kept.Attributes.push_back(attribute);
            Out_ += "<img src=\"";
            AppendEscaped(Out_, url, false);
            Out_ += '"';
            WriteAttributes(kept, "img");
            Out_ += '>';
            return;
        }
        // The picture would come from elsewhere: its alternative text stands in its place.
        TTag rest;
        for (const TAttribute& attribute : tag.Attributes)
            if (attribute.Name != "src")
                rest.Attributes.push_back(attribute);
        CountDroppedReferences(rest, "img");
        if (url.empty())
            return;
        ++Blocked_;
        const TAttribute* alt = tag.Find("alt");
        const std::string altText = alt ? DecodeReferences(alt->Value) : std::string();
        Out_ += '[';
        AppendEscaped(Out_, altText.empty() ? std::string_view("image blocked") : std::string_view(altText),
                      false);
        Out_ += ']';
    }

    void CountDroppedReferences(const TTag& tag, std::string_view element = {})
    {
        if (element.empty())
            element = tag.Name;
        for (const TAttribute& attribute : tag.Attributes) {
            if (attribute.Name == "style")
                SanitizeStyle(DecodeReferences(attribute.Value), Blocked_);
            else if (IsLoadingAttribute(element, attribute.Name) && !CleanUrl(attribute.Value).empty())
                ++Blocked_;
        }
        // <meta http-equiv="refresh" content="0; url=..."> would move to another page.
        if (tag.Name == "meta") {
            const TAttribute* equiv = tag.Find("http-equiv");
            const TAttribute* content = tag.Find("content");
            if (equiv && content && core::AsciiLower(CleanUrl(equiv->Value)) == "refresh" &&
                core::AsciiLower(content->Value).find("url") != std::string::npos)
                ++Blocked_;
        }
    }

    // Skips the content of a raw-text element up to its end tag; a style sheet's references are
    // counted on the way.
    void SkipRawText(const std::string& name, bool styleSheet)
    {
        const std::size_t begin = Pos_;
        const std::size_t end = FindEndTag(name);
        if (styleSheet) {
            const std::string css = core::AsciiLower(In_.substr(begin, end - begin));
            Blocked_ += CountOf(css, "url(") + CountOf(css, "@import");
        }
    }

    // Finds "</name" (any case) followed by a blank, "/" or ">" from Pos_; returns where it begins
    // and moves Pos_ past its ">". Without one the element runs to the end of the input.
    std::size_t FindEndTag(const std::string& name)
    {
        for (std::size_t at = In_.find("</", Pos_); at != std::string_view::npos;
             at = In_.find("</", at + 2)) {
            const std::size_t after = at + 2 + name.size();
            if (after > In_.size() || !StartsWithNoCase(In_.substr(at + 2), name))
                continue;
            if (after < In_.size() && !IsSpace(In_[after]) && In_[after] != '/' && In_[after] != '>')
                continue;
            SkipPast(">", after);
            return at;
        }
        Pos_ = In_.size();
        return In_.size();
    }

    std::string_view In_;
    std::size_t Pos_ = 0;
    std::string Out_;
    std::size_t Blocked_ = 0;
    std::vector<std::string_view> Open_; // allowed elements open, outermost first
    bool InHead_ = false;
};

} // namespace

std::string SanitizeStyle(std::string_view style, std::size_t& blocked)
{
    // CSS escapes ("\75rl(") could spell anything the checks below look for: a style written
    // with them is not kept at all.
    if (style.find('\\') != std::string_view::npos) {
        const std::string lower = core::AsciiLower(style);
        blocked +=
            std::max<std::size_t>(CountOf(lower, "url("), lower.find('(') != std::string::npos ? 1 : 0);
        return {};
    }
    // Comments go first: "ur/**/l(" is no function, but "url/**/(" would be one to some parsers.
    std::string text;
    for (std::size_t i = 0; i < style.size();) {
        if (style.substr(i).starts_with("/*")) {
            const std::size_t close = style.find("*/", i + 2);
            if (close == std::string_view::npos)
                break;
            i = close + 2;
            text += ' ';
        } else {
            text += style[i++];
        }
    }
    std::string out;
    auto declaration = [&](std::string_view value) {
        std::string squeezed;
        for (const char c : value)
            if (!IsSpace(c))
                squeezed += Lower(c);
        const std::size_t references = CountOf(squeezed, "url(") + CountOf(squeezed, "image(") +
                                       CountOf(squeezed, "image-set(") + CountOf(squeezed, "@import");
        blocked += references;
        if (references > 0 || squeezed.find("expression(") != std::string::npos ||
            squeezed.find("javascript:") != std::string::npos ||
            squeezed.find("behavior") != std::string::npos || squeezed.find("binding") != std::string::npos ||
            squeezed.find("cross-fade(") != std::string::npos ||
            squeezed.find("element(") != std::string::npos || squeezed.find('@') != std::string::npos ||
            squeezed.find(':') == std::string::npos)
            return;
        std::size_t begin = 0;
        std::size_t end = value.size();
        while (begin < end && IsSpace(value[begin]))
            ++begin;
        while (end > begin && IsSpace(value[end - 1]))
            --end;
        if (!out.empty())
            out += "; ";
        out += value.substr(begin, end - begin);
    };
    // Declarations end at ";" outside strings and parentheses.
    std::size_t start = 0;
    int depth = 0;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            depth = depth > 0 ? depth - 1 : 0;
        } else if (c == ';' && depth == 0) {
            declaration(std::string_view(text).substr(start, i - start));
            start = i + 1;
        }
    }
    declaration(std::string_view(text).substr(start));
    return out;
}

TSanitizedHtml SanitizeHtml(std::string_view html)
{
    if (core::IsValidUtf8(html)) // the usual case: no copy of a text that may be megabytes long
        return TSanitizer(html).Run();
    const std::string text = retrieval::Utf8Text(html);
    return TSanitizer(text).Run();
}

std::string EscapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text, false);
    return out;
}

namespace {

// The length of a link beginning at text[pos], or 0. A link begins at a word's start with one of
// the schemes or "www.", and runs to a blank, a quote or an angle bracket; punctuation at its end
// belongs to the sentence.
std::size_t LinkAt(std::string_view text, std::size_t pos, bool& www)
{
    if (pos > 0 && (IsAsciiAlnum(text[pos - 1]) || text[pos - 1] == '/' || text[pos - 1] == '.' ||
                    text[pos - 1] == '@' || text[pos - 1] == '-'))
        return 0;
    const std::string_view rest = text.substr(pos);
    std::size_t prefix = 0;
    www = false;
    for (const std::string_view scheme : {"http://", "https://", "ftp://", "mailto:"})
        if (StartsWithNoCase(rest, scheme))
            prefix = scheme.size();
    if (prefix == 0 && StartsWithNoCase(rest, "www.")) {
        prefix = 4;
        www = true;
    }
    if (prefix == 0)
        return 0;
    std::size_t end = prefix;
    bool parenthesis = false;
    while (end < rest.size()) {
        const unsigned char c = static_cast<unsigned char>(rest[end]);
        if (c <= 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '"' || c == '\'' || c == '`')
            break;
        parenthesis = parenthesis || c == '(';
        ++end;
    }
    while (end > prefix && std::string_view(".,;:!?").find(rest[end - 1]) != std::string_view::npos)
        --end;
    while (end > prefix && !parenthesis &&
           (rest[end - 1] == ')' || rest[end - 1] == ']' || rest[end - 1] == '}'))
        --end;
    return end > prefix ? end : 0;
}

} // namespace

std::string PlainTextToHtml(std::string_view bytes)
{
    std::string converted;
    if (!core::IsValidUtf8(bytes))
        converted = retrieval::Utf8Text(bytes);
    const std::string_view text = converted.empty() ? bytes : std::string_view(converted);
    std::string out = "<div style=\"white-space: pre-wrap\">";
    out.reserve(text.size() + text.size() / 8 + 64);
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char c = Lower(text[i]);
        bool www = false;
        const std::size_t length = c == 'h' || c == 'f' || c == 'm' || c == 'w' ? LinkAt(text, i, www) : 0;
        if (length == 0) {
            ++i;
            continue;
        }
        AppendEscaped(out, std::string_view(text).substr(run, i - run), false);
        const std::string_view link = std::string_view(text).substr(i, length);
        out += "<a href=\"";
        if (www)
            out += "http://";
        AppendEscaped(out, link, false);
        out += "\">";
        AppendEscaped(out, link, false);
        out += "</a>";
        i += length;
        run = i;
    }
    AppendEscaped(out, std::string_view(text).substr(run), false);
    out += "</div>";
    return out;
}

std::size_t ClipPosition(std::string_view html, std::size_t limit)
{
    if (html.size() <= limit)
        return html.size();
    std::size_t cut = limit;
    // Not inside a UTF-8 sequence: back to the byte that starts one.
    while (cut > 0 && (static_cast<unsigned char>(html[cut]) & 0xC0) == 0x80)
        --cut;
    // Not inside a tag: back to its "<" when the last "<" before the cut has no ">" after it.
    const std::size_t open = html.rfind('<', cut == 0 ? 0 : cut - 1);
    if (open != std::string_view::npos && cut > 0) {
        const std::size_t close = html.find('>', open);
        if (close == std::string_view::npos || close >= cut)
            cut = open;
    }
    // Not inside an entity: the output writes them as "&name;" or "&#n;", a few bytes long.
    const std::size_t amp = cut == 0 ? std::string_view::npos : html.rfind('&', cut - 1);
    if (amp != std::string_view::npos && cut - amp <= 12 && html.find(';', amp) >= cut)
        cut = amp;
    return cut;
}

} // namespace tarnwick::mime
