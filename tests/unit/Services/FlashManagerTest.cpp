#include "Services/FlashManager.h"

#include "platform/display/FakeScreenProvider.h"

#include <QDeadlineTimer>
#include <QPointer>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

TEST(FlashManagerTest, OverlappingFlashesFadeOverTheirOwnDisplaysThenGo_WithoutACompositorTheyStaySolidWhite) {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                       FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
    for (bool compositing : {true, false}) {
        FlashManager flashes({}, [compositing] { return compositing; });
        // No display given: the main one.
        auto onA = flashes.showFlash(nullptr), onB = flashes.showFlash(fake->list[1]);
        ASSERT_EQ(flashes.flashWindows().size(), 2u);
        QPointer<FlashWindow> b = flashes.flashWindows()[1];
        EXPECT_TRUE(flashes.flashWindows()[0]->geometry() == QRect(0, 0, 1920, 1080) && b->geometry() == QRect(1920, 0, 1280, 1024));
        EXPECT_EQ(b->grab().toImage().pixelColor(5, 5), QColor(Qt::white));
        double lowest = 1, highest = 0;
        for (QDeadlineTimer deadline(5000); !(onA.isReady() && onB.isReady()) && !deadline.hasExpired();) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            lowest = std::min(lowest, b ? b->windowOpacity() : 1.0), highest = std::max(highest, b ? b->windowOpacity() : 0.0);
        }
        EXPECT_TRUE(onA.isReady() && onB.isReady() && flashes.flashWindows().empty());
        // Translucency without a compositor would show grey.
        EXPECT_TRUE(compositing ? highest > 0.1 && highest <= 0.3 : lowest == 1.0) << lowest << " " << highest;
    }
    fake->setDisplays({});
    FlashManager none([](FlashWindow&, double, int) -> QCoro::Task<void> { ADD_FAILURE() << "a flash"; co_return; });
    EXPECT_TRUE(none.showFlash(nullptr).isReady());
}
