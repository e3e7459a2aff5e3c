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
        return platform::Screen::makeScreens({platform::FakeScreenProvider::display("D", QRect(0, 0, 9, 9), number)})[0];
    }
};

}  // namespace

TEST_F(AppStateTest, StartsFromWhatIsRememberedAndIgnoresInvalidValues) {
    EXPECT_FALSE(state->isOverlayVisible());
    EXPECT_EQ(state->captureType(), CaptureType::photo);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_FALSE(state->selectionRect() || state->highlightedWindow() || state->activeScreen() ||
                 state->controlBarPosition());
    // Creating the state stores nothing.
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());

    store.setString("zentola.lastCaptureMode", "Screen");
    store.setData("zentola.savedRect", QByteArray(R"({"origin":[1,2],"size":[3,4]})"));
    store.setData("zentola.controlBarPosition", QByteArray("[1]"));
    state = std::make_unique<AppState>(settings);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_FALSE(state->selectionRect() || state->controlBarPosition());

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

TEST_F(AppStateTest, ObserversHearBeforeAndAfterEachChangeOnlyWhenItChanges) {
    // willChange comes before the assignment.
    std::string heard;
    QObject::connect(state.get(), &AppState::willChange,
                     [&] { heard += state->isOverlayVisible() ? "will " : "will-hidden "; });
    const std::pair<void (AppState::*)(), const char*> fields[] = {
        {&AppState::isOverlayVisibleChanged, "visible "}, {&AppState::captureTypeChanged, "type "},
        {&AppState::currentModeChanged, "mode "},         {&AppState::selectionRectChanged, "rect "},
        {&AppState::highlightedWindowChanged, "window "}, {&AppState::activeScreenChanged, "screen "},
        {&AppState::controlBarPositionChanged, "bar "},
    };
    for (const auto& [signal, name] : fields)
        QObject::connect(state.get(), signal, [&heard, name = name] { heard += name; });

    const WindowInfo w{9, QString("A"), QString("App"), 1, QRectF(0, 0, 10, 10), 0, true};
    WindowInfo moved = w;
    moved.frame.moveTo(50, 50);  // same window, new frame: the outline must follow
    const auto s = numbered(1);
    for (int twice = 0; twice < 2; ++twice) {
        state->setIsOverlayVisible(true);
        state->setCaptureType(CaptureType::video);
        state->setMode(CaptureMode::window);
        state->updateSelectionRect(QRectF(1, 2, 3, 4), s);
        state->setHighlightedWindow(w);
        state->setActiveScreen(s);
        state->setControlBarPosition(QPointF(1, 2));
    }
    state->setHighlightedWindow(moved);
    state->setHighlightedWindow(std::nullopt);
    EXPECT_EQ(heard,
              "will-hidden visible will type will mode will rect will window will screen will bar will window will window ");
}
