#include "TDecodeMail.h"

#include "core/TextUtils.h"

namespace tarnwick::retrieval {

std::int32_t PriorityOf(std::string_view priorityText)
{
    const std::string lower = core::AsciiLower(priorityText);
    if (lower.find("urgent") != std::string::npos || lower.find("non-priority") != std::string::npos)
        return accounts::PriorityNormal;
    const std::string value = core::Trim(priorityText);
    const std::string_view firstWord = std::string_view(value).substr(0, value.find_first_of(" \t"));
    switch (core::ParseInt32(firstWord).value_or(3)) {
    case 1:
        return accounts::PriorityHigh;
    case 5:
        return accounts::PriorityLow;
    default:
        return accounts::PriorityNormal;
    }
}

bool HasAttachmentsOf(const std::vector<std::string>& headerLines)
{
    for (auto line = headerLines.rbegin(); line != headerLines.rend(); ++line)
        if (core::AsciiLower(*line).find("content-type") != std::string::npos)
            return line->find("multipart/mixed") != std::string::npos;
    return false;
}

accounts::TMailMessage& TDecodeMail::Decode(const TParsedHeader& parsed, std::int32_t size,
                                            std::int32_t number, const std::string& cacheName)
{
    TParsedHeader fields = parsed;
    return Decode(std::move(fields), size, number, cacheName);
}

accounts::TMailMessage& TDecodeMail::Decode(TParsedHeader&& parsed, std::int32_t size, std::int32_t number,
                                            const std::string& cacheName)
{
    accounts::TMailMessage record;
    record.HasAttachments = HasAttachmentsOf(parsed.Lines);
    record.Headers = std::move(parsed.Lines);
    record.Headers.shrink_to_fit(); // a list holds many records for a long time
    record.Fetched = parsed.HasBody;
    record.Priority = PriorityOf(parsed.Priority);
    record.FromName = std::move(parsed.FromName);
    record.FromText = std::move(parsed.FromText);
    record.CcText = std::move(parsed.CcText);
    record.Subject = std::move(parsed.Subject);
    record.Organization = std::move(parsed.Organization);
    record.Sent = parsed.Date;
    record.ToText = std::move(parsed.ToText);
    record.FromAddress = std::move(parsed.FromAddress);
    record.Number = number;
    record.Size = size;
    record.CacheName = cacheName;
    record.Trashed = false;
    Record_ = std::move(record);
    return Record_;
}

void TDecodeMail::PrefixSubject(std::string_view text)
{
    Record_.Subject.insert(0, text);
}

} // namespace tarnwick::retrieval
