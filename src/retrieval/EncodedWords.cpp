#include "EncodedWords.h"

#include <cerrno>
#include <cstdint>
#include <optional>

#include <iconv.h>

#include "GMimeSupport.h"
#include "HeaderText.h"
#include "core/TextUtils.h"

namespace tarnwick::retrieval {

namespace {

struct TEncodedWord
{
    std::size_t End = 0;      // one past the closing "?="
    std::string_view Charset; // without a language
    bool Sound = false;       // the payload could be decoded
    std::string Bytes;        // the decoded payload
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A charset name is a token: printable ASCII without the characters that delimit words and addresses
// (so that "/" cannot smuggle iconv options such as "//IGNORE" in).
bool IsCharsetChar(char c)
{
    return c > ' ' && c < 0x7F && std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

bool IsPayloadChar(char c)
{
    return c > ' ' && c < 0x7F && c != '?';
}

// Padding is optional (mailers leave it out) and may be too long; what comes before it must be
// base64 of at least one byte. Bits left over in the last character are ignored.
bool DecodeBase64(std::string_view text, std::string& out)
{
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    if (text.empty() || text.size() % 4 == 1)
        return false;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const int value = core::Base64DigitValue(c);
        if (value < 0)
            return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}

void DecodeQ(std::string_view text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && core::HexDigitValue(text[i + 1]) >= 0 &&
                   core::HexDigitValue(text[i + 2]) >= 0) {
            out +=
                static_cast<char>(core::HexDigitValue(text[i + 1]) * 16 + core::HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
}

// The encoded word that starts at pos (at a "=?"), or nothing when none does.
std::optional<TEncodedWord> WordAt(std::string_view value, std::size_t pos)
{
    const std::size_t size = value.size();
    std::size_t i = pos + 2;
    const std::size_t charsetBegin = i;
    while (i < size && IsCharsetChar(value[i]))
        ++i;
    if (i + 2 >= size || value[i] != '?' || value[i + 2] != '?')
        return std::nullopt;
    std::string_view charset = value.substr(charsetBegin, i - charsetBegin);
    charset = charset.substr(0, charset.find('*'));
    const char encoding = value[i + 1];
    if (charset.empty() || (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q'))
        return std::nullopt;
    i += 3;
    const std::size_t payloadBegin = i;
    while (i < size && IsPayloadChar(value[i]))
        ++i;
    if (i + 1 >= size || value[i] != '?' || value[i + 1] != '=')
        return std::nullopt;
    const std::string_view payload = value.substr(payloadBegin, i - payloadBegin);

    TEncodedWord word;
    word.End = i + 2;
    word.Charset = charset;
    if (encoding == 'B' || encoding == 'b') {
        word.Sound = DecodeBase64(payload, word.Bytes);
    } else {
        word.Sound = !payload.empty();
        DecodeQ(payload, word.Bytes);
    }
    return word;
}

// The bytes converted from the charset to UTF-8. A byte the charset cannot read becomes "?", as GMime
// has always shown it; a charset iconv does not know gives way to the reading of undeclared text.
std::string ToUtf8(std::string_view charset, const std::string& bytes)
{
    gmime::EnsureInitialized();
    // GMime's table turns the names mail uses into those iconv knows ("windows-1251" is "CP1251").
    const iconv_t converter = iconv_open("UTF-8", g_mime_charset_iconv_name(std::string(charset).c_str()));
    if (converter == reinterpret_cast<iconv_t>(-1))
        return Utf8Text(bytes);

    std::string out(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t used = 0;
    while (inLeft > 0) {
        char* outPos = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = iconv(converter, &in, &inLeft, &outPos, &outLeft);
        const int error = errno;
        used = static_cast<std::size_t>(outPos - out.data());
        if (result != static_cast<std::size_t>(-1))
            break; // all read; UTF-8 has no shift states, so nothing is left to flush
        if (error == E2BIG || used == out.size()) {
            out.resize(out.size() * 2);
            continue;
        }
        // A byte sequence the charset does not have, or one cut short at the end.
        out[used++] = '?';
        ++in;
        --inLeft;
    }
    iconv_close(converter);
    out.resize(used);
    return out;
}

// The text of a stretch of adjacent words, built word by word.
class TStretch
{
public:
    // blanks: what stood between the previous word and this one; written: the word as written.
    void Add(std::string_view blanks, std::string_view written, const TEncodedWord& word)
    {
        if (word.Sound && LastSound_ && core::AsciiEqualNoCase(word.Charset, Charset_)) {
            Bytes_ += word.Bytes;
        } else {
            Flush();
            if (!word.Sound || !LastSound_)
                Text_ += blanks;
            if (word.Sound) {
                Bytes_ = word.Bytes;
                Charset_ = word.Charset;
            } else {
                Text_ += written;
            }
        }
        LastSound_ = word.Sound;
    }

    // The stretch as one encoded word: letters and digits as they are, a blank as "_", every
    // other byte as "=" and two hex digits, so that neither an address parser nor GMime's
    // joining of adjacent words can take it apart.
    std::string Word()
    {
        Flush();
        static constexpr char Hex[] = "0123456789ABCDEF";
        std::string word = "=?UTF-8?Q?";
        word.reserve(word.size() + Text_.size() * 3 + 2);
        for (const char c : Text_) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                (byte >= '0' && byte <= '9')) {
                word += c;
            } else if (byte == ' ' || byte == '\0') {
                word += '_';
            } else {
                word += '=';
                word += Hex[byte >> 4];
                word += Hex[byte & 0xF];
            }
        }
        word += "?=";
        return word;
    }

private:
    void Flush()
    {
        if (!Bytes_.empty())
            Text_ += ToUtf8(Charset_, Bytes_);
        Bytes_.clear();
    }

    std::string Text_;         // UTF-8 so far
    std::string Bytes_;        // decoded bytes of the last words, one charset, not yet converted
    std::string_view Charset_; // their charset
    bool LastSound_ = false;
};

} // namespace

std::string JoinEncodedWords(std::string_view value)
{
    std::string out;
    std::size_t copied = 0; // value up to here is in out
    std::size_t pos = value.find("=?");
    while (pos != std::string_view::npos) {
        const std::optional<TEncodedWord> word = WordAt(value, pos);
        if (!word) {
            pos = value.find("=?", pos + 1);
            continue;
        }
        out.append(value.substr(copied, pos - copied));
        TStretch stretch;
        stretch.Add({}, value.substr(pos, word->End - pos), *word);
        std::size_t end = word->End;
        for (;;) {
            std::size_t next = end;
            while (next < value.size() && IsBlank(value[next]))
                ++next;
            if (value.substr(next, 2) != "=?")
                break;
            const std::optional<TEncodedWord> following = WordAt(value, next);
            if (!following)
                break;
            stretch.Add(value.substr(end, next - end), value.substr(next, following->End - next), *following);
            end = following->End;
        }
        out += stretch.Word();
        copied = end;
        pos = value.find("=?", end);
    }
    if (copied == 0)
        return std::string(value);
    out.append(value.substr(copied));
    return out;
}

} // namespace tarnwick::retrieval
