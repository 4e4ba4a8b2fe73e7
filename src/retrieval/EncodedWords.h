#pragma once

#include <string>
#include <string_view>

namespace tarnwick::retrieval {

// The header value with each stretch of encoded words ("=?charset?B?...?=" or "=?charset?Q?...?=",
// one after the other or with only blanks between them) written as one UTF-8 Q word that holds the
// stretch's text; everything outside the stretches stays as it is. GMime then decodes the value as
// before, but meets no two adjacent words of ours: it joins the payloads of adjacent base64 words of
// one charset before decoding them, so everything after the first word's padding got lost.
//
// Inside a stretch:
// - blanks between two encoded words are dropped; blanks next to ordinary text are outside it;
// - the bytes of adjacent words in one charset are joined before they are converted, so that a
//   character split across two words comes out whole; a language after "*" ("UTF-8*en") is ignored;
// - base64 may come with or without its padding; in Q, "_" is a blank, "=" and two hex digits of
//   either case a byte, and any other "=" stands for itself;
// - a byte the charset cannot read becomes "?", as GMime shows it; a charset that is unknown gives
//   way to the usual reading of undeclared text: UTF-8 where the bytes are valid, else
//   windows-1252 (Utf8Text);
// - a word whose payload is empty or is no base64 is kept as written, and the blanks beside it are
//   kept as beside ordinary text;
// - a NUL byte becomes a blank (GMime reads C strings).
// A "=?" that does not begin a complete word (no "?=" before the next blank, a blank or "?" in the
// payload, an encoding other than B or Q) is not touched and GMime reads it as it always did.
std::string JoinEncodedWords(std::string_view value);

} // namespace tarnwick::retrieval
