#pragma once

#include <cstdint>

namespace tarnwick::core {
class TRegistry;
}

namespace tarnwick::gui {

inline constexpr const char* DesktopKey = "\\Software\\Orvalent\\Tarnwick\\Desktop";

// The main window's layout as kept in the Desktop key.
struct TDesktopSettings
{
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Height = 500;
    std::int32_t Width = 800;
    std::int32_t TreeX = 200;
    std::int32_t TreeY = 200;
    std::int32_t WindowState = 0; // 0 normal, 1 minimised, 2 maximised
    bool Toolbar = true;
    bool Statusbar = true;
    bool FiltersPanel = true;
    bool PreviewPanel = true;
    bool FullMode = true;

    bool operator==(const TDesktopSettings&) const = default;
};

// The defaults of a first start on a screen of the given size: 800 x 500 centred (the halving
// rounds toward zero, so a screen narrower than the window gives a negative edge).
TDesktopSettings DefaultDesktopSettings(int screenWidth, int screenHeight);

// False when the Desktop key does not exist. A value that is missing or of another kind reads as
// its default, so a damaged key never keeps the window from opening.
bool ReadDesktopSettings(core::TRegistry& registry, TDesktopSettings& settings, int screenWidth,
                         int screenHeight);
void WriteDefaultDesktopSettings(core::TRegistry& registry, int screenWidth, int screenHeight);
// Writes the twelve values in their fixed order, creating the key when missing.
void WriteDesktopSettings(core::TRegistry& registry, const TDesktopSettings& settings);

} // namespace tarnwick::gui
