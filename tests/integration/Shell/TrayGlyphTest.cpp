#include "Features/MenuBar/MenuBarController.h"
#include "Services/FlashManager.h"
#include "platform/display/Screen.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QIcon>
#include <QProcess>
#include <QSystemTrayIcon>
#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

// Opaque pixels of a glyph that are light, and that are dark.
struct Tones {
    int light = 0, dark = 0;
};
Tones tones(const QImage& image) {
    Tones t;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            if (qAlpha(p) < 128)
                continue;
            t.light += qGray(p) >= 200;
            t.dark += qGray(p) < 80;
        }
    return t;
}

TEST(TrayGlyph, KeepsThePanelsColourWhileOurFlashCoversThePanel_AndShowsItAtOnceAfter) {
    // A dark panel along the top right of the first monitor.
    QProcess tray;
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100", "--heighttype",
                          "pixel", "--height", "24", "--transparent", "true", "--alpha", "0", "--tint", "0x202020"});
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    XClient x;

    // The app's own look at the tray, counted.
    int looks = 0;
    auto env = MenuBarController::Environment::system();
    env.isDarkAppearance = [&looks, look = env.isDarkAppearance](const QRect& icon) {
        ++looks;
        return look(icon);
    };
    MenuBarController controller([] {}, [] {}, [] {}, [] {}, env);
    const auto shown = [&] { return tones(controller.statusItem()->icon().pixmap(QSize(64, 64)).toImage()); };
    // What the user sees in the tray: light pixels on the panel.
    const auto onScreen = [&] {
        const QRect icon = controller.statusItem()->geometry();
        int light = 0;
        for (int y = icon.top(); y <= icon.bottom(); ++y)
            for (int px = icon.left(); px <= icon.right(); ++px)
                light += qGray(QRgb(x.pixel(px, y).value_or(0))) >= 200;
        return light;
    };
    ASSERT_TRUE(waitUntil([&] { return shown().light > 0 && shown().dark == 0 && onScreen() >= 20; }, 10000))
        << shown().light << " " << shown().dark << " " << onScreen();
    // A point of the panel beside the icon: dark, or under our flash's white at its peak.
    const QPoint panel(controller.statusItem()->geometry().left() > 1870 ? 1822 : 1917, 12);
    const auto panelGray = [&] { return qGray(QRgb(x.pixel(panel.x(), panel.y()).value_or(0x808080))); };
    const int dark = panelGray();
    ASSERT_LT(dark, 60);
    const int flashed = qRound(dark + (255 - dark) * FlashManager::peakAlpha);

    // Our flash over the panel for as long as the app takes to look at the tray afresh a few times.
    bool release = false;
    FlashManager held([&](FlashWindow& w, double alpha, int) -> QCoro::Task<void> {
        w.setAlpha(alpha);
        while (alpha > 0 && !release)
            co_await QCoro::sleepFor(std::chrono::milliseconds(20));
    });
    auto flash = held.showFlash(platform::Screen::main());
    ASSERT_TRUE(waitUntil([&] { return std::abs(panelGray() - flashed) <= 3; }, 5000)) << panelGray() << " " << flashed;
    const int before = looks;
    int darkWhileCovered = 0;
    ASSERT_TRUE(waitUntil([&] {
        darkWhileCovered = std::max(darkWhileCovered, shown().dark);
        return looks >= before + 3;
    }, 20000));
    EXPECT_EQ(darkWhileCovered, 0);
    EXPECT_GT(shown().light, 0);

    release = true;
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }, 5000));
    ASSERT_TRUE(waitUntil([&] { return panelGray() < 60; }, 5000));
    EXPECT_TRUE(waitUntil([&] { return onScreen() >= 20; }, 5000)) << onScreen();
    tray.terminate();
    tray.waitForFinished(3000);
}

}  // namespace
