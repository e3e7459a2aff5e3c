#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "Services/ClipboardManager.h"
#include "Services/FlashManager.h"
#include "Services/SoundManager.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/Permissions.h"
#include "platform/desktop/SoundPlayer.h"
#include "support/WaitUntil.h"

#include <QDrag>
#include <QImage>
#include <QProcess>
#include <QTimer>
#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace zentola;

namespace {

// Runs another client while this process keeps answering X selection requests.
QByteArray runServing(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted(5000)) << program.toStdString();
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000));
    return process.readAllStandardOutput();
}

platform::ScreenRef screenNamed(const QString& name) {
    for (const auto& s : platform::Screen::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

// A second X connection, as another client sees our windows.
struct XClient {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ~XClient() { xcb_disconnect(c); }

    struct Window {
        bool exists = false;
        bool viewable = false;
        bool overrideRedirect = false;
        QRect geometry;  // root coordinates
    };
    Window window(xcb_window_t w) const {
        Window out;
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&free)> attrs(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &free);
        if (!attrs)
            return out;
        out.exists = true;
        out.viewable = attrs->map_state == XCB_MAP_STATE_VIEWABLE;
        out.overrideRedirect = attrs->override_redirect;
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> geo(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr), &free);
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&free)> at(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr), &free);
        if (geo && at)
            out.geometry = QRect(at->dst_x, at->dst_y, geo->width, geo->height);
        return out;
    }
    std::optional<quint32> cardinal(xcb_window_t w, const char* name) const {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, std::strlen(name), name), nullptr), &free);
        if (!atom || atom->atom == XCB_NONE)
            return std::nullopt;
        std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> prop(
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr), &free);
        if (!prop || xcb_get_property_value_length(prop.get()) < 4)
            return std::nullopt;
        return *static_cast<quint32*>(xcb_get_property_value(prop.get()));
    }
    // The screen's colour at a root position, as 0xRRGGBB.
    std::optional<quint32> pixel(int x, int y) const {
        std::unique_ptr<xcb_get_image_reply_t, decltype(&free)> image(
            xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, x, y, 1, 1, ~0u), nullptr),
            &free);
        if (!image || xcb_get_image_data_length(image.get()) < 4)
            return std::nullopt;
        quint32 value;
        std::memcpy(&value, xcb_get_image_data(image.get()), 4);
        return value & 0xFFFFFF;
    }
    // Takes a selection as another client would (a compositing manager, say).
    xcb_window_t ownSelection(const char* name) const {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr), &free);
        xcb_set_selection_owner(c, w, atom->atom, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // a round trip
        return w;
    }
    void destroy(xcb_window_t w) const {
        xcb_destroy_window(c, w);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    // The topmost mapped child of the root.
    xcb_window_t topmostViewable() const {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&free)> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &free);
        if (!tree)
            return XCB_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i)
            if (window(children[i]).viewable)
                return children[i];
        return XCB_NONE;
    }
};

std::vector<qint16> samples(const QByteArray& pcm, qsizetype from) {
    std::vector<qint16> out;
    for (qsizetype i = from & ~qsizetype(1); i + 1 < pcm.size(); i += 2)
        out.push_back(qint16(quint8(pcm[i]) | (quint8(pcm[i + 1]) << 8)));
    return out;
}

int peak(const std::vector<qint16>& s) {
    int p = 0;
    for (qint16 v : s)
        p = std::max(p, std::abs(int(v)));
    return p;
}

int sinkInputs() {
    QProcess pactl;
    pactl.start("pactl", {"list", "short", "sink-inputs"});
    pactl.waitForFinished(5000);
    const QByteArray out = pactl.readAllStandardOutput().trimmed();
    return out.isEmpty() ? 0 : int(out.count('\n')) + 1;
}

// A mono 16-bit WAV of a sine tone.
QByteArray toneWav(double seconds, int rate = 22050) {
    const quint32 frames = quint32(seconds * rate);
    QByteArray wav;
    auto u32 = [&](quint32 v) { for (int i = 0; i < 4; ++i) wav.append(char((v >> (8 * i)) & 0xFF)); };
    auto u16 = [&](quint16 v) { wav.append(char(v & 0xFF)); wav.append(char(v >> 8)); };
    wav.append("RIFF");
    u32(36 + frames * 2);
    wav.append("WAVEfmt ");
    u32(16); u16(1); u16(1); u32(rate); u32(rate * 2); u16(2); u16(16);
    wav.append("data");
    u32(frames * 2);
    for (quint32 i = 0; i < frames; ++i)
        u16(quint16(qint16(12000 * std::sin(2 * M_PI * 440 * i / rate))));
    return wav;
}

}  // namespace

TEST(DesktopIntegrationTest, AnotherClientPastesTheScreenshot) {
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30));
    image.setPixelColor(63, 47, QColor(255, 0, 0));
    ClipboardManager::shared().copyImageWithFile(platform::Bitmap::fromQImage(image), QString("/tmp/shots/a b.png"));

    const QStringList targets =
        QString::fromUtf8(runServing("xclip", {"-o", "-selection", "clipboard", "-t", "TARGETS"})).split('\n');
    const auto tiff = targets.indexOf("image/tiff"), png = targets.indexOf("image/png"),
               uri = targets.indexOf("text/uri-list");
    ASSERT_GE(tiff, 0) << targets.join(' ').toStdString();
    EXPECT_GT(png, tiff);
    EXPECT_GT(uri, png);

    const QImage pasted = QImage::fromData(runServing("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"}), "PNG");
    ASSERT_EQ(pasted.size(), QSize(64, 48));
    EXPECT_EQ(pasted.pixelColor(0, 0), QColor(10, 200, 30));
    EXPECT_EQ(pasted.pixelColor(63, 47), QColor(255, 0, 0));

    const QByteArray tiffBytes = runServing("xclip", {"-o", "-selection", "clipboard", "-t", "image/tiff"});
    EXPECT_TRUE(tiffBytes.startsWith(QByteArray("II*\0", 4)) || tiffBytes.startsWith(QByteArray("MM\0*", 4)));
    EXPECT_EQ(runServing("xclip", {"-o", "-selection", "clipboard", "-t", "text/uri-list"}),
              QByteArray("file:///tmp/shots/a%20b.png\r\n"));
}

TEST(DesktopIntegrationTest, APasteRightAfterCopyingA4KCaptureGetsAllOfIt) {
    QImage image(3840, 2160, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = 0xFF000000u | quint32((x * 7 + y * 13) & 0xFF) << 16 | quint32((x ^ y) & 0xFF) << 8 | quint32(y & 0xFF);
    }
    ClipboardManager::shared().copyImageWithFile(platform::Bitmap::fromQImage(image), std::nullopt);
    // Asked at once, before the encoders are likely done: the reader waits and gets the whole picture.
    const QImage pasted =
        QImage::fromData(runServing("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"}), "PNG");
    ASSERT_EQ(pasted.size(), image.size());
    for (const QPoint p : {QPoint(0, 0), QPoint(1234, 567), QPoint(3839, 2159)})
        EXPECT_EQ(pasted.pixel(p), image.pixel(p)) << p.x() << "," << p.y();
}

TEST(DesktopIntegrationTest, ShutterSoundReachesTheSoundServer) {
    QProcess recorder;
    recorder.start("parec", {"-d", "zentola_sink.monitor", "--raw", "--format=s16le", "--rate=22050", "--channels=1"});
    ASSERT_TRUE(recorder.waitForStarted(5000));
    QByteArray pcm;
    auto drain = [&] { pcm += recorder.readAllStandardOutput(); };
    // An idle monitor starts delivering after a moment; then a quiet stretch to compare with.
    ASSERT_TRUE(waitUntil([&] { drain(); return pcm.size() > 22050; }, 10000));
    const qsizetype before = pcm.size();
    const int quiet = peak(samples(pcm, 0));

    SoundManager::shared().playShutterSound();
    auto player = SoundManager::shared().audioPlayer();
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(waitUntil([&] { drain(); return sinkInputs() == 1; }, 3000));

    EXPECT_TRUE(waitUntil([&] { drain(); return !player->isPlaying(); }, 10000));
    waitUntil([&] { drain(); return pcm.size() > before + 22050 * 2 / 2; }, 3000);
    recorder.terminate();
    recorder.waitForFinished(3000);
    drain();

    EXPECT_LT(quiet, 50);
    EXPECT_GT(peak(samples(pcm, before)), 1000);
}

TEST(DesktopIntegrationTest, ReleasingAPlayerStopsItsSound) {
    auto player = platform::SoundPlayer::fromData(toneWav(8.0));
    EXPECT_NEAR(player->duration(), 8.0, 0.01);
    ASSERT_TRUE(player->play());
    ASSERT_TRUE(waitUntil([] { return sinkInputs() == 1; }, 3000));
    // Playing again restarts, and letting go stops: both streams go long before the tone would
    // have ended (the null sink takes data in large blocks, so it can take a moment).
    player->play();
    spinFor(200);
    player.reset();
    EXPECT_TRUE(waitUntil([] { return sinkInputs() == 0; }, 4000));
}

TEST(DesktopIntegrationTest, FlashCoversOnlyTheChosenMonitorThenGoes) {
    const auto b = screenNamed("B");
    ASSERT_NE(b, nullptr);
    XClient x;
    ASSERT_EQ(xcb_connection_has_error(x.c), 0);

    auto flash = FlashManager::shared().showFlash(b);
    ASSERT_EQ(FlashManager::shared().flashWindows().size(), 1u);
    const xcb_window_t id = FlashManager::shared().flashWindows().front()->winId();
    ASSERT_TRUE(waitUntil([&] { return x.window(id).viewable; }, 2000));
    const auto seen = x.window(id);
    EXPECT_EQ(seen.geometry, QRect(1920, 0, 1920, 1080));
    EXPECT_TRUE(seen.overrideRedirect);
    EXPECT_EQ(x.topmostViewable(), id);
    // Grabs recognise their own process's windows by this.
    EXPECT_EQ(x.cardinal(id, "_NET_WM_PID"), quint32(getpid()));

    // About a quarter of a second; the bound is generous on purpose.
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }, 5000));
    EXPECT_TRUE(FlashManager::shared().flashWindows().empty());
    EXPECT_TRUE(waitUntil([&] { return !x.window(id).viewable; }, 2000));
}

TEST(DesktopIntegrationTest, FlashIsWhiteWithoutACompositorAndFadesWithOne) {
    const auto b = screenNamed("B");
    ASSERT_NE(b, nullptr);
    XClient x;
    ASSERT_EQ(xcb_connection_has_error(x.c), 0);
    // Holds the first step at its peak long enough to look at the screen.
    FlashManager held([](FlashWindow& w, double alpha, int) -> QCoro::Task<void> {
        w.setAlpha(alpha);
        if (alpha > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(1500));
    });
    const QPoint insideB(1920 + 200, 300);
    const auto before = x.pixel(insideB.x(), insideB.y());
    ASSERT_TRUE(before.has_value());
    ASSERT_NE(*before, 0xFFFFFFu);

    // The plain test server has no compositing manager: a translucent white would come out grey.
    ASSERT_FALSE(platform::Compositor::isRunning());
    auto flash = held.showFlash(b);
    const xcb_window_t id = held.flashWindows().front()->winId();
    EXPECT_TRUE(waitUntil([&] { return x.pixel(insideB.x(), insideB.y()) == 0xFFFFFFu; }, 1400))
        << std::hex << x.pixel(insideB.x(), insideB.y()).value_or(0);
    EXPECT_EQ(x.pixel(100, 300), before);  // monitor A untouched
    EXPECT_FALSE(x.cardinal(id, "_NET_WM_WINDOW_OPACITY").has_value());
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }, 5000));
    EXPECT_TRUE(waitUntil([&] { return x.pixel(insideB.x(), insideB.y()) == before; }, 2000));

    // With a compositing manager the window itself fades.
    const xcb_window_t manager = x.ownSelection("_NET_WM_CM_S0");
    EXPECT_TRUE(platform::Compositor::isRunning());
    auto faded = held.showFlash(b);
    const xcb_window_t fadedId = held.flashWindows().front()->winId();
    EXPECT_TRUE(waitUntil([&] { return x.window(fadedId).viewable; }, 1400));
    // 0.3 of the full scale, as the compositor reads it.
    EXPECT_TRUE(waitUntil(
        [&] { return std::abs(double(x.cardinal(fadedId, "_NET_WM_WINDOW_OPACITY").value_or(0)) / 0xFFFFFFFFu - 0.3) < 0.01; },
        1400));
    ASSERT_TRUE(waitUntil([&] { return faded.isReady(); }, 5000));
    x.destroy(manager);
    EXPECT_FALSE(platform::Compositor::isRunning());
}

TEST(DesktopIntegrationTest, ThumbnailLandsInTheCornerOfItsMonitor) {
    const auto b = screenNamed("B");
    ASSERT_NE(b, nullptr);
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    CapturedImage capture;
    capture.image = platform::Image(platform::Bitmap::fromQImage(image));
    capture.sourceScreen = b;

    ThumbnailWindowController controller;
    controller.show(capture);
    XClient x;
    const xcb_window_t id = controller.window()->winId();
    // 316 x 185 card, 20 in from B's right and bottom edges.
    const QRect expected(3840 - 20 - 316, 1080 - 20 - 185, 316, 185);
    EXPECT_TRUE(waitUntil([&] { return x.window(id).viewable && x.window(id).geometry == expected; }, 3000))
        << x.window(id).geometry.x() << "," << x.window(id).geometry.y();
    // No compositing manager runs here: the card's margin shows its colour, not a darkened one.
    const QColor card = controller.window()->palette().color(QPalette::Window);
    const auto margin = [&] { return x.pixel(expected.x() + 150, expected.y() + 3); };
    EXPECT_TRUE(waitUntil([&] { return margin() == (card.rgb() & 0xFFFFFFu); }, 2000))
        << std::hex << margin().value_or(0) << " " << card.rgb();
    controller.hide();
    EXPECT_TRUE(waitUntil([&] { return !x.window(id).viewable; }, 3000));
}

TEST(DesktopIntegrationTest, ANewCaptureDuringADragOutLetsTheDragEnd) {
    const auto b = screenNamed("B");
    ASSERT_NE(b, nullptr);
    auto capture = [&](QColor colour) {
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(colour);
        CapturedImage c;
        c.image = platform::Image(platform::Bitmap::fromQImage(image));
        c.sourceScreen = b;
        return c;
    };
    auto xdotool = [](const QStringList& arguments) { QProcess::execute("xdotool", arguments); };
    ThumbnailWindowController controller;
    controller.show(capture(Qt::red));
    XClient x;
    const xcb_window_t id = controller.window()->winId();
    // Slid in: 20 in from B's right edge.
    ASSERT_TRUE(waitUntil([&] { return x.window(id).viewable && x.window(id).geometry.right() == 3840 - 20 - 1; }, 3000));
    const QRect card = x.window(id).geometry;
    ThumbnailView* first = controller.view();

    // Once the drag runs its own loop, the next capture replaces the card; then the pointer moves on
    // and the button comes up.
    bool replaced = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (replaced || !controller.window()->findChild<QDrag*>())
            return;
        replaced = true;
        controller.show(capture(Qt::blue));
        QTimer::singleShot(200, [&] {
            xdotool({"mousemove", QString::number(card.left() - 300), QString::number(card.top() - 200)});
            xdotool({"mouseup", "1"});
        });
    });
    watch.start(10);
    xdotool({"mousemove", QString::number(card.center().x()), QString::number(card.center().y())});
    spinFor(100);
    xdotool({"mousedown", "1"});
    for (int step = 1; step <= 8; ++step) {
        spinFor(20);
        xdotool({"mousemove", QString::number(card.center().x() - step * 30), QString::number(card.center().y())});
    }
    ASSERT_TRUE(waitUntil([&] { return replaced; }, 5000));
    // A drag whose source went away would never finish, and the app would hang in its loop.
    EXPECT_TRUE(waitUntil([&] { return !controller.window()->findChild<QDrag*>(); }, 3000));
    EXPECT_NE(controller.view(), first);
    EXPECT_TRUE(controller.window()->isVisible());
}

TEST(DesktopIntegrationTest, PermissionsOnX11) {
    EXPECT_TRUE(platform::Permissions::preflightScreenCapture());
    EXPECT_TRUE(platform::Permissions::isAccessibilityTrusted());
    // The test sound server has a microphone source besides the sink monitors.
    EXPECT_EQ(platform::Permissions::microphoneStatus(), platform::Permissions::MicrophoneStatus::authorized);
    EXPECT_TRUE(QCoro::waitFor(platform::Permissions::requestMicrophoneAccess()));
}
