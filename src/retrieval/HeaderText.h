#pragma once

#include <string>
#include <string_view>

namespace tarnwick::retrieval {

// The text as valid UTF-8: valid sequences stay, every other byte is read as windows-1252 (the
// usual charset of undeclared 8-bit mail text; its five unassigned bytes become U+FFFD).
std::string Utf8Text(std::string_view bytes);

// Utf8Text with every control character (U+0000 to U+001F, U+007F) turned into a blank: a text
// to show on one line.
std::string DisplayText(std::string_view bytes);

} // namespace tarnwick::retrieval
