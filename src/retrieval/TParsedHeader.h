#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::retrieval {

// What the protocol layer makes of a message's header lines: the lines as received and the fields
// the program uses, decoded to UTF-8.
struct TParsedHeader
{
    static constexpr std::int64_t NoDate = std::numeric_limits<std::int64_t>::min();

    std::vector<std::string>
        Lines;            // the physical header lines, in order, without line ends, bytes as received
    bool HasBody = false; // the message came with body lines (a whole message)
    std::string FromName;
    std::string FromAddress;
    std::string FromText;
    std::string ToText;
    std::string CcText;
    std::string Subject;
    std::string Organization;
    std::int64_t Date = NoDate; // milliseconds since 1970-01-01 UTC, NoDate when missing or invalid
    std::string MessageId;      // the Message-Id value as written (angle brackets included), trimmed
    std::string Priority;       // the "Priority" value, or "X-Priority" when that is missing or empty
};

// Parses header lines (physical lines, folded lines as they came). Never throws for any input
// except std::bad_alloc: a malformed header gives empty or default fields. Every field but Lines
// is valid UTF-8; the display fields (names, addresses, texts, subject, organisation) hold no
// control characters.
TParsedHeader ParseHeader(std::vector<std::string> lines, bool hasBody);

// Splits a whole message or a header block (as a file holds it) into its header lines and parses
// them; lines end with LF or CR LF, the header ends at the first empty line, and the message has
// a body when anything follows that line.
TParsedHeader ParseMessageText(std::string_view text);

// The cache file name (without ".eml") of a message: its Message-Id, or when it has none
// "MsgIDPrefix" + sender name + sender address + local date "dd-mm-yyyy" (nothing for a message
// without a date), with every byte other than letters, digits and ! # $ % & ' ( ) - . ^ _ ` { } @
// written as "~" and its decimal value. A name that would exceed MaxCacheNameLength keeps its
// first part and ends in "~~" and a hash of the whole source text, so that the file system
// accepts it.
std::string CacheNameOf(const TParsedHeader& header);

inline constexpr std::size_t MaxCacheNameLength = 200;

} // namespace tarnwick::retrieval
