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

} // namespace

std::int32_t TimeoutMsOf(std::int32_t timeOut)
{
    return TimeoutTable[static_cast<std::size_t>(std::clamp(timeOut, 0, MaxTimeOut))];
}

std::int32_t ConnectionsOf(std::int32_t downloadSpeed)
{
    return ConnectionTable[static_cast<std::size_t>(std::clamp(downloadSpeed, 0, MaxDownloadSpeed))];
}

bool ReadOptions(TRegistry& registry, TOptionRec& rec)
{
    if (!registry.KeyExists(TarnwickKey))
        return false;
    if (!registry.OpenKey(TarnwickKey, false) || !registry.KeyExists(OptionsKey))
        return false;
    registry.OpenKey(OptionsKey, false);

    std::string text;
    const bool complete =
        ReadText(registry, "RuleCase", rec.RuleCase) &&
        ReadText(registry, "WholeWordsOnly", rec.WholeWordsOnly) &&
        ReadInt(registry, "TimeOut", rec.TimeOut, MaxTimeOut) &&
        ReadText(registry, "AutoReceive", rec.AutoReceive) &&
        ReadText(registry, "RAlwaysonTop", rec.RAlwaysonTop) &&
        ReadText(registry, "AutoscrollonAdd", rec.AutoscrollonAdd) &&
        ReadInt(registry, "DownloadSpeed", rec.DownloadSpeed, MaxDownloadSpeed) &&
        ReadText(registry, "AlwaysFullMessage", rec.AlwaysFullMessage) &&
        ReadInt(registry, "CacheLimit", rec.CacheLimit, -1) &&
        ReadText(registry, "ClearCache", rec.ClearCache) && ReadText(registry, "CacheDir", rec.CacheDir) &&
        ReadText(registry, "Confirm empty trash", rec.ConfirmEmptyTrash) &&
        ReadText(registry, "Confirm remove rule", rec.ConfirmRemoveRule) &&
        ReadText(registry, "Confirm remove user", rec.ConfirmRemoveUser) &&
        ReadText(registry, "Confirm remove address", rec.ConfirmRemoveAddress) &&
        ReadText(registry, "Confirm exit user wizard", rec.ConfirmExitUserWizard) &&
        ReadText(registry, "Warning trash not empty", rec.WarnTrashNotEmpty) &&
        ReadText(registry, "Warning address already in list", rec.WarnAddressInList) &&
        ReadText(registry, "Trash not empty after receive", rec.TrashNotEmptyAfterReceive) &&
        ReadText(registry, "Individual Buttons", rec.IndividualButtons) &&
        ReadText(registry, "Use default message", text) &&
        (rec.UseDefaultMessage = ToBoolDefaultTrue(text), true) &&
        ReadText(registry, "ResponseAction", text) && (rec.ResponseAction = ToActionCode(text), true) &&
        ReadText(registry, "DatabaseAction", text) && (rec.DatabaseAction = ToActionCode(text), true);
    registry.CloseKey();
    return complete;
}

void WriteOptions(TRegistry& registry, const TOptionRec& rec)
{
    registry.OpenKey(TarnwickKey, true);
    registry.OpenKey(OptionsKey, true);
    // One transaction: a reader in another process sees the old options or the new, never a mix.
    registry.Store().Transaction([&] {
        registry.WriteString("RuleCase", rec.RuleCase);
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
    });
    registry.CloseKey();
}

void WriteDefaultOptions(TRegistry& registry, std::string_view defaultCacheDir)
{
    registry.OpenKey(TarnwickKey, true);
    registry.OpenKey(OptionsKey, true);
    registry.Store().Transaction([&] {
        registry.WriteString("RuleCase", "0");
        registry.WriteString("AutoReceive", "0");
        registry.WriteInteger("TimeOut", 3);
        registry.WriteString("RAlwaysonTop", "0");
        registry.WriteString("AutoscrollonAdd", "1");
        registry.WriteInteger("DownloadSpeed", 0);
        registry.WriteString("AlwaysFullMessage", "0");
        registry.WriteInteger("CacheLimit", 32);
        registry.WriteString("ClearCache", "1");
        registry.WriteString("CacheDir", defaultCacheDir);
        registry.WriteString("Confirm empty trash", "1");
        registry.WriteString("Confirm remove rule", "1");
        registry.WriteString("Confirm remove user", "1");
        registry.WriteString("Confirm remove address", "1");
        registry.WriteString("Confirm exit user wizard", "1");
        registry.WriteString("Warning address already in list", "1");
        registry.WriteString("Warning trash not empty", "1");
        registry.WriteString("Trash not empty after receive", "1");
        registry.WriteString("Individual Buttons", "1");
        registry.WriteString("Use default message", "-1");
        registry.WriteString("ResponseAction", "1");
        registry.WriteString("DatabaseAction", "1");
        registry.WriteString("ShowFilteredRule", "1");
        registry.WriteString("Standard Interface", "0");
    });
    registry.CloseKey();
}

} // namespace tarnwick::core
