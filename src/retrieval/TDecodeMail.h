#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TParsedHeader.h"
#include "accounts/TMailMessage.h"

namespace tarnwick::retrieval {

// The priority of a message from its priority text (the "Priority" value, or "X-Priority"): a
// text containing "urgent" or "non-priority" in any case is normal; otherwise the first word read
// as a decimal number, 3 when it is none: 1 is high, 5 low, anything else normal.
std::int32_t PriorityOf(std::string_view priorityText);

// Whether a message carries attachments, judged by the last header line that mentions
// "content-type" in any case: true when that line holds "multipart/mixed" written exactly so.
bool HasAttachmentsOf(const std::vector<std::string>& headerLines);

// Turns a parsed header into a header record and holds the record while it is worked on (one per
// worker thread and one per view fill).
class TDecodeMail
{
public:
    // A new record from a parsed header, the size listed by the server, the message number and the
    // cache name. The held record is replaced; the returned reference is valid until the next
    // Decode.
    accounts::TMailMessage& Decode(const TParsedHeader& parsed, std::int32_t size, std::int32_t number,
                                   const std::string& cacheName);
    // The same, taking over the parsed header's lines instead of copying them.
    accounts::TMailMessage& Decode(TParsedHeader&& parsed, std::int32_t size, std::int32_t number,
                                   const std::string& cacheName);
    // Puts the text in front of the held record's subject (a classification mark).
    void PrefixSubject(std::string_view text);

    accounts::TMailMessage& Record() { return Record_; }
    const accounts::TMailMessage& Record() const { return Record_; }

private:
    accounts::TMailMessage Record_;
};

} // namespace tarnwick::retrieval
