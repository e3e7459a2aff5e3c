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

// Each case gets its own store file and its own state.
class AppStateTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};

    std::unique_ptr<AppState> create() { return std::make_unique<AppState>(settings); }

    // Counts a signal's emissions.
    template <typename Signal>
    static std::shared_ptr<int> count(AppState* state, Signal signal) {
        auto n = std::make_shared<int>(0);
        QObject::connect(state, signal, [n] { ++*n; });
        return n;
    }

    static platform::ScreenRef numbered(quint32 number) {
        return platform::Screen::makeScreens({FakeScreenProvider::display("D", QRect(0, 0, 1920, 1080), number)})
            .front();
    }
};

}  // namespace

TEST_F(AppStateTest, FirstLaunchStartsInRectModeWithNothingRemembered) {
    auto state = create();
    EXPECT_FALSE(state->isOverlayVisible());
    EXPECT_EQ(state->captureType(), CaptureType::photo);
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_FALSE(state->selectionRect().has_value());
    EXPECT_FALSE(state->highlightedWindow().has_value());
    EXPECT_EQ(state->activeScreen(), nullptr);
    EXPECT_FALSE(state->controlBarPosition().has_value());
    // Creating the state stores nothing.
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
}

TEST_F(AppStateTest, RestoresTheRememberedModeRectangleAndBarPosition) {
    const SelectionRect r{QPointF(120, 80), QSizeF(640, 360), 3};
    store.setString("zentola.lastCaptureMode", "window");
    settings.setSavedRect(r);
    settings.setControlBarPosition(QPointF(400, 60));
    auto state = create();
    EXPECT_EQ(state->currentMode(), CaptureMode::window);
    ASSERT_TRUE(state->selectionRect().has_value());
    EXPECT_TRUE(*state->selectionRect() == r);
    EXPECT_EQ(state->controlBarPosition(), QPointF(400, 60));
}

TEST_F(AppStateTest, InvalidRememberedValuesLeaveTheInitialOnes) {
    store.setString("zentola.lastCaptureMode", "Screen");
    store.setData("zentola.savedRect", QByteArray("{\"origin\":[1,2],\"size\":[3,4]}"));
    store.setData("zentola.controlBarPosition", QByteArray("[1]"));
    auto state = create();
    EXPECT_EQ(state->currentMode(), CaptureMode::rect);
    EXPECT_FALSE(state->selectionRect().has_value());
    EXPECT_FALSE(state->controlBarPosition().has_value());
}

TEST_F(AppStateTest, SetModeStoresAtOnce) {
    auto state = create();
    auto spy = count(state.get(), &AppState::currentModeChanged);
    state->setMode(CaptureMode::screen);
    EXPECT_EQ(state->currentMode(), CaptureMode::screen);
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), QString("screen"));
    EXPECT_EQ(*spy, 1);
    // Re-selecting the same mode still stores it (the store may have been changed behind us).
    store.remove("zentola.lastCaptureMode");
    state->setMode(CaptureMode::screen);
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), QString("screen"));
    EXPECT_EQ(*spy, 1);
}

TEST_F(AppStateTest, UpdateSelectionRectNeedsADisplayNumber) {
    auto state = create();
    auto changed = count(state.get(), &AppState::selectionRectChanged);
    state->updateSelectionRect(QRectF(10, 20, 300, 200), numbered(0));
    state->updateSelectionRect(QRectF(10, 20, 300, 200), nullptr);
    EXPECT_FALSE(state->selectionRect().has_value());
    EXPECT_FALSE(store.object("zentola.savedRect").has_value());
    EXPECT_EQ(*changed, 0);

    state->updateSelectionRect(QRectF(10, 20, -300, 200), numbered(77));
    ASSERT_TRUE(state->selectionRect().has_value());
    // Origin and size unchanged, negative width included.
    EXPECT_TRUE((*state->selectionRect() == SelectionRect{QPointF(10, 20), QSizeF(-300, 200), 77}));
    EXPECT_TRUE(*settings.savedRect() == *state->selectionRect());
    EXPECT_EQ(*changed, 1);
}

TEST_F(AppStateTest, SaveStateWritesModeRectAndPositionAndRemovesAMissingRect) {
    store.setData("zentola.savedRect", QByteArray("undecodable"));
    auto state = create();
    state->setControlBarPosition(QPointF(5, 6));
    state->saveState();
    EXPECT_FALSE(store.object("zentola.savedRect").has_value());
    EXPECT_EQ(store.stringForKey("zentola.lastCaptureMode"), QString("rect"));
    EXPECT_EQ(settings.controlBarPosition(), QPointF(5, 6));

    state->setControlBarPosition(std::nullopt);
    state->saveState();
    EXPECT_FALSE(store.object("zentola.controlBarPosition").has_value());
}

TEST_F(AppStateTest, ObserversHearBeforeAndAfterEachChangeOnlyWhenItChanges) {
    auto state = create();
    std::vector<std::string> order;
    bool visibleSeenBefore = true;
    QObject::connect(state.get(), &AppState::willChange, [&] {
        order.push_back("will");
        visibleSeenBefore = state->isOverlayVisible();
    });
    QObject::connect(state.get(), &AppState::isOverlayVisibleChanged, [&] { order.push_back("visible"); });
    QObject::connect(state.get(), &AppState::highlightedWindowChanged, [&] { order.push_back("window"); });
    QObject::connect(state.get(), &AppState::activeScreenChanged, [&] { order.push_back("screen"); });
    QObject::connect(state.get(), &AppState::captureTypeChanged, [&] { order.push_back("type"); });

    state->setIsOverlayVisible(true);
    EXPECT_FALSE(visibleSeenBefore);  // willChange came before the assignment
    state->setIsOverlayVisible(true);
    state->setCaptureType(CaptureType::video);
    const WindowInfo w{9, QString("A"), QString("App"), 1, QRectF(0, 0, 10, 10), 0, true};
    state->setHighlightedWindow(w);
    state->setHighlightedWindow(w);
    WindowInfo moved = w;
    moved.frame.moveTo(50, 50);  // same window, new frame: the outline must follow
    state->setHighlightedWindow(moved);
    state->setHighlightedWindow(std::nullopt);
    const auto s = numbered(1);
    state->setActiveScreen(s);
    state->setActiveScreen(s);
    EXPECT_EQ(order, (std::vector<std::string>{"will", "visible", "will", "type", "will", "window", "will", "window",
                                               "will", "window", "will", "screen"}));
    EXPECT_EQ(state->activeScreen(), s);
    EXPECT_FALSE(state->highlightedWindow().has_value());
}
