#include "Services/FlashManager.h"

#include "platform/display/FakeScreenProvider.h"

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <QDeadlineTimer>
#include <QPointer>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

namespace {

struct FlashManagerTest : testing::Test {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    // Each animation step: its alpha, length, the window's place, opacity and colour, and how many
    // flashes showed.
    struct Step {
        double alpha;
        int ms;
        QRect geometry;
        double opacity;
        QColor colour;
        size_t showing;
    };
    std::vector<Step> steps;
    std::unique_ptr<FlashManager> manager;

    void SetUp() override {
        fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                           FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
    }
    FlashManager& make(bool compositing) {
        manager = std::make_unique<FlashManager>(
            [this](FlashWindow& w, double alpha, int ms) -> QCoro::Task<void> {
                w.setAlpha(alpha);
                steps.push_back({alpha, ms, w.geometry(), w.windowOpacity(), w.grab().toImage().pixelColor(5, 5),
                                 manager->flashWindows().size()});
                co_return;
            },
            [compositing] { return compositing; });
        return *manager;
    }
};

}  // namespace

TEST_F(FlashManagerTest, FadesInAndOutOverItsDisplayThenGoes_WithoutACompositorItStaysSolidWhite) {
    for (bool compositing : {true, false}) {
        steps.clear();
        QCoro::waitFor(make(compositing).showFlash(fake->list[1]));
        ASSERT_EQ(steps.size(), 2u);
        EXPECT_TRUE(steps[0].alpha == 0.3 && steps[0].ms == 100 && steps[1].alpha == 0.0 && steps[1].ms == 150);
        for (const Step& s : steps) {
            EXPECT_EQ(s.geometry, QRect(1920, 0, 1280, 1024));
            EXPECT_EQ(s.showing, 1u);
            EXPECT_EQ(s.colour, QColor(Qt::white));
            // Kept in 1/255 steps; translucency without a compositor would show grey.
            EXPECT_NEAR(s.opacity, compositing ? s.alpha : 1.0, 0.005);
        }
        EXPECT_TRUE(manager->flashWindows().empty());
    }
    // No display given: the main one; none at all: nothing.
    steps.clear();
    QCoro::waitFor(manager->showFlash(nullptr));
    EXPECT_EQ(steps.at(0).geometry, QRect(0, 0, 1920, 1080));
    fake->setDisplays({});
    QCoro::waitFor(manager->showFlash(nullptr));
    EXPECT_EQ(steps.size(), 2u);
}

TEST_F(FlashManagerTest, OverlappingFlashesKeepTheirOwnWindowsAndTheRealAnimationRunsToItsEnd) {
    FlashManager real({}, [] { return true; });
    auto first = real.showFlash(fake->list[0]);
    auto second = real.showFlash(fake->list[1]);
    ASSERT_EQ(real.flashWindows().size(), 2u);
    QPointer<FlashWindow> window = real.flashWindows().front();
    double highest = 0;
    QDeadlineTimer deadline(5000);
    while (!(first.isReady() && second.isReady()) && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (window)
            highest = std::max(highest, window->windowOpacity());
    }
    ASSERT_TRUE(first.isReady() && second.isReady());
    EXPECT_TRUE(real.flashWindows().empty());
    EXPECT_GT(highest, 0.1);
    EXPECT_LE(highest, 0.3);
}
