#pragma once

#include <string>
#include <string_view>

namespace tarnwick::views {

inline constexpr std::string_view SpamMark = " [ Spam ] ";
inline constexpr std::string_view QuestionableMark = " [ Questionable ] ";

// The subject without a leading " [ Questionable ] " or " [ Spam ] " (letter case ignored).
std::string StripClassMark(std::string_view subject);
std::string_view StripClassMarkView(std::string_view subject);

// Whether `text` holds `needle`, letters A to Z compared without regard to case. The needles of the
// views are plain ASCII words.
bool ContainsNoCase(std::string_view text, std::string_view needle);

} // namespace tarnwick::views
