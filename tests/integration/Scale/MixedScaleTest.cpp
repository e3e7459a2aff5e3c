#include "Extensions/ScreenExt.h"
#include "Features/Capture/CaptureManager.h"
#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/desktop/WindowPlacement.h"
#include "platform/display/Screen.h"
#include "support/QuietCapture.h"
#include "support/RunTask.h"

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zentola;
using testing_support::runTask;

// Runs with ZENTOLA_TEST_SCALES giving the two displays different scales: every display is
// taken, recorded and covered at its own pixel size, whichever display is the first.
TEST(MixedScales, EachDisplayIsTakenWholeAndItsFrameCoversItsToolkitScreen) {
    const auto screens = platform::Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    ASSERT_NE(screens[0]->backingScaleFactor(), screens[1]->backingScaleFactor())
        << "run with ZENTOLA_TEST_SCALES, e.g. 2,1";

    testing_support::QuietCapture capture;
    CaptureManager& manager = capture.manager;
    std::vector<CapturedImage>& shown = capture.shown;

    for (const platform::ScreenRef& s : screens) {
        SCOPED_TRACE(s->name().toStdString() + " at scale " + std::to_string(s->backingScaleFactor()));
        const QSize pixels = s->nativeGeometry().size();
        // A rectangle far larger than the display is clipped at the display's own edge.
        const SelectionRect everything{QPointF(0, 0), QSizeF(100000, 100000), *ScreenExt::displayID(s)};
        shown.clear();
        runTask(manager.performCaptureWorkflow(CaptureMode::screen, std::nullopt, std::nullopt, s));
        runTask(manager.performCaptureWorkflow(CaptureMode::rect, everything, std::nullopt, s));
        ASSERT_EQ(shown.size(), 2u);
        for (const CapturedImage& image : shown) {
            ASSERT_TRUE(image.fileURL);
            EXPECT_EQ(QImage(image.fileURL->toLocalFile()).size(), pixels);
        }
        // The display's frame placed as a window is the toolkit's screen, where a thumbnail goes.
        ASSERT_TRUE(s->qscreen());
        EXPECT_EQ(platform::WindowPlacement::geometryForFrame(s->frame()), s->qscreen()->geometry());
    }
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
    // A test property holds no ';', the toolkit's list separator.
    qputenv("QT_SCREEN_SCALE_FACTORS", qgetenv("ZENTOLA_TEST_SCALES").replace(',', ';'));
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
