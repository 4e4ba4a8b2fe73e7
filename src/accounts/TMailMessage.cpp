#include "TMailMessage.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace tarnwick::accounts {

namespace {

// Texts compare without regard to case for the letters a to z only (folded to upper case, so "_"
// sorts after the letters), otherwise by byte value.
int CompareText(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z')
            ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z')
            cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T> int CompareValue(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBy(int key, const TMailMessage& a, const TMailMessage& b)
{
    switch (key) {
    case SortPriority:
        return CompareValue(a.Priority, b.Priority);
    case SortAttachments:
        return CompareValue(a.HasAttachments, b.HasAttachments);
    case SortFrom:
        return CompareText(a.FromName, b.FromName);
    case SortSubject:
        return CompareText(a.Subject, b.Subject);
    case SortSent: // whole milliseconds: times less than one apart are equal
        return CompareValue(a.Sent, b.Sent);
    case SortSize:
        return CompareValue(a.Size, b.Size);
    case SortTo:
        return CompareText(a.ToText, b.ToText);
    default:
        return CompareValue(a.Number, b.Number);
    }
}

} // namespace

std::size_t TMails::Add(TMailMessage record)
{
    Items_.push_back(std::make_unique<TMailMessage>(std::move(record)));
    return Items_.size() - 1;
}

void TMails::Detach(std::size_t index)
{
    Items_[index].reset();
}

void TMails::Pack()
{
    std::erase(Items_, nullptr);
}

void TMails::Sort(int code)
{
    if (code == 0 || code < -SortTo || code > SortNumber)
        throw std::invalid_argument("unknown sort code " + std::to_string(code));
    const int key = code < 0 ? -code : code;
    const bool descending = code < 0;
    // Emptied slots go to the end, whatever the direction.
    std::sort(Items_.begin(), Items_.end(), [&](const auto& a, const auto& b) {
        if (!a || !b)
            return a && !b;
        const int c = CompareBy(key, *a, *b);
        return descending ? c > 0 : c < 0;
    });
}

std::string SizeText(std::int32_t size)
{
    if (size < 1024)
        return std::to_string(size) + " bytes";
    if (size > 1048575)
        return std::to_string(size / 1048576) + " MB";
    return std::to_string(size / 1024) + " KB";
}

std::string SentText(std::int64_t sent, char dateSeparator, char timeSeparator)
{
    if (sent == TMailMessage::NoDate)
        return {};
    // Floor division keeps dates before 1970 on the right second.
    std::int64_t seconds = sent / 1000;
    if (sent % 1000 < 0)
        --seconds;
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d %02d%c%02d%c%02d", tm.tm_mon + 1, dateSeparator,
                  tm.tm_mday, dateSeparator, (tm.tm_year + 1900) % 100, tm.tm_hour, timeSeparator, tm.tm_min,
                  timeSeparator, tm.tm_sec);
    return buf;
}

} // namespace tarnwick::accounts
