#include "Features/MenuBar/MenuBarController.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace zentola;

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
    void SetUp() override { make(); }

    void make() {
        MenuBarController::Environment env;
        env.recordingState = [this] { return state; };
        env.recordingDuration = [this] { return duration; };
        env.isOverlayVisible = [this] { return overlay; };
        env.hasScreenRecordingPermission = [this] { return permission; };
        env.showSettings = [this] { calls.push_back("settings"); };
        env.showAbout = [this] { calls.push_back("about"); };
        env.observeRecordingState = [this](QObject*, std::function<void(RecordingState)> fn) { deliver = fn; };
        env.now = [this] { return now; };
        env.image = [this](const QString& name) -> std::optional<QImage> {
            if (name == "menubar-lips" && !lipsAvailable)
                return std::nullopt;
            return glyph();
        };
        env.isDarkAppearance = [this] { return dark; };
        controller.reset();
        controller = std::make_unique<MenuBarController>(
            [this] { calls.push_back("capture"); }, [this] { calls.push_back("cancel"); },
            [this] { calls.push_back("stop"); }, [this] { calls.push_back("quit"); }, env);
        QCoreApplication::processEvents();  // the first state delivery
    }

    struct Item {
        QString text;
        QKeySequence keys;
        bool enabled;
        friend bool operator==(const Item&, const Item&) = default;
    };
    friend std::ostream& operator<<(std::ostream& os, const Item& i) {
        return os << i.text.toStdString() << "|" << i.keys.toString().toStdString() << "|" << i.enabled;
    }

    std::vector<Item> items() {
        controller->buildMenu();
        std::vector<Item> out;
        for (QAction* a : controller->menu()->actions())
            out.push_back({a->isSeparator() ? QString("---") : a->text(), a->shortcut(), a->isEnabled()});
        return out;
    }

    QAction* action(const QString& text) {
        for (QAction* a : controller->menu()->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }

    RecordingState state = RecordingState::idle;
    double duration = 0;
    bool overlay = false;
    bool permission = true;
    bool dark = false;
    bool lipsAvailable = true;
    double now = 100;
    std::function<void(RecordingState)> deliver;
    std::vector<std::string> calls;
    std::unique_ptr<MenuBarController> controller;
};

const QKeySequence ctrlShift6(Qt::CTRL | Qt::SHIFT | Qt::Key_6);
const QKeySequence ctrlComma(Qt::CTRL | Qt::Key_Comma);
const QKeySequence ctrlQ(Qt::CTRL | Qt::Key_Q);
const bool on = true, off = false;

TEST_F(MenuBar, IdleMenuOffersCaptureSettingsAboutAndQuit) {
    EXPECT_EQ(items(), (std::vector<Item>{{"Ready", {}, off},
                                          {"---", {}, on},
                                          {"Capture Screen", ctrlShift6, on},
                                          {"---", {}, on},
                                          {"Settings...", ctrlComma, on},
                                          {"About Zentola", {}, on},
                                          {"---", {}, on},
                                          {"Quit Zentola", ctrlQ, on}}));
    permission = false;
    const auto noPermission = items();
    EXPECT_EQ(noPermission[0], (Item{"\u26A0 Setup Required", {}, off}));
    EXPECT_EQ(noPermission[2], (Item{"Capture Screen", ctrlShift6, off}));
}

TEST_F(MenuBar, OverlayAndRecordingReplaceTheCaptureItem) {
    overlay = true;
    auto menu = items();
    EXPECT_EQ(menu[0].text, "Capture in Progress...");
    EXPECT_EQ(menu[2], (Item{"Cancel Capture", QKeySequence(Qt::CTRL | Qt::Key_Escape), on}));

    state = RecordingState::recording;  // recording wins over the overlay
    duration = 61.5;
    menu = items();
    EXPECT_EQ(menu[0].text, "Recording... (1:01)");
    EXPECT_EQ(menu[2], (Item{"Stop Recording", ctrlShift6, on}));
    EXPECT_EQ(menu[4], (Item{"Settings...", ctrlComma, off}));
    EXPECT_EQ(menu[7], (Item{"Quit Zentola", ctrlQ, off}));
    EXPECT_EQ(menu.size(), 8u);
}

TEST_F(MenuBar, RecordingTitleCountsWholeSecondsAndNeverFoldsHours) {
    EXPECT_EQ(MenuBarController::recordingTitle(0.9), "Recording... (0:00)");
    EXPECT_EQ(MenuBarController::recordingTitle(600), "Recording... (10:00)");
    EXPECT_EQ(MenuBarController::recordingTitle(3725), "Recording... (62:05)");
    EXPECT_EQ(MenuBarController::recordingTitle(std::nan("")), "Recording... (0:00)");
}

TEST_F(MenuBar, MenuCommandsReachTheirCallbacks) {
    items();
    for (const char* title : {"Capture Screen", "Settings...", "About Zentola", "Quit Zentola"})
        action(title)->trigger();
    overlay = true;
    items();
    action("Cancel Capture")->trigger();
    state = RecordingState::recording;
    items();
    action("Stop Recording")->trigger();
    EXPECT_EQ(calls, (std::vector<std::string>{"capture", "settings", "about", "quit", "cancel", "stop"}));
}

TEST_F(MenuBar, LeftClickWhileRecordingStopsWithoutAMenu) {
    state = RecordingState::recording;
    QMenu* before = controller->menu();
    controller->statusItemClicked(true);
    EXPECT_EQ(calls, std::vector<std::string>{"stop"});
    EXPECT_EQ(controller->menu(), before);

    controller->statusItemClicked(false);  // right click: the menu, with Stop Recording in it
    EXPECT_EQ(calls.size(), 1u);
    ASSERT_NE(controller->menu(), before);
    EXPECT_EQ(controller->menu()->actions().at(2)->text(), "Stop Recording");
    controller->menu()->close();

    state = RecordingState::idle;
    before = controller->menu();
    controller->statusItemClicked(true);
    EXPECT_NE(controller->menu(), before);
    EXPECT_EQ(calls.size(), 1u);
    controller->menu()->close();
}

TEST_F(MenuBar, PulseFollowsElapsedTimeNotTicks) {
    state = RecordingState::recording;
    controller->startPulsingIcon();
    for (int i = 1; i <= 78; ++i) {  // regular ticks for 2.6 s
        now = 100 + i / 30.0;
        controller->animatePulse();
        if (i == 45) {
            EXPECT_NEAR(controller->pulsePhase(), 1.5 * pi, 1e-9);
        }
    }
    EXPECT_NEAR(controller->pulsePhase(), 0.6 * pi, 1e-9);

    controller->startPulsingIcon();
    now += 2.5;
    controller->animatePulse();
    EXPECT_NEAR(controller->pulsePhase(), 0.5 * pi, 1e-9);
    controller->startPulsingIcon();
    now += 5;
    controller->animatePulse();
    EXPECT_NEAR(controller->pulsePhase(), 3 * pi, 1e-9);  // 2π comes off once per step
}

TEST_F(MenuBar, RecordingIconTintsBaseAndLipsForTheAppearance) {
    const auto at = [](double phase, bool dark) {
        return MenuBarController::recordingIcon(glyph(), glyph(), phase, dark)->pixelColor(0, 0);
    };
    // The lips are drawn over the base, so the covered pixel shows the lips colour.
    EXPECT_EQ(at(1.5 * pi, false), QColor(0, 0, 0));      // t = 0
    EXPECT_EQ(at(0.5 * pi, false), QColor(255, 0, 0));    // t = 1
    EXPECT_EQ(at(0.5 * pi, true), QColor(255, 0, 0));
    EXPECT_EQ(at(1.5 * pi, true), QColor(255, 255, 255));
    const QImage icon = *MenuBarController::recordingIcon(glyph(), glyph(), 0, true);
    EXPECT_EQ(icon.pixelColor(1, 0).alpha(), 0);  // no coverage stays clear
    EXPECT_FALSE(MenuBarController::recordingIcon(glyph(), std::nullopt, 0, true));
}

TEST_F(MenuBar, StateChangesStartAndStopThePulse) {
    ASSERT_TRUE(deliver);
    EXPECT_EQ(controller->pulseTimer(), nullptr);
    state = RecordingState::recording;
    deliver(RecordingState::recording);
    ASSERT_NE(controller->pulseTimer(), nullptr);
    EXPECT_TRUE(controller->pulseTimer()->isActive());
    EXPECT_EQ(controller->pulseTimer()->interval(), 1000 / 30);
    // Drawn at once at phase 0: half-way to red.
    EXPECT_NEAR(controller->currentIcon().pixelColor(0, 0).red(), 128, 1);
    EXPECT_EQ(controller->currentIcon().pixelColor(0, 0).green(), 0);

    now += 0.5;
    controller->animatePulse();
    state = RecordingState::stopping;
    deliver(RecordingState::stopping);
    EXPECT_EQ(controller->pulseTimer(), nullptr);
    EXPECT_EQ(controller->pulsePhase(), 0);
    EXPECT_EQ(controller->currentIcon().pixelColor(0, 0), QColor(0, 0, 0));  // the plain glyph again
}

}  // namespace
