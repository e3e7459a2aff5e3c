#include "App/AppState.h"
#include "Features/Capture/WindowEnumerator.h"
#include "Features/Overlay/ControlBarView.h"
#include "Features/Overlay/CountdownWindowController.h"
#include "Features/Overlay/KeyablePanel.h"
#include "Features/Overlay/OverlayView.h"
#include "Features/Overlay/OverlayWindowController.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "Services/PersistenceManager.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/desktop/Compositor.h"
#include "platform/display/Screen.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "support/WaitUntil.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>


#include <algorithm>
#include <memory>
#include <set>

using namespace zentola;

namespace {

bool run(const QString& program, const QStringList& arguments) { return QProcess::execute(program, arguments) == 0; }

// An xcb reply, freed when it goes.
template <typename T>
std::unique_ptr<T, void (*)(void*)> reply(T* r) { return {r, free}; }

// Another X client: presses keys with XTest, reads what the server shows and holds.
struct XClient {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ~XClient() { xcb_disconnect(c); }
    void sync() { reply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    // The key with that X key code (9: Escape, 36: Return on the test server's keymap), now.
    void key(xcb_keycode_t code) {
        xcb_test_fake_input(c, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        sync();
    }
    QImage screen() {
        auto r = reply(xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 3840, 1080, ~0u), nullptr));
        return r ? QImage(xcb_get_image_data(r.get()), 3840, 1080, QImage::Format_RGB32).copy() : QImage();
    }
    bool viewable(xcb_window_t w) {
        auto r = reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    std::set<xcb_atom_t> rootProperties() {
        auto r = reply(xcb_list_properties_reply(c, xcb_list_properties(c, root), nullptr));
        return {xcb_list_properties_atoms(r.get()), xcb_list_properties_atoms(r.get()) + xcb_list_properties_atoms_length(r.get())};
    }
};

bool near(QRgb actual, QRgb expected, int tolerance = 3) {
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance && std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

class OverlayIntegrationTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    PersistenceManager& settings = PersistenceManager::shared();
    AppState& state = AppState::shared();
    XClient x;
    // The desktop's own colour, and under black at 0.3 and 0.4.
    static constexpr QRgb background = 0x2d6a4f;
    static QRgb dimmed(double opacity) {
        return qRgb(qRound(qRed(background) * (1 - opacity)), qRound(qGreen(background) * (1 - opacity)),
                    qRound(qBlue(background) * (1 - opacity)));
    }

    void SetUp() override {
        ASSERT_EQ(platform::Screen::screens().size(), 2u);
        ASSERT_FALSE(platform::Compositor::isRunning());
        settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(folder.path()));
        settings.setSaveFormat(PersistenceManager::ImageFormat::png);
        settings.setPlaySounds(false);
        settings.setCopyToClipboard(false);
        settings.setShowFlash(false);
        state.setCaptureType(CaptureType::photo);
        run("xsetroot", {"-solid", "#2d6a4f"});
    }
    void TearDown() override {
        run("xsetroot", {"-def"});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static void pointerTo(int px, int py) {
        run("xdotool", {"mousemove", QString::number(px), QString::number(py)});
        spinFor(50);
    }
    static void showAndWait(OverlayWindowController& controller) {
        controller.show();
        // Counted as up at once; shown once the desktop's picture is taken.
        ASSERT_TRUE(waitUntil([&] {
            return !controller.panels().empty() &&
                   std::all_of(controller.panels().begin(), controller.panels().end(),
                               [](const auto& entry) { return entry.second && entry.second->isOnScreen(); });
        }));
        for (const auto& [screen, panel] : controller.panels())
            ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.data()));
        spinFor(200);  // painted and on the screen
    }
    QImage screenshotOnceWritten() {
        QImage shot;
        EXPECT_TRUE(waitUntil([&] {
            const auto files = QDir(folder.path()).entryList({"*.png"}, QDir::Files);
            return files.size() == 1 && shot.load(folder.filePath(files.front()));
        }, 15000));
        return shot;
    }
};

TEST_F(OverlayIntegrationTest, PanelsCoverEachMonitorWithTheDesktopBeneathTheVeil_TheKeysAndShortcutsArriveOnce) {
    pointerTo(2500, 400);
    state.setMode(CaptureMode::rect);
    state.updateSelectionRect(QRectF(200, 150, 400, 300), platform::Screen::screens().front());
    OverlayWindowController controller(state);
    showAndWait(controller);
    for (const auto& [screen, panel] : controller.panels())
        EXPECT_EQ(panel->geometry(), screen->nativeGeometry());
    EXPECT_TRUE(state.activeScreen()->name() == "B" && QWidget::keyboardGrabber() == controller.panels().at(state.activeScreen()).data());
    // What the X server shows: the selection clear, dimmed around it, B untouched.
    const QImage root = x.screen();
    for (const auto& [at, expected] : {std::pair(QPoint(50, 50), dimmed(0.3)), {QPoint(1800, 1000), dimmed(0.3)},
                                       {QPoint(400, 300), background}, {QPoint(2880, 540), background}})
        EXPECT_TRUE(near(root.pixel(at), expected)) << at.x() << ": " << std::hex << root.pixel(at);
    std::set<quint32> panels;
    for (const auto& [screen, panel] : controller.panels())
        panels.insert(quint32(panel->winId()));
    x.key(9);
    ASSERT_TRUE(waitUntil([&] { return !controller.hasPanels(); }));
    // Kept mapped out of sight, the panels neither show nor are a window to pick.
    EXPECT_TRUE(waitUntil([&] { return near(x.screen().pixel(50, 50), background); }));
    for (quint32 panel : panels)
        EXPECT_TRUE(x.viewable(panel));
    for (const WindowInfo& window : WindowEnumerator::shared().getWindows())
        EXPECT_EQ(panels.count(window.id), 0u);

    // A global shortcut pressed while the overlay holds the keyboard still arrives, once.
    int downs = 0, ups = 0;
    GlobalShortcuts::SystemGlobalShortcuts::registerShortcut(
        GlobalShortcuts::Shortcut(22, 0x100 | 0x200), [&](const GlobalShortcuts::Shortcut&) { ++downs; },
        [&](const GlobalShortcuts::Shortcut&) { ++ups, controller.hide(); });
    showAndWait(controller);
    run("xdotool", {"key", "ctrl+shift+6"});
    ASSERT_TRUE(waitUntil([&] { return !controller.hasPanels(); }));
    spinFor(200);
    EXPECT_TRUE(downs == 1 && ups == 1);
    GlobalShortcuts::resetForTesting();
}

TEST_F(OverlayIntegrationTest, KeysPressedTheMomentTheOverlayIsAskedForAreItsOwn) {
    pointerTo(300, 900);
    state.setMode(CaptureMode::screen);
    OverlayWindowController controller(state);
    controller.show();
    x.key(9);  // before the panels can be up
    spinFor(500);
    EXPECT_FALSE(controller.hasPanels() || state.isOverlayVisible() || QWidget::keyboardGrabber());

    // Return the same way: the display under the pointer is captured, without the overlay.
    controller.show();
    x.key(36);
    const QImage shot = screenshotOnceWritten();
    EXPECT_TRUE(shot.size() == QSize(1920, 1080) && near(shot.pixel(960, 540), background, 0) && near(shot.pixel(1, 500), background, 0));
}

TEST_F(OverlayIntegrationTest, AMonitorRemovedWhileTheOverlayShowsHandsTheBarAndKeysToOneThatStays) {
    pointerTo(2500, 400);
    state.setMode(CaptureMode::screen);
    OverlayWindowController controller(state);
    showAndWait(controller);
    ASSERT_EQ(state.activeScreen()->name(), QStringLiteral("B"));
    ASSERT_TRUE(run("xrandr", {"--delmonitor", "B"}));
    const bool followed = waitUntil([&] { return controller.panels().size() == 1; });
    const platform::ScreenRef a = platform::Screen::screens().front();
    if (followed) {
        EXPECT_TRUE(state.activeScreen() == a && controller.panels().at(a)->contentView()->controlBar());
        EXPECT_TRUE(waitUntil([&] { return QWidget::keyboardGrabber() == controller.panels().at(a).data(); }));
        x.key(36);
    }
    const QImage shot = followed ? screenshotOnceWritten() : QImage();
    run("xrandr", {"--setmonitor", "B", "1920/508x1080/286+1920+0", "none"});
    ASSERT_TRUE(followed);
    EXPECT_TRUE(shot.size() == QSize(1920, 1080) && waitUntil([] { return platform::Screen::screens().size() == 2; }));
}

TEST_F(OverlayIntegrationTest, WithoutACompositorTheCountdownDimsTheDesktopOverTheWholeMonitor) {
    CountdownWindowController::Environment env = CountdownWindowController::Environment::system();
    env.recordingCountdown = [] { return 2; };
    env.playSounds = [] { return false; };
    env.step = std::chrono::milliseconds(400);
    CountdownWindowController countdown(env);
    bool done = false;
    countdown.showCountdown(platform::Screen::screens().at(1), [&] { done = true; });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(countdown.window()));
    spinFor(100);
    const QImage root = x.screen();
    for (QPoint at : {QPoint(1930, 10), QPoint(3830, 1070)})
        EXPECT_TRUE(near(root.pixel(at), dimmed(0.4))) << at.x() << ": " << std::hex << root.pixel(at);
    EXPECT_TRUE(near(root.pixel(10, 10), background));
    ASSERT_TRUE(waitUntil([&] { return done; }));
}

// Without a compositor the overlay paints the desktop's picture beneath its veil; a countdown still
// up when it opens (the overlay shortcut pressed during it) is ours and is not in that picture.
TEST_F(OverlayIntegrationTest, TheOverlayOpenedDuringTheCountdownShowsTheDesktopWithoutIt) {
    pointerTo(300, 300);
    state.setMode(CaptureMode::screen);
    CountdownWindowController::Environment env = CountdownWindowController::Environment::system();
    env.recordingCountdown = [] { return 3; };
    env.playSounds = [] { return false; };
    env.step = std::chrono::seconds(20);
    CountdownWindowController countdown(env);
    const platform::ScreenRef a = platform::Screen::screens().front();
    countdown.showCountdown(a, [] {});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(countdown.window()));
    ASSERT_TRUE(waitUntil([&] { return near(x.screen().pixel(100, 100), dimmed(0.4)); }));

    OverlayWindowController controller(state);
    showAndWait(controller);
    ASSERT_EQ(state.activeScreen(), a);
    const platform::BitmapRef beneath = controller.panels().at(a)->contentView()->snapshot();
    ASSERT_TRUE(beneath);
    int other = 0;
    for (int y = 0; y < beneath->height(); ++y)
        for (int i = 0; i < beneath->width(); ++i) {
            const std::uint8_t* p = beneath->row(y) + i * 4;
            other += qRgb(p[2], p[1], p[0]) != (background | 0xff000000u);
        }
    EXPECT_EQ(other, 0) << "pixels of the desktop's picture that are not the desktop";
    // On the screen: the active display is not veiled, so the desktop shows as it is, without the
    // countdown's dimming or its number at the centre.
    const QImage root = x.screen();
    EXPECT_TRUE(near(root.pixel(100, 100), background)) << std::hex << root.pixel(100, 100);
    int light = 0;
    for (int y = 340; y < 740; ++y)
        for (int i = 760; i < 1160; ++i)
            light += qGray(root.pixel(i, y)) > 160;
    EXPECT_EQ(light, 0) << "light pixels at the centre";
    controller.hide();
}

TEST_F(OverlayIntegrationTest, TheCardStaysOnEveryWorkspaceOfAWindowManager) {
    const std::set<xcb_atom_t> before = x.rootProperties();
    QProcess windowManager;
    windowManager.start("openbox", {});
    ASSERT_TRUE(waitUntil([&] { return x.rootProperties().size() > before.size() + 5; }));
    spinFor(300);
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::magenta);
    ThumbnailWindowController thumbnail;
    thumbnail.show({platform::Image(platform::Bitmap::fromQImage(picture)), {}, CaptureMode::screen, nullptr, std::nullopt});
    ASSERT_TRUE(waitUntil([&] { return x.viewable(xcb_window_t(thumbnail.window()->winId())); }));
    for (const char* desktop : {"1", "2", "0"}) {
        run("xdotool", {"set_desktop", desktop});
        spinFor(300);
        EXPECT_TRUE(x.viewable(xcb_window_t(thumbnail.window()->winId()))) << "desktop " << desktop;
    }
    thumbnail.hide();
    windowManager.terminate();
    windowManager.waitForFinished(3000);
    // What it leaves on the root would make the next tests see a window manager.
    for (xcb_atom_t left : x.rootProperties())
        if (!before.count(left))
            xcb_delete_property(x.c, x.root, left);
    x.sync();
}

}  // namespace
