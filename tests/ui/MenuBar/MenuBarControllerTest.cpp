#include "Features/MenuBar/MenuBarController.h"
#include "platform/input/KeyCodeTable.h"
#include "support/Printed.h"

#include <QApplication>
#include <QKeyEvent>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <numbers>

using namespace zentola;
using Calls = std::vector<std::string>;

namespace {

constexpr double pi = std::numbers::pi;

// A 2×1 glyph: the left pixel opaque, the right one clear.
QImage glyph() {
    QImage image(2, 1, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setPixelColor(0, 0, QColor(10, 200, 30));
    return image;
}

class MenuBar : public testing::Test {
protected:
    void SetUp() override {
        MenuBarController::Environment env;
        env.recordingState = [this] { return state; };
        env.recordingDuration = [this] { return duration; };
        env.isOverlayVisible = [this] { return overlay; };
        env.hasScreenRecordingPermission = [this] { return permission; };
        env.showSettings = [this] { calls.push_back("settings"); };
        env.showAbout = [this] { calls.push_back("about"); };
        env.observeRecordingState = [this](QObject*, std::function<void(RecordingState)> fn) { deliver = fn; };
        env.now = [this] { return now; };
        env.image = [this](const QString&) { return image; };
        env.isDarkAppearance = [this](const QRect&) { return trayDark; };
        env.isDarkApplication = [this] { return dark; };
        env.isSystemTrayAvailable = [] { return false; };
        setUpLog = printedBy([&] {  // with the first state delivery
            controller = std::make_unique<MenuBarController>(
                [this] { calls.push_back("capture"); }, [this] { calls.push_back("cancel"); },
                [this] { calls.push_back("stop"); }, [this] { calls.push_back("quit"); }, env);
        });
    }

    // The menu as "title|keys|enabled" lines.
    QStringList items() {
        controller->buildMenu();
        QStringList out;
        for (QAction* a : controller->menu()->actions())
            out << (a->isSeparator() ? "---" : a->text() + "|" + a->shortcut().toString() + "|" + (a->isEnabled() ? "on" : "off"));
        return out;
    }
    void trigger(const QString& text) {
        for (QAction* a : controller->menu()->actions())
            if (a->text() == text)
                a->trigger();
    }

    RecordingState state = RecordingState::idle;
    double duration = 0, now = 100;
    bool overlay = false, permission = true, dark = false;
    std::optional<bool> trayDark;  // unknown: the tray neither tells nor shows its colour
    std::optional<QImage> image = glyph();
    std::function<void(RecordingState)> deliver;
    Calls calls;
    std::vector<std::string> setUpLog;
    std::unique_ptr<MenuBarController> controller;
};

TEST_F(MenuBar, MenuFollowsPermissionOverlayAndRecordingAndReachesItsCallbacks) {
    EXPECT_EQ(setUpLog, std::vector<std::string>{"[Zentola] No system tray is available, so Zentola shows no icon; its shortcuts still work"});
    EXPECT_EQ(items(), (QStringList{"Ready||off", "---", "Capture Screen|Ctrl+Shift+6|on", "---", "Settings...|Ctrl+,|on",
                                    "About Zentola||on", "---", "Quit Zentola|Ctrl+Q|on"}));
    for (const char* title : {"Capture Screen", "Settings...", "About Zentola", "Quit Zentola"})
        trigger(title);
    permission = false;
    EXPECT_EQ(items().mid(0, 3), (QStringList{"\u26A0 Setup Required||off", "---", "Capture Screen|Ctrl+Shift+6|off"}));
    overlay = true;
    EXPECT_EQ(items().mid(0, 3), (QStringList{"Capture in Progress...||off", "---", "Cancel Capture|Ctrl+Esc|on"}));
    trigger("Cancel Capture");
    state = RecordingState::recording;  // recording wins over the overlay
    duration = 61.5;
    EXPECT_EQ(items(), (QStringList{"Recording... (1:01)||off", "---", "Stop Recording|Ctrl+Shift+6|on", "---",
                                    "Settings...|Ctrl+,|off", "About Zentola||on", "---", "Quit Zentola|Ctrl+Q|off"}));
    trigger("Stop Recording");
    EXPECT_EQ(calls, (Calls{"capture", "settings", "about", "quit", "cancel", "stop"}));
    for (auto [seconds, text] : {std::pair{0.9, "(0:00)"}, {600.0, "(10:00)"}, {3725.0, "(62:05)"}, {NAN, "(0:00)"}})
        EXPECT_EQ(MenuBarController::recordingTitle(seconds), QString("Recording... ") + text);
}

TEST_F(MenuBar, TheKeysShownInTheOpenMenuWork_OnlyOnItemsThatAreEnabled) {
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        controller->statusItemClicked(false);
        QMenu* menu = controller->menu();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(menu));
        QTest::keyClick(menu, key, modifiers);
        const bool closed = !menu->isVisible();
        menu->close();
        return closed;
    };
    EXPECT_TRUE(press(Qt::Key_Comma, Qt::ControlModifier));
    EXPECT_TRUE(press(Qt::Key_Q, Qt::ControlModifier));
    {  // Ctrl+Shift+6 as the X server delivers it: the 6 key, named by its shifted character
        controller->statusItemClicked(false);
        QMenu* menu = controller->menu();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(menu));
        const auto six = platform::KeyCodeTable::xKeycodeFromVirtual(22);
        ASSERT_TRUE(six.has_value());
        QKeyEvent event(QEvent::KeyPress, Qt::Key_AsciiCircum, Qt::ControlModifier | Qt::ShiftModifier,
                        quint32(*six), 0x5e, 0, QStringLiteral("^"));
        QApplication::sendEvent(menu, &event);
        EXPECT_FALSE(menu->isVisible());
        menu->close();
    }
    overlay = true;
    EXPECT_TRUE(press(Qt::Key_Escape, Qt::ControlModifier));
    EXPECT_EQ(calls, (Calls{"settings", "quit", "capture", "cancel"}));
    state = RecordingState::recording;  // Settings and Quit are disabled now
    calls.clear();
    press(Qt::Key_Comma, Qt::ControlModifier);
    press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(calls, Calls{});
}

TEST_F(MenuBar, LeftClickWhileRecordingStopsWithoutAMenu) {
    state = RecordingState::recording;
    QMenu* before = controller->menu();
    controller->statusItemClicked(true);
    EXPECT_EQ(calls, Calls{"stop"});
    EXPECT_EQ(controller->menu(), before);
    controller->statusItemClicked(false);  // right click: the menu, with Stop Recording in it
    ASSERT_NE(controller->menu(), before);
    EXPECT_EQ(controller->menu()->actions().at(2)->text(), "Stop Recording");
    controller->menu()->close();
    state = RecordingState::idle;
    controller->statusItemClicked(true);
    EXPECT_EQ(calls, Calls{"stop"});
    controller->menu()->close();
}

TEST_F(MenuBar, PulseFollowsElapsedTimeAndTheRecordingState) {
    state = RecordingState::recording;
    deliver(state);
    ASSERT_NE(controller->pulseTimer(), nullptr);
    EXPECT_EQ(controller->pulseTimer()->interval(), 1000 / 30);
    // π per second of elapsed time, however irregular the ticks; 2π comes off once per step.
    for (auto [restart, gap, phase] : {std::tuple{true, 1.5, 1.5 * pi}, {false, 1.1, 0.6 * pi}, {true, 5.0, 3 * pi}}) {
        if (restart)
            controller->startPulsingIcon();
        now += gap;
        controller->animatePulse();
        EXPECT_NEAR(controller->pulsePhase(), phase, 1e-9);
    }
    state = RecordingState::stopping;
    deliver(state);
    EXPECT_EQ(controller->pulseTimer(), nullptr);
    EXPECT_EQ(controller->pulsePhase(), 0);
    EXPECT_EQ(controller->currentIcon().pixelColor(0, 0), QColor(0, 0, 0));  // the plain glyph again
}

struct Tray {
    const char* name;
    std::optional<bool> dark;  // none: unknown
    bool applicationDark;
};

class Panels : public MenuBar, public testing::WithParamInterface<Tray> {};

// A panel of known colour gets the glyph in the colour that stands out on it, and nothing else; one
// of unknown colour gets a glyph with a ring, which stands out on either.
TEST_P(Panels, IdleAndRecordingIconsStandOutOnThePanelTheyAreOn) {
    trayDark = GetParam().dark;
    dark = GetParam().applicationDark;
    QImage big(64, 64, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    QPainter(&big).fillRect(24, 8, 6, 48, Qt::black);
    image = big;
    const QColor darkPanel(0x20, 0x20, 0x20), lightPanel(0xf0, 0xf0, 0xf0);
    std::vector<QColor> panels = {darkPanel, lightPanel};
    if (trayDark)
        panels = {*trayDark ? darkPanel : lightPanel};
    for (bool recording : {false, true}) {
        state = recording ? RecordingState::recording : RecordingState::idle;
        deliver(state);
        for (QColor panel : panels) {
            QImage shown(64, 64, QImage::Format_ARGB32_Premultiplied);
            shown.fill(panel);
            QPainter(&shown).drawImage(0, 0, controller->currentIcon());
            int standsOut = 0, otherWay = 0;
            for (int x = 0; x < 64; ++x) {
                const int difference = qGray(shown.pixel(x, 32)) - panel.lightness();
                const int outward = panel == darkPanel ? difference : -difference;
                standsOut = std::max(standsOut, outward);
                otherWay = std::max(otherWay, -outward);
            }
            EXPECT_GE(standsOut, 120) << panel.name().toStdString() << recording;
            if (trayDark) {  // no ring of the panel's own kind blurring the glyph
                EXPECT_LE(otherWay, 0) << panel.name().toStdString() << recording;
            }
        }
    }
    // The lips swing between the base colour and red; without them nothing is drawn.
    const auto lips = [&](double phase) { return MenuBarController::recordingIcon(glyph(), glyph(), phase, dark)->pixelColor(0, 0); };
    EXPECT_EQ(lips(0.5 * pi), QColor(255, 0, 0));
    EXPECT_EQ(lips(1.5 * pi), dark ? QColor(255, 255, 255) : QColor(0, 0, 0));
    EXPECT_FALSE(MenuBarController::recordingIcon(glyph(), std::nullopt, 0, dark));
}

INSTANTIATE_TEST_SUITE_P(TrayColours, Panels,
                         testing::Values(Tray{"DarkTrayLightApplication", true, false},
                                         Tray{"LightTrayDarkApplication", false, true},
                                         Tray{"UnknownTrayLightApplication", std::nullopt, false},
                                         Tray{"UnknownTrayDarkApplication", std::nullopt, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
