#include "views/TAdvancedFilters.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "core/TPrompter.h"
#include "core/TextUtils.h"
#include "retrieval/TCacheFile.h"
#include "views/ClassMark.h"
#include "views/TForeignCharacters.h"

namespace tarnwick::views {

namespace {

// Length of the UTF-8 character at the front of `text`; 1 for a byte that starts no valid one.
std::size_t CharacterLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 1 || length > text.size())
        return 1;
    return core::IsValidUtf8(text.substr(0, length)) ? length : 1;
}

// The text of the message's cache file; empty when the file is missing or holds another message
// that got the same cache name.
std::string CachedText(const std::string& path, const accounts::TMailMessage& message)
{
    std::optional<std::ifstream> in = retrieval::OpenCacheFile(message.Headers, path);
    if (!in)
        return {};
    return {std::istreambuf_iterator<char>(*in), std::istreambuf_iterator<char>()};
}

} // namespace

TAdvancedFilters::TAdvancedFilters(TAdvancedFiltersSettings settings, std::string dataFolder,
                                   std::string cacheFolder, core::TPrompter& prompter)
    : Settings(settings)
    , DataFolder_(std::move(dataFolder))
    , CacheFolder_(std::move(cacheFolder))
    , Prompter_(prompter)
{
    if (!CacheFolder_.empty() && CacheFolder_.back() != '/')
        CacheFolder_ += '/';
}

bool TAdvancedFilters::Accepts(const accounts::TMailMessage& message, int viewIndex)
{
    switch (viewIndex) {
    case ViewAttachments:
        return message.HasAttachments;
    case ViewHighPriority: {
        const std::int32_t wanted =
            !Settings.HighPririty && Settings.LowPririty ? accounts::PriorityLow : accounts::PriorityHigh;
        return message.Priority == wanted;
    }
    case ViewForeignCharacters:
        return ForeignMatches(message);
    case ViewDeliveryErrors:
        return (ContainsNoCase(message.FromName, "mailer-daemon") ||
                ContainsNoCase(message.FromName, "mail delivery")) &&
               (ContainsNoCase(message.Subject, "failed delivery") ||
                ContainsNoCase(message.Subject, "mail delivery") ||
                ContainsNoCase(message.Subject, "undeliverable"));
    case ViewVeryLarge:
        return message.Size / 1024 > Settings.LargerThenSize;
    default:
        return false;
    }
}

std::vector<std::size_t> TAdvancedFilters::FindDuplicates(const accounts::TMails& messages) const
{
    // The key joins the ticked fields, each with its length in front, so that no two different
    // combinations give the same text.
    std::unordered_map<std::string, std::size_t> groupOf;
    std::vector<std::size_t> sizes;                           // members per group
    std::vector<std::pair<std::size_t, std::size_t>> members; // (record index, group)
    groupOf.reserve(messages.Count());
    members.reserve(messages.Count());
    std::string key;
    const auto append = [&key](std::string_view field) {
        key += std::to_string(field.size());
        key += ':';
        key += field;
    };
    for (std::size_t i = 0; i < messages.Count(); ++i) {
        const accounts::TMailMessage* message = messages.At(i);
        if (message == nullptr || message->Trashed)
            continue;
        key.clear();
        if (Settings.IdemSubject)
            append(StripClassMarkView(message->Subject));
        if (Settings.IdemFrom)
            append(message->FromName);
        if (Settings.IdemTo) {
            // To the second; dates before 1970 round down as well.
            const std::int64_t sent = message->Sent;
            append(std::to_string(sent == accounts::TMailMessage::NoDate ? sent
                                  : sent >= 0                            ? sent / 1000
                                                                         : (sent - 999) / 1000));
        }
        if (Settings.IdemSize)
            append(std::to_string(message->Size / 1024));
        const auto [it, added] = groupOf.try_emplace(key, sizes.size());
        if (added)
            sizes.push_back(0);
        ++sizes[it->second];
        members.emplace_back(i, it->second);
    }
    // Group by group in the order of their first message; within a group in list order.
    std::vector<std::size_t> offset(sizes.size(), 0);
    std::size_t total = 0;
    for (std::size_t g = 0; g < sizes.size(); ++g) {
        offset[g] = total;
        if (static_cast<std::int64_t>(sizes[g]) >= Settings.Duplicates)
            total += sizes[g];
    }
    std::vector<std::size_t> result(total);
    for (const auto& [index, group] : members)
        if (static_cast<std::int64_t>(sizes[group]) >= Settings.Duplicates)
            result[offset[group]++] = index;
    return result;
}

void TAdvancedFilters::SetCharacters(const std::vector<std::string>& entries)
{
    Characters_.emplace();
    for (const auto& entry : entries) {
        // Only an entry of one character can equal a character of the text.
        if (entry.empty() || CharacterLength(entry) != entry.size())
            continue;
        Characters_->insert(std::string(FoldCharacter(entry)));
    }
    for (int c = 0; c < 128; ++c)
        AsciiInSet_[static_cast<std::size_t>(c)] =
            Characters_->contains(std::string(FoldCharacter(std::string(1, static_cast<char>(c)))));
}

std::string_view TAdvancedFilters::FoldCharacter(std::string_view character)
{
    auto it = FoldCache_.find(std::string(character));
    if (it == FoldCache_.end())
        it = FoldCache_.emplace(std::string(character), core::FoldCase(character)).first;
    return it->second;
}

bool TAdvancedFilters::HasForeignCharacters(std::string_view text)
{
    if (!Characters_ || Characters_->empty())
        return false;
    std::int32_t count = 0;
    while (!text.empty()) {
        const auto lead = static_cast<unsigned char>(text[0]);
        const std::size_t length = lead < 0x80 ? 1 : CharacterLength(text);
        const bool counted = lead < 0x80
                                 ? AsciiInSet_[lead]
                                 : Characters_->contains(std::string(FoldCharacter(text.substr(0, length))));
        if (counted) {
            ++count;
            if (count >= Settings.CharacterAppearance)
                return true;
        }
        text.remove_prefix(length);
    }
    return false;
}

bool TAdvancedFilters::ForeignMatches(const accounts::TMailMessage& message)
{
    if (!GoOn)
        return false;
    if (!Characters_) {
        const auto entries = TForeignCharacters::Read(DataFolder_);
        if (!entries) {
            Prompter_.Inform(core::TMessageKind::Warning, NoForeignCharactersText);
            GoOn = false;
            return false;
        }
        SetCharacters(*entries);
    }
    return (Settings.ForeignInSubject && HasForeignCharacters(message.Subject)) ||
           (Settings.ForeignInFrom && HasForeignCharacters(message.FromName)) ||
           (Settings.ForeignInTo && HasForeignCharacters(message.ToText)) ||
           (Settings.ForeignInBody &&
            HasForeignCharacters(CachedText(CacheFolder_ + message.CacheName + ".eml", message)));
}

} // namespace tarnwick::views
