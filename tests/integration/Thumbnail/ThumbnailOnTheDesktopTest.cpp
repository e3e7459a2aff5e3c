#include "Features/Thumbnail/ThumbnailView.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "platform/capture/OwnWindows.h"
#include "platform/desktop/Compositor.h"
#include "platform/display/Screen.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

using namespace zentola;

namespace {

enum class Desktop { bare, composited, managed };

std::string desktopName(const testing::TestParamInfo<Desktop>& info) {
    switch (info.param) {
    case Desktop::bare:
        return "bare";
    case Desktop::composited:
        return "xcompmgr";
    case Desktop::managed:
        return "openbox";
    }
    return "";
}

constexpr QRgb desktopColour = 0x3366aa;

void xdotool(const QString& arguments) {
    QProcess::execute("xdotool", arguments.split(' '));
}

std::string text(const QRect& r) {
    std::ostringstream s;
    s << r.width() << "x" << r.height() << "+" << r.x() << "+" << r.y();
    return s.str();
}

// The card of a magenta capture on the desktop of one colour, as the X server shows it: bare, with
// a compositing manager, or under a window manager (the parameter).
class CardOnTheDesktop : public testing::TestWithParam<Desktop> {
protected:
    XClient x;
    QProcess compositor, windowManager;
    std::set<xcb_atom_t> rootPropertiesBefore;
    xcb_pixmap_t background = XCB_NONE;
    ThumbnailWindowController card;

    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
        rootPropertiesBefore = rootProperties();
        // Published, so a compositing manager paints the same colour as the server.
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data;
        background = xcb_generate_id(x.c);
        xcb_create_pixmap(x.c, screen->root_depth, background, x.root, 8, 8);
        const xcb_gcontext_t gc = xcb_generate_id(x.c);
        const uint32_t colour = desktopColour;
        xcb_create_gc(x.c, gc, background, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t all{0, 0, 8, 8};
        xcb_poly_fill_rectangle(x.c, background, gc, 1, &all);
        xcb_free_gc(x.c, gc);
        xcb_change_window_attributes(x.c, x.root, XCB_CW_BACK_PIXMAP, &background);
        xcb_clear_area(x.c, 0, x.root, 0, 0, 0, 0);
        xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, x.root, x.atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 32, 1, &background);
        x.sync();

        card.displayDuration = 600;
        if (GetParam() == Desktop::composited) {
            ASSERT_TRUE(startCompositor());
        }
        if (GetParam() == Desktop::managed) {
            windowManager.start("openbox", {});
            // Up once it manages a window of another client.
            const xcb_window_t probe = x.window("probe");
            ASSERT_TRUE(waitUntil([&] { return managed(probe); }, 10000));
            xcb_destroy_window(x.c, probe);
            x.sync();
        }
        xdotool("mousemove 960 200");
    }
    void TearDown() override {
        card.hide();
        EXPECT_TRUE(waitUntil([&] { return !card.window() || !card.window()->isVisible(); }));
        stop(compositor);
        stop(windowManager);
        // What they leave on the root would make later tests see them.
        for (xcb_atom_t left : rootProperties())
            if (!rootPropertiesBefore.count(left))
                xcb_delete_property(x.c, x.root, left);
        const uint32_t plain = screenBlack();
        xcb_change_window_attributes(x.c, x.root, XCB_CW_BACK_PIXEL, &plain);
        xcb_clear_area(x.c, 0, x.root, 0, 0, 0, 0);
        xcb_free_pixmap(x.c, background);
        x.sync();
    }

    bool startCompositor() {
        compositor.start("xcompmgr", {});
        return compositor.waitForStarted() && waitUntil([] { return platform::Compositor::isRunning(); }, 10000);
    }
    static void stop(QProcess& p) {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000))
            p.kill(), p.waitForFinished(1000);
    }
    uint32_t screenBlack() const { return xcb_setup_roots_iterator(xcb_get_setup(x.c)).data->black_pixel; }
    std::set<xcb_atom_t> rootProperties() const {
        auto r = freed(xcb_list_properties_reply(x.c, xcb_list_properties(x.c, x.root), nullptr));
        return {xcb_list_properties_atoms(r.get()), xcb_list_properties_atoms(r.get()) + xcb_list_properties_atoms_length(r.get())};
    }
    bool managed(xcb_window_t w) const {
        auto p = freed(xcb_get_property_reply(x.c, xcb_get_property(x.c, 0, x.root, x.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1024), nullptr));
        if (!p)
            return false;
        const auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(p.get()));
        return std::find(v, v + xcb_get_property_value_length(p.get()) / 4, w) != v + xcb_get_property_value_length(p.get()) / 4;
    }

    void show(const platform::ScreenRef& screen) {
        QImage picture(1920, 1080, QImage::Format_RGB32);
        picture.fill(Qt::magenta);
        card.show({platform::Image(platform::Bitmap::fromQImage(picture)), {}, CaptureMode::screen, screen, std::nullopt});
    }
    xcb_window_t id() const { return xcb_window_t(card.window()->winId()); }
    bool moving() const {
        const auto kept = platform::OwnWindows::beneath(id());
        return kept && kept->moving;
    }
    // Slid in and still, as the screen shows it.
    bool atRest(const QRect& place) const { return card.window()->isVisible() && !moving() && x.viewable(id()) && x.geometry(id()) == place; }

    // The card of a wide capture at the bottom right of the display, in X11 pixels.
    static QRect restingPlace(const platform::Screen& s) {
        const QRect n = s.nativeGeometry();
        const int k = int(s.backingScaleFactor());
        return QRect(n.x() + n.width() - 336 * k, n.y() + n.height() - 205 * k, 316 * k, 185 * k);
    }

    QImage grab(const QRect& r) const {
        auto image = freed(xcb_get_image_reply(
            x.c, xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height()), ~0u),
            nullptr));
        if (!image || xcb_get_image_data_length(image.get()) < r.width() * r.height() * 4)
            return {};
        return QImage(xcb_get_image_data(image.get()), r.width(), r.height(), r.width() * 4, QImage::Format_RGB32).copy();
    }
    QRgb pixel(int px, int py) const { return x.pixel(px, py).value_or(0xdeadbe); }
    // Where the screen shows something other than the desktop within the area (root coordinates).
    QRect notDesktop(const QRect& area) const {
        const QImage image = grab(area);
        QRect found;
        for (int py = 0; py < image.height(); ++py) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(py));
            for (int px = 0; px < image.width(); ++px)
                if ((row[px] & 0xffffff) != desktopColour)
                    found |= QRect(area.x() + px, area.y() + py, 1, 1);
        }
        return found;
    }
};

// Every frame of the way in and out, at every arrangement of scales: the card's window is all on its
// display at the card's size, and the screen shows nothing of it elsewhere.
TEST_P(CardOnTheDesktop, TheCardKeepsItsSizeAndItsDisplayAllAlongItsWay) {
    const auto screens = platform::Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    QRect root;
    for (const auto& s : screens)
        root |= s->nativeGeometry();
    // The bottom of both displays, where the cards go.
    const QRect strip(root.x(), root.bottom() + 1 - 480, root.width(), 480);

    for (const auto& s : screens) {
        const QRect display = s->nativeGeometry(), place = restingPlace(*s);
        SCOPED_TRACE(s->name().toStdString() + " at scale " + std::to_string(s->backingScaleFactor()));
        int samples = 0, onItsWay = 0, windowOff = 0, windowResized = 0, shownOff = 0, shownLarger = 0;
        std::string first;
        auto sample = [&] {
            if (!x.viewable(id()))
                return;
            const QRect window = x.geometry(id()), shown = notDesktop(strip);
            ++samples;
            onItsWay += moving();
            const bool off = !display.contains(window), resized = window.size() != place.size();
            const bool elsewhere = !shown.isEmpty() && !display.contains(shown);
            const bool larger = shown.width() > place.width() || shown.height() > place.height();
            windowOff += off, windowResized += resized, shownOff += elsewhere, shownLarger += larger;
            if (first.empty() && (off || resized || elsewhere || larger))
                first = "window " + text(window) + ", shown " + text(shown);
        };
        auto follow = [&](auto done) {
            QDeadlineTimer deadline(10000);
            while (!done() && !deadline.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                sample();
            }
            return done();
        };

        show(s);
        ASSERT_TRUE(follow([&] { return atRest(place); })) << text(x.geometry(id()));
        EXPECT_EQ(notDesktop(strip), place) << "at rest";
        card.hide();
        ASSERT_TRUE(follow([&] { return !card.window()->isVisible() && !x.viewable(id()); }));
        // A window manager takes its frame away a moment after the card.
        EXPECT_TRUE(waitUntil([&] { return notDesktop(strip).isEmpty(); })) << "gone";

        EXPECT_GT(onItsWay, 0) << "seen on its way, of " << samples;
        EXPECT_EQ(windowOff, 0) << first;
        EXPECT_EQ(windowResized, 0) << first;
        EXPECT_EQ(shownOff, 0) << first;
        EXPECT_EQ(shownLarger, 0) << first;
    }
}

// Opening the menu takes the pointer off the card, which stays while the menu is open and counts
// its time anew once it closes.
TEST_P(CardOnTheDesktop, TheCardStaysWhileItsMenuIsOpen) {
    card.displayDuration = 1.0;
    const auto screen = platform::Screen::main();
    const QRect place = restingPlace(*screen);
    show(screen);
    ASSERT_TRUE(waitUntil([&] { return atRest(place); }));
    xdotool(QString("mousemove %1 %2").arg(place.center().x()).arg(place.center().y()));
    ASSERT_TRUE(waitUntil([&] { return card.view()->isHovering(); }));
    xdotool("click 3");
    ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() != nullptr; }));
    xdotool("mousemove 300 200");

    spinFor(3000);
    EXPECT_TRUE(x.viewable(id()));
    EXPECT_FALSE(card.dismissTimer()->isActive());
    EXPECT_TRUE(QApplication::activePopupWidget() != nullptr);

    xdotool("key Escape");
    ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() == nullptr; }));
    EXPECT_TRUE(x.viewable(id())) << "up as the menu closes";
    EXPECT_TRUE(waitUntil([&] { return !x.viewable(id()); })) << "gone once its time is up";
}

// Started and stopped while the card is up: a translucent card with one, an opaque card with its
// corners cut away without, never black corners or an opaque card over a compositing desktop.
TEST_P(CardOnTheDesktop, TheCardFollowsACompositingManagerThatComesAndGoes) {
    if (GetParam() == Desktop::managed)
        GTEST_SKIP() << "the window manager paints nothing of the card";
    const auto screen = platform::Screen::main();
    const QRect place = restingPlace(*screen);
    show(screen);
    ASSERT_TRUE(waitUntil([&] { return atRest(place); }));
    const QColor window = card.view()->palette().color(QPalette::Window);
    const QRgb opaque = window.rgb() & 0xffffff;
    // The card's colour at 215/255 over the desktop.
    auto over = [&](int c, int d) { return (c * 215 + d * 40 + 127) / 255; };
    const QRgb blended = qRgb(over(window.red(), qRed(desktopColour)), over(window.green(), qGreen(desktopColour)),
                              over(window.blue(), qBlue(desktopColour))) & 0xffffff;
    auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 && std::abs(qBlue(a) - qBlue(b)) <= 2;
    };
    const QPoint corner = place.topLeft(), margin(place.center().x(), place.top() + 3);
    auto expectCard = [&](bool composited) {
        const char* when = composited ? "with a compositing manager" : "without one";
        EXPECT_TRUE(waitUntil([&] { return near(pixel(margin.x(), margin.y()), composited ? blended : opaque); }))
            << when << ": " << std::hex << pixel(margin.x(), margin.y()) << " for " << (composited ? blended : opaque);
        EXPECT_TRUE(waitUntil([&] { return pixel(corner.x(), corner.y()) == desktopColour; }))
            << when << ": " << std::hex << pixel(corner.x(), corner.y());
        EXPECT_TRUE(x.viewable(id())) << when;
    };

    // Stopped, or started, and back.
    bool composited = GetParam() == Desktop::composited;
    for (int change = 0; change < 3; ++change) {
        if (change > 0) {
            if (composited)
                stop(compositor);
            else
                ASSERT_TRUE(startCompositor());
            composited = !composited;
        }
        expectCard(composited);
    }
}

// A swipe moves the card, all of it: the screen shows the desktop where it was, and the card springs
// back whole.
TEST_P(CardOnTheDesktop, ASwipeMovesTheWholeCardAndLeavesTheDesktopWhereItWas) {
    const auto screen = platform::Screen::main();
    const QRect place = restingPlace(*screen);
    show(screen);
    ASSERT_TRUE(waitUntil([&] { return atRest(place); }));
    const QPoint from = place.center();
    xdotool(QString("mousemove %1 %2").arg(from.x()).arg(from.y()));
    xdotool("mousedown 1");
    for (int dx = -10; dx >= -60; dx -= 10)
        xdotool(QString("mousemove %1 %2").arg(from.x() + dx).arg(from.y()));
    const QRect left = place.translated(-60, 0);
    EXPECT_TRUE(waitUntil([&] { return notDesktop(place.united(left)) == left; })) << text(notDesktop(place.united(left)));
    EXPECT_TRUE(notDesktop(QRect(left.right() + 1, place.y(), 60, place.height())).isEmpty()) << "where it was";

    // To the right it meets its display's edge.
    for (int dx = -50; dx <= 60; dx += 10)
        xdotool(QString("mousemove %1 %2").arg(from.x() + dx).arg(from.y()));
    const QRect display = screen->nativeGeometry();
    const QRect right(place.x() + 60, place.y(), display.right() + 1 - place.x() - 60, place.height());
    EXPECT_TRUE(waitUntil([&] { return notDesktop(place.united(right)) == right; })) << text(notDesktop(place.united(right)));
    EXPECT_TRUE(notDesktop(QRect(place.x(), place.y(), 60, place.height())).isEmpty()) << "where it was";

    xdotool("mouseup 1");
    EXPECT_TRUE(waitUntil([&] { return notDesktop(place.adjusted(-80, 0, 80, 0)) == place; }))
        << text(notDesktop(place.adjusted(-80, 0, 80, 0)));
    EXPECT_TRUE(x.viewable(id()));
}

INSTANTIATE_TEST_SUITE_P(Desktops, CardOnTheDesktop,
                         testing::Values(Desktop::bare, Desktop::composited, Desktop::managed), desktopName);

}  // namespace
