#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::import {

// What one vCard says about its entry, with every text decoded to UTF-8.
struct TVCard
{
    enum class TKind
    {
        Person, // KIND individual or none
        Group,  // KIND:group or X-ADDRESSBOOKSERVER-KIND:group
        Other,  // KIND org, location, application, ...: not an address book entry of ours
    };

    TKind Kind = TKind::Person;
    std::string FormattedName;        // FN
    std::string ComposedName;         // N in reading order: prefix, given, additional, family, suffix
    std::string Organization;         // ORG's first component
    std::vector<std::string> Emails;  // the preferred first, the others in the card's order
    std::string Uid;                  // UID without a "urn:uuid:" prefix, lower case
    std::vector<std::string> Members; // MEMBER / X-ADDRESSBOOKSERVER-MEMBER values as written
};

// The cards of one text and how many could not be read.
struct TVCardText
{
    std::vector<TVCard> Cards;
    std::size_t Skipped = 0;
};

// Bounds that keep a hostile file from exhausting memory or time.
inline constexpr std::size_t MaxVCardLine = 1u << 20;    // one unfolded property line
inline constexpr std::size_t MaxVCardProperties = 10000; // lines of one card
inline constexpr std::size_t MaxVCardCards = 100000;     // cards kept of one reading
inline constexpr std::size_t MaxVCardEmails = 100;       // addresses kept of one card

// Reads the vCards (2.1, 3.0 and 4.0) of a text. A card without END, one holding a line that is
// not a property, one over the bounds, and a run of stray text outside any card are skipped and
// counted; `cardRoom` caps the cards kept (those past it are counted as skipped).
TVCardText ParseVCards(std::string_view text, std::size_t cardRoom = MaxVCardCards);

// A value in a declared charset as UTF-8; an unknown charset or bytes it does not hold are read
// as windows-1252, text without a charset as UTF-8 where it is valid.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);

} // namespace tarnwick::import
