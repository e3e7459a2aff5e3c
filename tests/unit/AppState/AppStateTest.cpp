#include "App/AppState.h"

#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/display/FakeScreenProvider.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace zentola;
using platform::FakeScreenProvider;

namespace {

// Each case gets its own store file.
class AppStateTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
    std::unique_ptr<AppState> state = std::make_unique<AppState>(settings);
};

}  // namespace

TEST_F(AppStateTest, StartsFromWhatIsRememberedAndStoresItsChanges) {
    EXPECT_EQ(state->captureType(), CaptureType::photo);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_FALSE(state->isOverlayVisible() || state->selectionRect() || state->highlightedWindow() ||
                 state->activeScreen() || state->controlBarPosition());
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

    // The rectangle is stored at once (the mode too: the overlay tests check that). A display without
    // a number changes nothing; the rectangle is kept as drawn, negative width included.
    state->setMode(CaptureMode::screen);
    auto display = [](quint32 n) { return platform::Screen::makeScreens({FakeScreenProvider::display("", {}, n)})[0]; };
    state->updateSelectionRect(QRectF(10, 20, 300, 200), display(0));
    state->updateSelectionRect(QRectF(10, 20, 300, 200), nullptr);
    EXPECT_TRUE(state->selectionRect() == r && settings.savedRect() == r);
    state->updateSelectionRect(QRectF(10, 20, -300, 200), display(77));
    EXPECT_TRUE((state->selectionRect() == SelectionRect{QPointF(10, 20), QSizeF(-300, 200), 77}));
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
    QObject::connect(state.get(), &AppState::willChange, [&] { heard << state->currentMode().rawValue(); });
    QObject::connect(state.get(), &AppState::currentModeChanged, [&] { heard << state->currentMode().rawValue(); });
    state->setMode(CaptureMode::window);
    state->setMode(CaptureMode::window);
    EXPECT_EQ(heard, (QStringList{"rect", "window"}));
}
