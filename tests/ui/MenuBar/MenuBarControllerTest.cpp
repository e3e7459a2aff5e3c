#include "Features/MenuBar/MenuBarController.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QTimer>

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
        env.isDarkAppearance = [this] { return dark; };
        env.isSystemTrayAvailable = [] { return false; };
        testing::internal::CaptureStdout();
        controller = std::make_unique<MenuBarController>(
            [this] { calls.push_back("capture"); }, [this] { calls.push_back("cancel"); },
            [this] { calls.push_back("stop"); }, [this] { calls.push_back("quit"); }, env);
        setUpLog = testing::internal::GetCapturedStdout();
        QCoreApplication::processEvents();  // the first state delivery
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
    std::optional<QImage> image = glyph();
    std::function<void(RecordingState)> deliver;
    Calls calls;
    std::string setUpLog;
    std::unique_ptr<MenuBarController> controller;
};

TEST_F(MenuBar, MenuFollowsPermissionOverlayAndRecordingAndReachesItsCallbacks) {
    EXPECT_EQ(setUpLog, "[Zentola] No system tray is available, so Zentola shows no icon; its shortcuts still work\n");
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
    ASSERT_TRUE(deliver);
    state = RecordingState::recording;
    deliver(state);
    ASSERT_NE(controller->pulseTimer(), nullptr);
    EXPECT_EQ(controller->pulseTimer()->interval(), 1000 / 30);
    // Drawn at once at phase 0: half-way to red.
    EXPECT_NEAR(controller->currentIcon().pixelColor(0, 0).red(), 128, 1);
    for (int i = 1; i <= 78; ++i) {  // regular ticks for 2.6 s
        now = 100 + i / 30.0;
        controller->animatePulse();
    }
    EXPECT_NEAR(controller->pulsePhase(), 0.6 * pi, 1e-9);
    for (auto [gap, phase] : {std::pair{2.5, 0.5 * pi}, {5.0, 3 * pi}}) {  // 2π comes off once per step
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

TEST_F(MenuBar, RecordingIconTintsBaseAndLipsForTheAppearance) {
    const auto at = [](double phase, bool dark) {
        return MenuBarController::recordingIcon(glyph(), glyph(), phase, dark)->pixelColor(0, 0);
    };
    // The lips are drawn over the base, so the covered pixel shows the lips colour.
    EXPECT_EQ(at(1.5 * pi, false), QColor(0, 0, 0));  // t = 0
    EXPECT_EQ(at(0.5 * pi, false), QColor(255, 0, 0));
    EXPECT_EQ(at(1.5 * pi, true), QColor(255, 255, 255));
    EXPECT_EQ(MenuBarController::recordingIcon(glyph(), glyph(), 0, true)->pixelColor(1, 0).alpha(), 0);
    EXPECT_FALSE(MenuBarController::recordingIcon(glyph(), std::nullopt, 0, true));
}

class Panels : public MenuBar, public testing::WithParamInterface<bool> {};

TEST_P(Panels, TheGlyphStandsOutOnADarkAndOnALightPanel) {
    dark = GetParam();
    QImage big(64, 64, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    QPainter(&big).fillRect(24, 8, 6, 48, Qt::black);
    image = big;
    controller->stopPulsingIcon();
    for (QColor panel : {QColor(0x20, 0x20, 0x20), QColor(0xf0, 0xf0, 0xf0)}) {
        QImage shown(64, 64, QImage::Format_ARGB32_Premultiplied);
        shown.fill(panel);
        QPainter(&shown).drawImage(0, 0, controller->currentIcon());
        int contrast = 0;
        for (int x = 0; x < 64; ++x)
            contrast = std::max(contrast, std::abs(qGray(shown.pixel(x, 32)) - panel.lightness()));
        EXPECT_GE(contrast, 180) << panel.name().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(ApplicationColours, Panels, testing::Values(false, true));

}  // namespace
