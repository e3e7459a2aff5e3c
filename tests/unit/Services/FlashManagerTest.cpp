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
};

struct FlashManagerTest : testing::Test {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    std::vector<Step> steps;
    FlashManager* managerPtr = nullptr;
    FlashManager manager{[this](FlashWindow& w, double alpha, int ms) -> QCoro::Task<void> {
        steps.push_back({alpha, ms, w.geometry(), w.isVisible(), managerPtr->flashWindows().size()});
        w.setAlpha(alpha);
        co_return;
    }};

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
    }
    EXPECT_TRUE(manager.flashWindows().empty());
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

TEST(FlashWindowTest, PaintsWhiteAtItsAlpha) {
    FlashWindow window(QRect(10, 20, 300, 200));
    EXPECT_EQ(window.geometry(), QRect(10, 20, 300, 200));
    window.setAlpha(0.3);
    const QColor c = window.grab().toImage().pixelColor(5, 5);
    EXPECT_EQ(c.red(), 255);
    EXPECT_NEAR(c.alphaF(), 0.3, 0.01);
}

TEST_F(FlashManagerTest, RealAnimationRunsToTheEnd) {
    FlashManager real;
    auto flash = real.showFlash(fake->list[0]);
    ASSERT_EQ(real.flashWindows().size(), 1u);
    QPointer<FlashWindow> window = real.flashWindows().front();
    double highest = 0;
    QDeadlineTimer deadline(5000);
    while (!flash.isReady() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (window)
            highest = std::max(highest, window->alpha());
    }
    ASSERT_TRUE(flash.isReady());
    EXPECT_TRUE(real.flashWindows().empty());
    EXPECT_GT(highest, 0.1);
    EXPECT_LE(highest, 0.3);
}
