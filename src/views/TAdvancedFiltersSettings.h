#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::core {
class TRegistry;
}

namespace tarnwick::views {

// The settings of the advanced views, kept as texts in the Options key. A key that cannot be opened
// leaves every field false or 0, which is what a default-constructed value holds.
struct TAdvancedFiltersSettings
{
    std::int32_t Duplicates = 0;
    bool IdemSubject = false;
    bool IdemFrom = false;
    bool IdemTo = false; // the sent date and time
    bool IdemSize = false;
    bool HighPririty = false;
    bool LowPririty = false;
    std::int32_t LargerThenSize = 0;
    std::int32_t CharacterAppearance = 0;
    bool ForeignInSubject = false;
    bool ForeignInFrom = false;
    bool ForeignInTo = false;
    bool ForeignInBody = false;

    // The values used when the store has none.
    static TAdvancedFiltersSettings Defaults();

    bool operator==(const TAdvancedFiltersSettings&) const = default;
};

// Reads the settings; a missing value, or one that is not text, takes its default. Throws
// core::TConversionError naming the value when a text is not a number (or "True"/"False").
TAdvancedFiltersSettings ReadFilterSettings(core::TRegistry& registry);
// A stored value that could not be converted: its name and its text.
struct TUnreadableSetting
{
    std::string Name;
    std::string Text;

    bool operator==(const TUnreadableSetting&) const = default;
};

// Reads the settings as ReadFilterSettings does, except that a text that cannot be converted takes
// the value's default and is listed in `unreadable` (in the order of the values) instead of
// throwing, so that a settings window can still open and store repaired values.
TAdvancedFiltersSettings ReadFilterSettingsTolerant(core::TRegistry& registry,
                                                    std::vector<TUnreadableSetting>& unreadable);
// Writes every field, booleans as "-1" or "0", integers in decimal.
void WriteFilterSettings(core::TRegistry& registry, const TAdvancedFiltersSettings& settings);

} // namespace tarnwick::views
