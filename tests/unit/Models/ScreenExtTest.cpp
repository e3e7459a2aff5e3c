#include "Extensions/Coordinates.h"
#include "Extensions/ScreenExt.h"

#include "platform/display/FakeScreenProvider.h"

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;
using platform::Screen;

TEST(ScreenExtTest, DisplayIdReadsTheNumberEntry) {
    auto with = [](QVariant v) {
        Screen::Description d = FakeScreenProvider::display("X", QRect(0, 0, 10, 10), 0);
        if (v.isValid())
            d.deviceDescription.insert("NSScreenNumber", v);
        return Screen::makeScreens({d}).front();
    };
    EXPECT_EQ(ScreenExt::displayID(with(QVariant::fromValue<quint32>(69733248))), 69733248u);
    EXPECT_EQ(ScreenExt::displayID(with(QVariant::fromValue<quint32>(0xFFFFFFFFu))), 0xFFFFFFFFu);
    EXPECT_EQ(ScreenExt::displayID(with(QVariant::fromValue<qint64>(3))), 3u);
    EXPECT_FALSE(ScreenExt::displayID(with(QVariant())).has_value());
    EXPECT_FALSE(ScreenExt::displayID(with(QVariant(QString("3")))).has_value());
    EXPECT_FALSE(ScreenExt::displayID(with(QVariant::fromValue<qint64>(-1))).has_value());
    EXPECT_FALSE(ScreenExt::displayID(with(QVariant::fromValue<qint64>(0x100000000LL))).has_value());
    EXPECT_FALSE(ScreenExt::displayID(platform::ScreenRef()).has_value());
}

TEST(ScreenExtTest, ScreenWithMouseUsesTheUnflippedEdgeRule) {
    auto fake = FakeScreenProvider::install();
    // B sits above A: A's frame is (0,0,1920,1080), B's (0,1080,1920,1080).
    fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 1080, 1920, 1080), 1),
                                 FakeScreenProvider::display("B", QRect(0, 0, 1920, 1080), 2)});
    ASSERT_EQ(fake->list[1]->frame(), QRectF(0, 1080, 1920, 1080));
    auto at = [&](double x, double y) {
        fake->mouse = QPointF(x, y);
        return ScreenExt::screenWithMouse();
    };
    EXPECT_EQ(at(100, 500), fake->list[0]);
    // The shared edge belongs to the lower display; the top row of B to B.
    EXPECT_EQ(at(100, 1080), fake->list[0]);
    EXPECT_EQ(at(100, 1080.5), fake->list[1]);
    EXPECT_EQ(at(100, 2160), fake->list[1]);
    // Left edge in, right edge and bottom edge out.
    EXPECT_EQ(at(0, 10), fake->list[0]);
    EXPECT_EQ(at(1920, 10), nullptr);
    EXPECT_EQ(at(100, 0), nullptr);
    EXPECT_EQ(at(-5, 10), nullptr);
}

TEST(ScreenExtTest, ScreenWithMouseIsNoneWithoutDisplays) {
    auto fake = FakeScreenProvider::install();
    fake->mouse = QPointF(10, 10);
    EXPECT_EQ(ScreenExt::screenWithMouse(), nullptr);
    EXPECT_EQ(Screen::main(), nullptr);
    EXPECT_EQ(Coordinates::firstDisplayHeight(), 0.0);
}

TEST(CoordinatesTest, WindowFramesOnADisplayRightOfTheFirst) {
    const QRectF first(0, 0, 1920, 1080);
    const QRectF second(1920, 0, 2560, 1440);
    // Window-list coordinates: the second display's top is 1080 - 1440 = -360.
    EXPECT_EQ(Coordinates::localFromTopLeft(QRectF(2000, -300, 800, 600), second, first), QRectF(80, 60, 800, 600));
    EXPECT_EQ(Coordinates::localFromTopLeft(QRectF(100, 200, 300, 400), first, first), QRectF(100, 200, 300, 400));
}

TEST(CoordinatesTest, FlipsAndLocalSpacesAroundTheFirstDisplay) {
    const QRectF first(0, 0, 1440, 900);
    // Flipping twice is the identity, and the first display's top-left is (0, 0) top-left.
    EXPECT_EQ(Coordinates::topLeftFromBottomLeft(QPointF(0, 900), first), QPointF(0, 0));
    EXPECT_EQ(Coordinates::bottomLeftFromTopLeft(QPointF(12, 34), first), QPointF(12, 866));
    EXPECT_EQ(Coordinates::topLeftFromBottomLeft(Coordinates::bottomLeftFromTopLeft(QPointF(-7, 1234), first), first),
              QPointF(-7, 1234));
    EXPECT_EQ(Coordinates::topLeftFromBottomLeft(QRectF(10, 100, 50, 40), first), QRectF(10, 760, 50, 40));
    EXPECT_EQ(Coordinates::bottomLeftFromTopLeft(QRectF(10, 760, 50, 40), first), QRectF(10, 100, 50, 40));

    // A display below and left of the first, in bottom-left points.
    const QRectF below(-1000, -768, 1024, 768);
    EXPECT_EQ(Coordinates::localFromBottomLeft(QPointF(-1000, 0), below), QPointF(0, 0));
    EXPECT_EQ(Coordinates::localFromBottomLeft(QPointF(24, -768), below), QPointF(1024, 768));
    EXPECT_EQ(Coordinates::bottomLeftFromLocal(QPointF(1024, 768), below), QPointF(24, -768));
    // A selection drawn with negative size comes out standardised.
    EXPECT_EQ(Coordinates::bottomLeftFromLocal(QRectF(100, 100, -50, -20), below), QRectF(-950, -100, 50, 20));
    // Window frames on the display below: its top in window-list coordinates is 900.
    EXPECT_EQ(Coordinates::localFromTopLeft(QRectF(-990, 910, 10, 10), below, first), QRectF(10, 10, 10, 10));
}

TEST(CoordinatesTest, EveryDisplayAroundAPrimaryAwayFromTheOriginAtScaleOneAndTwo) {
    // X11 layouts: the primary (listed first) is neither at the root's origin nor the tallest.
    struct Layout {
        const char* name;
        QRect primary, other;
        double scale;
    };
    const Layout layouts[] = {
        {"left", QRect(1600, 300, 1920, 1080), QRect(0, 0, 1600, 1200), 1.0},
        {"right", QRect(0, 500, 1920, 1080), QRect(1920, 0, 2560, 1440), 1.0},
        {"above", QRect(200, 1440, 1920, 1080), QRect(0, 0, 2560, 1440), 1.0},
        {"below", QRect(640, 0, 1280, 720), QRect(0, 720, 2560, 1440), 1.0},
        {"left", QRect(3200, 600, 3840, 2160), QRect(0, 0, 3200, 2400), 2.0},
        {"right", QRect(0, 1000, 3840, 2160), QRect(3840, 0, 5120, 2880), 2.0},
        {"above", QRect(400, 2880, 3840, 2160), QRect(0, 0, 5120, 2880), 2.0},
        {"below", QRect(1280, 0, 2560, 1440), QRect(0, 1440, 5120, 2880), 2.0},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::string(l.name) + " at scale " + std::to_string(l.scale));
        const auto screens = Screen::makeScreens({FakeScreenProvider::display("P", l.primary, 1, l.scale),
                                                  FakeScreenProvider::display("O", l.other, 2, l.scale)});
        const QRectF first = screens[0]->frame();
        const QRectF other = screens[1]->frame();
        EXPECT_EQ(first.topLeft(), QPointF(0, 0));
        // A window 30 x 20 pixels in from the other display's top-left corner, 400 x 300 pixels big,
        // as the window list reports it: top-left points counted from the primary's top-left.
        const QRect window(l.other.x() + 30, l.other.y() + 20, 400, 300);
        const QRectF listed((window.x() - l.primary.x()) / l.scale, (window.y() - l.primary.y()) / l.scale,
                            window.width() / l.scale, window.height() / l.scale);
        const QRectF local(30 / l.scale, 20 / l.scale, 400 / l.scale, 300 / l.scale);
        EXPECT_EQ(Coordinates::localFromTopLeft(listed, other, first), local);
        // The pointer over the window's top-left pixel lands on the same local point.
        const QPointF pointer = Screen::pointFromNative(window.topLeft(), l.primary, l.scale);
        EXPECT_EQ(Coordinates::localFromBottomLeft(pointer, other), local.topLeft());
        // A selection of the window's area, back in global bottom-left points, sits inside the display.
        const QRectF global = Coordinates::bottomLeftFromLocal(local, other);
        EXPECT_TRUE(other.contains(global));
        EXPECT_EQ(Coordinates::topLeftFromBottomLeft(global, first), listed);
    }
}
