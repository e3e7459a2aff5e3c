#include "Extensions/Coordinates.h"
#include "Extensions/ScreenExt.h"
#include "platform/desktop/WindowPlacement.h"
#include "platform/display/FakeScreenProvider.h"

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;
using platform::Screen;

// Every conversion between X11 pixels, global bottom-left points, global top-left points (window
// frames) and display-local points, for a second display on each side of a primary that is neither
// at the root's origin nor the tallest. Layouts are in points; at scale 2 the pixels double and
// every point stays the same.
TEST(CoordinatesTest, EveryConversionAroundThePrimaryAtScaleOneAndTwo) {
    // The other display's frame is in global bottom-left points.
    struct Layout { const char* side; QRect primary, other; QRectF otherFrame; };
    const Layout layouts[] = {
        {"left", QRect(1600, 300, 1920, 1080), QRect(0, 0, 1600, 1200), QRectF(-1600, 180, 1600, 1200)},
        {"right", QRect(0, 500, 1920, 1080), QRect(1920, 0, 2560, 1440), QRectF(1920, 140, 2560, 1440)},
        {"above", QRect(200, 1440, 1920, 1080), QRect(0, 0, 2560, 1440), QRectF(-200, 1080, 2560, 1440)},
        {"below", QRect(640, 0, 1280, 720), QRect(0, 720, 2560, 1440), QRectF(-640, -1440, 2560, 1440)},
    };
    auto none = FakeScreenProvider::install();
    EXPECT_TRUE(!ScreenExt::screenWithMouse() && !Screen::main() && Coordinates::firstDisplayHeight() == 0);
    auto pixels = [](const QRect& r, int s) { return QRect(r.topLeft() * s, r.size() * s); };
    for (const Layout& l : layouts) {
        for (int s : {1, 2}) {
            SCOPED_TRACE(std::string(l.side) + " at scale " + std::to_string(s));
            const QRect primary = pixels(l.primary, s), other = pixels(l.other, s);
            auto p = FakeScreenProvider::display("P", primary, 1, s), o = FakeScreenProvider::display("O", other, 2, s);
            // A 30-point panel along the primary's top; the work area misses the other display.
            p.nativeWorkArea = o.nativeWorkArea = primary.adjusted(0, 30 * s, 0, 0);
            auto fake = FakeScreenProvider::install();
            fake->setDisplays({p, o});
            const QRectF first = fake->list[0]->frame(), frame = fake->list[1]->frame();
            EXPECT_EQ(first, QRectF(QPointF(0, 0), l.primary.size()));
            EXPECT_EQ(fake->list[0]->visibleFrame(), QRectF(0, 0, l.primary.width(), l.primary.height() - 30));
            EXPECT_EQ(frame, l.otherFrame);
            EXPECT_EQ(fake->list[1]->visibleFrame(), frame);

            // A window 30 x 20 pixels in from the other display's top-left corner, 400 x 300 pixels
            // big; the window list reports it in top-left points counted from the primary's corner.
            const QRect window(other.x() + 30, other.y() + 20, 400, 300);
            const QRectF listed(QPointF(window.topLeft() - primary.topLeft()) / s, QSizeF(window.size()) / s);
            const QRectF local(QPointF(30, 20) / s, QSizeF(400, 300) / s);
            EXPECT_EQ(Coordinates::localFromTopLeft(listed, frame, first), local);
            EXPECT_EQ(Coordinates::localFromTopLeft(listed, *fake->list[1]), local);
            EXPECT_EQ(platform::WindowPlacement::logicalFromNative(window, other.topLeft(), s),
                      QRectF(other.topLeft() + QPointF(30, 20) / s, local.size()));

            // The pointer over the window's top-left pixel, in every space and back to pixels.
            const QPointF pointer = Screen::pointFromNative(window.topLeft(), primary, s);
            EXPECT_EQ(Screen::nativeFromPoint(pointer, primary, s), QPointF(window.topLeft()));
            EXPECT_EQ(Coordinates::localFromBottomLeft(pointer, frame), local.topLeft());
            EXPECT_EQ(Coordinates::bottomLeftFromLocal(local.topLeft(), frame), pointer);
            EXPECT_EQ(Coordinates::topLeftFromBottomLeft(pointer, first), listed.topLeft());
            EXPECT_EQ(Coordinates::topLeftFromBottomLeft(pointer), listed.topLeft());
            EXPECT_EQ(Coordinates::bottomLeftFromTopLeft(listed.topLeft(), first), pointer);
            // A pixel belongs to the display it is on: left and top edges in, right and bottom out.
            for (const QRect& r : {primary, other}) {
                for (const QPoint& pixel : {r.topLeft(), r.bottomRight(), r.topLeft() - QPoint(1, 1),
                                            r.bottomRight() + QPoint(1, 1), QPoint(r.right() + 1, r.top()),
                                            QPoint(r.left(), r.bottom() + 1)}) {
                    fake->mouse = Screen::pointFromNative(pixel, primary, s);
                    EXPECT_EQ(ScreenExt::screenWithMouse(), primary.contains(pixel) ? fake->list[0]
                                                            : other.contains(pixel) ? fake->list[1]
                                                                                    : nullptr)
                        << pixel.x() << "," << pixel.y();
                }
            }

            // A selection of the window's area, drawn either way, in global bottom-left points.
            const QRectF global = Coordinates::bottomLeftFromLocal(local, frame);
            EXPECT_EQ(Coordinates::bottomLeftFromLocal(QRectF(local.bottomRight(), local.topLeft()), frame), global);
            EXPECT_EQ(Coordinates::topLeftFromBottomLeft(global, first), listed);
            EXPECT_EQ(Coordinates::bottomLeftFromTopLeft(listed, first), global);
        }
    }
    // A screen reporting no pixel ratio places windows unscaled.
    EXPECT_EQ(platform::WindowPlacement::logicalFromNative(QRectF(5, 6, 7, 8), QPoint(), 0.0), QRectF(5, 6, 7, 8));
}

// A 4K display at scale 2 and a 1080p one at scale 1, either of them the primary ("2;1" and "1;2"),
// the other on its right: every display, window, pointer and card is converted at the scale of the
// display it is on.
TEST(CoordinatesTest, DisplaysOfDifferentScalesEachConvertAtTheirOwnScale) {
    struct Layout { const char* name; double primaryScale, otherScale; QRect primary, other; QRectF otherFrame; };
    const Layout layouts[] = {
        {"2;1", 2, 1, QRect(0, 0, 3840, 2160), QRect(3840, 0, 1920, 1080), QRectF(3840, 0, 1920, 1080)},
        {"1;2", 1, 2, QRect(0, 0, 1920, 1080), QRect(1920, 0, 3840, 2160), QRectF(1920, 0, 1920, 1080)},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        auto p = FakeScreenProvider::display("P", l.primary, 1, l.primaryScale);
        auto o = FakeScreenProvider::display("O", l.other, 2, l.otherScale);
        // A 40-pixel panel along the other display's top.
        o.nativeWorkArea = l.other.adjusted(0, 40, 0, 0);
        auto fake = FakeScreenProvider::install();
        fake->setDisplays({p, o});
        const auto& list = fake->list;
        for (const auto& s : list)
            EXPECT_EQ(s->frame().size() * s->backingScaleFactor(), QSizeF(s->nativeGeometry().size())) << s->name().toStdString();
        EXPECT_EQ(list[1]->frame(), l.otherFrame);
        EXPECT_EQ(list[1]->visibleFrame(), l.otherFrame.adjusted(0, 0, 0, -40 / l.otherScale));

        // A window 60 x 20 pixels in from the other display's corner, 400 x 300 pixels big, as the
        // window list gives it: pixels from the primary's corner at the primary's scale.
        const QRect window(l.other.topLeft() + QPoint(60, 20), QSize(400, 300));
        const QRectF listed(QPointF(window.topLeft() - l.primary.topLeft()) / l.primaryScale,
                            QSizeF(window.size()) / l.primaryScale);
        const QRectF local(QPointF(60, 20) / l.otherScale, QSizeF(400, 300) / l.otherScale);
        EXPECT_EQ(Coordinates::localFromTopLeft(listed, *list[1]), local);
        // The pointer over the window's top-left pixel: on the other display, in its local space at
        // its scale, and over the listed window.
        fake->mouse = Screen::pointFromNative(window.topLeft(), list);
        EXPECT_EQ(ScreenExt::screenWithMouse(), list[1]);
        EXPECT_EQ(Coordinates::localFromBottomLeft(fake->mouse, list[1]->frame()), local.topLeft());
        EXPECT_EQ(Coordinates::topLeftFromPointer(fake->mouse), listed.topLeft());
        // The last pixel of each display is on it.
        for (std::size_t i = 0; i < list.size(); ++i) {
            fake->mouse = Screen::pointFromNative(list[i]->nativeGeometry().bottomRight(), list);
            EXPECT_EQ(ScreenExt::screenWithMouse(), list[i]) << i;
        }
        // A card of 300 x 200 points in the other display's bottom-right corner goes to that many of
        // its points, as pixels at its scale (no toolkit screens here to scale them back).
        const QRectF f = list[1]->frame();
        const QRectF card(f.right() - 300, f.top(), 300, 200);
        EXPECT_EQ(platform::WindowPlacement::geometryForFrame(card),
                  QRect(l.other.right() + 1 - int(300 * l.otherScale), l.other.bottom() + 1 - int(200 * l.otherScale),
                        int(300 * l.otherScale), int(200 * l.otherScale)));
    }
}

// A 4K laptop display at scale 2 with two 1080p monitors at scale 1 on its right ("2;1;1"): the
// middle monitor takes more points than its pixel offset to the next one at the laptop's scale, yet
// every pixel still belongs to the display it is on, in every space.
TEST(CoordinatesTest, ThreeDisplaysOfMixedScalesNeverOverlap) {
    const QRect pixels[] = {QRect(0, 0, 3840, 2160), QRect(3840, 0, 1920, 1080), QRect(5760, 0, 1920, 1080)};
    const double scales[] = {2, 1, 1};
    std::vector<Screen::Description> displays;
    for (int i = 0; i < 3; ++i)
        displays.push_back(FakeScreenProvider::display(QString::number(i), pixels[i], i + 1, scales[i]));
    auto fake = FakeScreenProvider::install();
    fake->setDisplays(displays);
    const auto& list = fake->list;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("display " + std::to_string(i));
        for (int j = i + 1; j < 3; ++j)
            EXPECT_FALSE(list[i]->frame().intersects(list[j]->frame())) << "with display " << j;
        for (const QPoint& pixel : {pixels[i].topLeft(), pixels[i].bottomRight(), pixels[i].center()}) {
            fake->mouse = Screen::pointFromNative(pixel, list);
            EXPECT_EQ(ScreenExt::screenWithMouse(), list[i]) << pixel.x() << "," << pixel.y();
            EXPECT_EQ(Coordinates::topLeftFromPointer(fake->mouse), QPointF(pixel) / 2.0)
                << pixel.x() << "," << pixel.y();
        }
        // A window 100 x 50 pixels in from the display's corner, as the window list gives it.
        const QRectF listed(QPointF(pixels[i].topLeft() + QPoint(100, 50)) / 2.0, QSizeF(400, 300) / 2.0);
        EXPECT_EQ(Coordinates::localFromTopLeft(listed, *list[i]),
                  QRectF(QPointF(100, 50) / scales[i], QSizeF(400, 300) / scales[i]));
    }
}

TEST(ScreenExtTest, DisplayIdIsTheNumberEntryWhenItFitsIn32Bits) {
    Screen::Description d = FakeScreenProvider::display("X", QRect(), 0xFFFFFFFFu);
    EXPECT_EQ(ScreenExt::displayID(Screen::makeScreens({d})[0]), 0xFFFFFFFFu);
    // An empty entry is as good as none.
    for (const QVariant& entry : {QVariant(), QVariant("3"), QVariant(-1), QVariant(0x100000000LL)}) {
        d.deviceDescription.insert("NSScreenNumber", entry);
        EXPECT_FALSE(ScreenExt::displayID(Screen::makeScreens({d})[0])) << entry.toString().toStdString();
    }
    EXPECT_FALSE(ScreenExt::displayID(platform::ScreenRef()));
}
