#include "TOptionRec.h"

#include <algorithm>
#include <array>
#include <string>

#include "Errors.h"
#include "TRegistry.h"
#include "TextUtils.h"

namespace tarnwick::core {

namespace {

constexpr std::array<std::int32_t, 6> TimeoutTable{2000, 5000, 10000, 30000, 60000, 120000};
constexpr std::array<std::int32_t, 5> ConnectionTable{1, 2, 4, 6, 8};

// A text option: missing reads as empty, a value of a non-text kind fails the read.
bool ReadText(TRegistry& registry, std::string_view name, std::string& field)
{
    const auto kind = registry.GetDataType(name);
    if (kind && kind != TRegDataType::String && kind != TRegDataType::ExpandString)
        return false;
    field = registry.ReadString(name);
    return true;
}

bool ReadInt(TRegistry& registry, std::string_view name, std::int32_t& field, std::int32_t max)
{
    if (registry.GetDataType(name) != TRegDataType::Integer)
        return false;
    field = registry.ReadInteger(name);
    // A hand-edited value outside the table would index past it; keep it within range.
    if (max >= 0)
        field = std::clamp(field, 0, max);
    return true;
}

// "Use default message": a number is true unless it is zero, "True"/"False" in any letter case
// are themselves, anything else is true.
bool ToBoolDefaultTrue(const std::string& text)
{
    if (const auto number = ParseInt32(text))
        return *number != 0;
    if (AsciiEqualNoCase(text, "false"))
        return false;
    return true;
}

std::int32_t ToActionCode(const std::string& text)
{
    return ParseInt32(text).value_or(1);
}

// Every field of the record under its value name; "WholeWordsOnly" only when asked (the defaults
// leave it unwritten until the options dialog is first confirmed).
void WriteFields(TRegistry& registry, const TOptionRec& rec, bool wholeWordsOnly)
{
    registry.WriteString("RuleCase", rec.RuleCase);
    if (wholeWordsOnly)
        registry.WriteString("WholeWordsOnly", rec.WholeWordsOnly);
    registry.WriteString("AutoReceive", rec.AutoReceive);
    registry.WriteInteger("TimeOut", rec.TimeOut);
    registry.WriteString("RAlwaysonTop", rec.RAlwaysonTop);
    registry.WriteString("AutoscrollonAdd", rec.AutoscrollonAdd);
    registry.WriteInteger("DownloadSpeed", rec.DownloadSpeed);
    registry.WriteString("AlwaysFullMessage", rec.AlwaysFullMessage);
    registry.WriteInteger("CacheLimit", rec.CacheLimit);
    registry.WriteString("ClearCache", rec.ClearCache);
    registry.WriteString("CacheDir", rec.CacheDir);
    registry.WriteString("Confirm empty trash", rec.ConfirmEmptyTrash);
    registry.WriteString("Confirm remove rule", rec.ConfirmRemoveRule);
    registry.WriteString("Confirm remove user", rec.ConfirmRemoveUser);
    registry.WriteString("Confirm remove address", rec.ConfirmRemoveAddress);
    registry.WriteString("Confirm exit user wizard", rec.ConfirmExitUserWizard);
    registry.WriteString("Warning address already in list", rec.WarnAddressInList);
    registry.WriteString("Warning trash not empty", rec.WarnTrashNotEmpty);
    registry.WriteString("Trash not empty after receive", rec.TrashNotEmptyAfterReceive);
    registry.WriteString("Individual Buttons", rec.IndividualButtons);
    registry.WriteString("Use default message", rec.UseDefaultMessage ? "-1" : "0");
    registry.WriteString("ResponseAction", std::to_string(rec.ResponseAction));
    registry.WriteString("DatabaseAction", std::to_string(rec.DatabaseAction));
    registry.WriteString("AddressBookPath", rec.AddressBookPath);
}

} // namespace

std::int32_t TimeoutMsOf(std::int32_t timeOut)
{
    return TimeoutTable[static_cast<std::size_t>(std::clamp(timeOut, 0, MaxTimeOut))];
}

std::int32_t ConnectionsOf(std::int32_t downloadSpeed)
{
    return ConnectionTable[static_cast<std::size_t>(std::clamp(downloadSpeed, 0, MaxDownloadSpeed))];
}

TOptionRec DefaultOptions(std::string_view defaultCacheDir)
{
    TOptionRec rec;
    rec.RuleCase = "0";
    rec.AutoReceive = "0";
    rec.TimeOut = 3;
    rec.RAlwaysonTop = "0";
    rec.AutoscrollonAdd = "1";
    rec.DownloadSpeed = 0;
    rec.AlwaysFullMessage = "0";
    rec.CacheLimit = 32;
    rec.ClearCache = "1";
    rec.CacheDir = std::string(defaultCacheDir);
    rec.ConfirmEmptyTrash = "1";
    rec.ConfirmRemoveRule = "1";
    rec.ConfirmRemoveUser = "1";
    rec.ConfirmRemoveAddress = "1";
    rec.ConfirmExitUserWizard = "1";
    rec.WarnAddressInList = "1";
    rec.WarnTrashNotEmpty = "1";
    rec.TrashNotEmptyAfterReceive = "1";
    rec.IndividualButtons = "1";
    rec.UseDefaultMessage = true;
    rec.ResponseAction = 1;
    rec.DatabaseAction = 1;
    return rec;
}

TOptionsRead ReadOptionsReporting(TRegistry& registry, TOptionRec& rec, std::string_view defaultCacheDir)
{
    TOptionsRead read;
    if (!registry.KeyExists(TarnwickKey))
        return read;
    if (!registry.OpenKey(TarnwickKey, false) || !registry.KeyExists(OptionsKey))
        return read;
    registry.OpenKey(OptionsKey, false);
    read.Found = true;
    const TOptionRec defaults = DefaultOptions(defaultCacheDir);

    // Each value on its own: one that cannot be read takes its default and is named, the others
    // keep what the user chose.
    const auto text = [&](const char* name, std::string TOptionRec::*field) {
        if (!ReadText(registry, name, rec.*field)) {
            rec.*field = defaults.*field;
            read.Unreadable.push_back({name, "it is not stored as text", defaults.*field});
        }
    };
    const auto integer = [&](const char* name, std::int32_t TOptionRec::*field, std::int32_t max) {
        if (!ReadInt(registry, name, rec.*field, max)) {
            rec.*field = defaults.*field;
            read.Unreadable.push_back(
                {name, registry.ValueExists(name) ? "it is not stored as a number" : "it is missing",
                 std::to_string(defaults.*field)});
        }
    };
    std::string value;
    const auto converted = [&](const char* name, auto TOptionRec::*field, auto convert, const char* shown) {
        if (ReadText(registry, name, value)) {
            rec.*field = convert(value);
        } else {
            rec.*field = defaults.*field;
            read.Unreadable.push_back({name, "it is not stored as text", shown});
        }
    };

    text("RuleCase", &TOptionRec::RuleCase);
    text("WholeWordsOnly", &TOptionRec::WholeWordsOnly);
    integer("TimeOut", &TOptionRec::TimeOut, MaxTimeOut);
    text("AutoReceive", &TOptionRec::AutoReceive);
    text("RAlwaysonTop", &TOptionRec::RAlwaysonTop);
    text("AutoscrollonAdd", &TOptionRec::AutoscrollonAdd);
    integer("DownloadSpeed", &TOptionRec::DownloadSpeed, MaxDownloadSpeed);
    text("AlwaysFullMessage", &TOptionRec::AlwaysFullMessage);
    integer("CacheLimit", &TOptionRec::CacheLimit, -1);
    text("ClearCache", &TOptionRec::ClearCache);
    text("CacheDir", &TOptionRec::CacheDir);
    text("Confirm empty trash", &TOptionRec::ConfirmEmptyTrash);
    text("Confirm remove rule", &TOptionRec::ConfirmRemoveRule);
    text("Confirm remove user", &TOptionRec::ConfirmRemoveUser);
    text("Confirm remove address", &TOptionRec::ConfirmRemoveAddress);
    text("Confirm exit user wizard", &TOptionRec::ConfirmExitUserWizard);
    text("Warning trash not empty", &TOptionRec::WarnTrashNotEmpty);
    text("Warning address already in list", &TOptionRec::WarnAddressInList);
    text("Trash not empty after receive", &TOptionRec::TrashNotEmptyAfterReceive);
    text("Individual Buttons", &TOptionRec::IndividualButtons);
    converted("Use default message", &TOptionRec::UseDefaultMessage, ToBoolDefaultTrue, "-1");
    converted("ResponseAction", &TOptionRec::ResponseAction, ToActionCode, "1");
    converted("DatabaseAction", &TOptionRec::DatabaseAction, ToActionCode, "1");
    text("AddressBookPath", &TOptionRec::AddressBookPath);
    registry.CloseKey();
    return read;
}

bool ReadOptions(TRegistry& registry, TOptionRec& rec)
{
    return ReadOptionsReporting(registry, rec, {}).Complete();
}

std::string UnreadableOptionText(const TUnreadableOption& option)
{
    return "The option \"" + option.Name + "\" could not be read from the settings (" + option.Reason +
           "); its default \"" + option.Default + "\" is used and stored instead.";
}

void WriteOptions(TRegistry& registry, const TOptionRec& rec)
{
    registry.OpenKey(TarnwickKey, true);
    registry.OpenKey(OptionsKey, true);
    // One transaction: a reader in another process sees the old options or the new, never a mix.
    registry.Store().Transaction([&] { WriteFields(registry, rec, true); });
    registry.CloseKey();
}

void WriteDefaultOptions(TRegistry& registry, std::string_view defaultCacheDir)
{
    const TOptionRec rec = DefaultOptions(defaultCacheDir);
    registry.OpenKey(TarnwickKey, true);
    registry.OpenKey(OptionsKey, true);
    registry.Store().Transaction([&] {
        WriteFields(registry, rec, false);
        registry.WriteString("ShowFilteredRule", "1");
        registry.WriteString("Standard Interface", "0");
    });
    registry.CloseKey();
}

} // namespace tarnwick::core
