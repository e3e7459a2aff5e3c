#pragma once

#include "App/AppState.h"
#include "Features/Overlay/KeyablePanel.h"
#include "Features/Overlay/OverlayView.h"
#include "Features/Overlay/OverlayWindowController.h"
#include "Services/PersistenceManager.h"
#include "platform/core/Error.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"
#include "support/WaitUntil.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace overlay_test {

using zentola::AppState;
using zentola::OverlayWindowController;

// Two displays side by side, A (number 11, the main one) and B (number 22), a private settings
// store, and an overlay controller whose capture calls are noted instead of run.
class OverlayFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    zentola::PersistenceManager settings{store};
    platform::FakeScreenProvider::Installation screens = platform::FakeScreenProvider::install();
    std::unique_ptr<AppState> state = std::make_unique<AppState>(settings);
    // "pause", "countdown", "capture rect A", "record screen B", ...; "pause shown" if the overlay
    // was still up at the pause.
    std::vector<std::string> calls;
    std::vector<zentola::WindowInfo> windowList;
    int fetches = 0;  // of the window list
    bool failing = false;  // captures and recordings are refused
    bool overtaken = false;  // a recording started by another way ends each countdown
    std::optional<zentola::WindowInfo> lastWindow;
    std::unique_ptr<OverlayWindowController> controller;

    void SetUp() override {
        useDisplays({platform::FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 11),
                     platform::FakeScreenProvider::display("B", QRect(1920, 0, 1920, 1080), 22)});
    }
    void TearDown() override {
        // A press whose release went to a panel already gone must not leave the button down.
        QTestPrivate::qtestMouseButtons = Qt::NoButton;
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void useDisplays(std::vector<platform::Screen::Description> displays, QPointF mouse = QPointF(100, 100)) {
        screens->setDisplays(std::move(displays));
        screens->mouse = mouse;
    }
    platform::ScreenRef display(int index) const { return screens->list.at(index); }

    OverlayWindowController::Environment fakeEnvironment() {
        OverlayWindowController::Environment e;
        auto noted = [this](std::string what) {
            return [this, what](zentola::CaptureMode mode, std::optional<zentola::SelectionRect>,
                                std::optional<zentola::WindowInfo> window, platform::ScreenRef s) -> QCoro::Task<void> {
                if (failing)
                    throw platform::PlatformError("test", 1, "refused");
                lastWindow = window;
                calls.push_back(what + " " + mode.rawValue().toStdString() + (s ? " " + s->name().toStdString() : ""));
                co_return;
            };
        };
        e.performCaptureWorkflow = noted("capture");
        e.startRecording = noted("record");
        e.countdown = [this](platform::ScreenRef) -> QCoro::Task<bool> {
            calls.push_back("countdown");
            co_return !overtaken;
        };
        e.windows = [this] { return ++fetches, windowList; };
        e.pause = [this]() -> QCoro::Task<void> {
            co_return calls.push_back(state->isOverlayVisible() || (controller && controller->hasPanels()) ? "pause shown" : "pause");
        };
        return e;
    }
    OverlayWindowController& showOverlay(OverlayWindowController::Environment env) {
        controller = std::make_unique<OverlayWindowController>(*state, std::move(env));
        controller->show();
        return *controller;
    }
    OverlayWindowController& showOverlay() { return showOverlay(fakeEnvironment()); }

    zentola::KeyablePanel* panel(int index) const { return controller->panels().at(display(index)).data(); }
    zentola::OverlayView* view(int index) const { return panel(index)->contentView(); }
    QWindow* window(int index) const { return panel(index)->windowHandle(); }

    // A display's view as it paints, over transparency.
    QImage picture(int index) const {
        QImage image(view(index)->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view(index)->render(&image);
        return image;
    }

    // Synthesized pointer input on a display's panel, in its local points.
    void mouse(QTest::MouseAction action, int index, QPointF at, Qt::KeyboardModifiers modifiers) {
        const QPoint global = window(index)->mapToGlobal(at.toPoint());
        // The toolkit drops a move to where the pointer already is, even from an earlier test.
        if (action == QTest::MouseMove && global == lastPointer)
            QTest::mouseEvent(action, window(index), Qt::NoButton, modifiers, at.toPoint() + QPoint(1, 1));
        lastPointer = global;
        QTest::mouseEvent(action, window(index), action == QTest::MouseMove ? Qt::NoButton : Qt::LeftButton, modifiers, at.toPoint());
    }
    static inline QPoint lastPointer{-1, -1};
    void press(int index, QPointF at, Qt::KeyboardModifiers modifiers = {}) { mouse(QTest::MousePress, index, at, modifiers); }
    void moveTo(int index, QPointF at, Qt::KeyboardModifiers modifiers = {}) { mouse(QTest::MouseMove, index, at, modifiers); }
    void release(int index, QPointF at, Qt::KeyboardModifiers modifiers = {}) { mouse(QTest::MouseRelease, index, at, modifiers); }
    void click(int index, QPointF at) { press(index, at), release(index, at); }
    // A press, moves in four steps, and a release.
    void drag(int index, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = {}) {
        press(index, from, modifiers);
        for (int i = 1; i <= 4; ++i)
            moveTo(index, from + (to - from) * (i / 4.0), modifiers);
        release(index, to, modifiers);
    }
};

}  // namespace overlay_test
