#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::core {

// Letters A to Z folded to a to z; every other byte unchanged.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
bool AsciiEqualNoCase(std::string_view a, std::string_view b);

// Folds a key or value name for comparisons without regard to case. Valid UTF-8 is folded with
// Unicode case folding; anything else is folded for A to Z only.
std::string FoldCase(std::string_view text);

bool IsValidUtf8(std::string_view text);

// The value of a hexadecimal digit (either case), or -1.
int HexDigitValue(char c);
// The value of a base64 character (RFC 4648 alphabet, without "="), or -1.
int Base64DigitValue(char c);

// UTF-16LE bytes to UTF-8. A lone surrogate in U+DC80..U+DCFF stands for the raw byte 0x80..0xFF
// (the "surrogate escape" of PEP 383), so that texts which are not UTF-8 survive a trip through
// UTF-16. Returns nothing when the input has an odd length or another unpaired surrogate.
std::optional<std::string> Utf16LeToUtf8(std::string_view bytes);

// UTF-8 text to UTF-16LE bytes; bytes that are not part of valid UTF-8 become surrogate escapes.
std::string Utf8ToUtf16Le(std::string_view text);

// Windows-1252 ("ANSI") bytes to UTF-8. The five unassigned bytes map to U+0081 etc.
std::string Windows1252ToUtf8(std::string_view bytes);
// UTF-8 text back to single bytes: code points up to U+00FF become that byte, the Windows-1252
// characters of 0x80..0x9F (the euro sign, typographic quotes, ...) their byte. Nothing when the
// text is not UTF-8 or holds another character.
std::optional<std::string> Utf8ToSingleBytes(std::string_view text);

std::string Trim(std::string_view text);
// Blanks and control characters (every byte up to and including the space) trimmed from both ends.
std::string_view TrimBlanksAndControls(std::string_view text);

// Decimal integer of the whole text (optional sign, digits only, within 32 bits).
std::optional<std::int32_t> ParseInt32(std::string_view text);

} // namespace tarnwick::core
