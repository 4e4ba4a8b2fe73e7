#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::accounts {

inline constexpr std::int32_t PriorityHigh = 6;
inline constexpr std::int32_t PriorityNormal = 5;
inline constexpr std::int32_t PriorityLow = 4;

// The header record of one message on the server.
struct TMailMessage
{
    static constexpr std::int64_t NoDate = std::numeric_limits<std::int64_t>::min();

    std::vector<std::string> Headers; // the header lines as received, in order
    std::int32_t Priority = PriorityNormal;
    bool HasAttachments = false;
    std::string FromName;
    std::string FromText; // "Name <address>" or the address alone
    std::string Subject;
    std::string FromAddress;
    std::string Organization;
    std::string CcText;
    std::int64_t Sent = NoDate; // milliseconds since 1970-01-01 UTC, or NoDate
    std::int32_t Size = 0;      // bytes, as listed by the server
    std::string ToText;
    std::int32_t Number = 0; // the server's message number, from 1
    bool Fetched = false;    // the whole message is in the cache
    std::string CacheName;   // cache file name without ".eml"
    bool Trashed = false;
    std::string UniqueId; // the server's UIDL for the message, when it offers one
    // Why the download-time classification gave the message its class, one English sentence
    // (classify::ReasonText); empty for a record that was not classified.
    std::string Reason;
};

// Sort codes of TMails::Sort: 1..7 ascending by one key, the negative code descending, 8 by number.
enum TSortCode : int
{
    SortPriority = 1,
    SortAttachments = 2,
    SortFrom = 3,
    SortSubject = 4,
    SortSent = 5,
    SortSize = 6,
    SortTo = 7,
    SortNumber = 8,
};

// An account's messages in order; a record is addressed by its index. A slot can be emptied
// (Detach) and the list packed later.
class TMails
{
public:
    std::size_t Count() const { return Items_.size(); }
    // The record at `index`, or nullptr for an emptied slot.
    TMailMessage* At(std::size_t index) { return Items_[index].get(); }
    const TMailMessage* At(std::size_t index) const { return Items_[index].get(); }

    std::size_t Add(TMailMessage record);
    void Detach(std::size_t index);
    void Pack();
    void Clear() { Items_.clear(); }
    // Sorts by a TSortCode (negative: descending). Throws std::invalid_argument for other codes.
    void Sort(int code);

private:
    std::vector<std::unique_ptr<TMailMessage>> Items_;
};

// The "Size" column: "n bytes" below 1024, "n KB" up to 1048575, "n MB" above.
std::string SizeText(std::int32_t size);
// The "Sent" column: "mm/dd/yy hh:nn:ss" in local time with the user's separators; empty when the
// message has no date.
std::string SentText(std::int64_t sent, char dateSeparator = '/', char timeSeparator = ':');

} // namespace tarnwick::accounts
