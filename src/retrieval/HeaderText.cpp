#include "HeaderText.h"

#include <array>
#include <cstdint>

#include <glib.h>

namespace tarnwick::retrieval {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// windows-1252 at 0x80..0x9F; the bytes from 0xA0 are Latin-1.
constexpr std::array<char32_t, 32> Cp1252High = {
    0x20AC,      Replacement, 0x201A, 0x0192, 0x201E, 0x2026,      0x2020, 0x2021,
    0x02C6,      0x2030,      0x0160, 0x2039, 0x0152, Replacement, 0x017D, Replacement,
    Replacement, 0x2018,      0x2019, 0x201C, 0x201D, 0x2022,      0x2013, 0x2014,
    0x02DC,      0x2122,      0x0161, 0x203A, 0x0153, Replacement, 0x017E, 0x0178,
};

void AppendCodePoint(std::string& out, char32_t cp)
{
    char buffer[6];
    const int length = g_unichar_to_utf8(static_cast<gunichar>(cp), buffer);
    out.append(buffer, static_cast<std::size_t>(length));
}

} // namespace

std::string Utf8Text(std::string_view bytes)
{
    if (g_utf8_validate_len(bytes.data(), bytes.size(), nullptr))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const gunichar cp =
            g_utf8_get_char_validated(bytes.data() + i, static_cast<gssize>(bytes.size() - i));
        if (cp != static_cast<gunichar>(-1) && cp != static_cast<gunichar>(-2)) {
            const std::size_t length = static_cast<std::size_t>(g_utf8_skip[byte]);
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        AppendCodePoint(out, byte < 0xA0 ? Cp1252High[byte - 0x80] : char32_t{byte});
        ++i;
    }
    return out;
}

std::string DisplayText(std::string_view bytes)
{
    std::string text = Utf8Text(bytes);
    // UTF-8 sequences consist of bytes from 0x80 up, so a byte-wise scan meets only real controls.
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return text;
}

} // namespace tarnwick::retrieval
