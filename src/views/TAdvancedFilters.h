#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "accounts/TMailMessage.h"
#include "views/TAbstractFiltering.h"
#include "views/TAdvancedFiltersSettings.h"

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::views {

// The advanced views: duplicates, attachments, priority, foreign characters, delivery errors and
// very large messages. One object serves one application of a view.
class TAdvancedFilters : public TAbstractFiltering
{
public:
    // `dataFolder` holds "Characters.dat"; `cacheFolder` the cached messages (for the body).
    TAdvancedFilters(TAdvancedFiltersSettings settings, std::string dataFolder, std::string cacheFolder,
                     core::TPrompter& prompter);

    // For the views 9 to 13. The foreign-characters view clears GoOn (after one warning) when there
    // is no character set.
    bool Accepts(const accounts::TMailMessage& message, int viewIndex) override;

    // The indexes of the records to show for "Duplicates", group by group.
    std::vector<std::size_t> FindDuplicates(const accounts::TMails& messages) const;

    // Whether the text holds CharacterAppearance characters of the set (letter case ignored).
    bool HasForeignCharacters(std::string_view text);
    // Replaces the character set (instead of reading "Characters.dat").
    void SetCharacters(const std::vector<std::string>& entries);

    bool GoOn = true;
    const TAdvancedFiltersSettings Settings;

private:
    bool ForeignMatches(const accounts::TMailMessage& message);
    std::string_view FoldCharacter(std::string_view character);

    std::string DataFolder_;
    std::string CacheFolder_;
    core::TPrompter& Prompter_;
    std::optional<std::unordered_set<std::string>> Characters_; // folded one-character entries
    std::unordered_map<std::string, std::string> FoldCache_;
    std::array<bool, 128> AsciiInSet_{}; // the folded set's answer for each ASCII character
};

} // namespace tarnwick::views
