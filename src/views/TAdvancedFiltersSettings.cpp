#include "views/TAdvancedFiltersSettings.h"

#include <string>
#include <string_view>

#include "core/Errors.h"
#include "core/TOptionRec.h"
#include "core/TRegistry.h"
#include "core/TextUtils.h"

namespace tarnwick::views {

namespace {

using TSettings = TAdvancedFiltersSettings;

// One row of the settings table, in the table's order: value name, default text, and the field
// (an integer or a boolean).
struct TField
{
    const char* Name;
    const char* Default;
    std::int32_t TSettings::*Integer;
    bool TSettings::*Boolean;
};

constexpr TField Fields[] = {
    {"Duplicates", "2", &TSettings::Duplicates, nullptr},
    {"IdemSubject", "1", nullptr, &TSettings::IdemSubject},
    {"IdemFrom", "0", nullptr, &TSettings::IdemFrom},
    {"IdemTo", "0", nullptr, &TSettings::IdemTo},
    {"IdemSize", "0", nullptr, &TSettings::IdemSize},
    {"HighPririty", "1", nullptr, &TSettings::HighPririty},
    {"LowPririty", "0", nullptr, &TSettings::LowPririty},
    {"LargerThenSize", "20", &TSettings::LargerThenSize, nullptr},
    {"CharacterAppearance", "4", &TSettings::CharacterAppearance, nullptr},
    {"ForeignInSubject", "1", nullptr, &TSettings::ForeignInSubject},
    {"ForeignInFrom", "0", nullptr, &TSettings::ForeignInFrom},
    {"ForeignInTo", "0", nullptr, &TSettings::ForeignInTo},
    {"ForeignInBody", "0", nullptr, &TSettings::ForeignInBody},
};

std::int32_t ToInteger(std::string_view name, const std::string& text)
{
    if (const auto value = core::ParseInt32(text))
        return *value;
    throw core::TConversionError("'" + text + "' is not a valid integer value (\"" + std::string(name) +
                                 "\").");
}

bool ToBoolean(std::string_view name, const std::string& text)
{
    if (core::AsciiEqualNoCase(text, "True"))
        return true;
    if (core::AsciiEqualNoCase(text, "False"))
        return false;
    if (const auto value = core::ParseInt32(text))
        return *value != 0;
    throw core::TConversionError("'" + text + "' is not a valid boolean value (\"" + std::string(name) +
                                 "\").");
}

std::string TextOrDefault(core::TRegistry& registry, const char* name, const char* fallback)
{
    const auto kind = registry.GetDataType(name);
    if (kind == core::TRegDataType::String || kind == core::TRegDataType::ExpandString)
        return registry.ReadString(name);
    return fallback;
}

} // namespace

TAdvancedFiltersSettings TAdvancedFiltersSettings::Defaults()
{
    TAdvancedFiltersSettings settings;
    for (const auto& field : Fields) {
        if (field.Integer)
            settings.*field.Integer = ToInteger(field.Name, field.Default);
        else
            settings.*field.Boolean = ToBoolean(field.Name, field.Default);
    }
    return settings;
}

namespace {

// Reads every value in the table's order. `unreadable` null: a text that cannot be converted
// throws; otherwise it is listed there and the field takes its default.
TAdvancedFiltersSettings ReadSettings(core::TRegistry& registry, std::vector<TUnreadableSetting>* unreadable)
{
    TAdvancedFiltersSettings settings;
    if (!registry.OpenKey(core::OptionsKey, true))
        return settings;
    for (const auto& field : Fields) {
        const std::string text = TextOrDefault(registry, field.Name, field.Default);
        auto convert = [&](const std::string& value) {
            if (field.Integer)
                settings.*field.Integer = ToInteger(field.Name, value);
            else
                settings.*field.Boolean = ToBoolean(field.Name, value);
        };
        if (unreadable == nullptr) {
            convert(text);
            continue;
        }
        try {
            convert(text);
        } catch (const core::TConversionError&) {
            unreadable->push_back({field.Name, text});
            convert(field.Default);
        }
    }
    return settings;
}

} // namespace

TAdvancedFiltersSettings ReadFilterSettings(core::TRegistry& registry)
{
    return ReadSettings(registry, nullptr);
}

TAdvancedFiltersSettings ReadFilterSettingsTolerant(core::TRegistry& registry,
                                                    std::vector<TUnreadableSetting>& unreadable)
{
    unreadable.clear();
    return ReadSettings(registry, &unreadable);
}

void WriteFilterSettings(core::TRegistry& registry, const TAdvancedFiltersSettings& settings)
{
    registry.OpenKey(core::OptionsKey, true);
    for (const auto& field : Fields) {
        if (field.Integer)
            registry.WriteString(field.Name, std::to_string(settings.*field.Integer));
        else
            registry.WriteString(field.Name, settings.*field.Boolean ? "-1" : "0");
    }
}

} // namespace tarnwick::views
