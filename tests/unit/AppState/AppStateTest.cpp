#include "App/AppState.h"

#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace zentola;

namespace {

// Each case gets its own store file.
class AppStateTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
    std::unique_ptr<AppState> state = std::make_unique<AppState>(settings);

    static platform::ScreenRef numbered(quint32 number) {
        return platform::Screen::makeScreens({platform::FakeScreenProvider::display("D", QRect(), number)})[0];
    }
};

}  // namespace

TEST_F(AppStateTest, StartsFromWhatIsRemembered) {
    EXPECT_FALSE(state->isOverlayVisible());
    EXPECT_EQ(state->captureType(), CaptureType::photo);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_FALSE(state->selectionRect() || state->highlightedWindow() || state->activeScreen() ||
                 state->controlBarPosition());
    // Creating the state stores nothing.
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());

    const SelectionRect r{QPointF(120, 80), QSizeF(640, 360), 3};
    store.setString("zentola.lastCaptureMode", "window");
    settings.setSavedRect(r);
    settings.setControlBarPosition(QPointF(400, 60));
    state = std::make_unique<AppState>(settings);
    EXPECT_EQ(state->currentMode(), CaptureMode::window);
    EXPECT_TRUE(state->selectionRect() == r);
    EXPECT_EQ(state->controlBarPosition(), QPointF(400, 60));
}

TEST_F(AppStateTest, ModeAndRectangleAreStoredAtOnceAndSavingRemovesWhatIsGone) {
    state->setMode(CaptureMode::screen);
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), QString("screen"));
    // A display without a number changes nothing; the rectangle is kept as drawn, negative width included.
    state->updateSelectionRect(QRectF(10, 20, 300, 200), numbered(0));
    state->updateSelectionRect(QRectF(10, 20, 300, 200), nullptr);
    EXPECT_FALSE(state->selectionRect() || store.object("zentola.savedRect"));
    state->updateSelectionRect(QRectF(10, 20, -300, 200), numbered(77));
    EXPECT_TRUE((settings.savedRect() == SelectionRect{QPointF(10, 20), QSizeF(-300, 200), 77}));
    EXPECT_TRUE(settings.savedRect() == state->selectionRect());

    // Saving stores the mode again and removes a rectangle or position the state no longer has.
    store.setData("zentola.savedRect", QByteArray("undecodable"));
    settings.setControlBarPosition(QPointF(5, 6));
    state = std::make_unique<AppState>(settings);
    state->setControlBarPosition(std::nullopt);
    store.remove("zentola.lastCaptureMode");
    state->saveState();
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), QString("screen"));
    EXPECT_FALSE(store.object("zentola.savedRect") || store.object("zentola.controlBarPosition"));
}

// Each change is announced before and after it, once; assigning the value a field holds announces nothing.
TEST_F(AppStateTest, ObserversHearOfEachChangeBeforeAndAfterIt) {
    QStringList heard;
    QObject::connect(state.get(), &AppState::willChange,
                     [&] { heard << (state->isOverlayVisible() ? "will" : "will-hidden"); });
    QObject::connect(state.get(), &AppState::isOverlayVisibleChanged, [&] { heard << "visible"; });
    QObject::connect(state.get(), &AppState::currentModeChanged, [&] { heard << "mode"; });
    QObject::connect(state.get(), &AppState::highlightedWindowChanged, [&] { heard << "window"; });
    WindowInfo w{9, QString("A"), QString("App"), 1, QRectF(0, 0, 10, 10), 0, true};
    for (int twice = 0; twice < 2; ++twice) {
        state->setIsOverlayVisible(true);
        state->setMode(CaptureMode::window);
        state->setHighlightedWindow(w);
    }
    w.frame.moveTo(50, 50);  // same window, new frame: the outline must follow
    state->setHighlightedWindow(w);
    EXPECT_EQ(heard.join(' '), "will-hidden visible will mode will window will window");
}
