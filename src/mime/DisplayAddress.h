#pragma once

#include <string>
#include <string_view>

namespace tarnwick::mime {

// How a domain is shown to the user. An internationalised domain (xn-- labels or non-ASCII labels)
// is shown in Unicode only when it cannot pass for another: every label written in one script
// (Latin with digits and hyphens is one; Han with Hiragana/Katakana, Hangul or Bopomofo counts as
// one too), only letters, digits, marks and hyphens, and no label made wholly of Cyrillic or Greek
// letters that look like Latin ones (unless the top-level label is of that script as well).
// Otherwise it is shown in its ASCII (punycode) form. An ASCII domain is returned as it is; a domain
// that is not a valid host name is returned as valid UTF-8 text.
std::string DisplayDomain(std::string_view domain);

// The address with DisplayDomain applied to the part after its last "@".
std::string DisplayAddress(std::string_view address);

} // namespace tarnwick::mime
