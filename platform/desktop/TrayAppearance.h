#pragma once

#include <QColor>
#include <QRect>

#include <optional>

namespace platform {

// How the system tray around the application's icon looks: what the tray says of its colours, or
// else what its panel shows. Main thread only.
class TrayAppearance {
public:
    // The tray's foreground colour, where the tray publishes its colours (_NET_SYSTEM_TRAY_COLORS
    // on the tray manager's window).
    static std::optional<QColor> publishedForeground();
    // The panel's own colour around an icon at `icon` (the application's global coordinates, as
    // the tray icon gives its geometry): the commonest colour of the window that holds the icon,
    // beside the icon.
    static std::optional<QColor> panelBackground(const QRect& icon);
    // Whether a window of this application lies over the panel at the icon (the overlay's veil,
    // the flash, the card): what the screen shows there is then not the panel's.
    static bool panelHiddenByOwnWindow(const QRect& icon);
    // Whether a glyph on that tray should be light: for a light published foreground, else for a
    // dark panel; `current` while the panel is hidden by a window of ours; none when the tray tells
    // nothing and shows nothing.
    static std::optional<bool> wantsLightGlyph(const QRect& icon, std::optional<bool> current);
};

}  // namespace platform
