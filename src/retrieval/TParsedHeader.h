#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::retrieval {

// What the protocol layer makes of a message's header lines: the lines as received and the fields
// the program uses, decoded to UTF-8.
struct TParsedHeader
{
    std::vector<std::string> Lines; // the physical header lines, in order, without line ends
    bool HasBody = false;           // the message came with body lines (a whole message)
    std::string FromName;
    std::string FromAddress;
    std::string FromText;
    std::string ToText;
    std::string CcText;
    std::string Subject;
    std::string Organization;
    std::int64_t Date = INT64_MIN; // milliseconds since 1970-01-01 UTC, INT64_MIN when missing or invalid
    std::string MessageId;         // the Message-Id value as written (angle brackets included), trimmed
    std::string Priority;          // the "Priority" value, or "X-Priority" when that is missing or empty
};

// Parses header lines (physical lines, folded lines as they came). Never throws for any input: a
// malformed header gives empty or default fields.
TParsedHeader ParseHeader(std::vector<std::string> lines, bool hasBody);

// Splits a whole message or a header block (as a file holds it) into its header lines and parses
// them; lines end with LF or CR LF, the header ends at the first empty line.
TParsedHeader ParseMessageText(std::string_view text);

// The cache file name (without ".eml") of a message.
std::string CacheNameOf(const TParsedHeader& header);

} // namespace tarnwick::retrieval
