#include "Services/FlashManager.h"

#include "platform/display/FakeScreenProvider.h"

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <QDeadlineTimer>
#include <QPointer>

#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

namespace {

struct Step {
    double alpha;
    int ms;
    QRect geometry;
    bool visible;
    size_t showing;
    double opacity;  // the window's, once the step has set its alpha
};

struct FlashManagerTest : testing::Test {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    std::vector<Step> steps;
    bool compositing = true;
    FlashManager* managerPtr = nullptr;
    FlashManager manager{[this](FlashWindow& w, double alpha, int ms) -> QCoro::Task<void> {
                             w.setAlpha(alpha);
                             steps.push_back({alpha, ms, w.geometry(), w.isVisible(),
                                              managerPtr->flashWindows().size(), w.windowOpacity()});
                             co_return;
                         },
                         [this] { return compositing; }};

    void SetUp() override {
        managerPtr = &manager;
        fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                           FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
    }
};

}  // namespace

TEST_F(FlashManagerTest, FadesInThenOutAndRemovesItsWindow) {
    QCoro::waitFor(manager.showFlash(fake->list[1]));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_DOUBLE_EQ(steps[0].alpha, 0.3);
    EXPECT_EQ(steps[0].ms, 100);
    EXPECT_DOUBLE_EQ(steps[1].alpha, 0.0);
    EXPECT_EQ(steps[1].ms, 150);
    for (const Step& s : steps) {
        EXPECT_EQ(s.geometry, QRect(1920, 0, 1280, 1024));
        EXPECT_TRUE(s.visible);
        EXPECT_EQ(s.showing, 1u);
        EXPECT_NEAR(s.opacity, s.alpha, 0.005);  // kept in 1/255 steps
    }
    EXPECT_TRUE(manager.flashWindows().empty());
}

TEST_F(FlashManagerTest, WithoutCompositingStaysSolidWhiteForTheSameTime) {
    compositing = false;
    FlashManager solid(
        [&](FlashWindow& w, double alpha, int ms) -> QCoro::Task<void> {
            w.setAlpha(alpha);
            steps.push_back({alpha, ms, w.geometry(), w.isVisible(), 1, w.windowOpacity()});
            // Still up at its peak: the whole pane is plain white.
            if (steps.size() == 1) {
                EXPECT_EQ(w.grab().toImage().pixelColor(10, 10), QColor(Qt::white));
            }
            co_return;
        },
        [this] { return compositing; });
    QCoro::waitFor(solid.showFlash(fake->list[0]));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].ms, 100);
    EXPECT_EQ(steps[1].ms, 150);
    for (const Step& s : steps) {
        EXPECT_TRUE(s.visible);
        EXPECT_DOUBLE_EQ(s.opacity, 1.0);
    }
    EXPECT_TRUE(solid.flashWindows().empty());
}

TEST_F(FlashManagerTest, WithoutADisplayArgumentTheMainDisplayFlashes) {
    QCoro::waitFor(manager.showFlash(nullptr));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].geometry, QRect(0, 0, 1920, 1080));

    steps.clear();
    fake->setDisplays({});
    QCoro::waitFor(manager.showFlash(nullptr));
    EXPECT_TRUE(steps.empty());
    EXPECT_TRUE(manager.flashWindows().empty());
}

TEST_F(FlashManagerTest, OverlappingFlashesEachKeepTheirOwnWindow) {
    // Animations that yield to the event loop, so the second flash starts while the first runs.
    FlashManager slow([](FlashWindow&, double, int) -> QCoro::Task<void> {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    });
    auto first = slow.showFlash(fake->list[0]);
    auto second = slow.showFlash(fake->list[1]);
    EXPECT_EQ(slow.flashWindows().size(), 2u);
    EXPECT_NE(slow.flashWindows()[0], slow.flashWindows()[1]);
    QCoro::waitFor(first);
    QCoro::waitFor(second);
    EXPECT_TRUE(slow.flashWindows().empty());
}

TEST(FlashWindowTest, PaintsOpaqueWhiteAndFadesOnlyWhenComposited) {
    // Translucent pixels are what an X server without a compositor shows as grey.
    FlashWindow fading(QRect(10, 20, 300, 200), true);
    EXPECT_EQ(fading.geometry(), QRect(10, 20, 300, 200));
    EXPECT_DOUBLE_EQ(fading.windowOpacity(), 0.0);
    fading.setAlpha(0.3);
    EXPECT_NEAR(fading.windowOpacity(), 0.3, 0.005);
    EXPECT_EQ(fading.grab().toImage().pixelColor(5, 5), QColor(Qt::white));

    FlashWindow solid(QRect(10, 20, 300, 200), false);
    solid.setAlpha(0.3);
    EXPECT_DOUBLE_EQ(solid.alpha(), 0.3);
    EXPECT_DOUBLE_EQ(solid.windowOpacity(), 1.0);
    EXPECT_EQ(solid.grab().toImage().pixelColor(5, 5), QColor(Qt::white));
}

TEST_F(FlashManagerTest, RealAnimationRunsToTheEnd) {
    FlashManager real({}, [] { return true; });
    auto flash = real.showFlash(fake->list[0]);
    ASSERT_EQ(real.flashWindows().size(), 1u);
    QPointer<FlashWindow> window = real.flashWindows().front();
    double highest = 0;
    QDeadlineTimer deadline(5000);
    while (!flash.isReady() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (window)
            highest = std::max(highest, window->windowOpacity());
    }
    ASSERT_TRUE(flash.isReady());
    EXPECT_TRUE(real.flashWindows().empty());
    EXPECT_GT(highest, 0.1);
    EXPECT_LE(highest, 0.3);
}
