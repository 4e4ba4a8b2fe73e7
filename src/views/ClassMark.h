#pragma once

#include <string>
#include <string_view>

namespace tarnwick::views {

inline constexpr std::string_view SpamMark = " [ Spam ] ";
inline constexpr std::string_view QuestionableMark = " [ Questionable ] ";

// The subject without a leading " [ Questionable ] " or " [ Spam ] " (letter case ignored).
std::string StripClassMark(std::string_view subject);
std::string_view StripClassMarkView(std::string_view subject);
// The subject with its classification prefix exchanged: at most one leading " [ Questionable ] "
// or " [ Spam ] " (letter case ignored) is removed, then `newPrefix` (possibly empty) is put in
// front. Moving a sender to the black list gives SpamMark, to the white list the empty prefix.
std::string ReplaceClassPrefix(std::string_view subject, std::string_view newPrefix);

// Whether `text` holds `needle`, letters A to Z compared without regard to case. The needles of the
// views are plain ASCII words.
bool ContainsNoCase(std::string_view text, std::string_view needle);

} // namespace tarnwick::views
