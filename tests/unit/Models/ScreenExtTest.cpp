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
