#include "DisplayAddress.h"

#include <memory>
#include <vector>

#include <glib.h>

#include "retrieval/HeaderText.h"

namespace tarnwick::mime {

namespace {

struct TGCharDeleter
{
    void operator()(gchar* text) const { g_free(text); }
};
using TGChar = std::unique_ptr<gchar, TGCharDeleter>;

bool IsAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool HasAceLabel(std::string_view domain)
{
    std::size_t start = 0;
    while (start <= domain.size()) {
        const std::size_t dot = domain.find('.', start);
        const std::string_view label =
            domain.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (label.size() >= 4 && (label[0] == 'x' || label[0] == 'X') &&
            (label[1] == 'n' || label[1] == 'N') && label[2] == '-' && label[3] == '-')
            return true;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return false;
}

// Cyrillic and Greek letters (lower case, as the Unicode form of a host name is) that pass for
// Latin letters in the usual fonts.
bool LooksLatin(gunichar c)
{
    static constexpr gunichar Confusables[] = {
        // Cyrillic
        0x0430, 0x0432, 0x0435, 0x043A, 0x043C, 0x043D, 0x043E, 0x0440, 0x0441, 0x0442, 0x0443, 0x0445,
        0x0455, 0x0456, 0x0458, 0x0461, 0x04BB, 0x04CF, 0x0501, 0x051B, 0x051D, 0x0475, 0x044C, 0x0433,
        0x0491, 0x04AF, 0x04BD, 0x0459, 0x045B, 0x0448, 0x0457,
        // Greek
        0x03B1, 0x03B5, 0x03B9, 0x03BA, 0x03BD, 0x03BF, 0x03C1, 0x03C4, 0x03C5, 0x03C7, 0x03C9, 0x03B7,
        0x03B3, 0x03BC, 0x03F2, 0x03F3};
    for (const gunichar confusable : Confusables)
        if (c == confusable)
            return true;
    return false;
}

bool IsHanCompanion(GUnicodeScript script)
{
    return script == G_UNICODE_SCRIPT_HIRAGANA || script == G_UNICODE_SCRIPT_KATAKANA ||
           script == G_UNICODE_SCRIPT_HANGUL || script == G_UNICODE_SCRIPT_BOPOMOFO;
}

struct TLabelScript
{
    bool Safe = true;
    GUnicodeScript Script = G_UNICODE_SCRIPT_COMMON; // COMMON: digits and hyphens only
    bool AllLookLatin = true;                        // every letter is a Cyrillic/Greek look-alike
};

TLabelScript ScriptOfLabel(std::string_view label)
{
    TLabelScript result;
    bool han = false;
    GUnicodeScript other = G_UNICODE_SCRIPT_COMMON;
    for (const char* p = label.data(); p < label.data() + label.size(); p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (c == '-' || g_unichar_ismark(c))
            continue;
        if (!g_unichar_isalnum(c)) {
            result.Safe = false; // symbols and punctuation that pass for "/", "." or letters
            return result;
        }
        const GUnicodeScript script = g_unichar_get_script(c);
        if (script == G_UNICODE_SCRIPT_COMMON || script == G_UNICODE_SCRIPT_INHERITED) {
            if (c >= 0x80) // digits of other scripts, full-width forms
                result.Safe = false;
            continue;
        }
        if (!LooksLatin(c))
            result.AllLookLatin = false;
        if (script == G_UNICODE_SCRIPT_HAN) {
            han = true;
        } else if (other == G_UNICODE_SCRIPT_COMMON) {
            other = script;
        } else if (other != script) {
            result.Safe = false;
            return result;
        }
    }
    if (han && other != G_UNICODE_SCRIPT_COMMON && !IsHanCompanion(other))
        result.Safe = false;
    result.Script = han ? G_UNICODE_SCRIPT_HAN : other;
    if (result.Script != G_UNICODE_SCRIPT_CYRILLIC && result.Script != G_UNICODE_SCRIPT_GREEK)
        result.AllLookLatin = false;
    return result;
}

std::vector<std::string_view> Labels(std::string_view domain)
{
    std::vector<std::string_view> labels;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = domain.find('.', start);
        if (dot == std::string_view::npos) {
            labels.push_back(domain.substr(start));
            return labels;
        }
        labels.push_back(domain.substr(start, dot - start));
        start = dot + 1;
    }
}

} // namespace

std::string DisplayDomain(std::string_view domain)
{
    if (IsAscii(domain) && !HasAceLabel(domain))
        return std::string(domain);
    const std::string text = retrieval::Utf8Text(domain);
    if (text.find('\0') != std::string::npos)
        return text;
    const TGChar ascii(g_hostname_to_ascii(text.c_str()));
    const TGChar unicode(g_hostname_to_unicode(text.c_str()));
    if (!ascii || !unicode)
        return text;

    const std::vector<std::string_view> labels = Labels(unicode.get());
    std::vector<TLabelScript> scripts;
    scripts.reserve(labels.size());
    for (const std::string_view label : labels) {
        scripts.push_back(ScriptOfLabel(label));
        if (!scripts.back().Safe)
            return ascii.get();
    }
    // A look-alike label passes only below a top-level label of its own script that is no
    // look-alike itself (".рф" names a Cyrillic registry, where Cyrillic is what one expects).
    const TLabelScript& topLevel = scripts.back();
    for (const TLabelScript& label : scripts)
        if (label.AllLookLatin &&
            (&label == &topLevel || topLevel.AllLookLatin || label.Script != topLevel.Script))
            return ascii.get();
    return unicode.get();
}

std::string DisplayAddress(std::string_view address)
{
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos)
        return retrieval::Utf8Text(address);
    return retrieval::Utf8Text(address.substr(0, at + 1)) + DisplayDomain(address.substr(at + 1));
}

} // namespace tarnwick::mime
