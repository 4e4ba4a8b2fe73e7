#include "TextUtils.h"

#include <charconv>

#include <glib.h>

namespace tarnwick::core {

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::string& out, std::uint32_t unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid UTF-8.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

std::string AsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = LowerAscii(c);
    return out;
}

std::string AsciiUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = UpperAscii(c);
    return out;
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool IsValidUtf8(std::string_view text)
{
    std::uint32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string FoldCase(std::string_view text)
{
    if (!IsValidUtf8(text))
        return AsciiLower(text);
    gchar* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
    std::string out(folded);
    g_free(folded);
    return out;
}

std::optional<std::string> Utf16LeToUtf8(std::string_view bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size());
    const auto unitAt = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size())
                return std::nullopt;
            const std::uint32_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            i += 2;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            out += static_cast<char>(unit - 0xDC00);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return std::nullopt;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::string Utf8ToUtf16Le(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    std::uint32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            AppendUtf16(out, 0xDC00 + static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            AppendUtf16(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUtf16(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            AppendUtf16(out, cp);
        }
        i += len;
    }
    return out;
}

namespace {

// The characters of Windows-1252 bytes 0x80..0x9F; the unassigned ones keep their own number.
constexpr std::uint32_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, (b >= 0x80 && b < 0xA0) ? Windows1252High[b - 0x80] : b);
    }
    return out;
}

std::optional<std::string> Utf8ToSingleBytes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::uint32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0)
            return std::nullopt;
        i += len;
        if (cp <= 0xFF) {
            out += static_cast<char>(cp);
            continue;
        }
        std::size_t k = 0;
        while (k < 32 && Windows1252High[k] != cp)
            ++k;
        if (k == 32)
            return std::nullopt;
        out += static_cast<char>(0x80 + k);
    }
    return out;
}

std::string Trim(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = text.size();
    while (b < e && isSpace(text[b]))
        ++b;
    while (e > b && isSpace(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string_view TrimBlanksAndControls(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return text.substr(b, e - b);
}

std::optional<std::int32_t> ParseInt32(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::string_view digits = text;
    if (digits.front() == '+')
        digits.remove_prefix(1);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() || digits.front() == '+')
        return std::nullopt;
    return value;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int Base64DigitValue(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace tarnwick::core
