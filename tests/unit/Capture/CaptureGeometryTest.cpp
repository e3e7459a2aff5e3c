#include "Features/Capture/WindowEnumerator.h"
#include "platform/capture/X11Desktop.h"
#include "platform/capture/X11Grabber.h"
#include "platform/capture/X11ScreenCaptureProvider.h"
#include "platform/core/Error.h"
#include "unit/Capture/FakeCaptureProvider.h"

#include <gtest/gtest.h>

#include <limits>

using platform::X11ScreenCaptureProvider;

TEST(CaptureGeometry, SourceRectanglesInPointsBecomeTheDisplaysPixels_ImpossibleOnesAreErrors) {
    auto area = [](QRect native, double scale, QRectF source) {
        return X11ScreenCaptureProvider::nativeArea(platform::ShareableDisplay{0, 0, 0, native, scale, {}}, source);
    };
    // No rectangle: the whole display, wherever it sits (left of and below the origin here).
    EXPECT_EQ(area(QRect(-1920, 300, 1920, 1080), 1.0, QRectF()), QRect(-1920, 300, 1920, 1080));
    EXPECT_EQ(area(QRect(-1920, 300, 1920, 1080), 1.0, QRectF(10, 20, 300, 200)), QRect(-1910, 320, 300, 200));
    // Right of it at scale 2: points double, the display's own origin stays in pixels.
    EXPECT_EQ(area(QRect(3840, 0, 3840, 2160), 2.0, QRectF(10.25, 20, 300.5, 200)), QRect(3861, 40, 601, 400));
    // Above, drawn up and to the left; never less than a pixel.
    EXPECT_EQ(area(QRect(0, -1080, 1920, 1080), 1.0, QRectF(310, 220, -300, -200)), QRect(10, -1060, 300, 200));
    EXPECT_EQ(area(QRect(0, 0, 1920, 1080), 1.0, QRectF(5, 5, 0.2, 0.2)).size(), QSize(1, 1));
    for (const QRectF& impossible : {QRectF(0, 0, std::numeric_limits<double>::infinity(), 10), QRectF(std::nan(""), 0, 10, 10),
                                     QRectF(0, 0, 1e12, 10)})
        EXPECT_THROW(area(QRect(0, 0, 1920, 1080), 1.0, impossible), platform::PlatformError);
    // Window bounds count from the first display's corner, which need not be the X server's origin.
    const platform::X11Desktop::Layout layout{QPoint(1920, 200), 1.0}, doubled{QPoint(0, 0), 2.0};
    EXPECT_EQ(layout.toPoints(QRect(0, 0, 800, 600)), QRectF(-1920, -200, 800, 600));
    EXPECT_EQ(doubled.toPoints(QRect(200, 100, 1600, 1200)), QRectF(100, 50, 800, 600));
}

TEST(CaptureGeometry, AResampledBitmapHasExactlyTheAskedSizeOpaqueAndOutlivesItsSource) {
    // Left half red, right half blue.
    std::vector<std::uint8_t> px;
    for (int i = 0; i < 40 * 20; ++i)
        px.insert(px.end(), {std::uint8_t(i % 40 < 20 ? 0 : 200), 0, std::uint8_t(i % 40 < 20 ? 200 : 0), 0xff});
    platform::BitmapRef source = platform::Bitmap::create(40, 20, 160, platform::PixelFormat::BGRA, platform::AlphaMode::opaque, px);
    EXPECT_EQ(platform::X11Grabber::scaled(source, QSize(40, 20)), source);
    const platform::BitmapRef doubled = platform::X11Grabber::scaled(source, QSize(81, 40));
    source.reset();
    ASSERT_TRUE(doubled->width() == 81 && doubled->height() == 40 && doubled->alpha() == platform::AlphaMode::opaque);
    for (int y = 0; y < 40; ++y) {
        EXPECT_TRUE(doubled->row(y)[4 * 4 + 2] == 200 && doubled->row(y)[76 * 4] == 200 && doubled->row(y)[76 * 4 + 2] == 0);
        for (int x = 0; x < 81; ++x)
            ASSERT_EQ(doubled->row(y)[x * 4 + 3], 0xff) << x << "," << y;
    }
}

TEST(WindowEnumerator, OthersWindowsBigEnoughAndAboveTheDesktopHighestLayerFirst) {
    auto entry = [](quint32 number, qint32 pid, QRectF bounds, int layer) {
        platform::WindowListEntry e;
        e.number = number, e.ownerPID = pid, e.bounds = bounds, e.layer = layer, e.name = "w";
        e.ownerName = QStringLiteral("owner%1").arg(pid), e.isOnscreen = true;
        return e;
    };
    const qint32 own = 4242;
    std::vector<platform::WindowListEntry> entries{
        entry(1, 10, QRectF(0, 0, 50, 50), 0),      entry(2, 10, QRectF(0, 0, 49, 200), 0),  // too narrow
        entry(3, 10, QRectF(0, 0, 200, 49.5), 0),   entry(4, own, QRectF(0, 0, 800, 600), 0),  // too low; ours
        entry(6, 11, QRectF(0, 0, 800, 600), -1),   entry(7, 12, QRectF(10, 20, 300, 200), 3),   // below the desktop
        entry(8, 13, QRectF(0, 0, 500, 500), 0),    entry(9, 13, QRectF(0, 0, 500, 500), 0),
        entry(10, 14, QRectF(0, 0, 500, 500), 20),  entry(11, 15, QRectF(0, 0, 500, 500), 3)};
    entries[6].layer.reset(), entries[7].ownerPID.reset();  // incomplete: left out
    entries[5].name.reset(), entries[8].isOnscreen.reset(), entries[8].ownerName.reset();
    const auto list = zentola::WindowEnumerator::windows(entries, own);
    std::vector<quint32> ids;
    for (const auto& w : list)
        ids.push_back(w.id);
    EXPECT_EQ(ids, (std::vector<quint32>{10, 7, 11, 1}));
    EXPECT_TRUE(!list[0].isOnScreen && !list[0].ownerName && !list[1].title && list[1].frame == QRectF(10, 20, 300, 200));
    EXPECT_TRUE(list[1].ownerName == "owner12" && list[1].ownerPID == 12 && list[1].isOnScreen);

    // The installed provider is asked each time.
    auto provider = std::make_shared<FakeCaptureProvider>();
    platform::ScreenCaptureProvider::install(provider);
    zentola::WindowEnumerator enumerator(99);
    provider->entries = {entry(2, 99, QRectF(0, 0, 100, 100), 0), entry(3, 10, QRectF(0, 0, 100, 100), 0)};
    EXPECT_EQ(enumerator.getWindows().size(), 1u);
    provider->entries.clear();
    EXPECT_TRUE(enumerator.getWindows().empty());
    platform::ScreenCaptureProvider::install(nullptr);
}
