#include "App/AppState.h"
#include "Extensions/ScreenExt.h"
#include "Features/Overlay/KeyablePanel.h"
#include "Features/Overlay/OverlayWindowController.h"
#include "Services/PersistenceManager.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/desktop/Compositor.h"
#include "platform/display/Screen.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "support/WaitUntil.h"

#include <cstdlib>

#include <unistd.h>

using namespace zentola;

namespace {

// A tool's standard output; empty when it could not run.
QString run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

int field(const QString& text, const QString& name) {
    const auto m = QRegularExpression(QRegularExpression::escape(name) + QStringLiteral(":\\s*(-?\\d+)")).match(text);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Where the X server has a window, from outside this process.
QRect serverGeometry(WId id) {
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)});
    return QRect(field(info, "Absolute upper-left X"), field(info, "Absolute upper-left Y"), field(info, "Width"),
                 field(info, "Height"));
}

class OverlayIntegrationTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    PersistenceManager& settings = PersistenceManager::shared();
    // The desktop's own colour under the selection.
    static constexpr QRgb background = 0x2d6a4f;

    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
        ASSERT_EQ(platform::Screen::screens().size(), 2u);
        settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(folder.path()));
        settings.setSaveFormat(PersistenceManager::ImageFormat::png);
        settings.setPlaySounds(false);
        settings.setCopyToClipboard(false);
        settings.setShowFlash(false);
        run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#2d6a4f")});
    }

    void TearDown() override {
        run(QStringLiteral("xsetroot"), {QStringLiteral("-def")});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static void showAndWait(OverlayWindowController& controller) {
        controller.show();
        ASSERT_TRUE(waitUntil([&] { return controller.hasPanels(); }));
        for (const auto& [screen, panel] : controller.panels())
            ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.data()));
        QTest::qWait(200);  // the dimmed veil and the outline are on the screen now
    }

    static void pointerTo(int x, int y) {
        run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(x), QString::number(y)});
        QTest::qWait(50);
    }
};

TEST_F(OverlayIntegrationTest, OnePanelPerMonitorOverItsNativeArea_ThePointersMonitorTakesTheKeys) {
    pointerTo(2500, 400);
    AppState& state = AppState::shared();
    OverlayWindowController controller(state);
    controller.show();
    const auto screens = platform::Screen::screens();
    ASSERT_EQ(controller.panels().size(), 2u);
    // No compositor here: the panels come once the displays' pictures are taken.
    ASSERT_TRUE(waitUntil([&] { return controller.hasPanels(); }));
    for (const auto& screen : screens) {
        KeyablePanel* panel = controller.panels().at(screen).data();
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
        EXPECT_TRUE(waitUntil([&] { return serverGeometry(panel->winId()) == screen->nativeGeometry(); }));
        // Ours to the screen grabs: the window says which process it belongs to.
        const QString pid = run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(panel->winId()),
                                                          QStringLiteral("_NET_WM_PID")});
        EXPECT_TRUE(pid.contains(QString::number(getpid()))) << pid.toStdString();
    }
    EXPECT_EQ(state.activeScreen()->name(), QStringLiteral("B"));
    EXPECT_EQ(QWidget::keyboardGrabber(), controller.panels().at(state.activeScreen()).data());

    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(waitUntil([&] { return !controller.hasPanels(); }));
    EXPECT_FALSE(state.isOverlayVisible());

    // A global shortcut pressed while the overlay holds the keyboard still arrives, once.
    int downs = 0, ups = 0;
    GlobalShortcuts::SystemGlobalShortcuts::registerShortcut(
        GlobalShortcuts::Shortcut(22, 0x100 | 0x200),  // command-shift-6: Ctrl+Shift+6 here
        [&](const GlobalShortcuts::Shortcut&) { ++downs; },
        [&](const GlobalShortcuts::Shortcut&) {
            ++ups;
            controller.hide();
        });
    controller.show();
    ASSERT_TRUE(waitUntil([&] { return controller.hasPanels(); }));
    QTest::qWait(100);
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+shift+6")});
    ASSERT_TRUE(waitUntil([&] { return !controller.hasPanels(); }));
    QTest::qWait(200);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    GlobalShortcuts::resetForTesting();
}

TEST_F(OverlayIntegrationTest, ReturnOnARectangleWritesAScreenshotWithoutTheOverlay) {
    pointerTo(300, 900);
    AppState& state = AppState::shared();
    state.setCaptureType(CaptureType::photo);
    state.setMode(CaptureMode::rect);
    const auto screenA = platform::Screen::screens().front();
    ASSERT_EQ(screenA->name(), QStringLiteral("A"));
    state.updateSelectionRect(QRectF(200, 150, 400, 300), screenA);

    OverlayWindowController controller(state);
    showAndWait(controller);

    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QStringList files;
    QImage shot;
    ASSERT_TRUE(waitUntil(
        [&] {
            files = QDir(folder.path()).entryList({QStringLiteral("*.png")}, QDir::Files);
            return files.size() == 1 && shot.load(folder.filePath(files.front()));
        },
        15000));
    EXPECT_FALSE(controller.hasPanels());
    ASSERT_EQ(shot.size(), QSize(400, 300));
    int foreign = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if ((shot.pixel(x, y) & 0xffffff) != background)
                ++foreign;
    EXPECT_EQ(foreign, 0) << "corner " << std::hex << shot.pixel(0, 0) << ", middle " << shot.pixel(200, 150);
}

TEST_F(OverlayIntegrationTest, WithoutACompositorTheOverlayShowsTheDesktopBeneathItsVeil) {
    ASSERT_FALSE(platform::Compositor::isRunning());
    pointerTo(300, 900);
    AppState& state = AppState::shared();
    state.setCaptureType(CaptureType::photo);
    state.setMode(CaptureMode::rect);
    const auto screenA = platform::Screen::screens().front();
    state.updateSelectionRect(QRectF(200, 150, 400, 300), screenA);

    OverlayWindowController controller(state);
    showAndWait(controller);
    // What the X server shows now, overlay and all, read by a tool of its own.
    const QString file = folder.filePath(QStringLiteral("root.png"));
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    QImage root;
    ASSERT_TRUE(root.load(file));
    ASSERT_EQ(root.size(), QSize(3840, 1080));
    EXPECT_TRUE(controller.hasPanels());
    controller.hide();

    const auto near = [](QRgb actual, QRgb expected) {
        return std::abs(qRed(actual) - qRed(expected)) <= 3 && std::abs(qGreen(actual) - qGreen(expected)) <= 3 &&
               std::abs(qBlue(actual) - qBlue(expected)) <= 3;
    };
    // Black at 0.3 over the desktop around the selection; the desktop itself inside it and on B.
    const QRgb dimmed = qRgb(qRound(qRed(background) * 0.7), qRound(qGreen(background) * 0.7),
                             qRound(qBlue(background) * 0.7));
    const struct {
        QPoint at;
        QRgb expected;
    } probes[] = {{{50, 50}, dimmed},      {{1800, 1000}, dimmed},     {{400, 300}, background},
                  {{210, 160}, background}, {{2880, 540}, background}, {{3830, 1070}, background}};
    for (const auto& probe : probes)
        EXPECT_TRUE(near(root.pixel(probe.at), probe.expected))
            << probe.at.x() << "," << probe.at.y() << ": " << std::hex << root.pixel(probe.at) << " wanted "
            << probe.expected;
}

}  // namespace
