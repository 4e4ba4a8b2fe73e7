#include "TDesktopSettings.h"

#include "core/TRegistry.h"

namespace tarnwick::gui {

namespace {

std::int32_t ReadIntegerOr(core::TRegistry& registry, const char* name, std::int32_t fallback)
{
    if (registry.GetDataType(name) != core::TRegDataType::Integer)
        return fallback;
    return registry.ReadInteger(name);
}

bool ReadFlag(core::TRegistry& registry, const char* name)
{
    const auto kind = registry.GetDataType(name);
    if (kind != core::TRegDataType::String && kind != core::TRegDataType::ExpandString)
        return false;
    return registry.ReadString(name) == "1";
}

const char* FlagText(bool on)
{
    return on ? "1" : "0";
}

} // namespace

TDesktopSettings DefaultDesktopSettings(int screenWidth, int screenHeight)
{
    TDesktopSettings settings;
    settings.Left = (screenWidth - 800) / 2;
    settings.Top = (screenHeight - 500) / 2;
    return settings;
}

bool ReadDesktopSettings(core::TRegistry& registry, TDesktopSettings& settings, int screenWidth,
                         int screenHeight)
{
    if (!registry.OpenKey(DesktopKey, false))
        return false;
    const TDesktopSettings defaults = DefaultDesktopSettings(screenWidth, screenHeight);
    settings.Left = ReadIntegerOr(registry, "Left", defaults.Left);
    settings.Top = ReadIntegerOr(registry, "Top", defaults.Top);
    settings.Height = ReadIntegerOr(registry, "Height", defaults.Height);
    settings.Width = ReadIntegerOr(registry, "Width", defaults.Width);
    settings.TreeX = ReadIntegerOr(registry, "TreeX", defaults.TreeX);
    settings.TreeY = ReadIntegerOr(registry, "TreeY", defaults.TreeY);
    settings.WindowState = ReadIntegerOr(registry, "WindowState", defaults.WindowState);
    settings.Toolbar = ReadFlag(registry, "Toolbar");
    settings.Statusbar = ReadFlag(registry, "Statusbar");
    settings.FullMode = ReadFlag(registry, "FullMode");
    settings.FiltersPanel = ReadFlag(registry, "FiltersPanel");
    settings.PreviewPanel = ReadFlag(registry, "PreviewPanel");
    return true;
}

void WriteDefaultDesktopSettings(core::TRegistry& registry, int screenWidth, int screenHeight)
{
    WriteDesktopSettings(registry, DefaultDesktopSettings(screenWidth, screenHeight));
}

void WriteDesktopSettings(core::TRegistry& registry, const TDesktopSettings& settings)
{
    registry.OpenKey(DesktopKey, true);
    registry.WriteInteger("Left", settings.Left);
    registry.WriteInteger("Top", settings.Top);
    registry.WriteInteger("Height", settings.Height);
    registry.WriteInteger("Width", settings.Width);
    registry.WriteInteger("TreeX", settings.TreeX);
    registry.WriteInteger("TreeY", settings.TreeY);
    registry.WriteInteger("WindowState", settings.WindowState);
    registry.WriteString("Toolbar", FlagText(settings.Toolbar));
    registry.WriteString("Statusbar", FlagText(settings.Statusbar));
    registry.WriteString("FullMode", FlagText(settings.FullMode));
    registry.WriteString("FiltersPanel", FlagText(settings.FiltersPanel));
    registry.WriteString("PreviewPanel", FlagText(settings.PreviewPanel));
}

} // namespace tarnwick::gui
