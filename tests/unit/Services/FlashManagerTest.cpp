#include "Services/FlashManager.h"

#include "platform/display/FakeScreenProvider.h"

#include <qcoro/qcorotask.h>

#include <QDeadlineTimer>
#include <QPointer>

#include <cmath>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

TEST(FlashManagerTest, FadesInAndOutOverItsDisplayThenGoes_WithoutACompositorItStaysSolidWhite) {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                       FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
    for (bool compositing : {true, false}) {
        // Each step: alpha, length, place, opacity (kept in 1/255 steps) and colour, flashes showing.
        std::vector<std::tuple<double, int, QRect, double, QColor, size_t>> steps;
        FlashManager* manager = nullptr;
        FlashManager flashes(
            [&](FlashWindow& w, double alpha, int ms) -> QCoro::Task<void> {
                w.setAlpha(alpha);
                steps.emplace_back(alpha, ms, w.geometry(), std::round(w.windowOpacity() * 100) / 100, w.grab().toImage().pixelColor(5, 5),
                                   manager->flashWindows().size());
                co_return;
            },
            [compositing] { return compositing; });
        manager = &flashes;
        QCoro::waitFor(flashes.showFlash(fake->list[1]));
        // Translucency without a compositor would show grey.
        using Step = decltype(steps)::value_type;
        const QRect b(1920, 0, 1280, 1024);
        EXPECT_EQ(steps, (std::vector<Step>{{0.3, 100, b, compositing ? 0.3 : 1.0, Qt::white, 1},
                                            {0.0, 150, b, compositing ? 0.0 : 1.0, Qt::white, 1}}));
        EXPECT_TRUE(flashes.flashWindows().empty());
        // No display given: the main one; none at all: nothing.
        QCoro::waitFor(flashes.showFlash(nullptr));
        EXPECT_EQ(std::get<2>(steps.at(2)), QRect(0, 0, 1920, 1080));
    }
    fake->setDisplays({});
    FlashManager none([](FlashWindow&, double, int) -> QCoro::Task<void> { ADD_FAILURE() << "a flash"; co_return; });
    QCoro::waitFor(none.showFlash(nullptr));
}

TEST(FlashManagerTest, OverlappingFlashesKeepTheirOwnWindowsAndTheRealAnimationRunsToItsEnd) {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                       FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
    FlashManager real({}, [] { return true; });
    auto first = real.showFlash(fake->list[0]);
    auto second = real.showFlash(fake->list[1]);
    ASSERT_EQ(real.flashWindows().size(), 2u);
    QPointer<FlashWindow> window = real.flashWindows().front();
    double highest = 0;
    QDeadlineTimer deadline(5000);
    while (!(first.isReady() && second.isReady()) && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        highest = std::max(highest, window ? window->windowOpacity() : 0.0);
    }
    EXPECT_TRUE(first.isReady() && second.isReady() && real.flashWindows().empty());
    EXPECT_TRUE(highest > 0.1 && highest <= 0.3) << highest;
}
