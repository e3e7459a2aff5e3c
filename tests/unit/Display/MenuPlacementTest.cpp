#include "platform/desktop/WindowPlacement.h"

#include <gtest/gtest.h>

using platform::WindowPlacement;

// Where the tray menu opens, on a second monitor right of the first: beside the panel, pushed along
// it to stay on the monitor, and beside the icon alone when the "panel" is a window as large as
// the screen (a tray inside a desktop window).
TEST(MenuPlacementTest, BesideThePanelAndWithinTheMonitor_OrBesideTheIconInADesktopSizedHolder) {
    const QRect screen(1920, 0, 1920, 1080);
    const QSize menu(200, 150);
    struct Case { const char* what; QRect icon, panel; QPoint at; };
    const Case cases[] = {
        {"bottom panel, icon at the right end", QRect(3810, 1056, 24, 24), QRect(1920, 1056, 1920, 24), QPoint(3640, 906)},
        {"top panel", QRect(2000, 0, 24, 24), QRect(1920, 0, 1920, 30), QPoint(2000, 30)},
        {"right panel, icon at the bottom", QRect(3816, 1050, 24, 24), QRect(3810, 0, 30, 1080), QPoint(3610, 930)},
        {"left panel", QRect(1920, 100, 24, 24), QRect(1920, 0, 40, 1080), QPoint(1960, 100)},
        {"holder as large as the screen", QRect(3000, 1050, 24, 24), screen, QPoint(3000, 900)},
        {"holder that does not hold the icon", QRect(2500, 0, 24, 24), QRect(0, 0, 10, 10), QPoint(2500, 24)},
    };
    for (const Case& c : cases) {
        const QPoint at = WindowPlacement::menuPosition(c.icon, c.panel, screen, menu);
        EXPECT_EQ(at, c.at) << c.what;
        EXPECT_FALSE(QRect(at, menu).intersects(c.icon)) << c.what;
    }
}
