#include "Features/Onboarding/OnboardingWindowController.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "Services/ClipboardManager.h"
#include "Services/FlashManager.h"
#include "Services/SoundManager.h"
#include "platform/desktop/Compositor.h"
#include "platform/desktop/Permissions.h"
#include "platform/desktop/SoundPlayer.h"
#include "platform/desktop/TrayAppearance.h"
#include "support/Printed.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"
#include "support/SettingsFixture.h"

#include <QDir>
#include <QDrag>
#include <QImage>
#include <QProcess>
#include <QTimer>
#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

using namespace zentola;

namespace {

// Runs another client while this process keeps answering X selection requests.
QByteArray runServing(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000)) << program.toStdString();
    return process.readAllStandardOutput();
}

platform::ScreenRef screenB() {
    for (const auto& s : platform::Screen::screens())
        if (s->name() == "B")
            return s;
    return nullptr;
}

// The loudest 16-bit sample from the byte offset on.
int peak(const QByteArray& pcm, qsizetype from) {
    const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
    int p = 0;
    for (qsizetype i = from / 2; i < pcm.size() / 2; ++i)
        p = std::max(p, std::abs(int(samples[i])));
    return p;
}

int sinkInputs() {
    const QByteArray out = runServing("pactl", {"list", "short", "sink-inputs"}).trimmed();
    return out.isEmpty() ? 0 : int(out.count('\n')) + 1;
}

CapturedImage capture(QColor colour, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    CapturedImage c;
    c.image = platform::Image(platform::Bitmap::fromQImage(image));
    c.sourceScreen = screenB();
    return c;
}

// 0xRRGGBB under white at that opacity, as a compositing manager shows the fading flash.
quint32 underWhite(quint32 rgb, double opacity) {
    auto channel = [&](int shift) { return quint32(std::lround(((rgb >> shift) & 0xFF) * (1 - opacity) + 255 * opacity)) << shift; };
    return channel(16) | channel(8) | channel(0);
}

bool near(std::optional<quint32> actual, quint32 expected, int tolerance = 3) {
    if (!actual)
        return false;
    for (int shift : {16, 8, 0})
        if (std::abs(int((*actual >> shift) & 0xFF) - int((expected >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

}  // namespace

TEST(DesktopIntegrationTest, AnotherClientPastesTheScreenshotWhole_EvenRightAfterCopyingA4KCapture) {
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30));
    image.setPixelColor(63, 47, QColor(255, 0, 0));
    ClipboardManager::shared().copyImageWithFile(platform::Bitmap::fromQImage(image), QString("/tmp/shots/a b.png"));
    const auto paste = [](const char* type) { return runServing("xclip", {"-o", "-selection", "clipboard", "-t", type}); };
    const QStringList targets = QString::fromUtf8(paste("TARGETS")).split('\n');
    const auto tiff = targets.indexOf("image/tiff"), png = targets.indexOf("image/png"), uri = targets.indexOf("text/uri-list");
    EXPECT_TRUE(tiff >= 0 && png > tiff && uri > png) << targets.join(' ').toStdString();
    const QImage pasted = QImage::fromData(paste("image/png"), "PNG");
    ASSERT_EQ(pasted.size(), QSize(64, 48));
    EXPECT_EQ(pasted.pixelColor(0, 0), QColor(10, 200, 30));
    EXPECT_EQ(pasted.pixelColor(63, 47), QColor(255, 0, 0));
    const QByteArray tiffBytes = paste("image/tiff");
    EXPECT_TRUE(tiffBytes.startsWith(QByteArray("II*\0", 4)) || tiffBytes.startsWith(QByteArray("MM\0*", 4)));
    EXPECT_EQ(paste("text/uri-list"), QByteArray("file:///tmp/shots/a%20b.png\r\n"));

    QImage big(3840, 2160, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y)
        for (int x = 0; x < big.width(); ++x)
            big.setPixel(x, y, 0xFF000000u | quint32((x * 7 + y * 13) & 0xFF) << 16 | quint32((x ^ y) & 0xFF) << 8 | quint32(y & 0xFF));
    ClipboardManager::shared().copyImageWithFile(platform::Bitmap::fromQImage(big), std::nullopt);
    // Asked at once, before the encoders are likely done: the reader waits and gets the whole picture.
    const QImage whole = QImage::fromData(paste("image/png"), "PNG");
    ASSERT_EQ(whole.size(), big.size());
    for (const QPoint p : {QPoint(0, 0), QPoint(1234, 567), QPoint(3839, 2159)})
        EXPECT_EQ(whole.pixel(p), big.pixel(p)) << p.x() << "," << p.y();
}

TEST(DesktopIntegrationTest, ShutterSoundReachesTheSoundServerAndAReleasedPlayerFallsSilent) {
    QProcess recorder;
    recorder.start("parec", {"-d", "zentola_sink.monitor", "--raw", "--format=s16le", "--rate=22050", "--channels=1"});
    ASSERT_TRUE(recorder.waitForStarted(5000));
    QByteArray pcm;
    auto drain = [&] { pcm += recorder.readAllStandardOutput(); };
    // An idle monitor starts delivering after a moment; then a quiet stretch to compare with.
    ASSERT_TRUE(waitUntil([&] { return drain(), pcm.size() > 22050; }, 10000));
    const qsizetype before = pcm.size();
    SoundManager::shared().playShutterSound();
    auto player = SoundManager::shared().audioPlayer();
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(waitUntil([&] { return drain(), sinkInputs() == 1; }, 3000));
    EXPECT_TRUE(waitUntil([&] { return drain(), !player->isPlaying(); }, 10000));
    waitUntil([&] { return drain(), pcm.size() > before + 22050; }, 3000);
    recorder.terminate();
    recorder.waitForFinished(3000);
    drain();
    EXPECT_LT(peak(pcm.left(before), 0), 50);
    EXPECT_GT(peak(pcm, before), 1000);

    const QString wav = QDir::temp().filePath("zentola-tone.wav");
    ASSERT_EQ(QProcess::execute("sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", wav, "synth", "8", "sine", "440"}), 0);
    QFile file(wav);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    auto tone = platform::SoundPlayer::fromData(file.readAll());
    EXPECT_NEAR(tone->duration(), 8.0, 0.01);
    ASSERT_TRUE(tone->play());
    ASSERT_TRUE(waitUntil([] { return sinkInputs() == 1; }, 3000));
    // Playing again restarts, and letting go stops: long before the tone would have ended.
    tone->play();
    spinFor(200);
    tone.reset();
    EXPECT_TRUE(waitUntil([] { return sinkInputs() == 0; }, 4000));
    // X11 and the test sound server grant everything the app asks for; it has a microphone source.
    EXPECT_TRUE(platform::Permissions::preflightScreenCapture() && platform::Permissions::isAccessibilityTrusted());
    EXPECT_EQ(platform::Permissions::microphoneStatus(), platform::Permissions::MicrophoneStatus::authorized);
    EXPECT_TRUE(QCoro::waitFor(platform::Permissions::requestMicrophoneAccess()));
}

TEST(DesktopIntegrationTest, FlashCoversOnlyItsMonitor_PaintedWithoutACompositorAndFadingWithOne) {
    ASSERT_NE(screenB(), nullptr);
    XClient x;
    // Holds the first step at its peak long enough to look at the screen.
    FlashManager held([](FlashWindow& w, double alpha, int) -> QCoro::Task<void> {
        w.setAlpha(alpha);
        if (alpha > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(1500));
    });
    const QPoint insideB(1920 + 200, 300);
    const auto before = x.pixel(insideB.x(), insideB.y());
    ASSERT_NE(before.value_or(0xFFFFFFu), 0xFFFFFFu);
    ASSERT_FALSE(platform::Compositor::isRunning());  // the plain test server
    auto flash = held.showFlash(screenB());
    ASSERT_EQ(held.flashWindows().size(), 1u);
    const xcb_window_t id = held.flashWindows().front()->winId();
    EXPECT_TRUE(waitUntil([&] { return near(x.pixel(insideB.x(), insideB.y()), underWhite(*before, FlashManager::peakAlpha)); }, 1400));
    EXPECT_EQ(x.geometry(id), QRect(1920, 0, 1920, 1080));
    EXPECT_EQ(x.pixel(100, 300), before);  // monitor A untouched
    EXPECT_FALSE(x.cardinal(id, "_NET_WM_WINDOW_OPACITY").has_value());
    EXPECT_EQ(x.cardinal(id, "_NET_WM_PID"), quint32(getpid()));  // how grabs know their own windows
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }, 5000));
    EXPECT_TRUE(held.flashWindows().empty());
    EXPECT_TRUE(waitUntil([&] { return !x.viewable(id) && x.pixel(insideB.x(), insideB.y()) == before; }, 2000));

    // With a compositing manager (here a client that takes its selection) the window itself fades:
    // 0.3 of the full scale.
    const xcb_window_t manager = x.window("compositor");
    xcb_set_selection_owner(x.c, manager, x.atom("_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    x.sync();
    EXPECT_TRUE(platform::Compositor::isRunning());
    auto faded = held.showFlash(screenB());
    const xcb_window_t fadedId = held.flashWindows().front()->winId();
    EXPECT_TRUE(waitUntil(
        [&] { return std::abs(double(x.cardinal(fadedId, "_NET_WM_WINDOW_OPACITY").value_or(0)) / 0xFFFFFFFFu - 0.3) < 0.01; },
        1400));
    ASSERT_TRUE(waitUntil([&] { return faded.isReady(); }, 5000));
    xcb_destroy_window(x.c, manager);
    x.sync();
    EXPECT_FALSE(platform::Compositor::isRunning());
}

// Without a compositing manager nothing blends the flash with the desktop: it paints what lay beneath
// it under its white, so it looks as it does with one, the desktop showing through at the peak and
// nothing of it left once it has faded.
TEST(DesktopIntegrationTest, WithoutACompositorTheFlashShowsTheDesktopUnderItsWhite) {
    ASSERT_FALSE(platform::Compositor::isRunning());
    ASSERT_EQ(QProcess::execute("xsetroot", {"-solid", "#2d6a4f"}), 0);
    XClient x;
    // Another program's red window on monitor B (a window of this process would count as ours).
    QProcess other;
    other.start(CAPTURE_TEST_WINDOW, {"2100,200,300,200,d02020"});
    ASSERT_TRUE(other.waitForStarted(5000) && other.waitForReadyRead(10000));
    const QPoint background(2000, 100), window(2250, 300), onA(100, 300);
    ASSERT_TRUE(waitUntil([&] { return x.pixel(window.x(), window.y()) == 0xd02020u; }, 2000));
    ASSERT_EQ(x.pixel(background.x(), background.y()), 0x2d6a4fu);

    // Each step holds at its alpha until let go.
    bool atPeak = true, atEnd = true;
    FlashManager held([&](FlashWindow& w, double alpha, int) -> QCoro::Task<void> {
        w.setAlpha(alpha);
        while (alpha > 0 ? atPeak : atEnd)
            co_await QCoro::sleepFor(std::chrono::milliseconds(10));
    });
    auto flash = held.showFlash(screenB());
    ASSERT_EQ(held.flashWindows().size(), 1u);
    const xcb_window_t id = held.flashWindows().front()->winId();
    EXPECT_TRUE(waitUntil([&] { return near(x.pixel(window.x(), window.y()), underWhite(0xd02020, 0.3)); }, 3000))
        << std::hex << x.pixel(window.x(), window.y()).value_or(0);
    EXPECT_TRUE(near(x.pixel(background.x(), background.y()), underWhite(0x2d6a4f, 0.3)))
        << std::hex << x.pixel(background.x(), background.y()).value_or(0);
    EXPECT_NE(x.pixel(background.x(), background.y()), 0xFFFFFFu);
    EXPECT_EQ(x.pixel(onA.x(), onA.y()), 0x2d6a4fu);

    // Faded out, still up: the desktop as it was.
    atPeak = false;
    EXPECT_TRUE(waitUntil([&] { return x.pixel(window.x(), window.y()) == 0xd02020u; }, 3000));
    EXPECT_EQ(x.pixel(background.x(), background.y()), 0x2d6a4fu);
    EXPECT_TRUE(x.viewable(id));
    atEnd = false;
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }, 5000));
    other.closeWriteChannel();
    other.waitForFinished(5000);
    QProcess::execute("xsetroot", {"-def"});
}

// The tray glyph follows the panel's colour, not our own windows passing over it: a flash over the
// panel while its colour is sampled keeps the glyph as it was.
TEST(DesktopIntegrationTest, TheTrayGlyphKeepsItsColourWhileOurFlashCoversThePanel) {
    XClient x;
    // Another program's dark panel along the top right of the first monitor.
    const xcb_window_t panel = xcb_generate_id(x.c);
    const quint32 values[] = {0x202020, 1};
    xcb_create_window(x.c, XCB_COPY_FROM_PARENT, panel, x.root, 1600, 0, 320, 24, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(x.c, panel);
    x.sync();
    ASSERT_TRUE(waitUntil([&] { return x.pixel(1700, 10) == 0x202020u; }, 2000));
    const QRect icon(1880, 2, 20, 20);
    EXPECT_EQ(platform::TrayAppearance::wantsLightGlyph(icon, std::nullopt), true);

    FlashManager held([](FlashWindow& w, double alpha, int) -> QCoro::Task<void> {
        w.setAlpha(alpha);
        if (alpha > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(1500));
    });
    auto flash = held.showFlash(platform::Screen::main());
    // The panel is this process's window, which the flash leaves out of what it shows beneath.
    ASSERT_TRUE(waitUntil([&] { return x.pixel(1700, 10) != 0x202020u; }, 1400));
    EXPECT_TRUE(platform::TrayAppearance::panelHiddenByOwnWindow(icon));
    EXPECT_EQ(platform::TrayAppearance::wantsLightGlyph(icon, true), true);
    EXPECT_EQ(platform::TrayAppearance::wantsLightGlyph(icon, std::nullopt), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return flash.isReady(); }, 5000));
    ASSERT_TRUE(waitUntil([&] { return x.pixel(1700, 10) == 0x202020u; }, 2000));
    EXPECT_FALSE(platform::TrayAppearance::panelHiddenByOwnWindow(icon));
    EXPECT_EQ(platform::TrayAppearance::wantsLightGlyph(icon, false), true);
    xcb_destroy_window(x.c, panel);
    x.sync();
}

TEST(DesktopIntegrationTest, ThumbnailLandsInItsMonitorsCorner_AndANewCaptureDuringADragOutLetsTheDragEnd) {
    ThumbnailWindowController controller;
    controller.show(capture(Qt::darkCyan, QSize(1920, 1080)));
    XClient x;
    const xcb_window_t id = controller.window()->winId();
    // 316 x 185 card, 20 in from B's right and bottom edges.
    const QRect card(3840 - 20 - 316, 1080 - 20 - 185, 316, 185);
    ASSERT_TRUE(waitUntil([&] { return x.viewable(id) && x.geometry(id) == card; }, 3000)) << x.geometry(id).x();
    // No compositing manager: the card's margin shows its colour, not a darkened one.
    const quint32 colour = controller.window()->palette().color(QPalette::Window).rgb() & 0xFFFFFFu;
    EXPECT_TRUE(waitUntil([&] { return x.pixel(card.x() + 150, card.y() + 3) == colour; }, 2000));

    // Once the drag runs its own loop, the next capture replaces the card; then the button comes up.
    auto xdotool = [](const QString& arguments) { QProcess::execute("xdotool", arguments.split(' ')); };
    ThumbnailView* first = controller.view();
    bool replaced = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (replaced || !controller.window()->findChild<QDrag*>())
            return;
        replaced = true;
        controller.show(capture(Qt::blue, QSize(800, 600)));
        QTimer::singleShot(200, [&] { xdotool(QString("mousemove %1 %2 mouseup 1").arg(card.left() - 300).arg(card.top() - 200)); });
    });
    watch.start(10);
    xdotool(QString("mousemove %1 %2").arg(card.center().x()).arg(card.center().y()));
    spinFor(100);
    xdotool("mousedown 1");
    for (int step = 1; step <= 8; ++step) {
        spinFor(20);
        xdotool(QString("mousemove %1 %2").arg(card.center().x() - step * 30).arg(card.center().y()));
    }
    ASSERT_TRUE(waitUntil([&] { return replaced; }, 5000));
    // A drag whose source went away would never finish, and the app would hang in its loop.
    EXPECT_TRUE(waitUntil([&] { return !controller.window()->findChild<QDrag*>(); }, 3000));
    EXPECT_NE(controller.view(), first);
    controller.hide();
    EXPECT_TRUE(waitUntil([&] { return !x.viewable(id); }, 3000));
}

class LeavingTheDesktopSettings : public SettingsFixture {};

TEST_F(LeavingTheDesktopSettings, BringsOnboardingAndTheSettingsWindowBackToTheFront) {
    XClient x;
    const xcb_window_t settingsProgram = x.window("pavucontrol"), editor = x.window("gedit"), term = x.window("xterm");
    x.activate(XCB_NONE);  // no window is active yet
    std::vector<QString> activated, deactivated;
    using Event = platform::Workspace::ApplicationEvent;
    const auto tokens = {platform::Workspace::addApplicationObserver(
                             Event::didActivate, [&](const auto& app) { activated.push_back(app.bundleIdentifier); }),
                         platform::Workspace::addApplicationObserver(
                             Event::didDeactivate, [&](const auto& app) { deactivated.push_back(app.bundleIdentifier); })};
    // As the window manager announces it when the user switches windows.
    const auto switchTo = [&](xcb_window_t w, const char* wmClass) {
        x.activate(w);
        ASSERT_TRUE(waitUntil([&] { return !activated.empty() && activated.back() == wmClass; }));
    };

    OnboardingView::Environment env;
    env.preflightScreenCapture = env.isAccessibilityTrusted = env.hasMicrophonePermission = [] { return false; };
    OnboardingWindowController onboarding(env, [] {});
    // A window manager that lists windows in a taskbar answers that the application now has an entry.
    const xcb_atom_t skipTaskbar = x.atom("_NET_WM_STATE_SKIP_TASKBAR"), supported = x.atom("_NET_SUPPORTED");
    xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, x.root, supported, XCB_ATOM_ATOM, 32, 1, &skipTaskbar);
    x.sync();
    EXPECT_EQ(printedBy([&] { onboarding.show([] {}); }, 0),
              std::vector<std::string>{"[Zentola] setActivationPolicy(.regular) returned: true"});
    xcb_delete_property(x.c, x.root, supported);
    ASSERT_TRUE(waitUntil([&] { return x.viewable(onboarding.window()->winId()); }));
    switchTo(settingsProgram, "pavucontrol");
    // The user leaves the settings program for another one.
    EXPECT_EQ(printedBy([&] {
                  switchTo(editor, "gedit");
                  EXPECT_TRUE(waitUntil([&] { return x.focus() == onboarding.window()->winId(); }));
              }),
              std::vector<std::string>{"[Zentola] System Settings deactivated, activating ourselves"});
    EXPECT_EQ(deactivated, (std::vector<QString>{"pavucontrol"}));
    onboarding.hide();

    // The Video tab: a refused microphone source opens the desktop's sound settings.
    QWidget window;
    window.setWindowTitle("Settings");
    VideoSettingsContent page(*persistence, *permissions, [] { return 2; }, &window);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return x.viewable(window.winId()); }));
    microphoneStatus = 2;
    permissions->checkMicrophonePermission();
    choose(page.audioPicker(), "Both");
    EXPECT_EQ(settingsOpened, 1);
    switchTo(term, "xterm");  // another program losing the window is no reason to come back
    spinFor(300);
    EXPECT_EQ(x.focus(), term);
    switchTo(settingsProgram, "pavucontrol");
    switchTo(editor, "gedit");
    EXPECT_TRUE(waitUntil([&] { return x.focus() == window.winId(); }));
    for (auto token : tokens)
        platform::Workspace::removeApplicationObserver(token);
}
